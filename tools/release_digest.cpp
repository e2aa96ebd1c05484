#include "tools/release_digest.h"

#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace pelmo::tools {

struct Digest::State {
    crypto_hash_sha256_state sha;
};

Digest::Digest() : state_(new State) { crypto_hash_sha256_init(&state_->sha); }

Digest::~Digest() { delete state_; }

void Digest::Update(const void* data, std::size_t size) {
    crypto_hash_sha256_update(&state_->sha, static_cast<const unsigned char*>(data), size);
}

std::string Digest::FinishHex() {
    unsigned char out[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state_->sha, out);
    char hex[2 * sizeof out + 1];
    sodium_bin2hex(hex, sizeof hex, out, sizeof out);
    return hex;
}

bool DigestFile(const std::string& path, std::string& hex, std::string* reason) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (reason) *reason = path + ": " + std::strerror(errno);
        return false;
    }
    Digest digest;
    std::vector<unsigned char> buffer(1 << 16);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) digest.Update(buffer.data(), n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        if (reason) *reason = path + ": read error";
        return false;
    }
    hex = digest.FinishHex();
    return true;
}

}  // namespace pelmo::tools
