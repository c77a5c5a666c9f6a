// One row of the event list as this program writes it (EVENT_TYPE 1).
#pragma once

#include <string_view>

namespace zelvik::db {

struct EventRow {
    std::string_view sta;  // station code; not owned
    double onset;          // TBEGIN, seconds since 1970
    double amp;            // micrometres; stored as 0 with the period unless both are > 0
    double per;            // seconds
};

}  // namespace zelvik::db
