// The writer thread waits for an offer, makes the text outside the lock and replaces
// the file. A failure (directory gone, disk full) is logged when it begins and when
// it ends, not at every write.
#include "service/metrics_file_writer.h"

#include <cstring>
#include <exception>
#include <utility>

#include "common/log.h"
#include "config/atomic_file.h"

namespace zelvik::service {

int replace_metrics_file(const std::string& path, const std::string& text) {
    config::ReplaceRules rules;
    rules.new_file_mode = 0644;
    const config::ReplaceOutcome outcome = config::replace_file(path, text, rules);
    return outcome.ok() ? 0 : (outcome.error != 0 ? outcome.error : EIO);
}

MetricsFileWriter::MetricsFileWriter(std::string path) : path_(std::move(path)) {}

MetricsFileWriter::~MetricsFileWriter() {
    stop();
}

bool MetricsFileWriter::start() {
    if (thread_.joinable()) return false;
    thread_ = std::thread([this] { body(); });
    return true;
}

void MetricsFileWriter::offer(Formatter make) {
    {
        common::MutexLock lock(mutex_);
        pending_ = std::move(make);
    }
    wake_.notify_one();
}

void MetricsFileWriter::stop() {
    {
        common::MutexLock lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void MetricsFileWriter::body() noexcept {
    for (;;) {
        Formatter make;
        bool last = false;
        {
            common::MutexLock lock(mutex_);
            while (!pending_ && !stop_) lock.wait(wake_);
            make = std::move(pending_);
            pending_ = nullptr;
            last = stop_;
        }
        if (make) {
            try {
                write(make());
            } catch (const std::exception& e) {
                common::log_printf("Metrics file %s not written: %s", path_.c_str(), e.what());
            } catch (...) {
                common::log_printf("Metrics file %s not written: unknown error", path_.c_str());
            }
        }
        if (last) return;
    }
}

void MetricsFileWriter::write(const std::string& text) {
    const int error = replace_metrics_file(path_, text);
    if (error == 0) {
        if (last_error_ != 0) common::log_printf("Metrics file %s written again", path_.c_str());
        last_error_ = 0;
        written_.fetch_add(1);
        return;
    }
    if (error != last_error_)
        common::log_printf("Metrics file %s could not be written: %s", path_.c_str(),
                           std::strerror(error));
    last_error_ = error;
}

}  // namespace zelvik::service
