// Every section and key that some part of Zelvik reads from zelvik.ini, in one table,
// so that a configuration check can name a key nobody reads ("Treshold", "THREAD")
// and suggest the one that was meant. A key added anywhere must be added here too.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::config {

struct KnownKey {
    const char* section;  // "THREAD#" stands for every channel section THREAD0, THREAD1, ...
    const char* key;
};

// The whole vocabulary, in the order the README lists it.
inline constexpr KnownKey kKnownKeys[] = {
    {"LOG", "DIR"},
    {"LOG", "LEVEL"},
    {"DATABASE", "ODBC"},
    {"DATABASE", "USER"},
    {"DATABASE", "PASSWORD"},
    {"DATABASE", "USE_TEND"},
    {"DATA", "DIR"},
    {"SYSTEM", "SLEEP"},
    {"SYSTEM", "STORAGE_TIME"},
    {"SYSTEM", "THREADS"},
    {"SYSTEM", "BEGIN"},
    {"MAIL", "SERVER"},
    {"MAIL", "RECIPIENT"},
    {"MAIL", "SENDER"},
    {"MAIL", "NETWORK"},
    {"ALARM", "WAVFILE"},
    {"ALARM", "SILENCE"},
    {"ALARM", "MAXDURATION"},
    {"ALARM", "NODATA"},
    {"ALARM", "COINCIDENCE"},
    {"ALARM", "WINDOW"},
    {"THREAD#", "STATION"},
    {"THREAD#", "CHANNEL"},
    {"THREAD#", "LCODE"},
    {"THREAD#", "STA"},
    {"THREAD#", "LTA"},
    {"THREAD#", "Threshold"},
    {"THREAD#", "FR1"},
    {"THREAD#", "FR2"},
    {"THREAD#", "ORDER"},
    {"THREAD#", "SOUND"},
    {"LISTBOXHEADER", "HDRSIZE"},
};

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
