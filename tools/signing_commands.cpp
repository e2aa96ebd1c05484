// pelmo-tool key generate, sign and verify: the publisher's Ed25519 keys and
// detached signatures, in minisign's file formats, so that either tool can
// make or check them.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "trust/key_password.h"
#include "trust/keys.h"
#include "trust/signature.h"
#include "trust/text_file.h"

namespace pelmo::tools {
namespace {

constexpr const char* KEY_USAGE =
    "usage: pelmo-tool key generate [--no-password] [-f] -p PUBFILE -s SECFILE\n"
    "  Makes a key pair. The secret key is encrypted with a password read from the\n"
    "  terminal, or from $PELMO_KEY_PASSWORD, unless --no-password is given. -f\n"
    "  replaces existing files.\n";
constexpr const char* SIGN_USAGE =
    "usage: pelmo-tool sign -s SECFILE [-t \"trusted comment\"] FILE...\n"
    "  Writes FILE.minisig next to each FILE. The key's password comes from the\n"
    "  terminal, or from $PELMO_KEY_PASSWORD.\n";
constexpr const char* VERIFY_USAGE =
    "usage: pelmo-tool verify -p PUBFILE FILE\n"
    "  Checks FILE against FILE.minisig; exit status 1 when it does not verify.\n";

int Usage(const char* usage, const char* problem = nullptr) {
    if (problem != nullptr) std::fprintf(stderr, "pelmo-tool: %s\n", problem);
    std::fputs(usage, stderr);
    return 2;
}

int Fail(const char* command, const std::string& reason) {
    std::fprintf(stderr, "pelmo-tool %s: %s\n", command, reason.c_str());
    return 1;
}

bool WantsHelp(const Args& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

// Options with a value (-p, -s, -t) and flags; the rest are operands.
struct Options {
    std::string publicKeyPath, secretKeyPath, trustedComment;
    bool noPassword = false, force = false;
    std::vector<std::string> operands;
};

bool ParseOptions(const Args& args, std::string_view allowed, Options& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string* value = nullptr;
        if (arg == "-p") value = &options.publicKeyPath;
        if (arg == "-s") value = &options.secretKeyPath;
        if (arg == "-t") value = &options.trustedComment;
        const bool known = value != nullptr || arg == "--no-password" || arg == "-f";
        if (known && allowed.find(arg) == std::string_view::npos) return false;
        if (value != nullptr) {
            if (++i >= args.size()) return false;
            *value = args[i];
        } else if (arg == "--no-password") {
            options.noPassword = true;
        } else if (arg == "-f") {
            options.force = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else {
            options.operands.push_back(arg);
        }
    }
    return true;
}

int RunKeyGenerate(const Options& options) {
    if (options.publicKeyPath.empty() || options.secretKeyPath.empty()) {
        return Usage(KEY_USAGE, "key generate needs -p and -s");
    }
    std::string password;
    std::string reason;
    if (!options.noPassword &&
        !trust::ReadKeyPassword("Password for the new secret key: ", true, password, &reason)) {
        return Fail("key", reason);
    }
    // Only once the new pair can be made are the old files given up.
    if (options.force) {
        std::remove(options.publicKeyPath.c_str());
        std::remove(options.secretKeyPath.c_str());
    }
    trust::PublicKey publicKey;
    trust::SecretKey secretKey;
    trust::GenerateKeyPair(publicKey, secretKey);
    if (!trust::WriteSecretKeyFile(options.secretKeyPath, secretKey,
                                   options.noPassword ? nullptr : &password, &reason)) {
        return Fail("key", reason);
    }
    if (!trust::WritePublicKeyFile(options.publicKeyPath, publicKey, &reason)) {
        std::remove(options.secretKeyPath.c_str());  // half a pair is of no use
        return Fail("key", reason);
    }
    std::printf("key id %s\nsecret key: %s (keep it secret)\npublic key: %s\n",
                trust::KeyIdText(publicKey.keyId).c_str(), options.secretKeyPath.c_str(),
                options.publicKeyPath.c_str());
    return 0;
}

}  // namespace

int RunKeyCommand(const Args& args) {
    if (WantsHelp(args)) return std::fputs(KEY_USAGE, stdout), 0;
    Options options;
    if (args.empty() || args[0] != "generate" ||
        !ParseOptions(Args(args.begin() + 1, args.end()), "-p -s --no-password -f", options) ||
        !options.operands.empty()) {
        return Usage(KEY_USAGE);
    }
    return RunKeyGenerate(options);
}

int RunSignCommand(const Args& args) {
    if (WantsHelp(args)) return std::fputs(SIGN_USAGE, stdout), 0;
    Options options;
    if (!ParseOptions(args, "-s -t", options) || options.secretKeyPath.empty() ||
        options.operands.empty()) {
        return Usage(SIGN_USAGE);
    }
    trust::SecretKey key;
    std::string reason;
    if (!trust::LoadSecretKeyFile(options.secretKeyPath, key, &reason)) return Fail("sign", reason);
    for (const std::string& file : options.operands) {
        if (!trust::SignFile(key, file, options.trustedComment, &reason)) {
            return Fail("sign", reason);
        }
        std::printf("signed %s -> %s%s\n", file.c_str(), file.c_str(),
                    std::string(trust::SIGNATURE_SUFFIX).c_str());
    }
    return 0;
}

int RunVerifyCommand(const Args& args) {
    if (WantsHelp(args)) return std::fputs(VERIFY_USAGE, stdout), 0;
    Options options;
    if (!ParseOptions(args, "-p", options) || options.publicKeyPath.empty() ||
        options.operands.size() != 1) {
        return Usage(VERIFY_USAGE);
    }
    const std::string& file = options.operands[0];
    trust::PublicKey key;
    std::string signature;
    std::string comment;
    std::string reason;
    if (!trust::LoadPublicKeyFile(options.publicKeyPath, key, &reason) ||
        !trust::ReadTextFile(file + std::string(trust::SIGNATURE_SUFFIX),
                             trust::MAX_SIGNATURE_FILE_BYTES, signature, &reason) ||
        !trust::VerifyFileSignature(key, file, signature, &reason, &comment)) {
        return Fail("verify", file + ": " + reason);
    }
    std::printf("verified: %s\ntrusted comment: %s\n", file.c_str(), comment.c_str());
    return 0;
}

}  // namespace pelmo::tools
