// Settings file round trip: any file content, then one key written. A write that is
// accepted must read back as written (blanks trimmed, one pair of quotes removed, as
// the reader promises), and writing the same key again must not change the file.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "config/ini_file.h"

namespace {

std::string expected_value(std::string v) {
    const char* blanks = " \t\r\n\v\f";  // the blanks the reader trims
    const size_t a = v.find_first_not_of(blanks);
    if (a == std::string::npos) return "";
    v = v.substr(a, v.find_last_not_of(blanks) - a + 1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

std::string whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string& file_path() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/zelvik-ini-fuzz-" +
               std::to_string(::getpid()) + ".ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace ini = zelvik::config::ini;
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string value = in.ConsumeRandomLengthString(32);
    const std::string content = in.ConsumeRemainingBytesAsString();
    const std::string& path = file_path();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    if (ini::write_string(path, section, key, value)) {
        if (ini::read_string(path, section, key, "\x01missing", 4096) != expected_value(value))
            std::abort();
        const std::string once = whole(path);
        if (!ini::write_string(path, section, key, value) || whole(path) != once) std::abort();
    }
    ::unlink(path.c_str());
    return 0;
}
