#include "settings/xml_well_formed.h"

#include <algorithm>
#include <cstdint>

namespace pelmo {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// Bytes of non-ASCII characters count as name characters; UTF-8 validity is
// checked apart.
bool IsNameStart(char c) {
    return IsAsciiLetter(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.'; }

bool IsXmlChar(uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

class Checker {
  public:
    Checker(std::string_view text, std::string* reason) : text_(text), reason_(reason) {}

    bool Run() {
        if (StartsWith(0, "<?xml") && text_.size() > 5 && (IsSpace(text_[5]) || text_[5] == '?')) {
            if (!Declaration()) return false;
        }
        while (at_ < text_.size()) {
            const char c = text_[at_];
            bool ok = true;
            if (c == '<') {
                ok = Markup();
            } else if (c == '&') {
                ok = Reference();
            } else if (c == ']' && StartsWith(at_, "]]>")) {
                ok = Fail(at_, "']]>' in text");
            } else {
                ++at_;
            }
            if (!ok) return false;
        }
        return true;
    }

  private:
    bool StartsWith(std::size_t at, std::string_view prefix) const {
        return text_.substr(at, prefix.size()) == prefix;
    }

    bool Fail(std::size_t at, const std::string& rule) {
        if (reason_ != nullptr) {
            *reason_ = "not well-formed XML: " + rule + " at line " +
                       std::to_string(LineAt(text_, at));
        }
        return false;
    }

    // The end of a construct, past `terminator`; npos leaves an unterminated
    // construct to the parser, which refuses it.
    std::size_t Past(std::size_t from, std::string_view terminator) const {
        const std::size_t end = text_.find(terminator, from);
        return end == std::string_view::npos ? text_.size() : end + terminator.size();
    }

    // version first and required, then encoding, then standalone.
    bool Declaration() {
        const std::size_t end = text_.find("?>");
        if (end == std::string_view::npos) return true;
        static constexpr std::string_view ORDER[] = {"version", "encoding", "standalone"};
        std::size_t next = 0;  // index into ORDER of the next allowed name
        std::size_t i = 5;
        while (true) {
            const std::size_t spaceStart = i;
            while (i < end && IsSpace(text_[i])) ++i;
            if (i == end) break;
            if (i == spaceStart) return Fail(i, "no space between the XML declaration's items");
            const std::size_t nameStart = i;
            while (i < end && IsAsciiLetter(text_[i])) ++i;
            const std::string_view name = text_.substr(nameStart, i - nameStart);
            const auto found = std::find(std::begin(ORDER) + next, std::end(ORDER), name);
            if (found == std::end(ORDER)) {
                return Fail(nameStart, "'" + std::string(name) +
                                           "' is not allowed there in the XML declaration");
            }
            if (found != std::begin(ORDER) && next == 0) {
                return Fail(nameStart, "the XML declaration has no version");
            }
            next = static_cast<std::size_t>(found - std::begin(ORDER)) + 1;
            while (i < end && IsSpace(text_[i])) ++i;
            if (i == end || text_[i] != '=') return Fail(i, "'=' missing in the XML declaration");
            ++i;
            while (i < end && IsSpace(text_[i])) ++i;
            if (i == end || (text_[i] != '"' && text_[i] != '\'')) {
                return Fail(i, "an unquoted value in the XML declaration");
            }
            const std::size_t close = text_.find(text_[i], i + 1);
            if (close == std::string_view::npos || close > end) {
                return Fail(i, "an unterminated value in the XML declaration");
            }
            const std::string_view value = text_.substr(i + 1, close - i - 1);
            if (!DeclarationValue(*found, value)) {
                return Fail(i, "'" + std::string(value) + "' is not a valid " +
                                   std::string(*found) + " in the XML declaration");
            }
            i = close + 1;
        }
        if (next == 0) return Fail(0, "the XML declaration has no version");
        at_ = end + 2;
        return true;
    }

    static bool DeclarationValue(std::string_view name, std::string_view value) {
        if (name == "version") {
            return value.size() > 2 && value.substr(0, 2) == "1." &&
                   std::all_of(value.begin() + 2, value.end(), IsDigit);
        }
        if (name == "standalone") return value == "yes" || value == "no";
        return !value.empty() && IsAsciiLetter(value[0]) &&
               std::all_of(value.begin(), value.end(), [](char c) {
                   return IsAsciiLetter(c) || IsDigit(c) || c == '.' || c == '_' || c == '-';
               });
    }

    bool Markup() {
        if (StartsWith(at_, "<!--")) return Comment();
        if (StartsWith(at_, "<![CDATA[")) {
            at_ = Past(at_ + 9, "]]>");
            return true;
        }
        if (StartsWith(at_, "<!DOCTYPE")) return DocumentType();
        if (StartsWith(at_, "<?")) return ProcessingInstruction();
        return Tag();
    }

    bool Comment() {
        const std::size_t start = at_;
        const std::size_t end = text_.find("-->", start + 4);
        if (end == std::string_view::npos) {
            at_ = text_.size();
            return true;
        }
        const std::string_view body = text_.substr(start + 4, end - start - 4);
        if (body.find("--") != std::string_view::npos || (!body.empty() && body.back() == '-')) {
            return Fail(start, "'--' inside a comment");
        }
        at_ = end + 3;
        return true;
    }

    bool ProcessingInstruction() {
        const std::size_t start = at_;
        std::size_t i = start + 2;
        while (i < text_.size() && IsNameChar(text_[i])) ++i;
        const std::string_view target = text_.substr(start + 2, i - start - 2);
        if (Lower(target) == "xml") {
            return Fail(start, "an XML declaration ('<?" + std::string(target) +
                                   "') that does not open the document in lower case");
        }
        at_ = Past(i, "?>");
        return true;
    }

    // Skips the declaration, its internal subset included; entity
    // declarations are refused: entities are never expanded.
    bool DocumentType() {
        char quote = 0;
        bool subset = false;
        for (std::size_t i = at_ + 9; i < text_.size(); ++i) {
            const char c = text_[i];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (subset && StartsWith(i, "<!--")) {
                i = Past(i + 4, "-->") - 1;
            } else if (subset && StartsWith(i, "<!ENTITY")) {
                return Fail(i, "a document type declaration that declares entities");
            } else if (c == '[') {
                subset = true;
            } else if (c == ']') {
                subset = false;
            } else if (c == '>' && !subset) {
                at_ = i + 1;
                return true;
            }
        }
        at_ = text_.size();
        return true;
    }

    bool Tag() {
        ++at_;
        while (at_ < text_.size() && text_[at_] != '>') {
            const char c = text_[at_];
            if (c != '"' && c != '\'') {
                ++at_;
                continue;
            }
            ++at_;
            while (at_ < text_.size() && text_[at_] != c) {
                if (text_[at_] == '<') return Fail(at_, "'<' inside an attribute value");
                if (text_[at_] == '&') {
                    if (!Reference()) return false;
                } else {
                    ++at_;
                }
            }
            ++at_;
        }
        ++at_;
        return true;
    }

    // At '&': a character reference to an allowed character, or one of the
    // five predefined entities.
    bool Reference() {
        const std::size_t start = at_;
        std::size_t i = start + 1;
        if (i < text_.size() && text_[i] == '#') {
            const bool hex = i + 1 < text_.size() && text_[i + 1] == 'x';
            i += hex ? 2 : 1;
            const std::size_t digits = i;
            uint32_t code = 0;
            while (i < text_.size() && (hex ? IsHexDigit(text_[i]) : IsDigit(text_[i]))) {
                const char d = text_[i++];
                const uint32_t value = IsDigit(d) ? d - '0' : (d | 0x20) - 'a' + 10;
                code = std::min<uint32_t>(code * (hex ? 16 : 10) + value, 0x110000);
            }
            if (i == digits || i >= text_.size() || text_[i] != ';') {
                return Fail(start, "a malformed character reference");
            }
            if (!IsXmlChar(code)) {
                return Fail(start, "a character reference to a character XML does not allow");
            }
            at_ = i + 1;
            return true;
        }
        if (i < text_.size() && IsNameStart(text_[i])) {
            while (i < text_.size() && IsNameChar(text_[i])) ++i;
        }
        if (i == start + 1 || i >= text_.size() || text_[i] != ';') {
            return Fail(start, "'&' that does not begin a reference");
        }
        const std::string_view name = text_.substr(start + 1, i - start - 1);
        if (name != "lt" && name != "gt" && name != "amp" && name != "apos" && name != "quot") {
            return Fail(start, "the entity '&" + std::string(name) + ";' is not defined");
        }
        at_ = i + 1;
        return true;
    }

    std::string_view text_;
    std::string* reason_;
    std::size_t at_ = 0;
};

}  // namespace

std::size_t LineAt(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

bool IsXmlUtf8(std::string_view bytes, std::string* reason) {
    const auto fail = [&](std::size_t at, const std::string& what) {
        if (reason != nullptr) {
            *reason = "not well-formed XML: " + what + " at line " +
                      std::to_string(LineAt(bytes, at));
        }
        return false;
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 1;
        uint32_t code = lead;
        uint32_t least = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else if (lead >= 0xE0) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xC2) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0x80) {
            return fail(i, "bytes that are not valid UTF-8");
        }
        if (lead > 0xF4 || bytes.size() - i < length) {
            return fail(i, "bytes that are not valid UTF-8");
        }
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return fail(i, "bytes that are not valid UTF-8");
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return fail(i, "bytes that are not valid UTF-8");
        }
        if (!IsXmlChar(code)) return fail(i, "a character XML does not allow");
        i += length;
    }
    return true;
}

bool IsWellFormedXmlText(std::string_view text, std::string* reason) {
    return Checker(text, reason).Run();
}

}  // namespace pelmo
