#include "settings/manifest.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>

#include "settings/manifest_encoding.h"

namespace pelmo {
namespace {

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
}

const char* KindName(pugi::xml_node_type type) {
    switch (type) {
        case pugi::node_pcdata:
            return "text";
        case pugi::node_cdata:
            return "a CDATA section";
        case pugi::node_comment:
            return "a comment";
        case pugi::node_pi:
            return "a processing instruction";
        case pugi::node_declaration:
            return "an XML declaration";
        case pugi::node_doctype:
            return "a document type declaration";
        default:
            return "an element";
    }
}

// XML allows only one element, and no text, at the top level; the declaration
// comes first and the document type declaration before the root. The parser
// is lenient about these, so they are checked here.
bool TopLevelIsWellFormed(const pugi::xml_document& document, std::string* reason) {
    int elements = 0;
    bool first = true;
    for (const pugi::xml_node& node : document.children()) {
        switch (node.type()) {
            case pugi::node_element:
                ++elements;
                break;
            case pugi::node_declaration:
                if (!first) {
                    SetReason(reason, "not well-formed XML: an XML declaration after the start");
                    return false;
                }
                break;
            case pugi::node_doctype:
                if (elements > 0) {
                    SetReason(reason,
                              "not well-formed XML: a document type declaration after "
                              "the root element");
                    return false;
                }
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                SetReason(reason, "not well-formed XML: text outside the root element");
                return false;
            default:
                break;
        }
        first = false;
    }
    if (elements != 1) {
        SetReason(reason, elements == 0 ? "not well-formed XML: no root element"
                                        : "not well-formed XML: more than one root element");
        return false;
    }
    return true;
}

// A kept entry's "SHA256": absent (empty) unless required, else 64
// hexadecimal digits, kept in lower case.
bool ReadPackageHash(const pugi::xml_node& version, int32_t id, bool required, std::string& hash,
                     std::string* reason) {
    const pugi::xml_attribute attribute = version.attribute("SHA256");
    hash = attribute.value();
    const std::string where = "version " + std::to_string(id) + ": ";
    if (!attribute) {
        if (required) SetReason(reason, where + "no SHA256, and the client requires one");
        return !required;
    }
    bool valid = hash.size() == 64;
    for (char& c : hash) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        valid = valid && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
    }
    if (!valid) SetReason(reason, where + "SHA256 is not 64 hexadecimal digits");
    return valid;
}

}  // namespace

int32_t ReadDecimal(const char* text) {
    if (text == nullptr) return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > INT64_C(1) << 32) value = INT64_C(1) << 32;  // saturates below
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

bool HasNewerVersion(int32_t installedVersion, int32_t latestVersion) {
    return latestVersion > installedVersion;
}

int ReadManifest(std::string_view bytes, int32_t threshold, ManifestState& state,
                 std::string* reason, bool requireHashes) {
    try {
        pugi::xml_document document;
        if (!LoadManifestDocument(bytes, document, reason)) return 0;
        if (!TopLevelIsWellFormed(document, reason)) return 0;

        // The root is the second top-level node: exactly one node, in practice
        // the XML declaration, stands before it.
        const pugi::xml_node root = document.first_child().next_sibling();
        if (root.type() != pugi::node_element) {
            SetReason(reason, root ? std::string("the second top-level node is ") +
                                         KindName(root.type()) + ", not the root element"
                                   : "the root element is not the second top-level node");
            return 0;
        }
        if (std::strcmp(root.name(), "versions") != 0) {
            SetReason(reason,
                      std::string("the root element is '") + root.name() + "', not 'versions'");
            return 0;
        }
        state.packageBaseUrl = root.attribute("SrcPath").value();

        uint32_t total = static_cast<uint32_t>(state.totalDownloadBytes);
        for (const pugi::xml_node& child : root.children()) {
            if (child.type() != pugi::node_element) {
                state.totalDownloadBytes = static_cast<int32_t>(total);
                SetReason(reason, std::string("the root element holds ") + KindName(child.type()) +
                                      "; only elements may stand there");
                return 0;
            }
            if (std::strcmp(child.name(), "version") != 0) continue;
            const int32_t id = ReadDecimal(child.attribute("ID").value());
            if (id <= threshold) continue;
            const int32_t size = ReadDecimal(child.attribute("CABSIZE").value());
            std::string hash;
            if (!ReadPackageHash(child, id, requireHashes, hash, reason)) {
                state.totalDownloadBytes = static_cast<int32_t>(total);
                state.trustFailed = true;
                return 0;
            }
            state.versions.push_back(VersionEntry{id, size, std::move(hash)});
            if (id > state.latestVersion) state.latestVersion = id;
            total += static_cast<uint32_t>(size);  // 32-bit sum, wraps like the counter
        }
        state.totalDownloadBytes = static_cast<int32_t>(total);
        std::stable_sort(state.versions.begin(), state.versions.end(),
                         [](const VersionEntry& a, const VersionEntry& b) { return a.id < b.id; });
        return 1;
    } catch (...) {
        SetReason(reason, "out of memory");
        return 0;
    }
}

int FetchManifest(ManifestState& state, const ManifestSettings& settings,
                  const TransferOptions& options, std::string* reason) {
    try {
        state.versions.clear();
        state.totalDownloadBytes = 0;
        state.completedPackageBytes = 0;
        state.trustFailed = false;
        const int32_t installed =
            settings.readInstalledVersion ? settings.readInstalledVersion() : 0;
        state.installedVersion = installed;
        state.latestVersion = installed;

        const std::string address =
            settings.readManifestAddress ? settings.readManifestAddress() : std::string();
        if (address.empty()) {
            SetReason(reason, "no manifest address is set");
            return 0;
        }
        std::string bytes;
        const TransferResult fetched = FetchToMemory(address, MAX_MANIFEST_BYTES, bytes, options);
        if (!fetched.ok) {
            SetReason(reason, "cannot fetch " + address + ": " + fetched.error);
            return 0;
        }
        // The bytes that were checked are the bytes that are parsed.
        if (settings.verifyDocument && !settings.verifyDocument(address, bytes, reason)) {
            state.trustFailed = true;
            return 0;
        }
        // The threshold is read again after the load: the settings may have
        // changed meanwhile.
        const int32_t threshold =
            settings.readInstalledVersion ? settings.readInstalledVersion() : 0;
        return ReadManifest(bytes, threshold, state, reason, settings.requirePackageHashes);
    } catch (...) {
        SetReason(reason, "out of memory");
        return 0;
    }
}

}  // namespace pelmo
