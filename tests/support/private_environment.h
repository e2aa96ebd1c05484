// Points the settings store, the named objects and the log at a private folder for one
// test, removed with everything in it when the object goes away.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace pelmo::testing {

class PrivateEnvironment {
  public:
    PrivateEnvironment() {
        char pattern[] = "/tmp/pelmo-env-test-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
        folder_ = pattern;
        ::setenv("PELMO_REGISTRY", (folder_ + "/registry.db").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        ::setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    }
    ~PrivateEnvironment() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PrivateEnvironment(const PrivateEnvironment&) = delete;
    PrivateEnvironment& operator=(const PrivateEnvironment&) = delete;

    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
};

}  // namespace pelmo::testing
