// Runs a shell command line as a child process and collects what it printed
// (standard output and error together) and its exit status.
#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <string>

namespace pelmo::testing {

struct ShellOutcome {
    int status = -1;  // exit status; -1 when the command did not exit normally
    std::string output;
};

inline ShellOutcome RunShell(const std::string& command) {
    ShellOutcome outcome;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
    const int status = ::pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

}  // namespace pelmo::testing
