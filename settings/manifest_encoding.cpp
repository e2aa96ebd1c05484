#include "settings/manifest_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>

#include "settings/xml_well_formed.h"

namespace pelmo {
namespace {

// Every node kind the manifest rules look at becomes a node; parse_fragment
// keeps text outside the root as nodes too, so that it can be refused.
constexpr unsigned PARSE_FLAGS = pugi::parse_default | pugi::parse_declaration |
                                 pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype |
                                 pugi::parse_cdata | pugi::parse_fragment;

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A byte order mark, or the first characters "<?" in a 16- or 32-bit form:
// the encoding the document is read in, and the length of the mark.
struct Mark {
    std::string_view bytes;
    const char* encoding;
    std::size_t length;
};
const Mark* FindMark(std::string_view bytes) {
    static const Mark MARKS[] = {
        {std::string_view("\xEF\xBB\xBF", 3), "UTF-8", 3},
        {std::string_view("\xFF\xFE\0\0", 4), "UTF-32LE", 4},
        {std::string_view("\0\0\xFE\xFF", 4), "UTF-32BE", 4},
        {std::string_view("\xFF\xFE", 2), "UTF-16LE", 2},
        {std::string_view("\xFE\xFF", 2), "UTF-16BE", 2},
        {std::string_view("\0<\0?", 4), "UTF-16BE", 0},
        {std::string_view("<\0?\0", 4), "UTF-16LE", 0},
        {std::string_view("\0\0\0<", 4), "UTF-32BE", 0},
        {std::string_view("<\0\0\0", 4), "UTF-32LE", 0},
    };
    for (const Mark& mark : MARKS) {
        if (StartsWith(bytes, mark.bytes)) return &mark;
    }
    return nullptr;
}

// Converts bytes from the named encoding to UTF-8; false on an unknown
// encoding or bytes that are not valid in it.
bool ConvertToUtf8(std::string_view bytes, const std::string& encoding, std::string& utf8,
                   std::string* reason) {
    iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        SetReason(reason, "unsupported encoding '" + encoding + "'");
        return false;
    }
    utf8.assign(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t used = 0;
    bool ok = true;
    while (inLeft > 0) {
        char* out = utf8.data() + used;
        std::size_t outLeft = utf8.size() - used;
        const std::size_t rc = iconv(converter, &in, &inLeft, &out, &outLeft);
        used = utf8.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) {
            utf8.resize(utf8.size() * 2);
            continue;
        }
        SetReason(reason, "bytes that are not valid " + encoding + " at offset " +
                              std::to_string(bytes.size() - inLeft));
        ok = false;
        break;
    }
    iconv_close(converter);
    utf8.resize(ok ? used : 0);
    return ok;
}

// The parser does not insist on unique attribute names; XML does.
bool HasDuplicateAttributes(const pugi::xml_node& root) {
    struct Walker : pugi::xml_tree_walker {
        bool duplicate = false;
        bool for_each(pugi::xml_node& node) override {
            if (node.type() != pugi::node_element || !node.first_attribute()) return true;
            if (!node.first_attribute().next_attribute()) return true;
            std::set<std::string_view> names;
            for (const pugi::xml_attribute& attribute : node.attributes()) {
                if (!names.insert(attribute.name()).second) {
                    duplicate = true;
                    return false;
                }
            }
            return true;
        }
    } walker;
    pugi::xml_node start = root;
    start.traverse(walker);
    return walker.duplicate;
}

}  // namespace

std::string DeclaredEncoding(std::string_view bytes) {
    if (!StartsWith(bytes, "<?xml") || bytes.size() < 6 || !IsXmlSpace(bytes[5])) return "";
    const std::size_t end = bytes.find("?>");
    const std::string_view declaration = bytes.substr(0, end);
    std::size_t at = 5;
    while ((at = declaration.find("encoding", at)) != std::string_view::npos) {
        if (!IsXmlSpace(declaration[at - 1])) {
            at += 8;
            continue;
        }
        std::size_t i = at + 8;
        while (i < declaration.size() && IsXmlSpace(declaration[i])) ++i;
        if (i >= declaration.size() || declaration[i] != '=') return "";
        ++i;
        while (i < declaration.size() && IsXmlSpace(declaration[i])) ++i;
        if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return "";
        const char quote = declaration[i];
        const std::size_t close = declaration.find(quote, i + 1);
        if (close == std::string_view::npos) return "";
        return std::string(declaration.substr(i + 1, close - i - 1));
    }
    return "";
}

namespace {

// The document as UTF-8 text, without a byte order mark: `bytes` itself
// when it is UTF-8 already, else converted into `converted`.
bool ToUtf8(std::string_view bytes, std::string& converted, std::string_view& text,
            std::string* reason) {
    std::string encoding;
    if (const Mark* mark = FindMark(bytes)) {
        bytes.remove_prefix(mark->length);
        encoding = mark->encoding;
    } else {
        encoding = Lower(DeclaredEncoding(bytes));
        if (encoding.rfind("utf-16", 0) == 0 || encoding.rfind("utf-32", 0) == 0 ||
            encoding.rfind("ucs", 0) == 0) {
            SetReason(reason, "declares " + encoding + " but has no byte order mark");
            return false;
        }
        // GBK and GB2312 documents often hold characters of the larger code
        // page: read all three as GB18030, which contains both.
        if (encoding == "gbk" || encoding == "gb2312" || encoding == "gb18030" ||
            encoding == "cp936") {
            encoding = "GB18030";
        }
    }
    if (encoding.empty() || encoding == "UTF-8" || encoding == "utf-8" || encoding == "utf8") {
        text = bytes;
        return true;
    }
    if (!ConvertToUtf8(bytes, encoding, converted, reason)) return false;
    text = converted;
    return true;
}

}  // namespace

bool LoadManifestDocument(std::string_view bytes, pugi::xml_document& document,
                          std::string* reason) {
    std::string converted;
    std::string_view text;
    if (!ToUtf8(bytes, converted, text, reason)) return false;
    if (!IsXmlUtf8(text, reason) || !IsWellFormedXmlText(text, reason)) return false;
    const pugi::xml_parse_result parsed =
        document.load_buffer(text.data(), text.size(), PARSE_FLAGS, pugi::encoding_utf8);
    if (!parsed) {
        SetReason(reason, std::string("not well-formed XML: ") + parsed.description() +
                              " at line " +
                              std::to_string(LineAt(text, static_cast<std::size_t>(parsed.offset))));
        return false;
    }
    if (HasDuplicateAttributes(document)) {
        SetReason(reason, "not well-formed XML: an attribute appears twice in one element");
        return false;
    }
    return true;
}

}  // namespace pelmo
