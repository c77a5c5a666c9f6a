// Outbox files: a short header ("ZELVIK OUTBOX 1", id, path, created, subject), an
// empty line, then the text exactly as it is to be sent. Files are never changed once
// written: the attempt count and the next attempt live in memory, so a restart simply
// tries every kept report again at once.
#include "report/outbox.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/civil_time.h"
#include "common/log.h"
#include "config/atomic_file.h"

namespace zelvik::report {
namespace {

constexpr const char* kMagic = "ZELVIK OUTBOX 1\n";
constexpr size_t kMaxFileBytes = 16u << 20;

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string key_of(const std::string& id, OutboxPath path) {
    return id + "." + to_string(path);
}

// Parses the header of an outbox file; `body_at` is where the text begins.
bool parse_header(const std::string& text, Outbox::Item& item, size_t& body_at) {
    if (text.rfind(kMagic, 0) != 0) return false;
    size_t at = std::strlen(kMagic);
    bool have_id = false, have_path = false;
    for (;;) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) break;
        const size_t colon = line.find(": ");
        if (colon == std::string::npos) return false;
        const std::string name = line.substr(0, colon), value = line.substr(colon + 2);
        if (name == "id") {
            item.id = value;
            have_id = !value.empty();
        } else if (name == "path") {
            have_path = value == "mail" || value == "webhook";
            item.path = value == "mail" ? OutboxPath::kMail : OutboxPath::kWebhook;
        } else if (name == "created") {
            item.created = std::atof(value.c_str());
        } else if (name == "detections") {
            item.detections = std::atoi(value.c_str());
        } else if (name == "subject") {
            item.subject = value;
        }
    }
    body_at = at;
    return have_id && have_path;
}

}  // namespace

const char* to_string(OutboxPath path) {
    return path == OutboxPath::kMail ? "mail" : "webhook";
}

Outbox::Outbox(std::string dir, size_t capacity, double max_age_s, Backoff backoff)
    : dir_(std::move(dir)), capacity_(capacity), max_age_s_(max_age_s), backoff_(backoff) {}

std::string Outbox::new_id(double now) {
    static std::atomic<unsigned> counter{0};
    char id[64];
    std::snprintf(id, sizeof id, "%013lld-%d-%04u", static_cast<long long>(std::floor(now * 1e3)),
                  static_cast<int>(::getpid()), counter.fetch_add(1) % 10000u);
    return id;
}

std::string Outbox::file_of(const Item& item) const {
    return dir_ + "/" + key_of(item.id, item.path);
}

size_t Outbox::load(double now) {
    if (dir_.empty()) return 0;
    DIR* d = ::opendir(dir_.c_str());
    if (d == nullptr) return 0;  // nothing kept yet
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    size_t taken = 0;
    for (const std::string& name : names) {
        const std::string file = dir_ + "/" + name;
        if (!ends_with(name, ".mail") && !ends_with(name, ".webhook")) {
            // A temporary copy whose rename a kill prevented: its report never was kept.
            if (name.find(".mail.") != std::string::npos ||
                name.find(".webhook.") != std::string::npos)
                (void)::unlink(file.c_str());
            continue;
        }
        std::string text;
        Item item;
        size_t body_at = 0;
        if (config::read_whole_file(file, text, kMaxFileBytes) != config::FileRead::kOk ||
            !parse_header(text, item, body_at) || key_of(item.id, item.path) != name) {
            common::log_printf("Outbox file %s is no report: left alone", file.c_str());
            continue;
        }
        item.next_try = now;
        items_[name] = std::move(item);
        ++taken;
    }
    dir_made_ = true;
    while (items_.size() > capacity_) drop(items_.begin()->first, "the outbox is full");
    if (taken > 0)
        common::log_printf("Outbox %s: %zu reports from an earlier run wait", dir_.c_str(), taken);
    return taken;
}

bool Outbox::add(const std::string& id, OutboxPath path, const std::string& subject, int detections,
                 const std::string& payload, double now) {
    while (!items_.empty() && items_.size() >= capacity_)
        drop(items_.begin()->first, "the outbox is full");
    Item item{id, path, now, subject, detections, 0, now, {}};
    const std::string key = key_of(id, path);
    bool stored = false;
    if (!dir_.empty()) {
        if (!dir_made_ && ::mkdir(dir_.c_str(), 0700) != 0 && errno != EEXIST) {
            common::log_printf("Outbox directory %s not made: %s", dir_.c_str(),
                               std::strerror(errno));
        }
        dir_made_ = true;
        char created[32];
        std::snprintf(created, sizeof created, "%.3f", now);
        const std::string text = std::string(kMagic) + "id: " + id + "\npath: " + to_string(path) +
                                 "\ncreated: " + created +
                                 "\ndetections: " + std::to_string(detections) +
                                 "\nsubject: " + subject + "\n\n" + payload;
        const config::ReplaceOutcome out = config::replace_file(file_of(item), text, {0600, false});
        stored = out.ok();
        if (!stored)
            common::log_printf("Report %s kept in memory only: %s: %s", id.c_str(),
                               out.file.c_str(), std::strerror(out.error));
    }
    if (!stored) memory_[key] = payload;
    items_[key] = std::move(item);
    return stored || dir_.empty();
}

std::vector<Outbox::Item> Outbox::due(double now) const {
    std::vector<Item> out;
    for (const auto& [key, item] : items_)
        if (item.next_try <= now) out.push_back(item);
    return out;
}

bool Outbox::payload(const Item& item, std::string& out) {
    const std::string key = key_of(item.id, item.path);
    if (const auto m = memory_.find(key); m != memory_.end()) {
        out = m->second;
        return true;
    }
    std::string text;
    Item header;
    size_t body_at = 0;
    if (config::read_whole_file(file_of(item), text, kMaxFileBytes) == config::FileRead::kOk &&
        parse_header(text, header, body_at)) {
        out = text.substr(body_at);
        return true;
    }
    drop(key, "its file can no longer be read");
    return false;
}

void Outbox::sent(const Item& item) {
    const std::string key = key_of(item.id, item.path);
    if (memory_.erase(key) == 0 && !dir_.empty()) (void)::unlink(file_of(item).c_str());
    items_.erase(key);
}

void Outbox::failed(const Item& item, const std::string& error, double now) {
    const auto it = items_.find(key_of(item.id, item.path));
    if (it == items_.end()) return;
    Item& kept = it->second;
    ++kept.attempts;
    kept.last_error = error;
    const double wait = backoff_.first_s * std::pow(2.0, std::min(kept.attempts - 1, 20));
    kept.next_try = now + std::min(wait, backoff_.max_s);
}

size_t Outbox::expire(double now) {
    if (max_age_s_ <= 0.0) return 0;
    std::vector<std::string> old;
    for (const auto& [key, item] : items_)
        if (now - item.created > max_age_s_) old.push_back(key);
    for (const std::string& key : old) drop(key, "it is older than the outbox keeps reports");
    return old.size();
}

double Outbox::next_due() const {
    double next = -1.0;
    for (const auto& [key, item] : items_)
        if (next < 0.0 || item.next_try < next) next = item.next_try;
    return next;
}

void Outbox::drop(const std::string& key, const char* why) {
    const auto it = items_.find(key);
    if (it == items_.end()) return;
    const Item& item = it->second;
    common::log_printf("Report %s (%s, %s, made %s UTC) dropped unsent: %s%s%s", item.id.c_str(),
                       item.subject.c_str(), to_string(item.path),
                       common::utc_text(item.created).c_str(), why,
                       item.last_error.empty() ? "" : "; last failure: ", item.last_error.c_str());
    if (memory_.erase(key) == 0 && !dir_.empty()) (void)::unlink(file_of(item).c_str());
    items_.erase(it);
}

}  // namespace zelvik::report
