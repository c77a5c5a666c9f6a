// Start-up boxes for runs without a desktop: "caption: text" on stderr, the message's
// own "\r\n" shown as one line break.
#include <string>

#include "shell/startup_ui.h"

namespace zelvik::shell {

namespace {

std::string one_line_breaks(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

}  // namespace

bool HeadlessStartupUi::ask_yes_no(const std::string& text, const std::string& caption) {
    const bool yes = answer_ == LogMissingAnswer::kContinue;
    std::fprintf(err_, "zelvik: %s: %s\n", caption.c_str(), one_line_breaks(text).c_str());
    std::fprintf(err_, "zelvik: %s\n",
                 yes ? "continuing without a log file (--log-missing=continue)"
                     : "stopping (--log-missing=stop)");
    std::fflush(err_);
    return yes;
}

void HeadlessStartupUi::show_error(const std::string& text, const std::string& caption) {
    std::fprintf(err_, "zelvik: %s: %s\n", caption.c_str(), one_line_breaks(text).c_str());
    std::fflush(err_);
}

}  // namespace zelvik::shell
