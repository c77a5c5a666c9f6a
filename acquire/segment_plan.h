// How an arriving record joins what a stream already holds in the store. A stream grows
// one segment while its records follow each other within half a sample interval at the
// same rate and sample format in the same day's data file; anything else starts a new
// segment. Samples the store already holds are never stored twice.
#pragma once

#include <cstdint>
#include <string>

namespace zelvik::acquire {

// The segment a stream is appending to (its FILELIST row, once committed).
struct OpenSegment {
    double tbegin = 0;     // seconds since 1970: first sample
    double sps = 0;        // samples per second
    int64_t samples = 0;   // samples it holds, committed or not
    int16_t datatype = 0;  // FILELIST.DATATYPE of its samples
    int64_t foff = 0;      // bytes: its first sample in the data file
    std::string cpath;     // data file, relative to the data directory
    double end() const { return tbegin + static_cast<double>(samples) / sps; }
};

struct RecordSpan {
    double start = 0;   // seconds since 1970: first sample
    double sps = 0;     // samples per second, > 0
    int64_t count = 0;  // samples
    int16_t datatype = 0;
    std::string cpath;  // the day file this record's first sample belongs to
    double end() const { return start + static_cast<double>(count) / sps; }
};

enum class Placement {
    kExtend,      // append to the open segment
    kNewSegment,  // start a segment of its own (gap, rate, format or day changed)
    kHeld,        // every sample is already held: drop the record
    kEarlier,     // begins before the stream's held end: look it up in the store
};

struct PlacementResult {
    Placement how = Placement::kNewSegment;
    int64_t skip = 0;  // leading samples already held (kExtend and kNewSegment)
};

// `held_end` is the end of the stream's newest stored data (0 when none); `open` is the
// segment it appends to, or null.
PlacementResult place_record(const OpenSegment* open, double held_end, const RecordSpan& record);

// "YYYY/NET/STA/NET.STA.LOC.CHA.YYYY.DDD.dat": one data file per channel and UTC day.
// Codes are made safe for a file name; an empty location is written "--".
std::string day_file_path(const std::string& network, const std::string& station,
                          const std::string& location, const std::string& channel, double start);

}  // namespace zelvik::acquire
