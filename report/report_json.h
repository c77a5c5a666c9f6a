// The webhook's document: one small JSON object per report, carrying the same
// detections as the "ALERT" mail with their measured values, or the text of a notice
// such as NO DATA. Values that were not measured or converted are null.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelvik::report {

struct ReportEntry;

// {"id":..,"subject":"ALERT","network":..,"detections":[{"station","channel",
//  "location","onset":"YYYY-MM-DDThh:mm:ss.ssZ","ratio","sta_variance","period_s",
//  "amplitude_counts","amplitude_um"}, ...]}
std::string report_json(std::string_view id, const std::vector<ReportEntry>& entries,
                        std::string_view network);

// {"id":..,"subject":..,"text":..} for a mail that is only text.
std::string notice_json(std::string_view id, std::string_view subject, std::string_view text);

// `text` as a JSON string, quotes included; control characters escaped.
std::string json_string(std::string_view text);

// ISO 8601 UTC with hundredths: "2014-03-06T12:34:56.78Z".
std::string iso_utc(double epoch);

}  // namespace zelvik::report
