// miniSEED through libmseed 2.x and SAC by hand. libmseed's own messages are caught
// and folded into our one-line error instead of going to stderr.
#include "tools/waveform_reader.h"

#include <libmseed.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>

#include "common/civil_time.h"
#include "common/text.h"

namespace zelvik::tools {
namespace {

std::mutex g_mseed_mutex;     // libmseed's log hooks are process-wide
std::string g_mseed_message;  // guarded by g_mseed_mutex: last diagnostic of libmseed

void keep_message(char* text) {
    g_mseed_message = std::string(common::trim(text != nullptr ? text : ""));
    // libmseed quotes the offending bytes, which may be anything.
    for (char& c : g_mseed_message)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
}

// Owns the list libmseed builds and the reader state it keeps between calls.
struct MseedReading {
    MSFileParam* file = nullptr;
    MSRecord* record = nullptr;
    MSTraceList* traces = mstl_init(nullptr);
    ~MseedReading() {
        ms_readmsr_r(&file, &record, nullptr, 0, nullptr, nullptr, 0, 0, 0);
        mstl_free(&traces, 0);
    }
};

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
            if (n > 0) out.push_back(std::move(seg));
        }
    }
    return true;
}

}  // namespace

bool read_miniseed(const std::string& path, std::vector<Segment>& out, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    if (st.st_size == 0) {
        error = "empty file";
        return false;
    }
    std::lock_guard<std::mutex> lock(g_mseed_mutex);
    ms_loginit(keep_message, nullptr, keep_message, nullptr);
    g_mseed_message.clear();
    MseedReading reading;
    off_t fpos = 0;
    off_t end_of_records = 0;
    int r = MS_NOERROR;
    // skipnotdata is off: a damaged record must stop the import, not vanish quietly.
    while ((r = ms_readmsr_r(&reading.file, &reading.record, path.c_str(), -1, &fpos, nullptr, 0, 1,
                             0)) == MS_NOERROR) {
        end_of_records = fpos + reading.record->reclen;
        if (mstl_addmsr(reading.traces, reading.record, 0, 1, -1.0, -1.0) == nullptr) {
            error = "cannot merge the record at byte " + std::to_string(fpos);
            return false;
        }
    }
    if (r != MS_ENDOFFILE) {
        // The failing record begins where the last good one ended.
        error = std::string(r == MS_NOTSEED ? "not miniSEED" : ms_errorstr(r)) + " at byte " +
                std::to_string(end_of_records);
        if (!g_mseed_message.empty()) error += " (" + g_mseed_message + ")";
        return false;
    }
    // libmseed stops quietly at a last record that was cut short; its bytes would be
    // lost without a word, so the file is refused as a whole.
    if (end_of_records != st.st_size) {
        error = "truncated: " + std::to_string(st.st_size - end_of_records) +
                " bytes after the last whole record";
        return false;
    }
    if (reading.traces->numtraces == 0) {
        error = "no data records";
        return false;
    }
    return copy_segments(*reading.traces, out, error);
}

}  // namespace zelvik::tools
