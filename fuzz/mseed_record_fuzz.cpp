// One miniSEED record as a SeedLink server or a followed file hands it to the live
// store: any bytes end in a refusal or in a record whose samples are safe to store (as
// many as it declares, a usable rate, a finite start and only finite samples).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "acquire/record_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const zelvik::acquire::DecodedRecord r = zelvik::acquire::decode_record(bytes);
    if (!r.ok()) return 0;
    const auto& h = r.header;
    const size_t n = r.ints.size() + r.reals.size();
    if (static_cast<int64_t>(n) != h.sample_count) std::abort();
    if (!(h.sample_rate > 0.0) || !std::isfinite(h.sample_rate) || !std::isfinite(h.start_time))
        std::abort();
    for (const double v : r.reals)
        if (!std::isfinite(v)) std::abort();
    return 0;
}
