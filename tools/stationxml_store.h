// zelvik-store response --stationxml: every channel of an inventory whose poles, zeros
// and sensitivity give a displacement response becomes one CALIBRATION row, written
// exactly as a --sac text would be.
#pragma once

#include <iosfwd>
#include <string>

namespace zelvik::db {
class OdbcConnection;
}

namespace zelvik::tools {

// Stores the responses of StationXML file `path` on `conn`. Writes one line on `out`
// per stored or skipped channel (skips name their reason) and per recomputed A0;
// failures go to `err` as lines beginning "zelvik-store: ".
// @retval 0 at least one channel stored and none failed to store
// @retval 1 the file is unreadable, not XML or not StationXML, nothing was stored, or
//           a row could not be written
int store_stationxml_responses(const db::OdbcConnection& conn, const std::string& path,
                               std::ostream& out, std::ostream& err);

}  // namespace zelvik::tools
