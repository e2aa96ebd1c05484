// Keys and signatures cross between the minisign program and ours in both
// directions: made by one, checked (and used) by the other.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/file_contents.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shell_command.h"
#include "trust/keys.h"
#include "trust/signature.h"

namespace pelmo::trust {
namespace {

using testing::ReadWholeFile;
using testing::RunShell;
using testing::ScratchFolder;
using testing::ShellOutcome;

const std::string TOOL = PELMO_BINARY_DIR "/tools/pelmo-tool";

class MinisignInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        ::unsetenv("PELMO_KEY_PASSWORD");
        data_ = folder_.Write("data.bin", std::string(300000, 'x') + "payload");
    }
    void TearDown() override { ::unsetenv("PELMO_KEY_PASSWORD"); }
    std::string In(const std::string& command) { return "cd " + folder_.path() + " && " + command; }

    ScratchFolder folder_;
    std::string data_;
};

TEST_F(MinisignInterop, MinisignKeysAndSignaturesVerifyHere) {
    ASSERT_EQ(RunShell(In("minisign -G -W -p m.pub -s m.key")).status, 0);
    ASSERT_EQ(RunShell(In("minisign -S -W -s m.key -t 'release 7' -m data.bin")).status, 0);
    ASSERT_EQ(RunShell(In("minisign -S -W -l -s m.key -m data.bin -x legacy.minisig")).status, 0);

    PublicKey key;
    std::string reason;
    ASSERT_TRUE(LoadPublicKeyFile(folder_ / "m.pub", key, &reason)) << reason;
    const std::string hashed = ReadWholeFile(data_ + ".minisig");
    const std::string legacy = ReadWholeFile(folder_ / "legacy.minisig");
    const std::string bytes = ReadWholeFile(data_);
    std::string comment;
    EXPECT_TRUE(VerifyFileSignature(key, data_, hashed, &reason, &comment)) << reason;
    EXPECT_EQ(comment, "release 7");
    EXPECT_TRUE(VerifyFileSignature(key, data_, legacy, &reason)) << reason;
    EXPECT_TRUE(VerifySignature(key, bytes, hashed, &reason)) << reason;
    EXPECT_TRUE(VerifySignature(key, bytes, legacy, &reason)) << reason;

    // One changed byte of the data, of the trusted comment, or another key.
    std::string changed = bytes;
    changed[1000] ^= 1;
    for (const std::string& signature : {hashed, legacy}) {
        EXPECT_FALSE(VerifySignature(key, changed, signature, &reason));
        EXPECT_NE(reason.find("bad signature"), std::string::npos) << reason;
    }
    std::string recommented = hashed;
    recommented.replace(recommented.find("release 7"), 9, "release 8");
    EXPECT_FALSE(VerifySignature(key, bytes, recommented, &reason));
    EXPECT_NE(reason.find("trusted comment"), std::string::npos) << reason;
    PublicKey other;
    SecretKey otherSecret;
    GenerateKeyPair(other, otherSecret);
    EXPECT_FALSE(VerifySignature(other, bytes, hashed, &reason));
    EXPECT_EQ(reason, "key id mismatch: signed with key " + KeyIdText(key.keyId) +
                          ", the trusted key is " + KeyIdText(other.keyId));

    // minisign's unencrypted secret key signs here, and minisign accepts it.
    SecretKey secret;
    ASSERT_TRUE(LoadSecretKeyFile(folder_ / "m.key", secret, &reason)) << reason;
    ASSERT_TRUE(SignFile(secret, data_, "", &reason)) << reason;
    const ShellOutcome checked = RunShell(In("minisign -V -p m.pub -m data.bin"));
    EXPECT_EQ(checked.status, 0) << checked.output;
    EXPECT_NE(checked.output.find("file:data.bin"), std::string::npos) << checked.output;
}

TEST_F(MinisignInterop, OurKeysAndSignaturesVerifyWithMinisign) {
    ASSERT_EQ(RunShell(In(TOOL + " key generate --no-password -p p.pub -s p.key")).status, 0);
    folder_.Write("second.txt", "second");
    const ShellOutcome signedBoth =
        RunShell(In(TOOL + " sign -s p.key -t 'build 42' data.bin second.txt"));
    ASSERT_EQ(signedBoth.status, 0) << signedBoth.output;
    for (const char* name : {"data.bin", "second.txt"}) {
        const ShellOutcome checked = RunShell(In(std::string("minisign -V -p p.pub -m ") + name));
        EXPECT_EQ(checked.status, 0) << checked.output;
        EXPECT_NE(checked.output.find("Trusted comment: build 42"), std::string::npos);
    }
    // minisign signs with our secret key; pelmo-tool verify checks it.
    ASSERT_EQ(RunShell(In("minisign -S -W -s p.key -m second.txt")).status, 0);
    EXPECT_EQ(RunShell(In(TOOL + " verify -p p.pub second.txt")).status, 0);
    folder_.Write("second.txt", "Second");
    const ShellOutcome tampered = RunShell(In(TOOL + " verify -p p.pub second.txt"));
    EXPECT_EQ(tampered.status, 1);
    EXPECT_NE(tampered.output.find("bad signature"), std::string::npos) << tampered.output;
    // An existing key file is never overwritten by accident.
    EXPECT_NE(RunShell(In(TOOL + " key generate --no-password -p p.pub -s p2.key")).status, 0);
    EXPECT_EQ(ReadWholeFile(folder_ / "p2.key"), "");
}

// Password-protected keys (scrypt with minisign's own limits: a few seconds each).
TEST_F(MinisignInterop, PasswordProtectedKeysBothWays) {
    ASSERT_EQ(RunShell(In("printf 'pw1\\npw1\\n' | minisign -G -p m.pub -s m.key")).status, 0);
    ASSERT_EQ(RunShell(In("PELMO_KEY_PASSWORD=pw1 " + TOOL + " sign -s m.key data.bin")).status, 0);
    EXPECT_EQ(RunShell(In("minisign -V -p m.pub -m data.bin")).status, 0);

    ASSERT_EQ(
        RunShell(In("PELMO_KEY_PASSWORD=pw2 " + TOOL + " key generate -p p.pub -s p.key")).status,
        0);
    const ShellOutcome minisigned =
        RunShell(In("printf 'pw2\\n' | minisign -S -s p.key -m data.bin"));
    ASSERT_EQ(minisigned.status, 0) << minisigned.output;
    EXPECT_EQ(RunShell(In(TOOL + " verify -p p.pub data.bin")).status, 0);
}

}  // namespace
}  // namespace pelmo::trust
