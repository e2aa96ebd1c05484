// SHA-256 as publishing uses it: of a package, and of a version's tree.
#pragma once

#include <cstddef>
#include <string>

namespace pelmo::tools {

// Streaming SHA-256.
class Digest {
  public:
    Digest();
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    void Update(const void* data, std::size_t size);
    void Update(const std::string& text) { Update(text.data(), text.size()); }
    // 64 lower-case hex digits; call once.
    std::string FinishHex();

  private:
    struct State;
    State* state_;
};

// Hashes the file at path, read in chunks; false with a reason on failure.
bool DigestFile(const std::string& path, std::string& hex, std::string* reason);

}  // namespace pelmo::tools
