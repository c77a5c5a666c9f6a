// Channel names, built in one place so that every reader sees the same spelling.
#include "common/channel_id.h"

namespace zelvik::common {

std::string channel_id(std::string_view station, std::string_view channel,
                       std::string_view location) {
    std::string id;
    id.reserve(station.size() + channel.size() + location.size() + 2);
    id.append(station).append(".").append(channel).append(".").append(location);
    return id;
}

}  // namespace zelvik::common
