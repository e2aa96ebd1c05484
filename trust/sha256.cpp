#include "trust/sha256.h"

#include "trust/file_chunks.h"
#include "trust/sodium_ready.h"

namespace pelmo::trust {

Sha256::Sha256() {
    SodiumReady();
    crypto_hash_sha256_init(&state_);
}

void Sha256::Update(const void* data, std::size_t size) {
    crypto_hash_sha256_update(&state_, static_cast<const unsigned char*>(data), size);
}

std::string Sha256::FinishHex() {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state_, digest);
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return std::string(hex, 2 * crypto_hash_sha256_BYTES);
}

bool HashFileInto(Sha256& hash, const std::string& path, std::string* reason) {
    return ForEachFileChunk(
        path, [&hash](const unsigned char* data, std::size_t size) { hash.Update(data, size); },
        reason);
}

bool Sha256OfFile(const std::string& path, std::string& hex, std::string* reason) {
    Sha256 hash;
    if (!HashFileInto(hash, path, reason)) return false;
    hex = hash.FinishHex();
    return true;
}

bool IsSha256Hex(std::string_view text) {
    if (text.size() != 2 * crypto_hash_sha256_BYTES) return false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !letter) return false;
    }
    return true;
}

}  // namespace pelmo::trust
