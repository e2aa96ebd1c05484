// Fuzzes the readers of key and signature files: the public key, secret key
// and signature parsers, and signature verification of what they accept.
#include <sodium.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "trust/keys.h"
#include "trust/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pelmo::trust;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string reason;

    PublicKey key;
    if (ParsePublicKey(text, key, &reason) && FormatPublicKey(key).empty()) std::abort();

    // Only unencrypted keys are opened: scrypt on fuzzed limits would only
    // measure the machine.
    SecretKeyFile file;
    if (ParseSecretKey(text, file, &reason) && !file.encrypted) {
        SecretKey secret;
        if (OpenSecretKey(file, "", secret, &reason) && PublicKeyOf(secret).keyId != secret.keyId) {
            std::abort();
        }
    }

    // A fixed key whose id is the one of the signature, so that every check
    // after the id is reached; the signed data is the text itself.
    SignatureFile signature;
    if (ParseSignatureFile(text, signature, &reason)) {
        if (sodium_init() < 0) std::abort();
        unsigned char seed[32] = {};
        unsigned char secretKey[64];
        PublicKey fixed;
        crypto_sign_seed_keypair(fixed.key.data(), secretKey, seed);
        fixed.keyId = signature.keyId;
        reason.clear();
        if (VerifySignature(fixed, text, text, &reason) || reason.empty()) std::abort();
    }
    return 0;
}
