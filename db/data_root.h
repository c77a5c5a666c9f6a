// Confines the files FILELIST rows may name to the data directory. A row's path is
// resolved lexically and through every symbolic link before it is opened, so "..",
// "//elsewhere" and links that lead out of the directory are refused, not read.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::db {

class DataRoot {
public:
    // Resolves `data_dir` once (through links where it exists, lexically where it does
    // not yet, so a data directory that is missing still confines). An empty directory
    // confines nothing: rows then name files from "/" (see data_file_path).
    explicit DataRoot(std::string_view data_dir);

    // True when `path` resolves to a place strictly under the data directory; `resolved`
    // then holds that place, the name to open. Remembers the last answer, since the
    // segments of one window mostly share a file.
    [[nodiscard]] bool admits(const std::string& path, std::string& resolved);

private:
    std::string root_;  // resolved data directory, no trailing '/' except for "/"
    std::string last_path_, last_resolved_;
    bool last_admitted_ = false;
};

}  // namespace zelvik::db
