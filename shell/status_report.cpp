// The file is parsed as the exposition format writes it: "name{labels} value" lines,
// comments skipped. Only our own families are read; anything else (a file that another
// program left in the directory) is ignored.
#include "shell/status_report.h"

#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "config/atomic_file.h"
#include "config/program_settings.h"
#include "shell/service_health.h"

namespace zelvik::shell {
namespace {

struct Sample {
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0.0;
};

// One line "name{a="x",b="y"} value"; false for comments, blanks and what does not parse.
bool parse_sample(const std::string& line, Sample& out) {
    if (line.empty() || line[0] == '#') return false;
    size_t i = line.find_first_of("{ ");
    if (i == std::string::npos) return false;
    out.name = line.substr(0, i);
    out.labels.clear();
    if (line[i] == '{') {
        ++i;
        while (i < line.size() && line[i] != '}') {
            const size_t eq = line.find("=\"", i);
            if (eq == std::string::npos) return false;
            const std::string key = line.substr(i, eq - i);
            std::string value;
            for (i = eq + 2; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    ++i;
                    value += line[i] == 'n' ? '\n' : line[i];
                } else {
                    value += line[i];
                }
            }
            if (i >= line.size()) return false;
            out.labels[key] = value;
            ++i;  // closing quote
            if (i < line.size() && line[i] == ',') ++i;
        }
        if (i >= line.size()) return false;
        ++i;  // closing brace
    }
    const char* start = line.c_str() + i;
    char* end = nullptr;
    out.value = std::strtod(start, &end);
    return end != start;
}

struct ChannelStatus {
    std::string state = "?";
    double latency = -1.0;  // -1: no data yet
    double detections = 0, alarms = 0;
};

std::string format(const char* fmt, double a, double b = 0.0, double c = 0.0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

}  // namespace

std::string status_text(const std::string& text, const std::string& source, double now,
                        bool& fresh) {
    using Key = std::tuple<std::string, std::string, std::string, std::string>;
    std::map<Key, ChannelStatus> channels;
    std::vector<Key> order;
    std::map<std::string, double> process;
    size_t begin = 0;
    Sample s;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        if (parse_sample(text.substr(begin, end - begin), s) && s.name.rfind("zelvik_", 0) == 0) {
            if (s.name.rfind("zelvik_channel_", 0) != 0) {
                process[s.name] = s.value;
            } else {
                const Key key{s.labels["thread"], s.labels["station"], s.labels["channel"],
                              s.labels["location"]};
                if (!channels.count(key)) order.push_back(key);
                ChannelStatus& c = channels[key];
                if (s.name == "zelvik_channel_state" && s.value == 1.0) c.state = s.labels["state"];
                if (s.name == "zelvik_channel_latency_seconds") c.latency = s.value;
                if (s.name == "zelvik_channel_detections_total") c.detections = s.value;
                if (s.name == "zelvik_channel_alarms_total") c.alarms = s.value;
            }
        }
        begin = end + 1;
    }
    fresh = false;
    if (!process.count("zelvik_metrics_timestamp_seconds")) return "";
    const double stamp = process["zelvik_metrics_timestamp_seconds"];
    const double age = now - stamp;
    fresh = age <= kStatusStaleSeconds;
    std::string out = "Zelvik at " + common::utc_text(stamp) + " UTC" +
                      format(" (%.0f s ago) from ", age) + source + "\n";
    if (!fresh)
        out +=
            format("  the file is %.0f s old: Zelvik does not run, or no longer writes it\n", age);
    out += std::string("  store ") + (process["zelvik_store_up"] == 1.0 ? "up" : "DOWN") +
           format(", %.0f outages; worker pass %.1f ms, last progress %.1f s ago\n",
                  process["zelvik_store_outages_total"],
                  process["zelvik_worker_pass_seconds"] * 1000.0,
                  process["zelvik_worker_quiet_seconds"]);
    out += format("  %.0f samples processed; outbox %.0f reports; %.0f alert failures\n",
                  process["zelvik_samples_processed_total"], process["zelvik_outbox_reports"],
                  process["zelvik_alert_failures_total"]);
    char line[256];
    std::snprintf(line, sizeof line, "%-9s %-20s %-8s %12s %10s %7s\n", "Section", "Channel",
                  "State", "Latency", "Detections", "Alarms");
    out += line;
    for (const Key& key : order) {
        const ChannelStatus& c = channels[key];
        const std::string section = "THREAD" + std::get<0>(key);
        const std::string name =
            common::channel_id(std::get<1>(key), std::get<2>(key), std::get<3>(key));
        const std::string latency = c.latency < 0 ? "-" : format("%.1f s", c.latency);
        std::snprintf(line, sizeof line, "%-9s %-20s %-8s %12s %10.0f %7.0f\n", section.c_str(),
                      name.c_str(), c.state.c_str(), latency.c_str(), c.detections, c.alarms);
        out += line;
    }
    return out;
}

int run_status_report(const config::ProgramSettings& settings, std::FILE* out) {
    const std::string dir = settings.metrics_directory();
    if (dir.empty()) {
        std::fprintf(out, "zelvik: no metrics: [SYSTEM] METRICS names no directory in %s\n",
                     settings.settings_path().c_str());
        return 1;
    }
    const std::string path = dir + "/" + kMetricsFileName;
    std::string text;
    if (config::read_whole_file(path, text, 64u << 20) != config::FileRead::kOk) {
        std::fprintf(out, "zelvik: cannot read %s: is Zelvik running with this METRICS?\n",
                     path.c_str());
        return 1;
    }
    bool fresh = false;
    const std::string report = status_text(text, path, common::now_utc(), fresh);
    if (report.empty()) {
        std::fprintf(out, "zelvik: %s holds no Zelvik metrics\n", path.c_str());
        return 1;
    }
    std::fputs(report.c_str(), out);
    return fresh ? 0 : 1;
}

}  // namespace zelvik::shell
