// Parsing of key and signature files that are damaged or hostile, and the
// SHA-256 used for packages.
#include <gtest/gtest.h>
#include <sodium.h>

#include <cstdint>
#include <cstring>

#include "tests/support/scratch_folder.h"
#include "trust/key_text.h"
#include "trust/keys.h"
#include "trust/sha256.h"
#include "trust/signature.h"

namespace pelmo::trust {
namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

TEST(TrustFormats, DamagedSignatureFilesAreRefusedWithAReason) {
    PublicKey key;
    SecretKey secret;
    GenerateKeyPair(key, secret);
    std::string good;
    std::string reason;
    ASSERT_TRUE(SignData(secret, "manifest", "m.xml", "c", good, &reason));
    ASSERT_TRUE(VerifySignature(key, "manifest", good, &reason)) << reason;
    // Windows line ends and a missing final line end still read.
    std::string crlf = Replace(Replace(good, "\n", "\r\n"), "\n", "\r\n");
    EXPECT_TRUE(VerifySignature(key, "manifest", crlf, &reason)) << reason;
    EXPECT_TRUE(VerifySignature(key, "manifest", good.substr(0, good.size() - 1), &reason));

    SignatureFile parsed;
    ASSERT_TRUE(ParseSignatureFile(good, parsed, &reason));
    SignatureFile unknown = parsed;
    unknown.algorithm = {'E', 'X'};
    const std::string bad[] = {
        "",
        good.substr(0, good.rfind("trusted comment")),
        Replace(good, "untrusted comment: ", "comment: "),
        Replace(good, "trusted comment: c", "trusted: c"),
        Replace(good, "\nRU", "\nRUU"),  // one base64 character too many
        Replace(good, "\nRU", "\n*U"),
        good + "extra line\n",
        FormatSignatureFile(unknown),
    };
    for (const std::string& text : bad) {
        reason.clear();
        EXPECT_FALSE(VerifySignature(key, "manifest", text, &reason)) << text;
        EXPECT_FALSE(reason.empty());
    }
}

TEST(TrustFormats, DamagedKeyFilesAreRefused) {
    PublicKey key;
    SecretKey secret;
    GenerateKeyPair(key, secret);
    const std::string publicText = FormatPublicKey(key);
    PublicKey parsed;
    std::string reason;
    ASSERT_TRUE(ParsePublicKey(publicText, parsed, &reason));
    EXPECT_EQ(parsed.key, key.key);
    EXPECT_EQ(parsed.keyId, key.keyId);
    for (const std::string& text :
         {std::string("not a key"), publicText.substr(0, publicText.size() - 6),
          Replace(publicText, "\nRW", "\nRX"), publicText + publicText}) {
        EXPECT_FALSE(ParsePublicKey(text, parsed, &reason)) << text;
    }

    std::string secretText;
    ASSERT_TRUE(FormatSecretKey(secret, nullptr, secretText, &reason));
    SecretKeyFile file;
    ASSERT_TRUE(ParseSecretKey(secretText, file, &reason));
    SecretKey opened;
    ASSERT_TRUE(OpenSecretKey(file, "", opened, &reason)) << reason;
    EXPECT_EQ(opened.key, secret.key);
    // A flipped key bit fails the checksum.
    file.keyPart[20] ^= 1;
    EXPECT_FALSE(OpenSecretKey(file, "", opened, &reason));
    // The password decrypts; another one is told apart by the checksum.
    const std::string password = "pw";
    const PasswordLimits quick = {crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_INTERACTIVE,
                                  crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_INTERACTIVE};
    ASSERT_TRUE(FormatSecretKey(secret, &password, secretText, &reason, quick));
    ASSERT_TRUE(ParseSecretKey(secretText, file, &reason));
    EXPECT_TRUE(file.encrypted);
    EXPECT_FALSE(OpenSecretKey(file, "pW", opened, &reason));
    EXPECT_EQ(reason, "wrong password for the secret key");
    ASSERT_TRUE(OpenSecretKey(file, password, opened, &reason)) << reason;
    EXPECT_EQ(opened.key, secret.key);
    // An encrypted key that asks for absurd scrypt limits is refused before
    // anything is derived.
    unsigned char raw[158];
    const std::size_t start = secretText.find('\n') + 1;
    ASSERT_TRUE(DecodeBase64(secretText.substr(start, secretText.size() - start - 1), raw, 158));
    std::memcpy(raw + 2, "Sc", 2);
    std::memset(raw + 46, 0xff, 8);  // memory limit
    EXPECT_FALSE(ParseSecretKey("untrusted comment: x\n" + EncodeBase64(raw, 158), file, &reason));
    EXPECT_NE(reason.find("limits"), std::string::npos) << reason;
}

TEST(TrustFormats, Sha256InPiecesAndOfAFile) {
    Sha256 abc;
    abc.Update("a", 1);
    abc.Update("bc", 2);
    EXPECT_EQ(abc.FinishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    testing::ScratchFolder folder;
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 9));
    const std::string path = folder.Write("big", big);
    Sha256 whole;
    whole.Update(big.data(), big.size());
    std::string hex;
    std::string reason;
    ASSERT_TRUE(Sha256OfFile(path, hex, &reason)) << reason;
    EXPECT_EQ(hex, whole.FinishHex());
    EXPECT_TRUE(IsSha256Hex(hex));
    EXPECT_FALSE(IsSha256Hex(hex.substr(1)));
    EXPECT_FALSE(IsSha256Hex(Replace(hex, hex.substr(0, 1), "g")));
    EXPECT_FALSE(Sha256OfFile(folder / "missing", hex, &reason));
}

}  // namespace
}  // namespace pelmo::trust
