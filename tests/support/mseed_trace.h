// Test helper: the vertical channel of a real miniSEED recording, read with libmseed,
// and the analyst P picks kept beside the recordings in tests/data/real.
#pragma once

#include <string>
#include <vector>

namespace zelvik::detect::testing {

struct Trace {
    std::string station, channel;
    double start = 0.0;        // seconds since 1970, UTC
    double sample_rate = 0.0;  // samples per second
    std::vector<double> samples;
};

struct Pick {
    std::string file;  // file name under the recordings folder
    double p_arrival;  // seconds since 1970, UTC
};

// The first trace whose channel code ends in 'Z', as one contiguous run of samples.
// False (and a message on stderr) when the file cannot be read or holds no such trace.
bool read_vertical(const std::string& path, Trace& out);

// Rows of picks.csv (columns as in the source table: file, p_arrival_utc_iso, ...).
std::vector<Pick> read_picks(const std::string& csv_path);

// The cells of every line of a comma-separated file after its header line.
std::vector<std::vector<std::string>> read_csv_rows(const std::string& csv_path);

// "2017-10-07T09:28:26.920000Z" as seconds since 1970; NaN when malformed.
double parse_utc_iso(const std::string& text);

}  // namespace zelvik::detect::testing
