// Runs a program as a child process with the test's environment and collects its exit
// status, stdout and stderr. Header-only for the shell tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

extern char** environ;

namespace zelvik::shell {

struct ChildResult {
    int exit_status = -1;  // -1 when the child did not exit normally
    std::string out;
    std::string err;
};

// A started child; read_output() drains both pipes until the child closes them.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int out_pipe[2], err_pipe[2];
        if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        out_fd_ = out_pipe[0];
        err_fd_ = err_pipe[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_fd_ >= 0) ::close(out_fd_);
        if (err_fd_ >= 0) ::close(err_fd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // Reads both pipes to their end, then reaps the child.
    ChildResult finish() {
        ChildResult r;
        pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
        std::string* sinks[2] = {&r.out, &r.err};
        int open = 2;
        while (open > 0 && ::poll(fds, 2, -1) >= 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) continue;
                char buf[4096];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<size_t>(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) {
            r.exit_status = WEXITSTATUS(status);
        }
        pid_ = -1;
        return r;
    }

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
};

inline ChildResult run_child(const std::vector<std::string>& args) {
    Child child(args);
    return child.finish();
}

}  // namespace zelvik::shell
