// A record is 48 bytes of fixed header, a chain of blockettes (type and offset of the
// next, 0 ending the chain) and its data. Header fields are big- or little-endian;
// the order is the one in which the start year and day read as a plausible date.
#include "tools/mseed_record_check.h"

#include <cstdint>

namespace zelvik::tools {
namespace {

constexpr size_t kFixedHeader = 48;
constexpr size_t kMinRecord = 128;
constexpr size_t kMaxRecord = size_t{1} << 20;
constexpr int kMaxBlockettes = 256;

class Record {
public:
    Record(std::string_view bytes, size_t at) : b_(bytes), at_(at) {}

    // The fixed header looks like one, in either byte order (swap_ set accordingly).
    bool plausible_header() {
        if (b_.size() - at_ < kFixedHeader) return false;
        for (size_t i = 0; i < 6; ++i) {
            const char c = b_[at_ + i];
            if ((c < '0' || c > '9') && c != ' ' && c != '\0') return false;
        }
        const char q = b_[at_ + 6];
        if (q != 'D' && q != 'R' && q != 'Q' && q != 'M') return false;
        if (b_[at_ + 7] != ' ' && b_[at_ + 7] != '\0') return false;
        if (byte(24) > 23 || byte(25) > 59 || byte(26) > 60) return false;
        for (bool swap : {false, true}) {
            swap_ = swap;
            const unsigned year = u16(20), day = u16(22);
            if (year >= 1900 && year <= 2100 && day >= 1 && day <= 366) return true;
        }
        return false;
    }

    uint16_t u16(size_t offset) const {
        const auto hi = static_cast<unsigned char>(b_[at_ + offset]);
        const auto lo = static_cast<unsigned char>(b_[at_ + offset + 1]);
        return static_cast<uint16_t>(swap_ ? (lo << 8 | hi) : (hi << 8 | lo));
    }
    unsigned char byte(size_t offset) const { return static_cast<unsigned char>(b_[at_ + offset]); }
    size_t available() const { return b_.size() - at_; }
    size_t at() const { return at_; }

private:
    std::string_view b_;
    size_t at_;
    bool swap_ = false;  // true: little-endian header (read the low byte first)
};

std::string at_text(const Record& r) {
    return " in the record at byte " + std::to_string(r.at());
}

// Walks the blockette chain within `limit` bytes of the record; the record length from
// blockette 1000 goes to `reclen` (0 when there is none).
bool walk_blockettes(const Record& r, size_t limit, size_t& reclen, std::string& error) {
    reclen = 0;
    size_t offset = r.u16(46);
    size_t previous = 0;
    for (int n = 0; offset != 0; ++n) {
        if (offset < kFixedHeader || offset <= previous || n >= kMaxBlockettes) {
            error = "blockette chain loops or points into the header" + at_text(r);
            return false;
        }
        if (offset + 4 > limit) {
            error = "blockette beyond the end" + at_text(r);
            return false;
        }
        if (r.u16(offset) == 1000) {
            if (offset + 8 > limit) {
                error = "blockette 1000 beyond the end" + at_text(r);
                return false;
            }
            const unsigned exponent = r.byte(offset + 6);
            if (exponent < 7 || exponent > 20) {
                error = "record length 2^" + std::to_string(exponent) + " not usable" + at_text(r);
                return false;
            }
            reclen = size_t{1} << exponent;
            if (reclen < limit) limit = reclen;
            if (offset + 8 > limit) {
                error = "blockette 1000 beyond the record length" + at_text(r);
                return false;
            }
        }
        previous = offset;
        offset = r.u16(offset + 2);
    }
    if (reclen != 0 && previous + 4 > reclen) {
        error = "blockette beyond the record length" + at_text(r);
        return false;
    }
    return true;
}

// Length of a record without blockette 1000: up to the next plausible header at a
// multiple of 128 bytes (as libmseed looks for it), else to the end of the file.
size_t detected_length(std::string_view bytes, const Record& r) {
    for (size_t len = kMinRecord; len <= kMaxRecord && len < r.available(); len += kMinRecord) {
        Record next(bytes, r.at() + len);
        if (next.plausible_header()) return len;
    }
    return r.available() < kMaxRecord ? r.available() : kMaxRecord;
}

}  // namespace

bool check_miniseed_records(std::string_view bytes, std::vector<size_t>& lengths,
                            std::string& error) {
    lengths.clear();
    size_t at = 0;
    while (at < bytes.size()) {
        Record r(bytes, at);
        if (!r.plausible_header()) {
            error = (r.available() < kFixedHeader ? "truncated record" : "not miniSEED") +
                    std::string(" at byte ") + std::to_string(at);
            return false;
        }
        const size_t limit = r.available() < kMaxRecord ? r.available() : kMaxRecord;
        size_t reclen = 0;
        if (!walk_blockettes(r, limit, reclen, error)) return false;
        if (reclen == 0) reclen = detected_length(bytes, r);
        if (reclen > r.available()) {
            error = "truncated record at byte " + std::to_string(at) + ": " +
                    std::to_string(reclen) + " bytes announced, " + std::to_string(r.available()) +
                    " left";
            return false;
        }
        const size_t data = r.u16(44);
        if (r.u16(30) > 0 && (data < kFixedHeader || data >= reclen)) {
            error = "data offset " + std::to_string(data) + " outside" + at_text(r);
            return false;
        }
        lengths.push_back(reclen);
        at += reclen;
    }
    return true;
}

}  // namespace zelvik::tools
