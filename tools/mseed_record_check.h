// Structure check of miniSEED records before libmseed sees them. libmseed follows the
// blockette chain as the file gives it, so a chain that points back at itself or out
// of its record loops for ever or reads beyond it; every record is walked here first.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::tools {

// Checks every record of a whole miniSEED file: a plausible fixed header (sequence
// number, quality code, start year and day), a record length of 128 bytes to 1 MiB
// (blockette 1000, else up to the next plausible header), blockette offsets strictly
// increasing and inside the record, the data offset inside the record, and the last
// record complete. false with `error` ("blockette chain loops in the record at byte
// 4096", ...) at the first fault. Pure: no I/O, no global state.
// `lengths` receives the length of each record in file order.
[[nodiscard]] bool check_miniseed_records(std::string_view bytes, std::vector<size_t>& lengths,
                                          std::string& error);

}  // namespace zelvik::tools
