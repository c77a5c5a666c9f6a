// Small text helpers shared by every library: case-insensitive comparison, the
// leading-number conversions of the settings file, and capacity-bounded copies.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::common {

// ASCII case-insensitive equality and prefix test.
bool iequals(std::string_view a, std::string_view b);
bool istarts_with(std::string_view text, std::string_view prefix);

std::string to_upper(std::string_view text);

// The decimal integer at the start of `text` (leading blanks, sign, digits), 0 when
// there is none; saturates at the int range instead of overflowing.
int leading_int(std::string_view text);
long long leading_long(std::string_view text);

// The longest leading part of `text` that forms a real number (blanks, sign, digits,
// decimal point, exponent), 0.0 when there is none.
double leading_double(std::string_view text);

// The first `capacity - 1` characters of `text` (capacity as a C buffer size with
// room for its NUL); capacity 0 gives an empty string.
std::string truncate_to_capacity(std::string_view text, size_t capacity);

// Every '\' turned into '/'.
std::string forward_slashes(std::string_view path);

// Blanks (space, tab, CR, LF) removed from both ends.
std::string_view trim(std::string_view text);

}  // namespace zelvik::common
