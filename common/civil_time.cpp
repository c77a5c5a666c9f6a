#include "common/civil_time.h"

#include <cmath>
#include <ctime>

namespace zelvik::common {

// Howard Hinnant's days_from_civil: exact for the whole proleptic Gregorian range.
int64_t days_from_civil(int year, int month, int day) {
    int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

namespace {

void civil_from_days(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

double epoch_from_civil(const Civil& c) {
    // Normalise the month first so that days_from_civil sees 1..12.
    int64_t month0 = c.month - 1;
    int64_t year = c.year + (month0 >= 0 ? month0 / 12 : (month0 - 11) / 12);
    month0 -= (year - c.year) * 12;
    const int64_t days =
        days_from_civil(static_cast<int>(year), static_cast<int>(month0 + 1), 1) + (c.day - 1);
    return static_cast<double>(days) * 86400.0 + c.hour * 3600.0 + c.minute * 60.0 + c.second;
}

Civil civil_from_epoch(double epoch) {
    const double day_floor = std::floor(epoch / 86400.0);
    double rest = epoch - day_floor * 86400.0;  // [0, 86400)
    if (rest >= 86400.0) rest = 0.0;
    Civil c;
    civil_from_days(static_cast<int64_t>(day_floor), c.year, c.month, c.day);
    c.hour = static_cast<int>(rest / 3600.0);
    rest -= c.hour * 3600.0;
    c.minute = static_cast<int>(rest / 60.0);
    c.second = rest - c.minute * 60.0;
    return c;
}

Civil local_civil(int64_t epoch_seconds) {
    const time_t t = static_cast<time_t>(epoch_seconds);
    struct tm tm_local {};
    localtime_r(&t, &tm_local);
    return Civil{tm_local.tm_year + 1900, tm_local.tm_mon + 1,
                 tm_local.tm_mday,        tm_local.tm_hour,
                 tm_local.tm_min,         static_cast<double>(tm_local.tm_sec)};
}

namespace {

std::string format_tm(const struct tm& tm_value, const char* strftime_format) {
    char buffer[256];
    const size_t n = std::strftime(buffer, sizeof buffer, strftime_format, &tm_value);
    return std::string(buffer, n);
}

}  // namespace

std::string format_local(int64_t epoch_seconds, const char* strftime_format) {
    const time_t t = static_cast<time_t>(epoch_seconds);
    struct tm tm_local {};
    localtime_r(&t, &tm_local);
    return format_tm(tm_local, strftime_format);
}

std::string format_utc(int64_t epoch_seconds, const char* strftime_format) {
    const time_t t = static_cast<time_t>(epoch_seconds);
    struct tm tm_utc {};
    gmtime_r(&t, &tm_utc);
    return format_tm(tm_utc, strftime_format);
}

std::string utc_text(double epoch) {
    return format_utc(static_cast<int64_t>(epoch), "%Y-%m-%d %H:%M:%S");
}

}  // namespace zelvik::common
