// Fixed-width columns: the table is read by eye at the end of an archive run, and a
// channel that reached no data must stand out from one that did.
#include "shell/catch_up_summary.h"

#include <cstdio>

#include "common/civil_time.h"

namespace zelvik::shell {

namespace {
constexpr const char* kRowFormat = "zelvik:   %-20s %-21s %10s %11s  %s\n";

std::string row(const std::string& name, const std::string& reached, long detections, long rows,
                const std::array<long, 5>& grades) {
    std::string by_grade;
    for (const long n : grades) by_grade += (by_grade.empty() ? "" : "/") + std::to_string(n);
    char line[200];
    std::snprintf(line, sizeof line, kRowFormat, name.c_str(), reached.c_str(),
                  std::to_string(detections).c_str(), std::to_string(rows).c_str(),
                  by_grade.c_str());
    return line;
}
}  // namespace

std::string catch_up_summary(const std::vector<CatchUpFigures>& channels) {
    std::string out = "zelvik: summary of the run:\n";
    char line[200];
    std::snprintf(line, sizeof line, kRowFormat, "channel", "data reached (UTC)", "detections",
                  "rows stored", "by pick grade 0/1/2/3/4");
    out += line;
    long detections = 0, rows = 0;
    std::array<long, 5> grades{};
    for (const CatchUpFigures& c : channels) {
        const std::string reached = !c.ran              ? std::string("did not run")
                                    : c.data_time > 0.0 ? common::utc_text(c.data_time)
                                                        : std::string("no data");
        out += row(c.name, reached, c.detections, c.rows_stored, c.grades);
        detections += c.detections;
        rows += c.rows_stored;
        for (size_t g = 0; g < grades.size(); ++g) grades[g] += c.grades[g];
    }
    out += row("total, " + std::to_string(channels.size()) + " channels", "", detections, rows,
               grades);
    return out;
}

}  // namespace zelvik::shell
