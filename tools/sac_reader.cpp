// Binary SAC: a 632-byte header (70 floats, 40 integers and logicals, 24 texts of 8
// bytes, one of 16) and then npts 32-bit floats. The byte order is whichever makes
// the header version (word 76) read as 6 or 7.
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/civil_time.h"
#include "common/text.h"
#include "tools/waveform_reader.h"

namespace zelvik::tools {
namespace {

constexpr size_t kHeaderBytes = 632;
constexpr int kUndefined = -12345;
constexpr double kEarliest = -2208988800.0;  // 1900-01-01 00:00 UTC (date -u -d 1900-01-01 +%s)
constexpr double kLatest = 7258118400.0;     // 2200-01-01 00:00 UTC

class SacHeader {
public:
    SacHeader(std::string_view bytes, bool swap) : bytes_(bytes), swap_(swap) {}
    uint32_t word(size_t i) const {
        uint32_t v;
        std::memcpy(&v, bytes_.data() + 4 * i, 4);
        return swap_ ? __builtin_bswap32(v) : v;
    }
    float real(size_t i) const {
        const uint32_t w = word(i);
        float f;
        std::memcpy(&f, &w, 4);
        return f;
    }
    int integer(size_t i) const { return static_cast<int>(word(i)); }
    // An 8-byte text field; blanks and SAC's "-12345" mark of an unset value removed.
    std::string text(size_t offset) const {
        std::string s(common::trim(bytes_.substr(offset, 8)));
        s = s.substr(0, s.find('\0'));
        return s == "-12345" ? std::string() : s;
    }

private:
    std::string_view bytes_;
    bool swap_;
};

// Reference time fields (year, day of year, hour, minute, second, millisecond) that
// name a real instant between kEarliest and kLatest.
bool reference_fields_usable(const SacHeader& h) {
    const int year = h.integer(70), jday = h.integer(71), hour = h.integer(72),
              minute = h.integer(73), second = h.integer(74), msec = h.integer(75);
    return year >= 1900 && year < 2200 && jday >= 1 && jday <= 366 && hour >= 0 && hour <= 23 &&
           minute >= 0 && minute <= 59 && second >= 0 && second <= 60 && msec >= 0 && msec <= 999;
}

}  // namespace

bool read_sac(const std::string& path, Segment& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open";
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return read_sac_bytes(bytes, out, error);
}

bool read_sac_bytes(std::string_view bytes, Segment& out, std::string& error) {
    if (bytes.size() < kHeaderBytes) {
        error = "not SAC: shorter than a SAC header";
        return false;
    }
    bool swap = false;
    if (SacHeader probe(bytes, false); probe.integer(76) != 6 && probe.integer(76) != 7)
        swap = true;
    const SacHeader h(bytes, swap);
    if (h.integer(76) != 6 && h.integer(76) != 7) {
        error = "not SAC: unknown header version";
        return false;
    }
    const int npts = h.integer(79);
    const float delta = h.real(0);
    if (h.integer(105) == 0 || !(delta > 0.0f) || !std::isfinite(delta) || npts <= 0) {
        error = "SAC file is not evenly sampled data";
        return false;
    }
    if (bytes.size() < kHeaderBytes + 4 * static_cast<size_t>(npts)) {
        error = "truncated: header announces " + std::to_string(npts) + " samples";
        return false;
    }
    const int year = h.integer(70), jday = h.integer(71);
    if (year == kUndefined || jday == kUndefined) {
        error = "SAC file has no reference time";
        return false;
    }
    if (!reference_fields_usable(h)) {
        error = "SAC reference time is not a date";
        return false;
    }
    const double reference =
        static_cast<double>(common::days_from_civil(year, 1, 1) + jday - 1) * 86400.0 +
        h.integer(72) * 3600.0 + h.integer(73) * 60.0 + h.integer(74) + h.integer(75) / 1000.0;
    // delta is a 32-bit float, so 1/0.004 reads 249.99998; a rate that close to a
    // whole number is taken to be that number.
    double sps = 1.0 / static_cast<double>(delta);
    if (std::fabs(sps - std::round(sps)) < 1e-4 * sps) sps = std::round(sps);
    // The begin offset b is a float that may hold anything (1e30, NaN); the first
    // sample's time must stay a usable instant.
    const double start = reference + static_cast<double>(h.real(5));
    if (!(start >= kEarliest && start < kLatest)) {
        error = "SAC begin time is not finite or not a usable date";
        return false;
    }
    out = Segment{h.text(608), h.text(440), h.text(464), h.text(600), start, sps, false, {}, {}};
    out.floats.resize(static_cast<size_t>(npts));
    for (size_t i = 0; i < out.floats.size(); ++i) {
        out.floats[i] = h.real(kHeaderBytes / 4 + i);
        if (!std::isfinite(out.floats[i])) {
            error = "SAC sample " + std::to_string(i) + " is not finite";
            return false;
        }
    }
    if (out.station.empty() || out.channel.empty()) {
        error = "SAC file names no station or component";
        return false;
    }
    return true;
}

bool read_waveform_file(const std::string& path, std::vector<Segment>& out, std::string& error) {
    if (path.size() > 4 &&
        common::iequals(std::string_view(path).substr(path.size() - 4), ".sac")) {
        Segment s;
        if (!read_sac(path, s, error)) return false;
        out.push_back(std::move(s));
        return true;
    }
    return read_miniseed(path, out, error);
}

}  // namespace zelvik::tools
