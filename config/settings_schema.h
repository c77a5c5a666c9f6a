// Every section and key of zelvik.ini in one table: the name as stored, how Zelvik reads
// it and its default, and where the settings editor reads or writes it, the editor's own
// name, type, default and range. Zelvik, the editor and the configuration check all take
// names and defaults from here; the two programs' differences are kept on purpose (the
// editor starts a missing channel at zero and offers ORDER 2..6, Zelvik runs 1..6).
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

namespace zelvik::config {

// Linux stand-in for the Windows default ".\snd0.wav".
inline constexpr const char* kDefaultWavFile = "./snd0.wav";

// How a value is read. kText: the text cut to a capacity. kInt / kReal: the leading
// number of that text (an empty value gives 0). kFlag: the leading integer, an empty
// value gives the default, non-zero is on. The editor writes kInt "%d", kReal "%f",
// kFlag "1" or "0" and kText as it is.
enum class ValueType { kText, kInt, kReal, kFlag };

struct IntRange {
    int min = 0;
    int max = 0;  // min == max == 0: no range
};

// One row per key; the enumerator is the row's position in kSettingsSchema.
// clang-format off
enum class Setting {
    kLogDir, kLogLevel,
    kDatabaseOdbc, kDatabaseUser, kDatabasePassword, kDatabaseUseTend,
    kDataDir,
    kSystemSleep, kSystemStorageTime, kSystemThreads, kSystemBegin, kSystemMetrics,
    kMailServer, kMailRecipient, kMailSender, kMailNetwork, kMailSecurity, kMailUser,
    kMailPassword, kMailCaFile, kMailWebhook, kMailOutboxHours,
    kAlarmWavFile, kAlarmSilence, kAlarmMaxDuration, kAlarmNoData, kAlarmCoincidence,
    kAlarmWindow,
    kStation, kChannel, kLocation, kSta, kLta, kThreshold, kFr1, kFr2, kOrder, kSound,
    kListHeaderSizes,
};
// clang-format on

// "THREAD#" stands for every channel section THREAD0, THREAD1, ...
inline constexpr const char* kChannelSectionPattern = "THREAD#";

struct SettingSpec {
    Setting id;
    const char* section;
    const char* key;  // as Zelvik reads it and the README lists it (names match in any case)
    ValueType type;   // as Zelvik reads it
    // Zelvik's text for a missing key and the capacity it reads with; nullptr where the
    // reader keeps its own fallbacks (the connection layer, SYSTEM BEGIN, column widths).
    const char* zelvik_default;
    size_t capacity;
    IntRange zelvik_range;  // what a channel may hold to run
    // The editor's side; editor_key nullptr: the editor has no rules of its own for the
    // key (its alerts page reads and writes the MAIL keys and ALARM NODATA, COINCIDENCE
    // and WINDOW with Zelvik's names, defaults and ranges; the rest it leaves alone).
    const char* editor_key;  // as the editor writes it
    ValueType editor_type;
    const char* editor_default;  // for a missing key, read by editor_type's rule
    IntRange editor_range;       // what the editor's fields offer
};

// Rows in the order the README lists the keys; each row is Zelvik's side, then the editor's.
// clang-format off
inline constexpr SettingSpec kSettingsSchema[] = {
    {Setting::kLogDir, "LOG", "DIR", ValueType::kText, nullptr, 0, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kLogLevel, "LOG", "LEVEL", ValueType::kText, nullptr, 0, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kDatabaseOdbc, "DATABASE", "ODBC", ValueType::kText, nullptr, 0, {},
     "ODBC", ValueType::kText, "", {}},
    {Setting::kDatabaseUser, "DATABASE", "USER", ValueType::kText, nullptr, 0, {},
     "USER", ValueType::kText, "", {}},
    {Setting::kDatabasePassword, "DATABASE", "PASSWORD", ValueType::kText, nullptr, 0, {},
     "PASSWORD", ValueType::kText, "", {}},
    {Setting::kDatabaseUseTend, "DATABASE", "USE_TEND", ValueType::kFlag, nullptr, 0, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kDataDir, "DATA", "DIR", ValueType::kText, nullptr, 0, {},
     "DIR", ValueType::kText, "", {}},
    {Setting::kSystemSleep, "SYSTEM", "SLEEP", ValueType::kInt, "40", 16, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kSystemStorageTime, "SYSTEM", "STORAGE_TIME", ValueType::kInt, "30", 16, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kSystemThreads, "SYSTEM", "THREADS", ValueType::kInt, "0", 16, {},
     "THREADS", ValueType::kInt, "1", {}},
    {Setting::kSystemBegin, "SYSTEM", "BEGIN", ValueType::kReal, nullptr, 0, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kSystemMetrics, "SYSTEM", "METRICS", ValueType::kText, "", 1024, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailServer, "MAIL", "SERVER", ValueType::kText, "", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailRecipient, "MAIL", "RECIPIENT", ValueType::kText, "", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailSender, "MAIL", "SENDER", ValueType::kText, "", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailNetwork, "MAIL", "NETWORK", ValueType::kText, "", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailSecurity, "MAIL", "SECURITY", ValueType::kText, "none", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailUser, "MAIL", "USER", ValueType::kText, "", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailPassword, "MAIL", "PASSWORD", ValueType::kText, "", 512, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailCaFile, "MAIL", "CAFILE", ValueType::kText, "", 1024, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailWebhook, "MAIL", "WEBHOOK", ValueType::kText, "", 1024, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kMailOutboxHours, "MAIL", "OUTBOX_HOURS", ValueType::kInt, "24", 16, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kAlarmWavFile, "ALARM", "WAVFILE", ValueType::kText, kDefaultWavFile, 1024, {},
     "WAVFILE", ValueType::kText, "", {}},
    {Setting::kAlarmSilence, "ALARM", "SILENCE", ValueType::kInt, "30", 1024, {},
     "SILENCE", ValueType::kInt, "60", {1, 600}},
    {Setting::kAlarmMaxDuration, "ALARM", "MAXDURATION", ValueType::kInt, "120", 1024, {},
     "MAXDURATION", ValueType::kInt, "30", {1, 100}},
    {Setting::kAlarmNoData, "ALARM", "NODATA", ValueType::kInt, "600", 1024, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kAlarmCoincidence, "ALARM", "COINCIDENCE", ValueType::kInt, "1", 1024, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kAlarmWindow, "ALARM", "WINDOW", ValueType::kReal, "10", 1024, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kStation, "THREAD#", "STATION", ValueType::kText, "QRS", 128, {},
     "STATION", ValueType::kText, "", {}},
    {Setting::kChannel, "THREAD#", "CHANNEL", ValueType::kText, "BHZ", 128, {},
     "CHANNEL", ValueType::kText, "", {}},
    {Setting::kLocation, "THREAD#", "LCODE", ValueType::kText, "??", 8, {},
     nullptr, ValueType::kText, nullptr, {}},
    {Setting::kSta, "THREAD#", "STA", ValueType::kReal, "1", 128, {},
     "STA", ValueType::kInt, "0", {}},
    {Setting::kLta, "THREAD#", "LTA", ValueType::kReal, "10", 128, {},
     "LTA", ValueType::kInt, "0", {}},
    {Setting::kThreshold, "THREAD#", "Threshold", ValueType::kReal, "5", 128, {},
     "THRESHOLD", ValueType::kReal, "", {}},
    {Setting::kFr1, "THREAD#", "FR1", ValueType::kReal, "0.0", 128, {},
     "FR1", ValueType::kReal, "", {}},
    {Setting::kFr2, "THREAD#", "FR2", ValueType::kReal, "1.0", 128, {},
     "FR2", ValueType::kReal, "", {}},
    {Setting::kOrder, "THREAD#", "ORDER", ValueType::kInt, "3", 128, {1, 6},
     "ORDER", ValueType::kInt, "0", {2, 6}},
    {Setting::kSound, "THREAD#", "SOUND", ValueType::kFlag, "1", 0, {},
     "SOUND", ValueType::kFlag, "0", {}},
    {Setting::kListHeaderSizes, "LISTBOXHEADER", "HDRSIZE", ValueType::kText, nullptr, 0, {},
     nullptr, ValueType::kText, nullptr, {}},
};
// clang-format on

// The row of `id`.
constexpr const SettingSpec& spec_of(Setting id) {
    return kSettingsSchema[static_cast<size_t>(id)];
}

constexpr bool rows_match_their_ids() {
    for (size_t i = 0; i < std::size(kSettingsSchema); ++i) {
        if (static_cast<size_t>(kSettingsSchema[i].id) != i) return false;
    }
    return true;
}
static_assert(rows_match_their_ids(), "kSettingsSchema rows must follow the order of Setting");

// Reads row `s` from `section` of the file at `path` as Zelvik does: missing keys give
// zelvik_default, values follow the rule of `s.type`. Only for rows with a default.
std::string zelvik_text(const std::string& path, const std::string& section, const SettingSpec& s);
int zelvik_int(const std::string& path, const std::string& section, const SettingSpec& s);
double zelvik_real(const std::string& path, const std::string& section, const SettingSpec& s);

// Reads row `s` as the editor does: editor_key, editor_default and the editor_type rule,
// text cut to `capacity`. Only for rows the editor reads.
std::string editor_text(const std::string& path, const std::string& section, const SettingSpec& s,
                        size_t capacity);
int editor_int(const std::string& path, const std::string& section, const SettingSpec& s);
double editor_real(const std::string& path, const std::string& section, const SettingSpec& s,
                   size_t capacity);

}  // namespace zelvik::config
