// A real child process with a pipe on its standard input and output, for the
// tests across processes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/wait_until.h"

extern char** environ;

namespace pelmo::testing {

class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~ChildProcess() {
        CloseInput();
        if (pid_ > 0 && Wait() < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) close(stdout_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // One line of the child's output without its line feed; "" on time-out or end.
    std::string ReadLine(int timeoutMs = 10000) {
        std::string line;
        char c;
        while (true) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return line;
            if (read(stdout_, &c, 1) != 1 || c == '\n') return line;
            line += c;
        }
    }
    // Tells the helper to stop (end of file on its input).
    void CloseInput() {
        if (stdin_ >= 0) {
            close(stdin_);
            stdin_ = -1;
        }
    }
    // Exit status, -1 when it did not end within the time (bounded wait).
    int Wait(int timeoutMs = 10000) {
        if (pid_ <= 0) return -1;
        if (status_ < 0) status_ = WaitForExit(pid_, std::chrono::milliseconds(timeoutMs));
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int status_ = -1;
};

}  // namespace pelmo::testing
