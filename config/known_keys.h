// Look-ups over the settings schema (config/settings_schema.h), so that a configuration
// check can name a key nobody reads ("Treshold", "THREAD") and suggest the one that was
// meant. A key added anywhere must be added to the schema.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::config {

// The channel number of a section named "THREAD<digits>" (any letter case), else -1.
int channel_section_number(std::string_view section);

// True when some table entry has this section (channel sections by their pattern).
bool is_known_section(std::string_view section);

// True when `key` is read in `section` (names in any letter case).
bool is_known_key(std::string_view section, std::string_view key);

// The known key of `section` closest to `key` by edit distance (letter case ignored),
// or "" when the section has none within a distance of 3.
std::string nearest_key(std::string_view section, std::string_view key);

// The known section name closest to `section` ("THREAD0" style for channel sections),
// or "" when none is within a distance of 3.
std::string nearest_section(std::string_view section);

}  // namespace zelvik::config
