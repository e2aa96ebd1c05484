#include "trust/sha256.h"

#include <openssl/evp.h>

#include "trust/file_chunks.h"

namespace pelmo::trust {
namespace {
constexpr std::size_t DIGEST_BYTES = 32;
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    failed_ = context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::Update(const void* data, std::size_t size) {
    if (!failed_ && EVP_DigestUpdate(context_, data, size) != 1) failed_ = true;
}

std::string Sha256::FinishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (failed_ || EVP_DigestFinal_ex(context_, digest, &length) != 1 || length != DIGEST_BYTES) {
        failed_ = true;
        return std::string();
    }
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < DIGEST_BYTES; ++i) {
        hex += DIGITS[digest[i] >> 4];
        hex += DIGITS[digest[i] & 15];
    }
    return hex;
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
    if (text.size() != 2 * DIGEST_BYTES) return false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit && !letter) return false;
    }
    return true;
}

}  // namespace pelmo::trust
