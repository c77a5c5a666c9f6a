// The single process-wide settings object of Zelvik: the connection part plus the
// SYSTEM, MAIL and ALARM values, read once at start-up and only read afterwards.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/connection_config.h"
#include "config/settings_schema.h"

namespace zelvik::config {

// The name of channel section n of the settings file: "THREAD%d".
inline std::string channel_section(int n) {
    return "THREAD" + std::to_string(n);
}

class ProgramSettings : public ConnectionConfig {
public:
    using ConnectionConfig::ConnectionConfig;

    // SYSTEM SLEEP (default "40"), STORAGE_TIME ("30"), THREADS ("0"): leading-number
    // conversion, so "40ms" gives 40 and an empty value 0; METRICS (empty) as text.
    void load_system();
    // MAIL SERVER, RECIPIENT, SENDER, NETWORK (default empty, 511 characters), SECURITY
    // ("none"), USER, PASSWORD, CAFILE, WEBHOOK (empty) and OUTBOX_HOURS ("24").
    void load_mail();
    // ALARM WAVFILE (kDefaultWavFile), SILENCE ("30"), MAXDURATION ("120"), NODATA
    // ("600"), COINCIDENCE ("1") and WINDOW ("10", seconds with fraction).
    void load_alarm();

    int sleep_time() const { return sleep_; }           // worker pause, as SYSTEM SLEEP
    int storage_time() const { return storage_time_; }  // days; <= 0 keeps events forever
    int thread_count() const { return thread_count_; }  // number of THREADn sections
    // [SYSTEM] METRICS: where zelvik.prom is kept; empty: no metrics file.
    std::string metrics_directory() const { return metrics_directory_; }
    std::string mail_server() const { return mail_server_; }
    std::string mail_recipient() const { return mail_recipient_; }
    std::string mail_sender() const { return mail_sender_; }
    std::string mail_network() const { return mail_network_; }
    std::string mail_security() const { return mail_security_; }  // none, starttls or tls
    std::string mail_user() const { return mail_user_; }
    std::string mail_password() const { return mail_password_; }  // never logged or shown
    std::string mail_ca_file() const { return mail_ca_file_; }    // empty: the system's CAs
    std::string mail_webhook() const { return mail_webhook_; }    // URL; empty: none
    int mail_outbox_hours() const { return mail_outbox_hours_; }  // age a report is kept to
    std::string alarm_wav_file() const { return wav_file_; }      // "*..." means no sound
    int alarm_silence() const { return silence_; }                // seconds
    int alarm_max_duration() const { return max_duration_; }      // seconds
    int alarm_no_data() const { return no_data_; }                // seconds; 0 = no watchdog
    int alarm_coincidence() const { return coincidence_; }        // stations; 1 = each alone
    double alarm_window() const { return window_; }               // seconds

protected:
    // Adds SLEEP, STORAGE_TIME, THREADS, SERVER, RECIPIENT, SENDER, NETWORK, WAVFILE,
    // SILENCE, MAXDURATION, NODATA, COINCIDENCE and WINDOW to the connection names.
    bool lookup_param(std::string_view name, std::string& out) const override;

private:
    std::string mail_server_;
    std::string mail_recipient_;
    std::string mail_sender_;
    std::string mail_network_;
    std::string mail_security_;
    std::string mail_user_;
    std::string mail_password_;
    std::string mail_ca_file_;
    std::string mail_webhook_;
    int mail_outbox_hours_ = 0;
    int sleep_ = 0;
    int storage_time_ = 0;
    int thread_count_ = 0;
    std::string metrics_directory_;
    std::string wav_file_;
    int silence_ = 0;
    int max_duration_ = 0;
    int no_data_ = 0;
    int coincidence_ = 0;
    double window_ = 0.0;
};

}  // namespace zelvik::config
