// The end-of-run summary of a --until-caught-up run: one row per channel (data time
// reached, detections made, event rows stored, detections by pick grade) and a total,
// for stderr. Only figures
// go in, so a new column is one more field and one more format.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace zelvik::shell {

struct CatchUpFigures {
    std::string name;        // "STA.CHA.LOC"
    bool ran = false;        // the channel was running at the end
    double data_time = 0.0;  // end of the data processed, seconds since 1970 UTC; 0 = none
    long detections = 0;
    long rows_stored = 0;
    std::array<long, 5> grades{};  // detections by pick grade, 0 clearest .. 4 unusable
};

// The summary text, every line starting "zelvik: " and ending "\n". Times in UTC.
std::string catch_up_summary(const std::vector<CatchUpFigures>& channels);

}  // namespace zelvik::shell
