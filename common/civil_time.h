// Instants are doubles holding seconds since 1970-01-01 00:00 UTC; this file turns
// them into calendar fields and back. The calendar is the proleptic Gregorian one,
// without leap seconds. Local-time conversions go through localtime_r/mktime.
#pragma once

#include <cstdint>
#include <string>

namespace zelvik::common {

struct Civil {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    double second = 0.0;  // with fraction, [0, 60)

    bool operator==(const Civil&) const = default;
};

// Days from 1970-01-01 to the given date (negative before it).
int64_t days_from_civil(int year, int month, int day);

// Seconds since 1970 for the UTC calendar fields; fields out of range are normalised
// arithmetically (month 13 is January of the next year).
double epoch_from_civil(const Civil& c);

// UTC calendar fields of an instant; the fraction of the second stays in `second`.
Civil civil_from_epoch(double epoch);

// Local calendar fields of a whole-second instant (the computer's time zone).
Civil local_civil(int64_t epoch_seconds);

// Formats with strftime in local time ("%H:%M:%S %d.%m.%Y" and the like).
std::string format_local(int64_t epoch_seconds, const char* strftime_format);

// Formats with strftime in UTC.
std::string format_utc(int64_t epoch_seconds, const char* strftime_format);

// "YYYY-MM-DD hh:mm:ss" in UTC of the whole second of `epoch` (fraction dropped), the
// form every log line and listing uses for data times.
std::string utc_text(double epoch);

}  // namespace zelvik::common
