// Starts tests/support/http_server.py as a child process for one test and
// stops it when the object goes away. Faults use the script's --fault forms:
//   TestHttpServer server(root, {"--fault", "/2005.cab=stall"});
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef PELMO_SOURCE_DIR
#error "PELMO_SOURCE_DIR must name the repository root"
#endif

extern char** environ;

namespace pelmo::testing {

class TestHttpServer {
  public:
    // Serves the files under root; every request is logged for Requests().
    explicit TestHttpServer(const std::string& root, std::vector<std::string> extra = {}) {
        logPath_ = root + "/.requests.log";
        bytesLogPath_ = root + "/.bytes.log";
        std::remove(logPath_.c_str());
        std::remove(bytesLogPath_.c_str());
        const char* python =
            ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
        std::vector<std::string> args = {python,   PELMO_SOURCE_DIR "/tests/support/http_server.py",
                                         "--root", root,
                                         "--log",  logPath_,
                                         "--bytes-log", bytesLogPath_};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = posix_spawnp(&pid_, python, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(in[0]);
        stdin_ = in[1];
        if (rc != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start the test HTTP server");
        }
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ::close(out[0]);
        port_ = line.empty() ? 0 : std::stoi(line);
        if (port_ == 0) throw std::runtime_error("the test HTTP server gave no port");
    }

    ~TestHttpServer() {
        ::close(stdin_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }

    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by path (which should start with "/").
    std::string Url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // The requests seen so far, "GET /path" each, in arrival order.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::ifstream log(logPath_);
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

    // The body bytes written in each finished answer for path ("/p/7.cab"),
    // in the order the answers ended.
    std::vector<uint64_t> AnswerBytes(const std::string& path) const {
        std::vector<uint64_t> answers;
        std::ifstream log(bytesLogPath_);
        std::string name;
        for (uint64_t count = 0; log >> name >> count;) {
            if (name == path) answers.push_back(count);
        }
        return answers;
    }
    uint64_t BytesSent(const std::string& path) const {
        uint64_t total = 0;
        for (const uint64_t count : AnswerBytes(path)) total += count;
        return total;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
    std::string logPath_;
    std::string bytesLogPath_;
};

}  // namespace pelmo::testing
