#include "tools/manifest_text.h"

#include <cctype>

namespace pelmo::tools {

namespace {

std::string EscapeAttribute(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string ManifestText(const std::string& baseUrl, const std::vector<ManifestVersion>& versions) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<versions SrcPath=\"" +
                       EscapeAttribute(baseUrl) + "\">\n";
    for (const ManifestVersion& v : versions) {
        text += "  <version ID=\"" + std::to_string(v.id) + "\" CABSIZE=\"" +
                std::to_string(v.cabinetBytes) + "\" SHA256=\"" + v.sha256 + "\"/>\n";
    }
    return text + "</versions>\n";
}

bool IsPublishableBaseUrl(const std::string& text) {
    size_t hostStart;
    if (StartsWithNoCase(text, "http://")) {
        hostStart = 7;
    } else if (StartsWithNoCase(text, "https://")) {
        hostStart = 8;
    } else {
        return false;
    }
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F || c == '?' || c == '#') return false;
    return hostStart < text.size() && text[hostStart] != '/';
}

}  // namespace pelmo::tools
