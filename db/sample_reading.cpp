// One segment: locate its samples in the file by FOFF, read exactly the bytes needed
// with one pread, convert to float at the segment's place in the window. The sample
// count is bounded by the caller's capacity before any byte is allocated.
#include "db/sample_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "common/text.h"
#include "db/store_status.h"

namespace zelvik::db {
namespace {

// Owns a read-only descriptor of a regular file; -1 means closed. Opened without
// blocking: a FIFO named by a row would otherwise hold the worker in open() until a
// writer appears, and a device would answer reads without end.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        struct stat st {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd_);
            fd_ = -1;
            not_regular_ = true;
        }
    }
    ~ReadOnlyFile() {
        if (fd_ >= 0) ::close(fd_);  // not retried on EINTR: the descriptor is gone either way
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    bool is_open() const { return fd_ >= 0; }
    // True when the path opened but is no regular file (FIFO, device, directory).
    bool not_regular() const { return not_regular_; }

    // Reads up to `size` bytes at `offset`; the count read, or -1 on an error.
    ssize_t read_at(unsigned char* buf, size_t size, int64_t offset) const {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd_, buf + done, size - done,
                                      static_cast<off_t>(offset) + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return -1;
            if (n == 0) break;
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(done);
    }

private:
    int fd_;
    bool not_regular_ = false;
};

template <typename T>
T load_le(const unsigned char* p) {
    // Data files are little-endian, as is every platform this builds on; memcpy avoids
    // unaligned access.
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void convert(int16_t datatype, const unsigned char* src, size_t n, float* dst) {
    switch (datatype) {
        case kInt8:
            for (size_t i = 0; i < n; ++i) dst[i] = static_cast<float>(static_cast<int8_t>(src[i]));
            break;
        case kInt16:
            for (size_t i = 0; i < n; ++i)
                dst[i] = static_cast<float>(load_le<int16_t>(src + 2 * i));
            break;
        case kInt32:
            for (size_t i = 0; i < n; ++i)
                dst[i] = static_cast<float>(load_le<int32_t>(src + 4 * i));
            break;
        case kFloat32:
            std::memcpy(dst, src, n * 4);
            break;
        case kUInt16:
            for (size_t i = 0; i < n; ++i)
                dst[i] = static_cast<float>(load_le<uint16_t>(src + 2 * i));
            break;
        default:
            break;  // unknown formats deliver nothing
    }
}

// An infinite TQTY is read like any length that outruns its file: up to where the
// file ends, which the caller then takes for the end of the row.
bool malformed(const SegmentRow& row) {
    return !std::isfinite(row.tbegin) || std::isnan(row.tqty) || !std::isfinite(row.sps) ||
           row.sps <= 0.0 || row.tqty < 0.0 || row.foff < 0;
}

}  // namespace

bool delivers_samples(int16_t datatype) {
    return datatype == kInt8 || datatype == kInt16 || datatype == kInt32 || datatype == kFloat32 ||
           datatype == kUInt16;
}

size_t bytes_per_sample(int16_t datatype) {
    switch (datatype) {
        case kInt8:
            return 1;
        case kInt16:
        case kUInt16:
            return 2;
        default:
            return 4;
    }
}

int64_t sample_index(double v, double sps) {
    const double i = std::floor(v);
    if (sps <= 0.0) return static_cast<int64_t>(i);
    return static_cast<int64_t>(v - i < 1.0 / sps ? i : i + 1.0);
}

std::string data_file_path(std::string_view data_dir, std::string_view cpath) {
    constexpr size_t kMax = 1023;
    std::string path = common::forward_slashes(cpath.substr(0, std::min(cpath.size(), kMax)));
    const bool as_is = (!data_dir.empty() && common::istarts_with(path, data_dir)) ||
                       path.rfind("//", 0) == 0 || (path.size() > 1 && path[1] == ':');
    if (!as_is) {
        const bool joined =
            (!data_dir.empty() && data_dir.back() == '/') || (!path.empty() && path.front() == '/');
        path = std::string(data_dir) + (joined ? "" : "/") + path;
    }
    if (path.size() > kMax) path.resize(kMax);
    return path;
}

double samples_in_span(double seconds, double sps) {
    // At epoch-sized times the difference of two stored times carries an error of about
    // 1e-7 s, so 2.56 s may come out as 2.5599999: a span that is a whole number of
    // sample intervals up to that error gives all its samples. Anything that really ends
    // between samples is cut to four decimals of a second and then to whole samples.
    constexpr double kTimeRoundingInSamples = 1e-3;
    const double exact = seconds * sps;
    const double nearest = std::round(exact);
    if (std::fabs(exact - nearest) <= kTimeRoundingInSamples) return std::max(nearest, 0.0);
    return std::max(std::floor(std::floor(10000.0 * seconds) / 10000.0 * sps), 0.0);
}

int read_segment(float* out, size_t capacity, double start, double end, const SegmentRow& row,
                 const std::string& path, SegmentOutcome& outcome) {
    if (malformed(row)) return kSegmentReadError;
    if (row.tbegin > end || row.tbegin + row.tqty < start) return kSegmentOutsideWindow;

    // Doubles, not integers, until the count is bounded: SPS of 1e9 over an hour is
    // 3.6e12 samples, which the caller's buffer could never take anyway.
    const double place_d =
        row.tbegin > start
            ? static_cast<double>(sample_index((row.tbegin - start) * row.sps, row.sps))
            : 0.0;
    const double b = std::max(start, row.tbegin);
    const double f = std::min(end, row.tbegin + row.tqty);
    const double whole = samples_in_span(f - b, row.sps);
    const double room =
        place_d < static_cast<double>(capacity) ? static_cast<double>(capacity) - place_d : 0.0;
    const double n_d = std::clamp(whole, 0.0, room);
    const size_t place = static_cast<size_t>(std::min(place_d, static_cast<double>(capacity)));
    const size_t n = static_cast<size_t>(n_d);
    const size_t width = bytes_per_sample(row.datatype);

    outcome.begin = b;
    outcome.first = place;
    outcome.samples_wanted = delivers_samples(row.datatype) ? n : 0;
    outcome.samples_read = 0;
    outcome.os_error = 0;
    outcome.problem = nullptr;
    // A segment clipped by the buffer delivered only up to the buffer's end.
    outcome.end = n_d < whole ? b + n_d / row.sps : f;

    ReadOnlyFile file(path);
    if (!file.is_open()) {
        outcome.os_error = file.not_regular() ? 0 : errno;
        if (file.not_regular()) outcome.problem = "not a regular file";
        return kFileOpenError;
    }
    if (n == 0) return kOk;

    std::vector<unsigned char> bytes(n * width, 0);
    const double k = static_cast<double>(sample_index((b - row.tbegin) * row.sps, row.sps));
    const double offset = static_cast<double>(row.foff) + k * static_cast<double>(width);
    if (offset > 9.0e18) return kSegmentReadError;
    const ssize_t got = file.read_at(bytes.data(), bytes.size(), static_cast<int64_t>(offset));
    if (got < 0) {
        outcome.os_error = errno;
        return kSegmentReadError;
    }
    if (!delivers_samples(row.datatype)) return kOk;
    convert(row.datatype, bytes.data(), n, out + place);
    outcome.samples_read = static_cast<size_t>(got) / width;
    return kOk;
}

}  // namespace zelvik::db
