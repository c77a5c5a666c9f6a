// Result codes of the waveform store's operations. Operations answer 0 on success and
// one of the negative codes below on failure; look-ups answer 1, 0 or -1 instead.
#pragma once

namespace zelvik::db {

enum StoreStatus : int {
    kOk = 0,
    kConnectionLost = -100,  // the liveness probe failed before reading
    kStatementError =
        -101,               // execute/fetch failed; from prepare_all: a query set failed to prepare
    kFileOpenError = -107,  // a data file cannot be opened
    kSegmentReadError =
        -109,  // a fault while reading or converting a segment (also a malformed row)
    kSegmentOutsideWindow = -111,  // a segment lies outside the reading window
    kEmptyWindow = -112,           // end not after start
    kUnknownParam = -113,          // set_param: name not one of the five
    kNoSegment = -114,             // no segment overlaps the reading window
    kProbePrepareError = -1000,    // allocating or preparing the probe statement failed
    kSegmentPrepareError = -1001,  // allocating or preparing a segment statement failed
};

// Short English text for a code ("connection lost", ...); "unknown status" for others.
const char* to_string(int status);

}  // namespace zelvik::db
