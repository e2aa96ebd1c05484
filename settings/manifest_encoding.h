// Reading the upgrade manifest's bytes as an XML document: the encodings a
// publisher may use, and the parse options that show every node kind the
// manifest rules look at.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace pelmo {

// The declared encoding of a document without a byte order mark: the value of
// the encoding pseudo-attribute of a leading XML declaration, or "" when there
// is none.
std::string DeclaredEncoding(std::string_view bytes);

// Parses bytes into document. UTF-8 (with or without its byte order mark),
// UTF-16 or UTF-32 with a byte order mark, and a document in another declared
// encoding (GBK, GB2312, GB18030, ...) are read; each is brought to UTF-8 and
// held to the rules of well-formed XML before it is parsed. The declaration,
// comments, processing instructions, the document type declaration and CDATA
// sections become nodes; white space between elements does not. False, with a
// reason, when the document cannot be read or is not well-formed.
bool LoadManifestDocument(std::string_view bytes, pugi::xml_document& document,
                          std::string* reason);

}  // namespace pelmo
