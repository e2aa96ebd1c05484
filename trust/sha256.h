// SHA-256 of data that arrives in pieces: a package as it downloads, a file
// read in chunks. Nothing is held beyond the hash state.
#pragma once

#include <sodium.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmo::trust {

class Sha256 {
  public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // The digest as 64 lower-case hexadecimal digits. Call once, after the
    // last Update.
    std::string FinishHex();

  private:
    crypto_hash_sha256_state state_;
};

// The SHA-256 of the file at path, read in chunks. False with a reason when
// the file cannot be read.
bool Sha256OfFile(const std::string& path, std::string& hex, std::string* reason);

// Feeds the file at path into hash, in chunks. False with a reason when the
// file cannot be read (hash then holds part of it).
bool HashFileInto(Sha256& hash, const std::string& path, std::string* reason);

// True when text is exactly 64 hexadecimal digits (either case).
bool IsSha256Hex(std::string_view text);

}  // namespace pelmo::trust
