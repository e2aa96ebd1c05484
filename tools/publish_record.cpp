#include "tools/publish_record.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tools/release_tree.h"

namespace pelmo::tools {

namespace {

constexpr const char* HEADER = "pelmo-publish 1";

bool IsHexDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

std::vector<PublishedVersion> ReadPublishRecord(const std::string& outDir) {
    std::ifstream in(outDir + "/" + PUBLISH_RECORD_NAME);
    std::string line;
    if (!std::getline(in, line) || line != HEADER) return {};
    std::vector<PublishedVersion> versions;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id;
        PublishedVersion v;
        if (!(fields >> id >> v.treeDigest >> v.codec >> v.files >> v.contentBytes >>
              v.cabinetBytes >> v.sha256) ||
            !ParseVersionId(id, v.id) || !IsHexDigest(v.treeDigest) || !IsHexDigest(v.sha256))
            return {};
        versions.push_back(v);
    }
    std::sort(versions.begin(), versions.end(),
              [](const PublishedVersion& a, const PublishedVersion& b) { return a.id < b.id; });
    return versions;
}

std::string PublishRecordText(const std::vector<PublishedVersion>& versions) {
    std::string text = std::string(HEADER) + "\n";
    for (const PublishedVersion& v : versions) {
        text += std::to_string(v.id) + ' ' + v.treeDigest + ' ' + v.codec + ' ' +
                std::to_string(v.files) + ' ' + std::to_string(v.contentBytes) + ' ' +
                std::to_string(v.cabinetBytes) + ' ' + v.sha256 + '\n';
    }
    return text;
}

}  // namespace pelmo::tools
