// Detached signatures in minisign's format (FILE.minisig):
//
//   untrusted comment: <text>
//   <base64 of the algorithm, the 8-byte key id and the 64-byte signature>
//   trusted comment: <text>
//   <base64 of the 64-byte global signature>
//
// Algorithm "ED" signs the BLAKE2b-512 hash of the file (what is written
// here); the legacy "Ed" signs the file's bytes themselves. The global
// signature covers the signature followed by the trusted comment's text, so
// the trusted comment cannot be changed either.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "trust/keys.h"

namespace pelmo::trust {

// A signature file is a few hundred bytes; nothing larger is read.
inline constexpr std::size_t MAX_SIGNATURE_FILE_BYTES = 4096;
inline constexpr std::string_view SIGNATURE_SUFFIX = ".minisig";

struct SignatureFile {
    std::array<uint8_t, 2> algorithm{};  // "ED" or "Ed"
    KeyId keyId{};
    std::array<uint8_t, 64> signature{};
    std::string untrustedComment;
    std::string trustedComment;
    std::array<uint8_t, 64> globalSignature{};
};

bool ParseSignatureFile(std::string_view text, SignatureFile& signature, std::string* reason);
std::string FormatSignatureFile(const SignatureFile& signature);

// The trusted comment written when the signer gives none.
std::string DefaultTrustedComment(const std::string& path);

// The signature file text for data (prehashed "ED"). An empty trustedComment
// is replaced by DefaultTrustedComment(name). A comment with a line break is
// refused.
bool SignData(const SecretKey& key, std::string_view data, const std::string& name,
              const std::string& trustedComment, std::string& signatureText, std::string* reason);

// Signs the file's bytes (prehashed "ED", BLAKE2b-512 streamed) and writes path + ".minisig".
// An empty trustedComment means DefaultTrustedComment(path).
bool SignFile(const SecretKey& key, const std::string& path, const std::string& trustedComment,
              std::string* reason);

// Verifies data against the text of a .minisig file: key id, signature ("ED" or legacy "Ed"),
// global signature. The verified trusted comment goes to *trustedComment when given.
bool VerifySignature(const PublicKey& key, std::string_view data, std::string_view signatureFile,
                     std::string* reason, std::string* trustedComment = nullptr);
// The same for a file, streamed through the hash ("ED"); a legacy signature
// of a file larger than 64 MiB is refused, since it needs the whole file.
bool VerifyFileSignature(const PublicKey& key, const std::string& path,
                         std::string_view signatureFile, std::string* reason,
                         std::string* trustedComment = nullptr);

}  // namespace pelmo::trust
