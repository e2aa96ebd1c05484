// The rules of well-formed XML that the manifest's parser does not enforce,
// checked on the document's text before it is parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmo {

// Whether bytes are valid UTF-8 holding only characters XML allows (no
// control characters other than tab, line feed and carriage return). On
// failure *reason names the rule and the line.
bool IsXmlUtf8(std::string_view bytes, std::string* reason);

// Checks a UTF-8 document for what the parser lets through: an XML
// declaration anywhere but at the very start, in another case, without a
// version or with pseudo-attributes out of order; a processing instruction
// named "xml" in any case; '<' inside an attribute value; a reference to an
// entity other than the five predefined ones, or a character reference to a
// character XML does not allow; "--" inside a comment; "]]>" in text; a
// document type declaration that declares entities. False with a reason
// naming the rule and the line.
bool IsWellFormedXmlText(std::string_view text, std::string* reason);

// The 1-based line of a byte offset in text.
std::size_t LineAt(std::string_view text, std::size_t offset);

}  // namespace pelmo
