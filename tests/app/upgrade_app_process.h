// Runs pelmo-upgrader (and other programs) as real child processes for the
// start-up tests: private environment, output captured in a file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/file_contents.h"
#include "tests/support/http_server.h"
#include "tests/support/private_environment.h"
#include "tests/support/wait_until.h"

extern char** environ;

namespace pelmo::testing::program {

inline std::string UpgraderPath() { return std::string(PELMO_BINARY_DIR) + "/app/pelmo-upgrader"; }
inline std::string ToolPath() { return std::string(PELMO_BINARY_DIR) + "/tools/pelmo-tool"; }

// With these, one `using namespace testing::program;` gives a whole-run test
// every name it uses.
using pelmo::testing::PrivateEnvironment;
using pelmo::testing::ReadWholeFile;
using pelmo::testing::TestHttpServer;
using pelmo::testing::WriteWholeFile;

// A child process whose standard output and error go to outputPath; with
// standardOutput (a descriptor, or CLOSED_OUTPUT for none) only its error
// does.
inline constexpr int CLOSED_OUTPUT = -2;

class ProgramRun {
  public:
    ProgramRun(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& outputPath, int standardOutput = -1)
        : outputPath_(outputPath) {
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (env.count(name) == 0 && name != "DISPLAY" && name != "WAYLAND_DISPLAY") {
                environment.push_back(entry);
            }
        }
        for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
        std::vector<char*> args, envp;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in, 0);
            if (standardOutput == CLOSED_OUTPUT) {
                close(1);
            } else {
                dup2(standardOutput >= 0 ? standardOutput : out, 1);
            }
            dup2(out, 2);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(out);
        close(in);
    }
    ~ProgramRun() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    std::string Output() const { return ReadWholeFile(outputPath_); }

    // Exit status, or -1 when it has not ended within the timeout.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        if (status_ < 0) status_ = WaitForExit(pid_, timeout, std::chrono::milliseconds(2));
        return status_;
    }
    // Waits (bounded) until the output holds text.
    bool WaitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeout,
                         std::chrono::milliseconds(1));
    }

  private:
    std::string outputPath_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// The environment of a run kept inside folder: its own settings store,
// runtime folder and work folder.
inline std::map<std::string, std::string> FolderEnv(const std::string& folder) {
    return {{"PELMO_REGISTRY", folder + "/registry.db"},
            {"XDG_RUNTIME_DIR", folder},
            {"TMPDIR", folder}};
}

// Runs pelmo-tool with args; its exit status (output in folder/tool.txt).
inline int RunTool(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const std::string& folder) {
    std::vector<std::string> argv = {ToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProgramRun run(argv, env, folder + "/tool.txt");
    return run.Wait();
}

// Package N made by pelmo-tool from files (name, content): packed into
// folder/N.pak, put into folder/www/N.cab (MSZIP). Answers the cabinet's size.
inline int32_t MakeServedPackage(const std::string& folder,
                                 const std::map<std::string, std::string>& env, int version,
                                 const std::map<std::string, std::string>& files) {
    const std::string content = folder + "/content/" + std::to_string(version);
    for (const auto& [name, text] : files) WriteWholeFile(content + "/" + name, text);
    const std::string pak = folder + "/" + std::to_string(version) + ".pak";
    const std::string cab = folder + "/www/" + std::to_string(version) + ".cab";
    std::filesystem::create_directories(folder + "/www");
    if (RunTool({"pak", "pack", content, pak}, env, folder) != 0 ||
        RunTool({"cab", "create", "--codec", "mszip", "-o", cab, pak}, env, folder) != 0)
        return -1;
    return static_cast<int32_t>(std::filesystem::file_size(cab));
}

}  // namespace pelmo::testing::program
