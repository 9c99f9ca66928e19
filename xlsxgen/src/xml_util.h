// Small pugixml helpers for Office Open XML parts, which may carry a namespace prefix on every
// element ("x:c" as well as "c"): lookup by local name, new elements with the parent's prefix,
// parsing that keeps every byte of text and serialising without reformatting.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace xlsxgen::xml {

std::string_view localName(pugi::xml_node node);
std::string_view prefixOf(pugi::xml_node node);
pugi::xml_node child(pugi::xml_node parent, std::string_view local);
// The child element with the given local name; created with the parent's prefix when missing.
pugi::xml_node ensureChild(pugi::xml_node parent, std::string_view local);
pugi::xml_node appendChild(pugi::xml_node parent, std::string_view local);
pugi::xml_node insertChildBefore(pugi::xml_node parent, std::string_view local, pugi::xml_node before);
// The attribute whose local name matches ("r:id" matches "id" only when asked with the prefix).
pugi::xml_attribute attribute(pugi::xml_node node, std::string_view qualified);

// Parses a part; throws XlsxError naming the part when it is not well-formed XML.
void parse(pugi::xml_document& doc, const std::string& bytes, const std::string& partName);
std::string serialize(const pugi::xml_document& doc);

// Text of an element and its descendants' <t> elements (shared or inline string), leaving out
// phonetic runs (<rPh>).
std::string stringItemText(pugi::xml_node item);

}  // namespace xlsxgen::xml
