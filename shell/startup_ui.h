// The only two ways start-up talks to the user: a yes/no question and an error box.
// A window front end shows message boxes; the headless one writes to stderr and
// answers the question from the command line.
#pragma once

#include <cstdio>
#include <string>

namespace zelvik::shell {

class StartupUi {
public:
    virtual ~StartupUi() = default;
    // Shows `text` (may hold "\r\n") under `caption` with a warning icon; true for "yes".
    virtual bool ask_yes_no(const std::string& text, const std::string& caption) = 0;
    // Shows `text` under `caption` with an error icon and one OK button.
    virtual void show_error(const std::string& text, const std::string& caption) = 0;
};

// How an unattended run answers the question whether to go on without a log file.
enum class LogMissingAnswer { kContinue, kStop };

// Writes questions and errors to `err` (not owned) and answers with `answer`, saying
// on `err` which answer it gave.
class HeadlessStartupUi : public StartupUi {
public:
    HeadlessStartupUi(std::FILE* err, LogMissingAnswer answer) : err_(err), answer_(answer) {}
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    void show_error(const std::string& text, const std::string& caption) override;

private:
    std::FILE* err_;
    LogMissingAnswer answer_;
};

}  // namespace zelvik::shell
