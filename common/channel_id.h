// The name a channel goes by wherever people read it: log lines, window titles, the
// channel list, the event rows' channel column. "STA.CHA.LOC" with the codes as
// configured; an empty location leaves the trailing dot ("ABC.HHZ.").
#pragma once

#include <string>
#include <string_view>

namespace zelvik::common {

std::string channel_id(std::string_view station, std::string_view channel,
                       std::string_view location);

}  // namespace zelvik::common
