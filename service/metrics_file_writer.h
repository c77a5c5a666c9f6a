// The metrics file a monitoring system reads (the node exporter's textfile collector):
// replaced whole, by a rename, so a reader sees the last complete file or the one
// before, never half of one. The text is made and written on this class's own thread,
// so the thread that offers it (the supervisor) never waits on a formatter or a disk.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <string>
#include <thread>

#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace zelvik::service {

// Writes `text` to `path` by a temporary file beside it and a rename; the file gets mode
// 0644 when new, so that an exporter running as another user can read it. Returns 0, or
// the errno of the step that failed (the old file is then left as it was).
int replace_metrics_file(const std::string& path, const std::string& text);

class MetricsFileWriter {
public:
    using Formatter = std::function<std::string()>;

    // `path`: the file to keep replaced, e.g. "<METRICS>/zelvik.prom".
    explicit MetricsFileWriter(std::string path);
    ~MetricsFileWriter();  // stop()
    MetricsFileWriter(const MetricsFileWriter&) = delete;
    MetricsFileWriter& operator=(const MetricsFileWriter&) = delete;

    // Starts the writer thread; false when already started.
    [[nodiscard]] bool start();

    // Any thread: hands over the next content. `make` runs on the writer thread; one
    // offered before the writer took the previous one replaces it (only the newest
    // state is worth writing). Returns at once.
    void offer(Formatter make);

    // Writes what is still offered, then ends and joins the thread. Idempotent.
    void stop();

    const std::string& path() const { return path_; }
    long files_written() const { return written_.load(); }  // any thread

private:
    void body() noexcept;
    void write(const std::string& text);  // writer thread; logs a failure once

    const std::string path_;
    // Guards the offered formatter and the stop flag.
    common::Mutex mutex_;
    Formatter pending_ GUARDED_BY(mutex_);
    bool stop_ GUARDED_BY(mutex_) = false;
    std::condition_variable wake_;
    std::atomic<long> written_{0};
    int last_error_ = 0;  // writer thread: the failure already logged
    std::thread thread_;
};

}  // namespace zelvik::service
