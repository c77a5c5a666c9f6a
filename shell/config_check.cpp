// The configuration check. Every verdict comes from the same code a run uses (the
// channel detector's setup, the response look-up, the BEGIN rules), so the check
// cannot pass a configuration a run would refuse, nor the other way round.
#include "shell/config_check.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "channel/channel_detector.h"
#include "channel/data_extent.h"
#include "channel/stop_signal.h"
#include "channel/store_link.h"
#include "common/channel_id.h"
#include "common/civil_time.h"
#include "common/clock.h"
#include "common/log.h"
#include "common/text.h"
#include "config/ini_file.h"
#include "config/known_keys.h"
#include "config/program_settings.h"
#include "db/wave_store.h"
#include "engine/begin_time.h"
#include "engine/supervisor.h"
#include "report/alarm_sound.h"
#include "report/curl_transfer.h"
#include "report/smtp_client.h"
#include "shell/alert_settings.h"
#include "signal/detection_rule.h"
#include "signal/instrument_response.h"

namespace zelvik::shell {

namespace {

constexpr std::chrono::milliseconds kMailTimeout{5000};

void say(std::FILE* out, const std::string& line) {
    std::fprintf(out, "%s\n", line.c_str());
}

std::string with_label(const std::string& value, const std::string& label) {
    return value + " (" + label + ")";
}

// Hands the resolved values to the store as start-up does; "" or the refusal.
std::string pass_parameters(const config::ProgramSettings& s, db::WaveStore& store) {
    const std::pair<const char*, std::string> params[] = {
        {"ODBC", s.data_source_name()},
        {"USER", s.user_name()},
        {"PASSWORD", s.password()},
        {"DATA", s.data_directory()},
        {"USE_TEND", s.use_tend() ? "1" : "0"},
    };
    for (const auto& [name, value] : params) {
        if (store.set_param(name, value) != 0) return store.last_error();
    }
    return {};
}

struct ConnectionVerdict {
    bool store_answers = false;
    bool data_directory_exists = false;
};

ConnectionVerdict check_connection(const config::ProgramSettings& s, db::WaveStore& store,
                                   std::FILE* out) {
    const auto labels = s.labels();
    say(out, "Connection:");
    say(out, "  ODBC=" + with_label(s.data_source_name(), labels[0]) +
                 ", USER=" + with_label(s.user_name(), labels[1]) +
                 ", PASSWORD=" + with_label("***", labels[2]) + ", TEND column " +
                 (s.use_tend() ? "used" : "not used"));
    bool ok = true;
    const std::string refused = pass_parameters(s, store);
    if (!refused.empty()) {
        say(out, "  store: FAILS: " + refused);
        ok = false;
    } else if (!store.connect()) {
        say(out, "  store: DOES NOT ANSWER: " + store.last_error());
        ok = false;
    } else {
        say(out, "  store: answers");
    }
    std::error_code ec;
    const bool dir_ok = std::filesystem::is_directory(s.data_directory(), ec);
    say(out, "  data directory: " + with_label(s.data_directory(), labels[3]) +
                 (dir_ok ? ": exists" : ": DOES NOT EXIST (no samples can be read)"));
    return {ok, dir_ok};
}

std::string response_line(db::WaveStore& store, const detect::ChannelSettings& c) {
    const db::StoreTimestamp now = db::store_timestamp_utc(common::now_utc());
    for (const bool paz : {true, false}) {
        std::string text;
        const int found = paz ? store.select_sac(c.station, c.channel, c.location, "", now, text)
                              : store.select_fap(c.station, c.channel, c.location, "", now, text);
        if (found < 0) return "response look-up FAILS: " + store.response_last_error();
        if (found == 0) continue;
        // The run's own verdict on the text, in the run's words.
        const std::string problem = detect::response_text_problem(paz, text);
        if (!problem.empty())
            return std::string("response UNUSABLE: ") + problem + "; " +
                   detect::kUnconvertedAmplitudes;
        detect::InstrumentResponse r;
        (void)(paz ? r.parse_paz(text) : r.parse_fap(text));
        char line[160];
        const double at_1hz = r.evaluate(1.0f);
        std::snprintf(line, sizeof line, "response %s, %g counts/m at 1 Hz%s", paz ? "PAZ" : "FAP",
                      at_1hz, at_1hz > 0.0 ? "" : " (amplitudes at 1 Hz are not converted)");
        return line;
    }
    return std::string("response NONE; ") + detect::kUnconvertedAmplitudes;
}

std::string data_range_line(db::WaveStore& store, const detect::ChannelSettings& c, double sps) {
    double first = 0.0;
    const int found = store.next_data_start(c.station, c.channel, c.location, 0.0, first);
    if (found < 0) return "data look-up FAILS: " + store.last_error();
    if (found == 0) return "NO DATA in the store";
    const double end = detect::channel_data_end(store, c.station, c.channel, c.location, sps, first,
                                                common::now_utc());
    char latency[64];
    std::snprintf(latency, sizeof latency, ", latency %.0f s", common::now_utc() - end);
    return "data " + common::utc_text(first) + " to " + common::utc_text(end) + " UTC" + latency;
}

// One channel section; true when it can run.
bool check_channel(const config::ProgramSettings& s, detect::StoreLink& link, int n, bool store_ok,
                   std::FILE* out) {
    detect::ChannelDetector detector(link, nullptr, {});
    detector.setup(s.settings_path(), n, common::now_utc());
    const detect::ChannelSettings& c = detector.settings();
    const std::string head = "  THREAD" + std::to_string(n) + " " +
                             common::channel_id(c.station, c.channel, c.location) + ": ";
    if (!store_ok) {
        say(out, head + "not checked, the store does not answer");
        return false;
    }
    db::WaveStore& store = link.store();
    const double sps = store.get_sps(c.station, c.channel, c.location);
    if (!(sps > 0.0)) {
        say(out, head + "NOT IN THE STORE (" +
                     (sps < 0 ? store.last_error()
                              : std::string("no SITECHAN row; a run waits for its first data")) +
                     ")");
        return false;
    }
    const bool runs = detector.state() == detect::ChannelState::kRunning;
    // A warm-up is only worth naming for settings that can run.
    char rate[128];
    if (runs) {
        std::snprintf(rate, sizeof rate, "found, %g sps, warm-up %.0f s, ", sps,
                      detect::DetectionRule::warmup_length_for(sps, c.lta_seconds) / sps);
    } else {
        std::snprintf(rate, sizeof rate, "found, %g sps, ", sps);
    }
    say(out, head + rate + data_range_line(store, c, sps));
    say(out, "    " + response_line(store, c));
    say(out, std::string("    settings ") +
                 (runs ? "usable: " + detector.state_reason() + "; can run"
                       : "UNUSABLE: " + detector.state_reason() + "; CANNOT RUN"));
    return runs;
}

void check_keys(const std::string& path, int thread_count, std::FILE* out) {
    const std::vector<std::string> notes = unread_key_notes(path, thread_count, true);
    say(out, "Keys:");
    if (notes.empty()) say(out, "  every key is one Zelvik reads");
    for (const std::string& note : notes) say(out, "  " + note);
}

void check_begin(const config::ProgramSettings& s, std::FILE* out) {
    const int64_t now = common::now_utc_seconds();
    const std::string begin =
        config::ini::read_string(s.settings_path(), "SYSTEM", "BEGIN", "1800", 32);
    const detect::BeginTime b = detect::detection_start_time(s.arguments(), begin, now);
    say(out, "Detection would start at " + common::utc_text(static_cast<double>(b.start)) +
                 " UTC (" + b.origin + ")" + (b.problem.empty() ? "" : ": " + b.problem));
}

// The plain dialogue's check: the greeting, HELO and a MAIL FROM taken back at once. A
// server that wants STARTTLS first says so in its refusal, and the check repeats it.
std::string check_plain_mail(const report::MailSettings& m) {
    std::string host, error;
    int port = 0;
    if (!report::split_mail_server(m.server, host, port, error)) return "UNUSABLE: " + error;
    report::SmtpClient client(kMailTimeout);
    const bool greeted = client.open(host, port);
    std::string failure = client.last_error();
    const bool accepted = greeted && client.probe_sender(m.sender);
    if (greeted && !accepted) failure = client.last_error();
    (void)client.quit();
    const bool wants_tls =
        failure.find("STARTTLS") != std::string::npos || failure.find("530") != std::string::npos;
    if (wants_tls)
        return "answers but DEMANDS STARTTLS (set SECURITY=starttls, and USER and PASSWORD): " +
               failure;
    if (!greeted) return "DOES NOT ANSWER: " + failure;
    if (!accepted) return "answers its greeting but REFUSES the sender: " + failure;
    return "answers its greeting and accepts the sender";
}

void check_mail(const config::ProgramSettings& s, std::FILE* out) {
    std::string problem;
    const report::MailSettings m = alert_settings(s, problem);
    if (!problem.empty()) say(out, "Mail: UNUSABLE: " + problem);
    if (m.mail_enabled()) {
        std::string how = "SECURITY=" + std::string(report::to_string(m.security));
        if (!m.user.empty()) how += ", USER=" + m.user + ", PASSWORD=***";
        if (!m.ca_file.empty()) how += ", CAFILE=" + m.ca_file;
        std::string verdict;
        if (m.security == report::MailSecurity::kNone) {
            verdict = check_plain_mail(m);
        } else {
            const report::TransferResult r = report::check_mail_session(m, {kMailTimeout, nullptr});
            verdict = r.ok
                          ? "accepts the session (EHLO, " +
                                std::string(m.security == report::MailSecurity::kTls ? "TLS"
                                                                                     : "STARTTLS") +
                                (m.user.empty() ? "" : ", AUTH") + "; no message sent)"
                          : "REFUSES the session: " + r.answer;
        }
        say(out, "Mail: server " + m.server + " " + verdict + " (" + how + "), recipient " +
                     m.recipient);
    } else if (problem.empty()) {
        say(out, "Mail: not configured (MAIL SERVER and RECIPIENT are needed)");
    }
    if (!m.webhook.empty())
        say(out,
            "Webhook: " + m.webhook + " (not contacted here; --test-alert posts a test report)");
    std::error_code ec;
    size_t kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(m.outbox_dir, ec))
        kept += e.is_regular_file() ? 1 : 0;
    if (kept > 0)
        say(out, "Outbox: " + std::to_string(kept) + " unsent reports in " + m.outbox_dir);
}

void check_sound(const config::ProgramSettings& s, std::FILE* out) {
    const std::string wav = s.alarm_wav_file();
    if (wav.empty() || wav.front() == '*') {
        say(out, "Alarm sound: off (WAVFILE \"" + wav + "\")");
        return;
    }
    const std::string problem = report::wav_file_problem(wav);
    say(out, "Alarm sound: " + wav + (problem.empty() ? " is a readable WAV file" : " " + problem));
}

// A METRICS directory the service user cannot write to is named; it does not fail the
// check, as detection runs without the file.
void check_metrics(const config::ProgramSettings& s, std::FILE* out) {
    const std::string dir = s.metrics_directory();
    if (dir.empty()) {
        say(out, "Metrics: none (SYSTEM METRICS is empty)");
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        say(out, "Metrics: " + dir + ": DOES NOT EXIST (no zelvik.prom will be written)");
    else if (::access(dir.c_str(), W_OK) != 0)
        say(out, "Metrics: " + dir + ": NOT WRITABLE by this user (no zelvik.prom)");
    else
        say(out, "Metrics: " + dir + "/zelvik.prom, replaced every 5 s");
}

int check(config::ProgramSettings& s, std::FILE* out) {
    say(out, "Settings file: " + s.settings_path());
    s.resolve_connection();
    s.load_system();
    s.load_log_section();
    s.load_mail();
    s.load_alarm();
    db::WaveStore store;
    const ConnectionVerdict verdict = check_connection(s, store, out);
    const bool store_ok = verdict.store_answers;
    const int count = std::clamp(s.thread_count(), 0, detect::Supervisor::kMaxChannels);
    say(out, "Channels (THREADS=" + std::to_string(s.thread_count()) + "):");
    detect::StopSignal stop;
    detect::StoreLink link(store, stop);
    int runnable = 0;
    for (int n = 0; n < count; ++n) runnable += check_channel(s, link, n, store_ok, out) ? 1 : 0;
    if (count == 0) say(out, "  NONE: SYSTEM THREADS is 0 or missing, a run would watch nothing");
    check_keys(s.settings_path(), count, out);
    check_begin(s, out);
    check_mail(s, out);
    check_sound(s, out);
    check_metrics(s, out);
    const bool passed = store_ok && verdict.data_directory_exists && count > 0 && runnable == count;
    std::string verdict_text = passed ? "" : "; NOT READY";
    if (store_ok && !verdict.data_directory_exists)
        verdict_text += ": the data directory does not exist";
    say(out, "Result: " + std::to_string(runnable) + " of " + std::to_string(count) +
                 " channels can run" + verdict_text);
    return passed ? kCheckPassed : kCheckFailed;
}

}  // namespace

// Keys and sections nothing reads, each with the name that was probably meant.
std::vector<std::string> unread_key_notes(const std::string& path, int thread_count, bool beyond) {
    std::vector<std::string> notes;
    std::set<std::string> seen;
    for (const std::string& section : config::ini::read_section_names(path)) {
        if (!seen.insert(common::to_upper(section)).second) continue;
        const int n = config::channel_section_number(section);
        if (n >= thread_count) {
            if (beyond)
                notes.push_back("section [" + section + "] lies beyond THREADS=" +
                                std::to_string(thread_count) + " and is not read");
            continue;
        }
        if (!config::is_known_section(section)) {
            const std::string near = config::nearest_section(section);
            notes.push_back("section [" + section + "] is not read" +
                            (near.empty() ? "" : "; did you mean [" + near + "]?"));
            continue;
        }
        for (const auto& [key, value] : config::ini::read_section(path, section)) {
            if (config::is_known_key(section, key)) continue;
            const std::string near = config::nearest_key(section, key);
            notes.push_back("[" + section + "] " + key + " is not read" +
                            (near.empty() ? "" : "; did you mean " + near + "?"));
        }
    }
    return notes;
}

namespace {
// Nothing a check on the side says belongs in the run's log.
class Discard final : public common::LogHold {
public:
    void hold(std::string_view) override {}
};
}  // namespace

std::string channel_run_problem(const std::string& path, int n, detect::StoreLink& link) {
    Discard discard;
    const common::ScopedLogHold quiet(&discard);
    detect::ChannelDetector detector(link, nullptr, {});
    detector.setup(path, n, common::now_utc());
    const detect::ChannelSettings& c = detector.settings();
    const std::string name =
        "THREAD" + std::to_string(n) + " " + common::channel_id(c.station, c.channel, c.location);
    switch (detector.state()) {
        case detect::ChannelState::kRunning:
            return {};
        case detect::ChannelState::kWaitingForData:
            return name + " is not in the store (no SITECHAN row)";
        default:
            return name + ": " + detector.state_reason();
    }
}

int run_config_check(config::ProgramSettings& settings, std::FILE* out) {
    try {
        return check(settings, out);
    } catch (const std::exception& e) {
        std::fprintf(out, "Check stopped by an error: %s\n", e.what());
    }
    return kCheckFailed;
}

}  // namespace zelvik::shell
