// Reading recorded waveforms for import: miniSEED through libmseed (records merged
// into continuous segments) and binary SAC with a small reader of our own. A file is
// read whole, and any fault rejects the whole file, so nothing of it is imported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::tools {

// One continuous stretch of one channel.
struct Segment {
    std::string network, station, location, channel;  // location "" when none
    double start = 0;                                 // seconds since 1970 of the first sample
    double sps = 0;                                   // samples per second, > 0
    bool integer = false;  // true: `ints` holds the samples, else `floats`
    std::vector<int32_t> ints;
    std::vector<float> floats;
    size_t count() const { return integer ? ints.size() : floats.size(); }
};

// Reads every record of a miniSEED file into segments (one per continuous stretch and
// channel, in file order). false with `error` ("truncated record at byte 8192", ...)
// when the file is not miniSEED, is cut short, holds a record of broken structure
// (checked before libmseed parses it), compressed data that fails its integrity check,
// samples that are not finite, or text or unusable records.
[[nodiscard]] bool read_miniseed(const std::string& path, std::vector<Segment>& out,
                                 std::string& error);

// The same over a file's bytes already in memory.
[[nodiscard]] bool read_miniseed_bytes(std::string_view bytes, std::vector<Segment>& out,
                                       std::string& error);

// Reads one evenly sampled binary SAC file (either byte order) as one float segment.
// false with `error` when the header is not SAC, the data is cut short, the reference
// or begin time is not a usable date, or a sample is not finite.
[[nodiscard]] bool read_sac(const std::string& path, Segment& out, std::string& error);
[[nodiscard]] bool read_sac_bytes(std::string_view bytes, Segment& out, std::string& error);

// Chooses the reader by the name: ".sac" (any case) is SAC, everything else miniSEED.
[[nodiscard]] bool read_waveform_file(const std::string& path, std::vector<Segment>& out,
                                      std::string& error);

}  // namespace zelvik::tools
