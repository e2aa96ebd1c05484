#include "trust/key_password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pelmo::trust {
namespace {

// Reads one line from the terminal fd with echo off.
bool AskLine(int fd, const char* prompt, std::string& line) {
    (void)!::write(fd, prompt, std::strlen(prompt));
    termios saved{};
    const bool terminal = ::tcgetattr(fd, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    line.clear();
    bool ok = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (c == '\n') {
            ok = true;
            break;
        }
        if (c != '\r') line.push_back(c);
    }
    if (terminal) ::tcsetattr(fd, TCSAFLUSH, &saved);
    (void)!::write(fd, "\n", 1);
    return ok;
}

}  // namespace

bool ReadKeyPassword(const char* prompt, bool confirm, std::string& password, std::string* reason) {
    if (const char* fromEnvironment = std::getenv(KEY_PASSWORD_VARIABLE)) {
        password = fromEnvironment;
        return true;
    }
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (reason != nullptr) {
            *reason = std::string("no terminal to ask for the key password; set ") +
                      KEY_PASSWORD_VARIABLE;
        }
        return false;
    }
    std::string again;
    bool ok = AskLine(fd, prompt, password);
    if (ok && confirm) {
        ok = AskLine(fd, "Password (again): ", again) && again == password;
        if (!ok && reason != nullptr) *reason = "the passwords differ";
    } else if (!ok && reason != nullptr) {
        *reason = "no password was entered";
    }
    ::close(fd);
    return ok;
}

}  // namespace pelmo::trust
