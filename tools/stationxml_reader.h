// Reads the channel responses of an FDSN StationXML 1.x inventory: codes, dates, the
// overall sensitivity and the analog pole-zero stages, as the file states them.
// Elements are matched by local name, so any namespace prefix (or none) is accepted.
#pragma once

#include <complex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/store_commands.h"

namespace zelvik::tools {

// One Laplace-domain pole-zero stage, in the units the file gives.
struct PazStage {
    int number = 0;                      // the Stage's number, 0 when not given
    bool hertz = false;                  // LAPLACE (HERTZ), else LAPLACE (RADIANS/SECOND)
    double normalization_factor = 1.0;   // A0; 1 when the file gives none
    double normalization_frequency = 0;  // Hz; 0 when the file gives none
    std::vector<std::complex<double>> zeros, poles;  // Hz or rad/s after `hertz`
};

struct StationXmlChannel {
    std::string network, station, location, channel;  // codes as in the file
    std::string start_date, end_date;  // as in the file, "" when absent; the start falls
                                       // back to the station's
    bool has_sensitivity = false;      // InstrumentSensitivity with a Value
    double sensitivity = 0;            // counts per input unit
    double sensitivity_frequency = 0;  // Hz; 0 when not given
    std::string input_units;           // InstrumentSensitivity InputUnits Name, as written
    std::vector<PazStage> paz_stages;  // analog stages in file order; digital ones left out
    int digital_stages = 0;            // stages of other kinds (z-transform, FIR, gain)
    std::string problem;               // why the response cannot be read, "" when it can
};

// Reads every Network/Station/Channel of `path` into `channels` (in file order).
// @retval false the file cannot be read, is not XML, or its root is not FDSNStationXML;
//               `error` says which in one line. A channel whose response is malformed
//               is still listed, with `problem` set. Does not log.
[[nodiscard]] bool read_stationxml(const std::string& path,
                                   std::vector<StationXmlChannel>& channels, std::string& error);

// A StationXML date-time ("2015-01-01", "2015-01-01T00:00:00", with or without a
// fraction, "Z" or an offset such as "+02:00") as UTC fields; the fraction is dropped.
// False when the text is no such date.
[[nodiscard]] bool utc_date_fields(std::string_view text, DateFields& out);

}  // namespace zelvik::tools
