// Look-ups over the key table. Distances are counted on upper-cased names, since the
// file matches names without regard to case.
#include "config/known_keys.h"

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "config/settings_schema.h"

namespace zelvik::config {

namespace {

constexpr size_t kMaxDistance = 3;

size_t edit_distance(std::string_view a, std::string_view b) {
    const std::string x = common::to_upper(a), y = common::to_upper(b);
    std::vector<size_t> row(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] != y[j - 1])});
            diagonal = up;
        }
    }
    return row[y.size()];
}

// The schema's name for `section`: "THREAD#" for any channel section.
std::string table_section(std::string_view section) {
    return channel_section_number(section) >= 0 ? std::string(kChannelSectionPattern)
                                                : common::to_upper(common::trim(section));
}

}  // namespace

int channel_section_number(std::string_view section) {
    const std::string_view s = common::trim(section);
    if (s.size() <= 6 || !common::istarts_with(s, "THREAD") || s.size() > 6 + 6) return -1;
    int n = 0;
    for (char c : s.substr(6)) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

bool is_known_section(std::string_view section) {
    const std::string name = table_section(section);
    return std::any_of(std::begin(kSettingsSchema), std::end(kSettingsSchema),
                       [&](const SettingSpec& k) { return name == k.section; });
}

bool is_known_key(std::string_view section, std::string_view key) {
    const std::string name = table_section(section);
    return std::any_of(std::begin(kSettingsSchema), std::end(kSettingsSchema),
                       [&](const SettingSpec& k) {
                           return name == k.section && common::iequals(common::trim(key), k.key);
                       });
}

std::string nearest_key(std::string_view section, std::string_view key) {
    const std::string name = table_section(section);
    std::string best;
    size_t best_distance = kMaxDistance + 1;
    for (const SettingSpec& k : kSettingsSchema) {
        if (name != k.section) continue;
        const size_t d = edit_distance(common::trim(key), k.key);
        if (d < best_distance) {
            best = k.key;
            best_distance = d;
        }
    }
    return best;
}

std::string nearest_section(std::string_view section) {
    std::string best;
    size_t best_distance = kMaxDistance + 1;
    for (const SettingSpec& k : kSettingsSchema) {
        const std::string candidate = std::string_view(k.section) == kChannelSectionPattern
                                          ? std::string("THREAD0")
                                          : k.section;
        const size_t d = edit_distance(common::trim(section), candidate);
        if (d < best_distance) {
            best = candidate;
            best_distance = d;
        }
    }
    return best;
}

}  // namespace zelvik::config
