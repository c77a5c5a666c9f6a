// Settings-file argument and connection tail. Arguments arrive already split by the
// shell, so a quoted data source name with blanks stays one token.
#include "editor/command_line.h"

#include "common/text.h"

namespace zelvik::editor {
namespace {

constexpr const char* kConnectionKeys[] = {"ODBC=", "USER=", "PASSWORD=", "DATA="};

size_t ifind(const std::string& text, std::string_view needle) {
    const std::string upper = common::to_upper(text);
    return upper.find(needle);
}

}  // namespace

bool is_connection_argument(const std::string& argument) {
    for (const char* key : kConnectionKeys) {
        if (common::istarts_with(argument, key)) return true;
    }
    return false;
}

std::string resolve_settings_path(const std::vector<std::string>& arguments,
                                  const std::string& current_dir) {
    std::vector<const std::string*> files;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (!is_connection_argument(arguments[i])) files.push_back(&arguments[i]);
    }
    const std::string dir = current_dir.empty() ? "." : current_dir;
    if (files.size() != 1 || files.front()->empty()) return dir + "/zelvik.ini";
    const std::string& file = *files.front();
    if (file.front() == '/') return file;
    return dir + "/" + file;
}

std::vector<std::string> connection_tail(const std::vector<std::string>& arguments) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        const size_t at = ifind(arguments[i], "ODBC=");
        if (at == std::string::npos) continue;
        std::vector<std::string> tail{arguments[i].substr(at)};
        tail.insert(tail.end(), arguments.begin() + static_cast<long>(i) + 1, arguments.end());
        return tail;
    }
    return {};
}

}  // namespace zelvik::editor
