// The daily log: one file DDMMYYYY.log per local day, every line stamped and tagged,
// a message equal to the previous one folded into that line with a count. One lock
// guards the whole append, so every thread may call log_write at any time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zelvik::common {

// Line buffer of the writer: a stored line (CR LF included) never exceeds this many
// bytes; a longer message is cut so that the line still ends with "#" CR LF.
inline constexpr size_t kLogLineBytes = 1024;

// The start-up line; writing it records the program's start time for day headers.
inline constexpr const char* kStartedMessage = "Zelvik (v.20140306) started...";
inline constexpr const char* kStoppedMessage = "Zelvik (v.20140306) stoped...";

// Where the day files go: `directory` (an existing, writable one, ending with "/")
// enables the log; an empty one disables it. `debug` is what log_debug answers while
// enabled. The start time and the folding state are kept. Set by the program's log
// opener (report::log_open) on the main thread, before any other thread writes.
void log_use_directory(std::string directory, bool debug);

// Appends one line stamped with the local time of common::now_utc(). An empty message
// only makes sure today's file exists (with its day header). Returns true when the line
// was written or the message was empty; false when the log is disabled or the file
// could not be opened or written (that line is lost; the next call tries again).
// Any thread; never throws.
bool log_write(std::string_view message);

// Called once when lines stop reaching the log file (a full disk, a read-only or missing
// directory), with the reason, and once more when writing works again; besides, each of
// those texts goes to stderr once. Called on the writing thread, outside the log's lock
// (it may not write to the log itself). Null: stderr only. Any thread.
void log_set_trouble_notice(std::function<void(const std::string& text)> notice);

// Formats into the line buffer (cut at kLogLineBytes - 1), then log_write.
bool log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where the lines of one thread go while they are held back (see ScopedLogHold).
class LogHold {
public:
    virtual ~LogHold() = default;
    // Takes one message as log_write got it; the stamp is added when it is written.
    virtual void hold(std::string_view message) = 0;
};

// While alive, log_write on the constructing thread hands every message to `hold`
// instead of writing it, and returns true. Lets work done beside other work on a helper
// thread write its lines later, in the order one thread alone would have written them
// (the folding of equal lines depends on that order). Scopes nest; null writes as usual.
class ScopedLogHold {
public:
    explicit ScopedLogHold(LogHold* hold);
    ~ScopedLogHold();
    ScopedLogHold(const ScopedLogHold&) = delete;
    ScopedLogHold& operator=(const ScopedLogHold&) = delete;

private:
    LogHold* previous_;
};

// Whether LOG LEVEL is "DEBUG" in any letter case (false while the log is disabled).
bool log_debug();

// The log directory in use, ending with "/"; empty while disabled. Any thread.
std::string log_directory();

// Back to the initial state: disabled, no directory, no start time, no last message.
void log_reset_for_testing();

}  // namespace zelvik::common
