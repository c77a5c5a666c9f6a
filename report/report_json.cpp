// JSON by hand: the documents are small and flat, and every string goes through
// json_string, so no receiver can be handed a broken document by a station code.
#include "report/report_json.h"

#include <cmath>
#include <cstdio>

#include "common/civil_time.h"
#include "report/detection_report.h"

namespace zelvik::report {
namespace {

std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

// A measured value, null when negative (not measured, not converted).
std::string measured(double v) {
    return v < 0.0 ? std::string("null") : number(v);
}

}  // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string iso_utc(double epoch) {
    const double rounded = std::round((std::isfinite(epoch) ? epoch : 0.0) * 100.0) / 100.0;
    const double whole = std::floor(rounded);
    const common::Civil c = common::civil_from_epoch(whole);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%02dZ", c.year, c.month, c.day,
                  c.hour, c.minute, static_cast<int>(c.second),
                  static_cast<int>(std::lround((rounded - whole) * 100.0)) % 100);
    return text;
}

namespace {

// The refined onset, its grade and SNR, where the channel made one.
std::string pick_json(const ReportEntry& e) {
    if (!(e.pick > 0.0)) return ",\"pick\":null";
    return ",\"pick\":{\"onset\":\"" + iso_utc(e.pick) +
           "\",\"grade\":" + std::to_string(e.pick_grade) +
           ",\"snr\":" + measured(e.pick_snr > 0.0 ? e.pick_snr : -1.0) + "}";
}

}  // namespace

std::string report_json(std::string_view id, const std::vector<ReportEntry>& entries,
                        std::string_view network) {
    std::string out = "{\"id\":" + json_string(id) + ",\"subject\":\"ALERT\",\"network\":" +
                      json_string(network.empty() ? std::string_view("QRS") : network) +
                      ",\"detections\":[";
    for (size_t i = 0; i < entries.size(); ++i) {
        const ReportEntry& e = entries[i];
        if (i > 0) out += ',';
        out += "{\"station\":" + json_string(e.station) + ",\"channel\":" + json_string(e.channel) +
               ",\"location\":" + json_string(e.location) + ",\"onset\":\"" + iso_utc(e.onset) +
               "\",\"ratio\":" + number(e.ratio) + ",\"sta_variance\":" + number(e.sta_variance) +
               ",\"period_s\":" + (e.period > 0.0 ? number(e.period) : std::string("null")) +
               ",\"amplitude_counts\":" + measured(e.amplitude_counts) +
               ",\"amplitude_um\":" + measured(e.amplitude_um) + pick_json(e) + "}";
    }
    return out + "]}";
}

std::string notice_json(std::string_view id, std::string_view subject, std::string_view text) {
    return "{\"id\":" + json_string(id) + ",\"subject\":" + json_string(subject) +
           ",\"text\":" + json_string(text) + "}";
}

}  // namespace zelvik::report
