// Small pugixml helpers for Office Open XML parts, which may carry a namespace prefix on every
// element ("x:c" as well as "c"): lookup by local name, new elements with the parent's prefix,
// parsing that keeps every byte of text and serialising without reformatting.
#pragma once

#include <functional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// The same without a copy: the document keeps pointing into `bytes`, which must outlive it.
void parseInPlace(pugi::xml_document& doc, std::string& bytes, const std::string& partName);

// Raw XML written right after an element's end tag: rows of a multiplied table row, made as text
// rather than as nodes.
struct AfterElement {
  pugi::xml_node element;
  std::function<void(std::string& out)> write;
  std::size_t size = 0;  // about how many bytes `write` appends
};

// The document as XML text, without formatting and without a declaration of its own (one parsed
// from the part is kept). Iterative, so a deeply nested part cannot exhaust the stack.
// `sizeHint`: about how long the text will be.
std::string serialize(const pugi::xml_document& doc, const std::vector<AfterElement>& after = {},
                      std::size_t sizeHint = 0);
// The same, appended to `out`.
void serialize(std::string& out, const pugi::xml_document& doc, const std::vector<AfterElement>& after,
               std::size_t sizeHint);

// Appends a node with its subtree as XML.
void appendXml(std::string& out, pugi::xml_node node);

// Appends text as XML character data or as the content of a double-quoted attribute value.
void appendEscapedText(std::string& out, std::string_view text);
void appendEscapedAttribute(std::string& out, std::string_view value);

// Text of an element and its descendants' <t> elements (shared or inline string), leaving out
// phonetic runs (<rPh>).
std::string stringItemText(pugi::xml_node item);

}  // namespace xlsxgen::xml
