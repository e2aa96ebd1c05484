// Ed25519 key pairs in minisign's file formats.
//
// A public key file is an untrusted comment line and a base64 line of the
// algorithm "Ed", the 8-byte key id and the 32-byte public key. A secret key
// file is an untrusted comment line and a base64 line of the signature
// algorithm "Ed", the key derivation algorithm ("Sc" for scrypt, two zero
// bytes for none), the checksum algorithm "B2", the scrypt salt and limits,
// then key id, secret key and a BLAKE2b-256 checksum of algorithm, key id and
// secret key; with scrypt these last 104 bytes are XORed with a stream derived
// from the password.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelmo::trust {

using KeyId = std::array<uint8_t, 8>;

struct PublicKey {
    KeyId keyId;
    std::array<uint8_t, 32> key;
};

struct SecretKey {
    KeyId keyId;
    std::array<uint8_t, 64> key;  // seed and public key
};

// A key id as minisign shows it: 16 upper-case hexadecimal digits of the id
// read as a little-endian number.
std::string KeyIdText(const KeyId& id);

// A new random key pair sharing a new random key id.
void GenerateKeyPair(PublicKey& publicKey, SecretKey& secretKey);
// The public half of a secret key.
PublicKey PublicKeyOf(const SecretKey& secretKey);

bool ParsePublicKey(std::string_view text, PublicKey& key, std::string* reason);
std::string FormatPublicKey(const PublicKey& key);
bool LoadPublicKeyFile(const std::string& path, PublicKey& key, std::string* reason);
// Refuses to replace an existing file.
bool WritePublicKeyFile(const std::string& path, const PublicKey& key, std::string* reason);

// A secret key file as stored: the key part still encrypted when a password
// protects it.
struct SecretKeyFile {
    bool encrypted = false;
    std::array<uint8_t, 32> salt{};
    uint64_t opsLimit = 0;
    uint64_t memLimit = 0;
    std::array<uint8_t, 104> keyPart{};  // key id, secret key, checksum
};

bool ParseSecretKey(std::string_view text, SecretKeyFile& file, std::string* reason);
// Decrypts (with password, when the file is encrypted) and checks the
// checksum, which also tells a wrong password.
bool OpenSecretKey(const SecretKeyFile& file, std::string_view password, SecretKey& key,
                   std::string* reason);
// scrypt limits of new password-protected keys: minisign's (about a second and
// 1 GiB of memory).
struct PasswordLimits {
    uint64_t opsLimit;
    uint64_t memLimit;
};
extern const PasswordLimits NEW_KEY_LIMITS;

// The file text of key, encrypted with password unless password is null.
bool FormatSecretKey(const SecretKey& key, const std::string* password, std::string& text,
                     std::string* reason, const PasswordLimits& limits = NEW_KEY_LIMITS);

// Password: PELMO_KEY_PASSWORD when set, else asked on the terminal; not
// asked for unencrypted keys.
bool LoadSecretKeyFile(const std::string& path, SecretKey& key, std::string* reason);
// Written with mode 0600; refuses to replace an existing file.
bool WriteSecretKeyFile(const std::string& path, const SecretKey& key, const std::string* password,
                        std::string* reason);

}  // namespace pelmo::trust
