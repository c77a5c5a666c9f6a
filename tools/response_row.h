// One CALIBRATION row as zelvik-store writes it: a pole-zero (SAC) or frequency-
// amplitude-phase (FAP) text for one channel from a start date. Every way of storing a
// response (a text file, a StationXML inventory) ends here, so all rows look alike.
#pragma once

#include <string>

#include "tools/store_commands.h"

namespace zelvik::db {
class OdbcConnection;
class StoreCatalog;
}  // namespace zelvik::db

namespace zelvik::tools {

struct ResponseRow {
    bool sac = true;        // the SAC (pole-zero) column, else FAP
    std::string text;       // already checked with Zelvik's own parser
    std::string codes[4];   // station, channel, location ("??" for none), network ("" for none)
    DateFields start, end;  // UTC
    bool has_end = false;   // else ENDDATE is NULL (still valid)
};

// Writes `row`: updates the row with the same channel and start date (so that SAC and
// FAP of one channel share it), else inserts one. Codes must be at most 7 characters.
// @retval false with `error` set to "[response] ... : driver diagnostic". Does not log.
[[nodiscard]] bool store_response_row(const db::OdbcConnection& conn,
                                      const db::StoreCatalog& catalog, const ResponseRow& row,
                                      std::string& error);

}  // namespace zelvik::tools
