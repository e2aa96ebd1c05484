#include "trust/signature.h"

#include <sodium.h>

#include <cstring>
#include <ctime>

#include "trust/file_chunks.h"
#include "trust/key_text.h"
#include "trust/sodium_ready.h"
#include "trust/text_file.h"

namespace pelmo::trust {
namespace {

constexpr std::array<uint8_t, 2> HASHED = {'E', 'D'};
constexpr std::array<uint8_t, 2> LEGACY = {'E', 'd'};
constexpr std::size_t SIGNATURE_LINE_BYTES = 2 + 8 + 64;
constexpr std::size_t MAX_LEGACY_FILE_BYTES = std::size_t{64} << 20;

bool Fail(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
    return false;
}

using Hash512 = std::array<uint8_t, crypto_generichash_BYTES_MAX>;

class Blake2b512 {
  public:
    Blake2b512() { crypto_generichash_init(&state_, nullptr, 0, crypto_generichash_BYTES_MAX); }
    void Update(const void* data, std::size_t size) {
        crypto_generichash_update(&state_, static_cast<const unsigned char*>(data), size);
    }
    Hash512 Finish() {
        Hash512 hash;
        crypto_generichash_final(&state_, hash.data(), hash.size());
        return hash;
    }

  private:
    crypto_generichash_state state_;
};

Hash512 Blake2bOf(std::string_view data) {
    Blake2b512 hash;
    hash.Update(data.data(), data.size());
    return hash.Finish();
}

bool Blake2bOfFile(const std::string& path, Hash512& digest, std::string* reason) {
    Blake2b512 hash;
    if (!ForEachFileChunk(
            path, [&hash](const unsigned char* data, std::size_t size) { hash.Update(data, size); },
            reason)) {
        return false;
    }
    digest = hash.Finish();
    return true;
}

// What the global signature covers: the signature, then the trusted comment.
std::string GlobalMessage(const SignatureFile& signature) {
    std::string message(signature.signature.begin(), signature.signature.end());
    return message + signature.trustedComment;
}

bool VerifyDetached(const std::array<uint8_t, 64>& signature, const void* message, std::size_t size,
                    const PublicKey& key) {
    return crypto_sign_verify_detached(signature.data(), static_cast<const unsigned char*>(message),
                                       size, key.key.data()) == 0;
}

// The checks after the signed message is known: the signature over message,
// then the global signature over signature and trusted comment.
bool VerifyParsed(const PublicKey& key, const SignatureFile& signature, const void* message,
                  std::size_t size, std::string* reason, std::string* trustedComment) {
    if (!VerifyDetached(signature.signature, message, size, key)) {
        return Fail(reason, "bad signature: the signed data has changed or another key signed it");
    }
    const std::string global = GlobalMessage(signature);
    if (!VerifyDetached(signature.globalSignature, global.data(), global.size(), key)) {
        return Fail(reason, "bad signature of the trusted comment");
    }
    if (trustedComment != nullptr) *trustedComment = signature.trustedComment;
    return true;
}

// Parses signatureFile and checks its key id against key.
bool ParseForKey(const PublicKey& key, std::string_view signatureFile, SignatureFile& signature,
                 std::string* reason) {
    SodiumReady();
    if (!ParseSignatureFile(signatureFile, signature, reason)) return false;
    if (signature.keyId != key.keyId) {
        return Fail(reason, "key id mismatch: signed with key " + KeyIdText(signature.keyId) +
                                ", the trusted key is " + KeyIdText(key.keyId));
    }
    return true;
}

bool MakeSignature(const SecretKey& key, const Hash512& hash, const std::string& name,
                   const std::string& trustedComment, std::string& text, std::string* reason) {
    SignatureFile signature;
    signature.algorithm = HASHED;
    signature.keyId = key.keyId;
    signature.untrustedComment = "signature from secret key " + KeyIdText(key.keyId);
    signature.trustedComment =
        trustedComment.empty() ? DefaultTrustedComment(name) : trustedComment;
    if (signature.trustedComment.find_first_of("\r\n") != std::string::npos) {
        return Fail(reason, "a trusted comment is one line");
    }
    crypto_sign_detached(signature.signature.data(), nullptr, hash.data(), hash.size(),
                         key.key.data());
    const std::string global = GlobalMessage(signature);
    crypto_sign_detached(signature.globalSignature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                         key.key.data());
    text = FormatSignatureFile(signature);
    return true;
}

}  // namespace

bool ParseSignatureFile(std::string_view text, SignatureFile& signature, std::string* reason) {
    const std::vector<std::string_view> lines = SplitLines(text);
    std::string_view untrusted;
    std::string_view trusted;
    if (lines.size() != 4 || !StripPrefix(lines[0], UNTRUSTED_COMMENT_PREFIX, untrusted) ||
        !StripPrefix(lines[2], TRUSTED_COMMENT_PREFIX, trusted)) {
        return Fail(reason,
                    "not a signature file: expected an untrusted comment, a signature, a trusted "
                    "comment and a global signature line");
    }
    uint8_t raw[SIGNATURE_LINE_BYTES];
    if (!DecodeBase64(lines[1], raw, sizeof raw) ||
        !DecodeBase64(lines[3], signature.globalSignature.data(),
                      signature.globalSignature.size())) {
        return Fail(reason, "not a signature file: a signature line is not valid base64");
    }
    std::memcpy(signature.algorithm.data(), raw, 2);
    if (signature.algorithm != HASHED && signature.algorithm != LEGACY) {
        return Fail(reason, "unknown signature algorithm");
    }
    std::memcpy(signature.keyId.data(), raw + 2, 8);
    std::memcpy(signature.signature.data(), raw + 10, 64);
    signature.untrustedComment = untrusted;
    signature.trustedComment = trusted;
    return true;
}

std::string FormatSignatureFile(const SignatureFile& signature) {
    uint8_t raw[SIGNATURE_LINE_BYTES];
    std::memcpy(raw, signature.algorithm.data(), 2);
    std::memcpy(raw + 2, signature.keyId.data(), 8);
    std::memcpy(raw + 10, signature.signature.data(), 64);
    return std::string(UNTRUSTED_COMMENT_PREFIX) + signature.untrustedComment + "\n" +
           EncodeBase64(raw, sizeof raw) + "\n" + std::string(TRUSTED_COMMENT_PREFIX) +
           signature.trustedComment + "\n" +
           EncodeBase64(signature.globalSignature.data(), signature.globalSignature.size()) + "\n";
}

std::string DefaultTrustedComment(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "timestamp:" + std::to_string(static_cast<long long>(std::time(nullptr))) +
           "\tfile:" + name + "\thashed";
}

bool SignData(const SecretKey& key, std::string_view data, const std::string& name,
              const std::string& trustedComment, std::string& signatureText, std::string* reason) {
    SodiumReady();
    return MakeSignature(key, Blake2bOf(data), name, trustedComment, signatureText, reason);
}

bool SignFile(const SecretKey& key, const std::string& path, const std::string& trustedComment,
              std::string* reason) {
    SodiumReady();
    Hash512 digest;
    std::string text;
    return Blake2bOfFile(path, digest, reason) &&
           MakeSignature(key, digest, path, trustedComment, text, reason) &&
           WriteTextFile(path + std::string(SIGNATURE_SUFFIX), text, 0644, true, reason);
}

bool VerifySignature(const PublicKey& key, std::string_view data, std::string_view signatureFile,
                     std::string* reason, std::string* trustedComment) {
    SignatureFile signature;
    if (!ParseForKey(key, signatureFile, signature, reason)) return false;
    if (signature.algorithm == LEGACY) {
        return VerifyParsed(key, signature, data.data(), data.size(), reason, trustedComment);
    }
    const Hash512 digest = Blake2bOf(data);
    return VerifyParsed(key, signature, digest.data(), digest.size(), reason, trustedComment);
}

bool VerifyFileSignature(const PublicKey& key, const std::string& path,
                         std::string_view signatureFile, std::string* reason,
                         std::string* trustedComment) {
    SignatureFile signature;
    if (!ParseForKey(key, signatureFile, signature, reason)) return false;
    if (signature.algorithm == LEGACY) {
        std::string data;
        return ReadTextFile(path, MAX_LEGACY_FILE_BYTES, data, reason) &&
               VerifyParsed(key, signature, data.data(), data.size(), reason, trustedComment);
    }
    Hash512 digest;
    return Blake2bOfFile(path, digest, reason) &&
           VerifyParsed(key, signature, digest.data(), digest.size(), reason, trustedComment);
}

}  // namespace pelmo::trust
