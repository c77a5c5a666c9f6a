// BEGIN parsing. A back-off must be a plain non-negative count of seconds and a date
// must be a real calendar date: a value such as "BEGIN='garbage" would otherwise
// read as year 0 and send the worker two thousand years into the past.
#include "engine/begin_time.h"

#include <cstdio>
#include <string>

#include "common/civil_time.h"
#include "common/text.h"

namespace zelvik::detect {

namespace {

constexpr int64_t kDefaultBackOff = 1800;
constexpr int64_t kMaxBackOff = 100LL * 366 * 86400;  // a century is plenty for any archive

bool fields_valid(int y, int mo, int d, int h, int mi, int s) {
    return y >= 1900 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 &&
           h <= 23 && mi >= 0 && mi <= 59 && s >= 0 && s <= 60;
}

// A non-negative count of seconds made only of digits (blanks around allowed).
std::optional<int64_t> parse_seconds(std::string_view text) {
    const std::string_view t = common::trim(text);
    if (t.empty() || t.size() > 12) return std::nullopt;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    const int64_t v = common::leading_long(t);
    if (v > kMaxBackOff) return std::nullopt;
    return v;
}

}  // namespace

std::optional<int64_t> parse_begin_date(std::string_view text) {
    static const char* const kFormats[] = {"%4d-%2d-%2d %2d:%2d:%2d", "%4d.%2d.%2d %2d:%2d:%2d",
                                           "%4d/%2d/%2d %2d:%2d:%2d"};
    const std::string s(common::trim(text));
    for (const char* format : kFormats) {
        int f[6] = {0, 0, 0, 0, 0, 0};
        const int read = std::sscanf(s.c_str(), format, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
        if (read < 3) continue;
        if (!fields_valid(f[0], f[1], f[2], f[3], f[4], f[5])) return std::nullopt;
        const common::Civil c{f[0], f[1], f[2], f[3], f[4], static_cast<double>(f[5])};
        const double epoch = common::epoch_from_civil(c);
        // 31 February would be normalised into March; refuse it instead.
        if (common::civil_from_epoch(epoch).day != f[2]) return std::nullopt;
        return static_cast<int64_t>(epoch);
    }
    return std::nullopt;
}

std::optional<int64_t> parse_begin_argument(std::string_view arg, int64_t now, bool& is_begin,
                                            std::string& problem) {
    is_begin = common::istarts_with(arg, "BEGIN=");
    if (!is_begin) return std::nullopt;
    // A shell takes the apostrophe of BEGIN='2016-12-14 17:00:00' away, so both
    // spellings mean the same.
    std::string_view rest = common::trim(arg.substr(6));
    if (!rest.empty() && rest.front() == '\'') rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '\'') rest.remove_suffix(1);
    if (!rest.empty() && rest.front() == '-') {
        if (auto back = parse_seconds(rest.substr(1))) return now - *back;
        problem = "BEGIN argument '" + std::string(arg) + "' is no count of seconds back (-N)";
        return std::nullopt;
    }
    if (auto date = parse_begin_date(rest)) return date;
    problem = "BEGIN argument '" + std::string(arg) +
              "' is no date (YYYY-MM-DD, YYYY.MM.DD or YYYY/MM/DD, time hh:mm:ss optional) and "
              "no count of seconds back (-N)";
    return std::nullopt;
}

std::string begin_arguments_problem(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        bool is_begin = false;
        std::string problem;
        if (!parse_begin_argument(args[i], 0, is_begin, problem) && is_begin) return problem;
    }
    return {};
}

BeginTime detection_start_time(const std::vector<std::string>& args,
                               std::string_view settings_begin, int64_t now) {
    BeginTime out;
    for (size_t i = 1; i < args.size(); ++i) {
        bool is_begin = false;
        std::string problem;
        if (auto start = parse_begin_argument(args[i], now, is_begin, problem))
            return {*start, "command line", out.problem};
        if (is_begin) out.problem += problem + "; ";
    }
    const std::string_view value = common::trim(settings_begin);
    if (!value.empty() && value.front() == '-') {
        if (auto back = parse_seconds(value.substr(1)))
            return {now - *back, "settings", out.problem};
    } else if (auto date = parse_begin_date(value)) {
        return {*date, "settings", out.problem};
    } else if (auto back = parse_seconds(value)) {
        return {now - *back, "settings", out.problem};
    }
    out.problem += "BEGIN setting '" + std::string(value) + "' is neither a date nor seconds; ";
    out.start = now - kDefaultBackOff;
    out.origin = "default";
    return out;
}

}  // namespace zelvik::detect
