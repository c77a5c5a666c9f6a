// SYSTEM, MAIL and ALARM sections of zelvik.ini. Numbers are read as text with their
// buffer capacity and converted by the leading-number rule, as every reader does.
#include "config/program_settings.h"

#include <cstdio>
#include <string>

#include "common/text.h"
#include "config/ini_file.h"

namespace zelvik::config {

namespace {

int read_number(const std::string& path, std::string_view section, std::string_view key,
                std::string_view default_text, size_t capacity) {
    return common::leading_int(ini::read_string(path, section, key, default_text, capacity));
}

}  // namespace

void ProgramSettings::load_system() {
    sleep_ = read_number(settings_path(), "SYSTEM", "SLEEP", "40", 16);
    storage_time_ = read_number(settings_path(), "SYSTEM", "STORAGE_TIME", "30", 16);
    thread_count_ = read_number(settings_path(), "SYSTEM", "THREADS", "0", 16);
}

void ProgramSettings::load_mail() {
    constexpr size_t kCapacity = 512;
    mail_server_ = ini::read_string(settings_path(), "MAIL", "SERVER", "", kCapacity);
    mail_recipient_ = ini::read_string(settings_path(), "MAIL", "RECIPIENT", "", kCapacity);
    mail_sender_ = ini::read_string(settings_path(), "MAIL", "SENDER", "", kCapacity);
    mail_network_ = ini::read_string(settings_path(), "MAIL", "NETWORK", "", kCapacity);
}

void ProgramSettings::load_alarm() {
    constexpr size_t kCapacity = 1024;
    wav_file_ = ini::read_string(settings_path(), "ALARM", "WAVFILE", kDefaultWavFile, kCapacity);
    silence_ = read_number(settings_path(), "ALARM", "SILENCE", "30", kCapacity);
    max_duration_ = read_number(settings_path(), "ALARM", "MAXDURATION", "120", kCapacity);
    no_data_ = read_number(settings_path(), "ALARM", "NODATA", "600", kCapacity);
    coincidence_ = read_number(settings_path(), "ALARM", "COINCIDENCE", "1", kCapacity);
    window_ = common::leading_double(
        ini::read_string(settings_path(), "ALARM", "WINDOW", "10", kCapacity));
}

bool ProgramSettings::lookup_param(std::string_view name, std::string& out) const {
    const struct {
        const char* name;
        const int* value;
    } numbers[] = {
        {"SLEEP", &sleep_},
        {"STORAGE_TIME", &storage_time_},
        {"THREADS", &thread_count_},
        {"SILENCE", &silence_},
        {"MAXDURATION", &max_duration_},
        {"NODATA", &no_data_},
        {"COINCIDENCE", &coincidence_},
    };
    for (const auto& n : numbers) {
        if (common::iequals(name, n.name)) {
            out = std::to_string(*n.value);
            return true;
        }
    }
    const struct {
        const char* name;
        const std::string* value;
    } texts[] = {
        {"SERVER", &mail_server_},   {"RECIPIENT", &mail_recipient_}, {"SENDER", &mail_sender_},
        {"NETWORK", &mail_network_}, {"WAVFILE", &wav_file_},
    };
    for (const auto& t : texts) {
        if (common::iequals(name, t.name)) {
            out = *t.value;
            return true;
        }
    }
    if (common::iequals(name, "WINDOW")) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", window_);
        out = text;
        return true;
    }
    return ConnectionConfig::lookup_param(name, out);
}

}  // namespace zelvik::config
