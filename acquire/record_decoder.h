// miniSEED 2 records as they come off a SeedLink stream: their header fields, and their
// samples through libmseed. Every record is checked by check_miniseed_record() before
// libmseed reads it, so a record whose length or sample count lies is refused with a
// named error instead of being read past its end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::acquire {

// The header fields the store needs of one record.
struct RecordHeader {
    std::string network, station, location, channel;  // blanks trimmed
    double start_time = 0;     // epoch seconds of the first sample, time correction applied
    double sample_rate = 0;    // samples per second, 0 for records without samples
    int64_t sample_count = 0;  // as declared by the record
    // Epoch seconds just after the last sample: where the next record should start.
    double end_time() const {
        return sample_rate > 0 ? start_time + static_cast<double>(sample_count) / sample_rate
                               : start_time;
    }
};

// One record decoded: integer encodings fill `ints`, float encodings `reals`.
struct DecodedRecord {
    RecordHeader header;
    std::vector<int32_t> ints;
    std::vector<double> reals;
    std::string error;  // empty on success
    bool ok() const { return error.empty(); }
};

// Header fields of one whole record (bytes.size() must be its declared length).
// false with `error` on a record that fails the structure check or libmseed. Thread-safe:
// libmseed's process-wide log hook is taken under a lock of this library.
[[nodiscard]] bool read_record_header(std::string_view bytes, RecordHeader& header,
                                      std::string& error);

// Header and samples of one whole record. A Steim record whose last sample differs from
// its reverse integration constant is an error (libmseed only warns of it). Text (log)
// records, unknown encodings and non-finite floats are errors. Thread-safe as above.
[[nodiscard]] DecodedRecord decode_record(std::string_view bytes);

}  // namespace zelvik::acquire
