// Pole-zero or frequency-amplitude-phase text from the response tables (ZELVIK_FUZZ_PAZ
// picks which). Whatever the text, parsing ends, allocates within its bounds, and a
// parsed response evaluates to a finite number at every frequency a detection may ask.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "signal/instrument_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zelvik::detect::InstrumentResponse r;
    const bool ok = ZELVIK_FUZZ_PAZ ? r.parse_paz(text) : r.parse_fap(text);
    if (!ok) {
        // A refused text converts nothing: PAZ gives 0, an empty FAP table -1.
        if (r.evaluate(1.0f) > 0.0) std::abort();
        return 0;
    }
    if (!ZELVIK_FUZZ_PAZ && r.table().size() > zelvik::detect::InstrumentResponse::kMaxFapEntries)
        std::abort();
    for (const float f : {0.0f, 0.01f, 1.0f, 1.25f, 10.0f, 1e4f}) {
        if (std::isnan(r.evaluate(f))) std::abort();
    }
    return 0;
}
