// A directory under $TMPDIR (or /tmp) made for one test and removed with everything
// in it when the object goes.
#pragma once

#include <string>
#include <string_view>

namespace zelvik::test {

class TempDir {
public:
    explicit TempDir(std::string_view prefix = "zelvik");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string file(std::string_view relative) const;
    // Writes `bytes` to path()/relative, creating directories; returns the full path.
    std::string write(std::string_view relative, std::string_view bytes) const;

private:
    std::string path_;
};

// Whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

}  // namespace zelvik::test
