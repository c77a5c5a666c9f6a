// SYSTEM, MAIL and ALARM sections of zelvik.ini, read by the rules and defaults of the
// settings schema: numbers as text with their capacity, then by the leading-number rule.
#include "config/program_settings.h"

#include <cstdio>
#include <string>

#include "common/text.h"
#include "config/settings_schema.h"

namespace zelvik::config {

namespace {

int number(const std::string& path, Setting id) {
    return zelvik_int(path, spec_of(id).section, spec_of(id));
}

std::string text(const std::string& path, Setting id) {
    return zelvik_text(path, spec_of(id).section, spec_of(id));
}

}  // namespace

void ProgramSettings::load_system() {
    sleep_ = number(settings_path(), Setting::kSystemSleep);
    storage_time_ = number(settings_path(), Setting::kSystemStorageTime);
    thread_count_ = number(settings_path(), Setting::kSystemThreads);
    metrics_directory_ = text(settings_path(), Setting::kSystemMetrics);
}

void ProgramSettings::load_mail() {
    mail_server_ = text(settings_path(), Setting::kMailServer);
    mail_recipient_ = text(settings_path(), Setting::kMailRecipient);
    mail_sender_ = text(settings_path(), Setting::kMailSender);
    mail_network_ = text(settings_path(), Setting::kMailNetwork);
    mail_security_ = text(settings_path(), Setting::kMailSecurity);
    mail_user_ = text(settings_path(), Setting::kMailUser);
    mail_password_ = text(settings_path(), Setting::kMailPassword);
    mail_ca_file_ = text(settings_path(), Setting::kMailCaFile);
    mail_webhook_ = text(settings_path(), Setting::kMailWebhook);
    mail_outbox_hours_ = number(settings_path(), Setting::kMailOutboxHours);
}

void ProgramSettings::load_alarm() {
    const SettingSpec& window = spec_of(Setting::kAlarmWindow);
    wav_file_ = text(settings_path(), Setting::kAlarmWavFile);
    silence_ = number(settings_path(), Setting::kAlarmSilence);
    max_duration_ = number(settings_path(), Setting::kAlarmMaxDuration);
    no_data_ = number(settings_path(), Setting::kAlarmNoData);
    coincidence_ = number(settings_path(), Setting::kAlarmCoincidence);
    window_ = zelvik_real(settings_path(), window.section, window);
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
        {"SERVER", &mail_server_}, {"RECIPIENT", &mail_recipient_},
        {"SENDER", &mail_sender_}, {"NETWORK", &mail_network_},
        {"WAVFILE", &wav_file_},   {"METRICS", &metrics_directory_},
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
