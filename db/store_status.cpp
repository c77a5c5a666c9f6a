// Texts of the waveform store's result codes, for log lines and tool messages.
#include "db/store_status.h"

namespace zelvik::db {

const char* to_string(int status) {
    switch (status) {
        case kOk:
            return "success";
        case kConnectionLost:
            return "connection lost";
        case kStatementError:
            return "statement error";
        case kFileOpenError:
            return "data file cannot be opened";
        case kSegmentReadError:
            return "segment read error";
        case kSegmentOutsideWindow:
            return "segment outside the reading window";
        case kEmptyWindow:
            return "empty reading window";
        case kUnknownParam:
            return "unknown parameter";
        case kNoSegment:
            return "no segment in the reading window";
        case kProbePrepareError:
            return "probe statement preparation error";
        case kSegmentPrepareError:
            return "segment statement preparation error";
        default:
            return "unknown status";
    }
}

}  // namespace zelvik::db
