// SHA-256 of data that arrives in pieces: a package as it downloads, a file
// read in chunks. Nothing is held beyond the hash state.
//
// Computed with libcrypto, which uses the processor's SHA instructions where
// it has them: several times the speed of a portable implementation, so that
// hashing a package as it downloads costs next to nothing. (libcrypto is in
// the process anyway, under the transport's TLS.)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// libcrypto's hash context, declared here so that users need not include it.
struct evp_md_ctx_st;

namespace pelmo::trust {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest as 64 lower-case hexadecimal digits. Call once, after the
    // last Update. "" if the hash could not be computed (no memory), which
    // matches no expected value.
    std::string FinishHex();

  private:
    evp_md_ctx_st* context_;
    bool failed_ = false;
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
