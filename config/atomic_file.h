// Whole-file reading and atomic replacement for the settings file. Every writer of
// zelvik.ini (the ini layer, the editor's save) goes through replace_file, so a reader
// sees the old file or the new one, never a half-written one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvik::config {

enum class FileRead { kOk, kMissing, kFailed, kTooBig };

// Reads the regular file at `path` into `out`, at most `max_bytes` of it: kTooBig when
// it is larger (`out` then holds the first max_bytes), kMissing when it does not exist,
// kFailed (errno set) when it cannot be opened or read or is not a regular file.
FileRead read_whole_file(const std::string& path, std::string& out, size_t max_bytes);

// The file a replace writes: a symbolic link is followed so the link survives.
std::string replace_target(const std::string& path);

// The mode a new file gets from the process umask (0666 less the masked bits).
mode_t mode_from_umask();

struct ReplaceRules {
    mode_t new_file_mode = 0600;  // for a file that did not exist; an existing one keeps its bits
    bool keep_owner = false;      // give the new file the old one's owner and group where allowed
};

enum class ReplaceStep { kDone, kCreateTemporary, kWrite, kSetMode, kRename };

struct ReplaceOutcome {
    ReplaceStep failed_at = ReplaceStep::kDone;
    int error = 0;     // errno of the failed step
    std::string file;  // the file the failed step worked on (target or temporary copy)
    bool ok() const { return failed_at == ReplaceStep::kDone; }
};

// Writes `content` to a temporary file beside the target of `path` (replace_target),
// gives it the target's mode (or rules.new_file_mode), flushes it to disk and renames
// it over the target. On failure the temporary file is removed and the target is left
// as it was. Never throws; the caller words the failure.
ReplaceOutcome replace_file(const std::string& path, std::string_view content,
                            const ReplaceRules& rules);

}  // namespace zelvik::config
