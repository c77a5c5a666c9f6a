// libmseed 2 keeps one process-wide log hook; it is set, and the record parsed, under one
// lock here, so its messages land in this library's buffer and nowhere else.
#include "acquire/record_decoder.h"

#include <libmseed.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>

#include "acquire/mseed_record_check.h"

namespace zelvik::acquire {
namespace {

std::mutex g_libmseed_mutex;     // libmseed's log hook and the message below
std::string g_libmseed_message;  // guarded by g_libmseed_mutex: last libmseed diagnostic

void keep_message(char* text) {
    g_libmseed_message = text != nullptr ? text : "";
    while (!g_libmseed_message.empty() &&
           std::isspace(static_cast<unsigned char>(g_libmseed_message.back())))
        g_libmseed_message.pop_back();
}

std::string trimmed(const char* field) {
    std::string s(field);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

uint32_t word_at(std::string_view bytes, size_t at, bool big_endian) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const auto b = static_cast<unsigned char>(bytes[at + (big_endian ? i : 3 - i)]);
        v = v << 8 | b;
    }
    return v;
}

// Owns the record libmseed parses into.
struct ParsedRecord {
    MSRecord* msr = nullptr;
    ~ParsedRecord() { msr_free(&msr); }
};

// Parses `bytes` (checked first) with or without samples; the lock must be held.
bool parse_locked(std::string_view bytes, bool with_samples, ParsedRecord& parsed,
                  RecordLayout& layout, std::string& error) {
    if (!check_miniseed_record(bytes, layout, error)) return false;
    ms_loginit(keep_message, nullptr, keep_message, nullptr);
    g_libmseed_message.clear();
    std::string copy(bytes);  // libmseed swaps header fields in place
    const int r = msr_parse(copy.data(), static_cast<int>(copy.size()), &parsed.msr,
                            static_cast<int>(copy.size()), with_samples ? 1 : 0, 0);
    if (r != MS_NOERROR || parsed.msr == nullptr) {
        error = std::string("libmseed: ") + (r < 0 ? ms_errorstr(r) : "record incomplete");
        if (!g_libmseed_message.empty()) error += " (" + g_libmseed_message + ")";
        return false;
    }
    return true;
}

void fill_header(const MSRecord& msr, RecordHeader& header) {
    header.network = trimmed(msr.network);
    header.station = trimmed(msr.station);
    header.location = trimmed(msr.location);
    header.channel = trimmed(msr.channel);
    header.start_time = static_cast<double>(msr.starttime) / HPTMODULUS;
    header.sample_rate = msr.samprate;
    header.sample_count = msr.samplecnt;
}

// Copies the samples out; a Steim record's last sample must equal the reverse
// integration constant of its first frame, or a difference was lost on the way.
bool copy_samples(const MSRecord& msr, std::string_view bytes, const RecordLayout& layout,
                  DecodedRecord& out) {
    const auto n = static_cast<size_t>(msr.numsamples);
    if (n != static_cast<size_t>(msr.samplecnt)) {
        out.error =
            "decoded " + std::to_string(n) + " of " + std::to_string(msr.samplecnt) + " samples";
        return false;
    }
    switch (msr.sampletype) {
        case 'i': {
            const auto* p = static_cast<const int32_t*>(msr.datasamples);
            out.ints.assign(p, p + n);
            if ((layout.encoding == 10 || layout.encoding == 11) && n > 0) {
                const auto last = static_cast<int32_t>(
                    word_at(bytes, layout.data_offset + 8, layout.big_endian_data));
                if (out.ints.back() != last) {
                    out.error = "Steim data damaged: last sample " +
                                std::to_string(out.ints.back()) +
                                ", reverse integration constant " + std::to_string(last);
                    return false;
                }
            }
            return true;
        }
        case 'f': {
            const auto* p = static_cast<const float*>(msr.datasamples);
            out.reals.assign(p, p + n);
            break;
        }
        case 'd': {
            const auto* p = static_cast<const double*>(msr.datasamples);
            out.reals.assign(p, p + n);
            break;
        }
        default:
            out.error = n == 0 ? "record holds no samples" : "record holds text, not samples";
            return false;
    }
    for (double v : out.reals) {
        if (!std::isfinite(v)) {
            out.error = "record holds samples that are not finite";
            return false;
        }
    }
    return true;
}

}  // namespace

bool read_record_header(std::string_view bytes, RecordHeader& header, std::string& error) {
    std::lock_guard<std::mutex> lock(g_libmseed_mutex);
    ParsedRecord parsed;
    RecordLayout layout;
    if (!parse_locked(bytes, false, parsed, layout, error)) return false;
    fill_header(*parsed.msr, header);
    return true;
}

DecodedRecord decode_record(std::string_view bytes) {
    DecodedRecord out;
    std::lock_guard<std::mutex> lock(g_libmseed_mutex);
    ParsedRecord parsed;
    RecordLayout layout;
    if (!parse_locked(bytes, true, parsed, layout, out.error)) return out;
    fill_header(*parsed.msr, out.header);
    if (!copy_samples(*parsed.msr, bytes, layout, out)) {
        out.ints.clear();
        out.reals.clear();
    }
    return out;
}

}  // namespace zelvik::acquire
