// Where detection starts: the BEGIN command-line argument ("BEGIN='<date>" or
// "BEGIN=-<seconds>") or, failing that, the SYSTEM BEGIN setting. The result is an
// instant in whole seconds; unusable values are refused with a reason, never guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::detect {

// UTC instant of a date written "YYYY-MM-DD hh:mm:ss", "YYYY.MM.DD hh:mm:ss" or
// "YYYY/MM/DD hh:mm:ss"; the time fields may be left out. A format counts when it reads
// at least year, month and day. Empty when no format does or a field is out of range.
std::optional<int64_t> parse_begin_date(std::string_view text);

struct BeginTime {
    int64_t start = 0;    // seconds since 1970 UTC
    std::string origin;   // "command line", "settings" or "default", for the log line
    std::string problem;  // non-empty when a value was refused and a fallback used
};

// The back-off or date of one "BEGIN=" command-line argument (any letter case), with
// or without the apostrophe after "=": "-N" is N seconds before `now`, anything else
// must be a date in one of the three formats. Empty, with `problem` naming the
// argument, when it is neither; `problem` is left alone for any other argument.
// `is_begin` tells whether the argument was a BEGIN argument at all.
std::optional<int64_t> parse_begin_argument(std::string_view arg, int64_t now, bool& is_begin,
                                            std::string& problem);

// The first BEGIN argument of `args` that is neither a date nor "-N", as a one-line
// reason naming it; "" when every BEGIN argument is usable (or there is none).
std::string begin_arguments_problem(const std::vector<std::string>& args);

// The detection start time for `now` (whole seconds). `args` are the program's
// arguments, examined in order; `settings_begin` is the SYSTEM BEGIN value as read
// (default "1800"). A refused value is named in `problem` and the next source is used:
// command line, then settings, then 1800 s back.
BeginTime detection_start_time(const std::vector<std::string>& args,
                               std::string_view settings_begin, int64_t now);

}  // namespace zelvik::detect
