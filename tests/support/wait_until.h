// Bounded waits for what another thread or process does: polling, never
// much longer than the time given.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

namespace pelmo::testing {

// Asks done() every `step` until it answers true (true) or `timeout` has
// passed (false).
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// Waits for a file that another process writes, gives the writer a moment to
// finish it and answers its content ("" when it never appears).
inline std::string WaitForFile(const std::string& path, std::chrono::milliseconds timeout) {
    WaitUntil([&] { return std::filesystem::exists(path); }, timeout,
              std::chrono::milliseconds(25));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits for the child process pid to end and reaps it: its exit status (128 +
// the signal number when a signal ended it), or -1 when it is still running
// after `timeout` (or was never started).
inline int WaitForExit(pid_t pid, std::chrono::milliseconds timeout,
                       std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
    if (pid <= 0) return -1;
    int status = -1;
    WaitUntil(
        [&] {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) != pid) return false;
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return true;
        },
        timeout, step);
    return status;
}

}  // namespace pelmo::testing
