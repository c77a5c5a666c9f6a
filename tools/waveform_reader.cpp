// miniSEED through libmseed 2.x and SAC by hand. libmseed's own messages are caught
// and folded into our one-line error instead of going to stderr.
#include "tools/waveform_reader.h"

#include <libmseed.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "acquire/mseed_record_check.h"
#include "common/civil_time.h"
#include "common/text.h"

namespace zelvik::tools {
namespace {

std::mutex g_mseed_mutex;     // libmseed's log hooks are process-wide
std::string g_mseed_message;  // guarded by g_mseed_mutex: last diagnostic of libmseed
std::string g_steim_fault;    // guarded by g_mseed_mutex: first Steim decoding complaint

void keep_message(char* text) {
    g_mseed_message = std::string(common::trim(text != nullptr ? text : ""));
    // libmseed quotes the offending bytes, which may be anything.
    for (char& c : g_mseed_message)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    // A failed integrity check of Steim frames is only a warning to libmseed, which
    // still hands out the samples; one flipped bit would import garbage.
    if (g_steim_fault.empty() && g_mseed_message.find("Steim") != std::string::npos &&
        g_mseed_message.find("Unpacking") == std::string::npos &&
        g_mseed_message.find("Decoding") == std::string::npos)
        g_steim_fault = g_mseed_message;
}

// Owns the list libmseed builds and the record it parses into.
struct MseedReading {
    MSRecord* record = nullptr;
    MSTraceList* traces = mstl_init(nullptr);
    ~MseedReading() {
        msr_free(&record);
        mstl_free(&traces, 0);
    }
};

bool all_finite(const Segment& seg) {
    for (float f : seg.floats)
        if (!std::isfinite(f)) return false;
    return true;
}

bool copy_segments(const MSTraceList& list, std::vector<Segment>& out, std::string& error) {
    for (const MSTraceID* id = list.traces; id != nullptr; id = id->next) {
        for (const MSTraceSeg* s = id->first; s != nullptr; s = s->next) {
            Segment seg{id->network,
                        id->station,
                        id->location,
                        id->channel,
                        static_cast<double>(s->starttime) / HPTMODULUS,
                        s->samprate,
                        false,
                        {},
                        {}};
            if (!(seg.sps > 0.0) || !std::isfinite(seg.sps)) {
                error = "channel " + std::string(id->srcname) + " has no usable sample rate";
                return false;
            }
            const auto n = static_cast<size_t>(s->numsamples);
            switch (s->sampletype) {
                case 'i':
                    seg.integer = true;
                    seg.ints.assign(static_cast<const int32_t*>(s->datasamples),
                                    static_cast<const int32_t*>(s->datasamples) + n);
                    break;
                case 'f':
                    seg.floats.assign(static_cast<const float*>(s->datasamples),
                                      static_cast<const float*>(s->datasamples) + n);
                    break;
                case 'd': {
                    const auto* d = static_cast<const double*>(s->datasamples);
                    seg.floats.resize(n);
                    for (size_t i = 0; i < n; ++i) seg.floats[i] = static_cast<float>(d[i]);
                    break;
                }
                default:
                    error = "channel " + std::string(id->srcname) + " holds text, not samples";
                    return false;
            }
            if (!all_finite(seg)) {
                error =
                    "channel " + std::string(id->srcname) + " holds samples that are not finite";
                return false;
            }
            if (n > 0) out.push_back(std::move(seg));
        }
    }
    return true;
}

}  // namespace

bool read_miniseed(const std::string& path, std::vector<Segment>& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    return read_miniseed_bytes(bytes, out, error);
}

bool read_miniseed_bytes(std::string_view bytes, std::vector<Segment>& out, std::string& error) {
    if (bytes.empty()) {
        error = "empty file";
        return false;
    }
    std::vector<size_t> lengths;
    if (!acquire::check_miniseed_records(bytes, lengths, error)) return false;
    std::string record_bytes;
    std::lock_guard<std::mutex> lock(g_mseed_mutex);
    ms_loginit(keep_message, nullptr, keep_message, nullptr);
    g_mseed_message.clear();
    g_steim_fault.clear();
    MseedReading reading;
    size_t at = 0;
    for (const size_t length : lengths) {
        record_bytes.assign(bytes.substr(at, length));
        const int r = msr_parse(record_bytes.data(), static_cast<int>(length), &reading.record,
                                static_cast<int>(length), 1, 0);
        if (r != MS_NOERROR || !g_steim_fault.empty()) {
            error = (r > 0             ? std::string("truncated record")
                     : r == MS_NOTSEED ? std::string("not miniSEED")
                     : r < 0           ? std::string(ms_errorstr(r))
                                       : std::string("corrupt compressed data")) +
                    " at byte " + std::to_string(at);
            const std::string& why = g_steim_fault.empty() ? g_mseed_message : g_steim_fault;
            if (!why.empty()) error += " (" + why + ")";
            return false;
        }
        if (mstl_addmsr(reading.traces, reading.record, 0, 1, -1.0, -1.0) == nullptr) {
            error = "cannot merge the record at byte " + std::to_string(at);
            return false;
        }
        at += length;
    }
    if (reading.traces->numtraces == 0) {
        error = "no data records";
        return false;
    }
    return copy_segments(*reading.traces, out, error);
}

}  // namespace zelvik::tools
