// A record is 48 bytes of fixed header, a chain of blockettes (type and offset of the
// next, 0 ending the chain) and its data. Header fields are big- or little-endian;
// the order is the one in which the start year and day read as a plausible date.
#include "acquire/mseed_record_check.h"

#include <cstdint>

namespace zelvik::acquire {
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

// Walks the blockette chain within `limit` bytes of the record; what blockette 1000
// says goes to `layout` (length 0 when there is none). With `partial`, a chain that
// leaves `limit` stops the walk without an error (more bytes are on their way).
bool walk_blockettes(const Record& r, size_t limit, RecordLayout& layout, std::string& error,
                     bool partial = false) {
    layout = RecordLayout{};
    size_t offset = r.u16(46);
    size_t previous = 0;
    for (int n = 0; offset != 0; ++n) {
        if (offset < kFixedHeader || offset <= previous || n >= kMaxBlockettes) {
            error = "blockette chain loops or points into the header" + at_text(r);
            return false;
        }
        const bool b1000 = offset + 4 <= limit && r.u16(offset) == 1000;
        if (offset + 4 > limit || (b1000 && offset + 8 > limit)) {
            if (partial && layout.length == 0) return true;
            error =
                (b1000 ? "blockette 1000 beyond the end" : "blockette beyond the end") + at_text(r);
            return false;
        }
        if (b1000) {
            const unsigned exponent = r.byte(offset + 6);
            if (exponent < 7 || exponent > 20) {
                error = "record length 2^" + std::to_string(exponent) + " not usable" + at_text(r);
                return false;
            }
            layout.length = size_t{1} << exponent;
            layout.encoding = r.byte(offset + 4);
            layout.big_endian_data = r.byte(offset + 5) != 0;
            if (layout.length < limit) limit = layout.length;
            if (offset + 8 > limit) {
                error = "blockette 1000 beyond the record length" + at_text(r);
                return false;
            }
            if (partial) return true;  // the rest of the chain has not arrived yet
        }
        previous = offset;
        offset = r.u16(offset + 2);
    }
    if (layout.length != 0 && previous + 4 > layout.length) {
        error = "blockette beyond the record length" + at_text(r);
        return false;
    }
    return true;
}

// The data offset inside the record and the sample count within what the data area
// holds in the record's encoding (known only from blockette 1000).
bool check_data_area(const Record& r, RecordLayout& layout, std::string& error) {
    layout.sample_count = r.u16(30);
    const size_t data = r.u16(44);
    if (layout.sample_count == 0) return true;
    if (data < kFixedHeader || data >= layout.length) {
        error = "data offset " + std::to_string(data) + " outside" + at_text(r);
        return false;
    }
    layout.data_offset = data;
    if (layout.encoding >= 0 &&
        !samples_fit(layout.encoding, layout.length - data, layout.sample_count)) {
        error = std::to_string(layout.sample_count) + " samples of encoding " +
                std::to_string(layout.encoding) + " do not fit " +
                std::to_string(layout.length - data) + " bytes" + at_text(r);
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

bool samples_fit(int encoding, size_t data_bytes, unsigned count) {
    const size_t frames = data_bytes / 64;  // Steim: 64-byte frames of 16 words
    switch (encoding) {
        case 0:
            return count <= data_bytes;  // ASCII
        case 1:
        case 14:
        case 15:
        case 16:
        case 30:
        case 32:
            return count <= data_bytes / 2;
        case 13:
            return count <= data_bytes / 3;  // GEOSCOPE 24 bit
        case 3:
        case 4:
            return count <= data_bytes / 4;  // int32, float32
        case 5:
            return count <= data_bytes / 8;  // float64
        case 10:
            return count <= frames * 15 * 4;  // Steim 1: at most 4 differences a word
        case 11:
            return count <= frames * 15 * 7;  // Steim 2: at most 7 differences a word
        default:
            return false;
    }
}

int announced_record_length(std::string_view head, size_t& length, std::string& error) {
    Record r(head, 0);
    if (!r.plausible_header()) {
        error = head.size() < kFixedHeader ? "truncated record header" : "not a miniSEED 2 header";
        return -1;
    }
    RecordLayout layout;
    if (!walk_blockettes(r, head.size(), layout, error, true)) return -1;
    length = layout.length;
    return layout.length != 0 ? 1 : 0;
}

bool check_miniseed_record(std::string_view record, RecordLayout& layout, std::string& error) {
    Record r(record, 0);
    if (!r.plausible_header()) {
        error = record.size() < kFixedHeader ? "truncated record" : "not miniSEED 2";
        return false;
    }
    if (!walk_blockettes(r, record.size(), layout, error)) return false;
    if (layout.length != record.size()) {
        error = layout.length == 0
                    ? "no blockette 1000 in a record of " + std::to_string(record.size()) + " bytes"
                    : "record announces " + std::to_string(layout.length) + " bytes, " +
                          std::to_string(record.size()) + " given";
        return false;
    }
    if (!check_data_area(r, layout, error)) return false;
    if (layout.sample_count > 0 && !samples_fit(layout.encoding, record.size(), 0)) {
        error = "encoding " + std::to_string(layout.encoding) + " cannot be decoded";
        return false;
    }
    return true;
}

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
        RecordLayout layout;
        if (!walk_blockettes(r, limit, layout, error)) return false;
        if (layout.length == 0) layout.length = detected_length(bytes, r);
        if (layout.length > r.available()) {
            error = "truncated record at byte " + std::to_string(at) + ": " +
                    std::to_string(layout.length) + " bytes announced, " +
                    std::to_string(r.available()) + " left";
            return false;
        }
        if (!check_data_area(r, layout, error)) return false;
        lengths.push_back(layout.length);
        at += layout.length;
    }
    return true;
}

}  // namespace zelvik::acquire
