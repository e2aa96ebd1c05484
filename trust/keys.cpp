#include "trust/keys.h"

#include <sodium.h>

#include <cstring>

#include "trust/key_password.h"
#include "trust/key_text.h"
#include "trust/sodium_ready.h"
#include "trust/text_file.h"

namespace pelmo::trust {
namespace {

constexpr uint8_t SIGNATURE_ALGORITHM[2] = {'E', 'd'};
constexpr uint8_t KDF_SCRYPT[2] = {'S', 'c'};
constexpr uint8_t KDF_NONE[2] = {0, 0};
constexpr uint8_t CHECKSUM_BLAKE2B[2] = {'B', '2'};

// Limits minisign uses for new keys; a file asking for more than four times
// as much is refused rather than run.
constexpr uint64_t NEW_KEY_OPS_LIMIT = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE;
constexpr uint64_t NEW_KEY_MEM_LIMIT = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE;
constexpr uint64_t MAX_OPS_LIMIT = 4 * NEW_KEY_OPS_LIMIT;
constexpr uint64_t MAX_MEM_LIMIT = 4 * NEW_KEY_MEM_LIMIT;

constexpr std::size_t PUBLIC_KEY_BYTES = 2 + 8 + 32;
constexpr std::size_t SECRET_KEY_BYTES = 2 + 2 + 2 + 32 + 8 + 8 + 104;
// Key and signature files are a few hundred bytes.
constexpr std::size_t MAX_KEY_FILE_BYTES = 64 * 1024;

bool Fail(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
    return false;
}

// The first line must be an untrusted comment, the second the base64 data;
// nothing may follow.
bool DecodeKeyText(std::string_view text, const char* what, unsigned char* out, std::size_t size,
                   std::string* reason) {
    const std::vector<std::string_view> lines = SplitLines(text);
    std::string_view comment;
    if (lines.size() != 2 || !StripPrefix(lines[0], UNTRUSTED_COMMENT_PREFIX, comment)) {
        return Fail(reason, std::string("not a ") + what +
                                " file: expected an untrusted comment line and a key line");
    }
    if (!DecodeBase64(lines[1], out, size)) {
        return Fail(reason, std::string("not a ") + what + " file: the key line is not " +
                                std::to_string(size) + " bytes of base64");
    }
    return true;
}

uint64_t ReadLittleEndian64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

void WriteLittleEndian64(uint64_t value, uint8_t* p) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void Checksum(const uint8_t* keyIdAndKey, uint8_t out[32]) {
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, 32);
    crypto_generichash_update(&state, SIGNATURE_ALGORITHM, sizeof SIGNATURE_ALGORITHM);
    crypto_generichash_update(&state, keyIdAndKey, 8 + 64);
    crypto_generichash_final(&state, out, 32);
}

// XORs keyPart with the scrypt stream of password.
bool ApplyPasswordStream(std::array<uint8_t, 104>& keyPart, std::string_view password,
                         const std::array<uint8_t, 32>& salt, uint64_t opsLimit, uint64_t memLimit,
                         std::string* reason) {
    std::array<uint8_t, 104> stream{};
    if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(),
                                           password.size(), salt.data(), opsLimit,
                                           static_cast<std::size_t>(memLimit)) != 0) {
        return Fail(reason, "cannot derive the key from the password (out of memory?)");
    }
    for (std::size_t i = 0; i < keyPart.size(); ++i) keyPart[i] ^= stream[i];
    sodium_memzero(stream.data(), stream.size());
    return true;
}

}  // namespace

std::string KeyIdText(const KeyId& id) {
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 7; i >= 0; --i) {
        text += DIGITS[id[i] >> 4];
        text += DIGITS[id[i] & 15];
    }
    return text;
}

void GenerateKeyPair(PublicKey& publicKey, SecretKey& secretKey) {
    SodiumReady();
    crypto_sign_keypair(publicKey.key.data(), secretKey.key.data());
    randombytes_buf(publicKey.keyId.data(), publicKey.keyId.size());
    secretKey.keyId = publicKey.keyId;
}

PublicKey PublicKeyOf(const SecretKey& secretKey) {
    PublicKey key;
    key.keyId = secretKey.keyId;
    crypto_sign_ed25519_sk_to_pk(key.key.data(), secretKey.key.data());
    return key;
}

bool ParsePublicKey(std::string_view text, PublicKey& key, std::string* reason) {
    uint8_t raw[PUBLIC_KEY_BYTES];
    if (!DecodeKeyText(text, "public key", raw, sizeof raw, reason)) return false;
    if (std::memcmp(raw, SIGNATURE_ALGORITHM, 2) != 0) {
        return Fail(reason, "not a public key file: unknown key algorithm");
    }
    std::memcpy(key.keyId.data(), raw + 2, 8);
    std::memcpy(key.key.data(), raw + 10, 32);
    return true;
}

std::string FormatPublicKey(const PublicKey& key) {
    uint8_t raw[PUBLIC_KEY_BYTES];
    std::memcpy(raw, SIGNATURE_ALGORITHM, 2);
    std::memcpy(raw + 2, key.keyId.data(), 8);
    std::memcpy(raw + 10, key.key.data(), 32);
    return std::string(UNTRUSTED_COMMENT_PREFIX) + "public key " + KeyIdText(key.keyId) + "\n" +
           EncodeBase64(raw, sizeof raw) + "\n";
}

bool LoadPublicKeyFile(const std::string& path, PublicKey& key, std::string* reason) {
    std::string text;
    std::string why;
    if (!ReadTextFile(path, MAX_KEY_FILE_BYTES, text, &why) || !ParsePublicKey(text, key, &why)) {
        return Fail(reason, path + ": " + why);
    }
    return true;
}

bool WritePublicKeyFile(const std::string& path, const PublicKey& key, std::string* reason) {
    return WriteTextFile(path, FormatPublicKey(key), 0644, false, reason);
}

bool ParseSecretKey(std::string_view text, SecretKeyFile& file, std::string* reason) {
    uint8_t raw[SECRET_KEY_BYTES];
    if (!DecodeKeyText(text, "secret key", raw, sizeof raw, reason)) return false;
    if (std::memcmp(raw, SIGNATURE_ALGORITHM, 2) != 0) {
        return Fail(reason, "not a secret key file: unknown key algorithm");
    }
    if (std::memcmp(raw + 2, KDF_SCRYPT, 2) == 0) {
        file.encrypted = true;
    } else if (std::memcmp(raw + 2, KDF_NONE, 2) == 0) {
        file.encrypted = false;
    } else {
        return Fail(reason, "not a secret key file: unknown key derivation algorithm");
    }
    if (std::memcmp(raw + 4, CHECKSUM_BLAKE2B, 2) != 0) {
        return Fail(reason, "not a secret key file: unknown checksum algorithm");
    }
    std::memcpy(file.salt.data(), raw + 6, 32);
    file.opsLimit = ReadLittleEndian64(raw + 38);
    file.memLimit = ReadLittleEndian64(raw + 46);
    std::memcpy(file.keyPart.data(), raw + 54, 104);
    if (file.encrypted && (file.opsLimit > MAX_OPS_LIMIT || file.memLimit > MAX_MEM_LIMIT)) {
        return Fail(reason, "the secret key's password limits are out of range");
    }
    return true;
}

bool OpenSecretKey(const SecretKeyFile& file, std::string_view password, SecretKey& key,
                   std::string* reason) {
    SodiumReady();
    std::array<uint8_t, 104> part = file.keyPart;
    if (file.encrypted &&
        !ApplyPasswordStream(part, password, file.salt, file.opsLimit, file.memLimit, reason)) {
        return false;
    }
    uint8_t expected[32];
    Checksum(part.data(), expected);
    // Unencrypted keys of older minisign versions carry an all-zero checksum.
    const bool zero = sodium_is_zero(part.data() + 72, 32) != 0;
    const bool match = sodium_memcmp(expected, part.data() + 72, 32) == 0;
    if (!match && (file.encrypted || !zero)) {
        sodium_memzero(part.data(), part.size());
        return Fail(reason, file.encrypted ? "wrong password for the secret key"
                                           : "the secret key's checksum does not match");
    }
    std::memcpy(key.keyId.data(), part.data(), 8);
    std::memcpy(key.key.data(), part.data() + 8, 64);
    sodium_memzero(part.data(), part.size());
    return true;
}

const PasswordLimits NEW_KEY_LIMITS = {NEW_KEY_OPS_LIMIT, NEW_KEY_MEM_LIMIT};

bool FormatSecretKey(const SecretKey& key, const std::string* password, std::string& text,
                     std::string* reason, const PasswordLimits& limits) {
    SodiumReady();
    uint8_t raw[SECRET_KEY_BYTES] = {};
    std::memcpy(raw, SIGNATURE_ALGORITHM, 2);
    std::memcpy(raw + 2, password != nullptr ? KDF_SCRYPT : KDF_NONE, 2);
    std::memcpy(raw + 4, CHECKSUM_BLAKE2B, 2);
    std::array<uint8_t, 104> part{};
    std::memcpy(part.data(), key.keyId.data(), 8);
    std::memcpy(part.data() + 8, key.key.data(), 64);
    Checksum(part.data(), part.data() + 72);
    if (password != nullptr) {
        std::array<uint8_t, 32> salt{};
        randombytes_buf(salt.data(), salt.size());
        std::memcpy(raw + 6, salt.data(), 32);
        WriteLittleEndian64(limits.opsLimit, raw + 38);
        WriteLittleEndian64(limits.memLimit, raw + 46);
        if (!ApplyPasswordStream(part, *password, salt, limits.opsLimit, limits.memLimit, reason)) {
            return false;
        }
    }
    std::memcpy(raw + 54, part.data(), part.size());
    text = std::string(UNTRUSTED_COMMENT_PREFIX) +
           (password != nullptr ? "encrypted secret key\n" : "unencrypted secret key\n") +
           EncodeBase64(raw, sizeof raw) + "\n";
    sodium_memzero(raw, sizeof raw);
    sodium_memzero(part.data(), part.size());
    return true;
}

bool LoadSecretKeyFile(const std::string& path, SecretKey& key, std::string* reason) {
    std::string text;
    std::string why;
    SecretKeyFile file;
    if (!ReadTextFile(path, MAX_KEY_FILE_BYTES, text, &why) || !ParseSecretKey(text, file, &why)) {
        return Fail(reason, path + ": " + why);
    }
    std::string password;
    if (file.encrypted && !ReadKeyPassword("Password: ", false, password, &why)) {
        return Fail(reason, path + ": " + why);
    }
    const bool opened = OpenSecretKey(file, password, key, &why);
    sodium_memzero(password.data(), password.size());
    return opened || Fail(reason, path + ": " + why);
}

bool WriteSecretKeyFile(const std::string& path, const SecretKey& key, const std::string* password,
                        std::string* reason) {
    std::string text;
    if (!FormatSecretKey(key, password, text, reason)) return false;
    const bool written = WriteTextFile(path, text, 0600, false, reason);
    sodium_memzero(text.data(), text.size());
    return written;
}

}  // namespace pelmo::trust
