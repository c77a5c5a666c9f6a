// Turning one FILELIST row (a segment) into floats at their place in a reading window.
// Times are seconds since 1970; a data file is opened, read at FOFF and closed per
// segment, and nothing is ever written at or beyond the caller's capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvik::db {

// Sample formats of FILELIST.DATATYPE (little-endian). Other codes deliver nothing.
enum SampleFormat : int16_t { kInt8 = 0, kInt16 = 1, kInt32 = 2, kFloat32 = 3, kUInt16 = 5 };

// Whether a DATATYPE is one of the formats above, which deliver samples.
bool delivers_samples(int16_t datatype);

// Bytes per stored sample of a DATATYPE: 1, 2, 4, 4, 2; 4 for codes that deliver nothing.
size_t bytes_per_sample(int16_t datatype);

// Index of the sample `v` samples into a stretch: floor(v), plus one when the fraction
// is 1/sps or more. sps <= 0 counts every fraction as nothing.
int64_t sample_index(double v, double sps);

// Whole samples in a span of `seconds` at `sps`: a span that is a whole number of sample
// intervals up to the rounding of epoch-sized times gives all of them; a span that ends
// between samples is cut to four decimals of a second, then to whole samples.
double samples_in_span(double seconds, double sps);

// The file a CPATH names: backslashes become '/'; used as it is when it begins with the
// data directory (any case), with "//" or has ':' second; otherwise joined to
// `data_dir` with exactly one '/'. At most 1023 characters.
std::string data_file_path(std::string_view data_dir, std::string_view cpath);

struct SegmentRow {
    double tbegin = 0;  // seconds since 1970
    double sps = 0;     // samples per second
    double tqty = 0;    // seconds
    int16_t datatype = 0;
    int64_t foff = 0;  // bytes
    std::string cpath;
};

struct SegmentOutcome {
    double begin = 0;           // effective start of the segment within the window (seconds)
    double end = 0;             // effective end of the segment within the window (seconds)
    size_t first = 0;           // index of its first sample in the window
    size_t samples_wanted = 0;  // samples of the segment inside the window and the buffer
    size_t samples_read =
        0;  // samples taken from the file and written (0 for formats that deliver nothing)
    int os_error = 0;  // errno of a failed open or read, else 0
    // Why the file was refused when no errno says it ("not a regular file"), else null.
    const char* problem = nullptr;
};

// Reads the part of `row` inside [start, end) from `path` into out[0..capacity).
// Samples a short file cannot supply are written as zeros (and not counted as read).
// @retval 0; kSegmentOutsideWindow when the row lies outside the window; kFileOpenError
//         (also for a path that is no regular file, with outcome.problem set);
//         kSegmentReadError on a read fault or a malformed row (SPS not > 0 or not
//         finite, TQTY < 0 or NaN, FOFF < 0, a TBEGIN not finite).
[[nodiscard]] int read_segment(float* out, size_t capacity, double start, double end,
                               const SegmentRow& row, const std::string& path,
                               SegmentOutcome& outcome);

}  // namespace zelvik::db
