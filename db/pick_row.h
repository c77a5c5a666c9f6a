// One row of the PICKS table: where a detection's P wave begins, beside the trigger's
// onset, and how clear that pick was.
#pragma once

#include <string_view>

namespace zelvik::db {

struct PickRow {
    std::string_view sta, ch, lcode;  // codes as in FILELIST; not owned
    double tonset;                    // the trigger's onset, seconds since 1970 (as TBEGIN)
    double tpick;                     // the refined onset, seconds since 1970
    int grade;                        // 0 clearest .. 4 unusable
    double snr;                       // RMS amplitude after the pick over RMS before
};

}  // namespace zelvik::db
