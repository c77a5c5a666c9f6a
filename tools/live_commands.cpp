// SIGINT and SIGTERM are blocked in every thread and taken by one waiting thread, which
// only raises the stop flag: the loops notice it within a quarter of a second, commit
// what they hold and return.
#include "tools/live_commands.h"

#include <signal.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "acquire/acquisition_loop.h"
#include "acquire/stream_selector.h"
#include "tools/acquisition_health.h"

namespace zelvik::tools {

namespace {

// Blocks SIGINT and SIGTERM for the process and turns them into `stop`.
class StopOnSignal {
public:
    explicit StopOnSignal(std::atomic<bool>& stop) : stop_(stop) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGUSR1);  // our own wake-up at the end
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
        thread_ = std::thread([this] {
            int sig = 0;
            while (sigwait(&set_, &sig) == 0) {
                if (sig != SIGUSR1) stop_ = true;
                if (stop_) return;
            }
        });
    }
    ~StopOnSignal() {
        stop_ = true;
        pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    std::atomic<bool>& stop_;
    sigset_t set_{}, old_{};
    std::thread thread_;
};

acquire::Logger stderr_logger(std::ostream& err) {
    auto lock = std::make_shared<std::mutex>();
    return [&err, lock](const std::string& line) {
        std::lock_guard<std::mutex> hold(*lock);
        err << "zelvik-store: " << line << std::endl;
    };
}

// Takes "--summary SECONDS" out of `args`; false on a missing or bad value.
bool take_summary_option(std::vector<std::string>& args, double& seconds, std::ostream& err) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--summary") continue;
        char* end = nullptr;
        const double v = i + 1 < args.size() ? std::strtod(args[i + 1].c_str(), &end) : -1;
        if (i + 1 >= args.size() || end == args[i + 1].c_str() || *end != '\0' || !(v > 0)) {
            err << "zelvik-store: --summary needs a number of seconds above 0\n";
            return false;
        }
        seconds = v;
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        return true;
    }
    return true;
}

// Takes "--state FILE" (or --state=FILE) out of `args`; false on a missing value.
bool take_state_option(std::vector<std::string>& args, std::string& state, std::ostream& err) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--state") {
            if (i + 1 >= args.size()) {
                err << "zelvik-store: --state needs a file name\n";
                return false;
            }
            state = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i),
                       args.begin() + static_cast<long>(i) + 2);
            return true;
        }
        if (args[i].rfind("--state=", 0) == 0) {
            state = args[i].substr(8);
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return true;
}

bool data_directory_usable(const acquire::StoreTarget& target, std::ostream& err) {
    std::error_code ec;
    if (std::filesystem::is_directory(target.data_dir, ec)) return true;
    err << "zelvik-store: data directory \"" << target.data_dir
        << "\" does not exist (check DATA= or [DATA] DIR; init creates it)\n";
    return false;
}

std::string safe_name(const std::string& text) {
    std::string out;
    for (const char c : text) out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return out;
}

}  // namespace

std::string default_state_file(const std::string& data_dir, const std::string& source_name) {
    return data_dir + "/.zelvik-store/" + safe_name(source_name) + ".state";
}

int run_seedlink_command(const acquire::StoreTarget& target, const std::vector<std::string>& given,
                         std::ostream& err, const std::string& metrics_directory) {
    std::vector<std::string> args = given;
    acquire::SeedLinkOptions options;
    options.target = target;
    if (!take_state_option(args, options.state_file, err) ||
        !take_summary_option(args, options.summary_seconds, err))
        return 2;
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--v3") {
            options.client.force_v3 = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (args.size() < 2) {
        err << "zelvik-store: seedlink needs HOST[:PORT] and at least one stream "
               "(NET_STA or NET_STA:LOC.CHA)\n";
        return 2;
    }
    std::string error;
    if (!acquire::parse_server_address(args[0], options.client.server, error)) {
        err << "zelvik-store: seedlink: " << error << "\n";
        return 2;
    }
    for (size_t i = 1; i < args.size(); ++i) {
        acquire::StreamSelector selector;
        if (!acquire::parse_stream_selector(args[i], selector, error)) {
            err << "zelvik-store: seedlink: " << error << "\n";
            return 2;
        }
        options.client.streams.push_back(selector);
    }
    if (!data_directory_usable(target, err)) return 1;
    if (options.state_file.empty())
        options.state_file =
            default_state_file(target.data_dir, "seedlink-" + options.client.server.host + "-" +
                                                    std::to_string(options.client.server.port));
    std::atomic<bool> stop{false};
    StopOnSignal signals(stop);
    const acquire::Logger log = stderr_logger(err);
    log("following " + std::to_string(options.client.streams.size()) + " stream selection(s) of " +
        args[0] + " into \"" + target.dsn + "\", state in " + options.state_file);
    // Tells systemd (when it started us) how the loop goes; the state file follows the
    // commits, so a restart by the watchdog asks again for exactly what was not stored.
    AcquisitionHealth health(args[0], metrics_directory);
    options.heartbeat = health.heartbeat();
    const int status = acquire::run_seedlink(options, stop, log);
    health.stopping();
    log("stopped");
    return status;
}

int run_follow_command(const acquire::StoreTarget& target, const std::vector<std::string>& given,
                       std::ostream& err, const std::string& metrics_directory) {
    std::vector<std::string> args = given;
    acquire::FollowOptions options;
    options.target = target;
    if (!take_state_option(args, options.state_file, err) ||
        !take_summary_option(args, options.summary_seconds, err))
        return 2;
    if (args.size() != 1) {
        err << "zelvik-store: follow needs one folder\n";
        return 2;
    }
    options.folder = args[0];
    if (!data_directory_usable(target, err)) return 1;
    if (options.state_file.empty()) {
        std::error_code ec;
        const std::string absolute =
            std::filesystem::absolute(args[0], ec).lexically_normal().string();
        options.state_file = default_state_file(target.data_dir, "follow" + absolute);
    }
    std::atomic<bool> stop{false};
    StopOnSignal signals(stop);
    const acquire::Logger log = stderr_logger(err);
    log("following " + options.folder + " into \"" + target.dsn + "\", state in " +
        options.state_file);
    AcquisitionHealth health(options.folder, metrics_directory);
    options.heartbeat = health.heartbeat();
    const int status = acquire::run_follow(options, stop, log);
    health.stopping();
    log("stopped");
    return status;
}

}  // namespace zelvik::tools
