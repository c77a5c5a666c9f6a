// Reports that have not reached their destination yet: one file per report and path in
// a directory beside the log, written atomically before the first attempt, so a report
// survives a failed server, a restart and a SIGKILL. A file is removed only once the
// far end took the report (250 to DATA, an HTTP 2xx). Only the index (ids, times) is
// held in memory; the text is read back for each attempt. One thread uses an outbox.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace zelvik::report {

enum class OutboxPath { kMail, kWebhook };
const char* to_string(OutboxPath path);

class Outbox {
public:
    static constexpr size_t kDefaultCapacity = 10000;

    struct Item {
        std::string id;  // shared by the paths of one report; sorts by creation time
        OutboxPath path = OutboxPath::kMail;
        double created = 0.0;  // seconds since 1970 UTC
        std::string subject;
        int detections = 0;      // arrival lines in the report; 0 for a notice
        int attempts = 0;        // in this run
        double next_try = 0.0;   // seconds since 1970 UTC
        std::string last_error;  // of the last attempt, empty before
    };
    struct Backoff {
        double first_s = 10.0;  // wait after the first failure, doubled after each
        double max_s = 600.0;
    };

    // `dir` empty: reports are kept in memory for this run only. `max_age_s` <= 0: kept
    // until sent. The directory is made on first use.
    Outbox(std::string dir, size_t capacity, double max_age_s, Backoff backoff);

    // Takes in the files an earlier run left, due at once. Logs what it found and what
    // it could not read. Returns the number taken in.
    size_t load(double now);

    // A new report for `path`, stored before it is offered. Drops the oldest (logged) when
    // the outbox is full. False (logged) when the file could not be written: the report
    // is then kept in memory.
    bool add(const std::string& id, OutboxPath path, const std::string& subject, int detections,
             const std::string& payload, double now);

    // Items whose next attempt is due at `now`, oldest first.
    std::vector<Item> due(double now) const;
    // The text of an item; false when its file is gone or unreadable (it is dropped).
    bool payload(const Item& item, std::string& out);

    void sent(const Item& item);  // removes it and its file
    // Counts a failed attempt and sets the next one by the back-off.
    void failed(const Item& item, const std::string& error, double now);
    // Drops items older than the maximum age (logged). Returns how many.
    size_t expire(double now);

    size_t size() const { return items_.size(); }
    // Earliest next attempt, or a negative value when empty.
    double next_due() const;
    const std::string& directory() const { return dir_; }

    // A fresh report id: creation time in milliseconds, process and a counter.
    static std::string new_id(double now);

private:
    std::string file_of(const Item& item) const;
    void drop(const std::string& key, const char* why);

    const std::string dir_;
    const size_t capacity_;
    const double max_age_s_;
    const Backoff backoff_;
    bool dir_made_ = false;
    std::map<std::string, Item> items_;          // key: id + "." + path; oldest first
    std::map<std::string, std::string> memory_;  // key -> payload, for items not on disk
};

}  // namespace zelvik::report
