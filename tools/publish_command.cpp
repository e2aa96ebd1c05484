// pelmo-tool publish [--codec C] [--sign SECFILE] [--prune] [--jobs N]
//                    --base-url URL RELEASES_DIR OUT_DIR
// pelmo-tool publish check --installed N [-p PUBFILE] ADDRESS
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/publish_check.h"
#include "tools/release_publisher.h"
#include "tools/release_tree.h"

namespace pelmo::tools {

namespace {

constexpr const char* USAGE =
    "usage: pelmo-tool publish [--codec lzx:21|mszip|quantum:N|none] [--sign SECFILE]\n"
    "                          [--prune] [--jobs N] --base-url URL RELEASES_DIR OUT_DIR\n"
    "       pelmo-tool publish check --installed N [-p PUBFILE] ADDRESS\n"
    "  publish  packs each version folder RELEASES_DIR/N into OUT_DIR/N.cab (only those\n"
    "           changed since the last run) and writes OUT_DIR/versions.xml, signed\n"
    "           with --sign; --prune drops versions whose folder is gone\n"
    "  check    fetches the manifest at ADDRESS and every package a client at version\n"
    "           N would get, and checks them as that client would, without installing\n";

int Usage() {
    std::fputs(USAGE, stderr);
    return 2;
}

int Publish(const Args& args) {
    PublishOptions options;
    if (!ParseCodec("lzx:21", &options.codec)) return 2;
    std::vector<std::string> folders;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--codec" && hasValue) {
            if (!ParseCodec(args[++i], &options.codec)) {
                std::fprintf(stderr, "pelmo-tool publish: unknown codec '%s' (%s)\n",
                             args[i].c_str(), CODEC_NAMES);
                return 2;
            }
        } else if (a == "--sign" && hasValue) {
            options.signKeyFile = args[++i];
        } else if (a == "--base-url" && hasValue) {
            options.baseUrl = args[++i];
        } else if (a == "--jobs" && hasValue) {
            int32_t jobs = 0;
            if (!ParseVersionId(args[++i], jobs) || jobs < 1 || jobs > 256) {
                std::fprintf(stderr, "pelmo-tool publish: --jobs needs 1 to 256\n");
                return 2;
            }
            options.jobs = static_cast<unsigned>(jobs);
        } else if (a == "--prune") {
            options.prune = true;
        } else if (!a.empty() && a[0] != '-') {
            folders.push_back(a);
        } else {
            return Usage();
        }
    }
    if (folders.size() != 2 || options.baseUrl.empty()) return Usage();
    options.releasesDir = folders[0];
    options.outDir = folders[1];
    return PublishRelease(options);
}

}  // namespace

int RunPublishCommand(const Args& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    try {
        if (!args.empty() && args[0] == "check")
            return RunPublishCheck(Args(args.begin() + 1, args.end()));
        return Publish(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelmo-tool publish: %s\n", e.what());
        return 1;
    }
}

}  // namespace pelmo::tools
