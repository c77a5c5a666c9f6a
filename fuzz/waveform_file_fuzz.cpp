// A miniSEED or SAC file as zelvik-store import reads it (ZELVIK_FUZZ_SAC picks which).
// Any bytes end in a refusal or in segments that are safe to import: a usable sample
// rate, a finite start time and only finite samples.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tools/waveform_reader.h"

namespace {

bool importable(const zelvik::tools::Segment& s) {
    if (!(s.sps > 0.0) || !std::isfinite(s.sps) || !std::isfinite(s.start)) return false;
    for (const float f : s.floats)
        if (!std::isfinite(f)) return false;
    return s.station.size() < 64 && s.channel.size() < 64;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<zelvik::tools::Segment> segments;
    std::string error;
    bool ok = false;
    if (ZELVIK_FUZZ_SAC) {
        zelvik::tools::Segment s;
        ok = zelvik::tools::read_sac_bytes(bytes, s, error);
        if (ok) segments.push_back(std::move(s));
    } else {
        ok = zelvik::tools::read_miniseed_bytes(bytes, segments, error);
    }
    if (!ok && error.empty()) std::abort();  // a refusal always says why
    for (const auto& s : segments)
        if (!importable(s)) std::abort();
    return 0;
}
