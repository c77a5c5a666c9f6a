// Argument memory is writable and owned by the process; writing within each string's
// length keeps the block intact for whoever reads it.
#include "common/hidden_arguments.h"

#include <cstring>

#include "common/text.h"

namespace zelvik::common {

int hide_password_arguments(int argc, char** argv) {
    constexpr std::string_view kPrefix = "PASSWORD=";
    int changed = 0;
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        char* arg = argv[i];
        if (arg == nullptr || !istarts_with(arg, kPrefix)) continue;
        char* value = arg + kPrefix.size();
        const size_t n = std::strlen(value);
        if (n == 0) continue;
        std::memset(value, '\0', n);
        ++changed;
    }
    return changed;
}

}  // namespace zelvik::common
