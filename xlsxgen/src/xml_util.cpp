#include "xml_util.h"

#include <sstream>

#include "xlsx_error.h"

namespace xlsxgen::xml {

std::string_view localName(pugi::xml_node node) {
  std::string_view name = node.name();
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view prefixOf(pugi::xml_node node) {
  std::string_view name = node.name();
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon + 1);
}

pugi::xml_node child(pugi::xml_node parent, std::string_view local) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && localName(c) == local) return c;
  return {};
}

pugi::xml_node appendChild(pugi::xml_node parent, std::string_view local) {
  return parent.append_child((std::string(prefixOf(parent)) + std::string(local)).c_str());
}

pugi::xml_node insertChildBefore(pugi::xml_node parent, std::string_view local, pugi::xml_node before) {
  const std::string name = std::string(prefixOf(parent)) + std::string(local);
  return before ? parent.insert_child_before(name.c_str(), before) : parent.append_child(name.c_str());
}

pugi::xml_node ensureChild(pugi::xml_node parent, std::string_view local) {
  pugi::xml_node c = child(parent, local);
  return c ? c : appendChild(parent, local);
}

pugi::xml_attribute attribute(pugi::xml_node node, std::string_view qualified) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (std::string_view(a.name()) == qualified) return a;
  return {};
}

void parse(pugi::xml_document& doc, const std::string& bytes, const std::string& partName) {
  const pugi::xml_parse_result result =
      doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_full & ~pugi::parse_eol, pugi::encoding_utf8);
  if (!result)
    throw XlsxError("Шаблон повреждён: часть \"" + partName + "\" не является XML (" + result.description() +
                    ")");
  if (!doc.document_element()) throw XlsxError("Шаблон повреждён: часть \"" + partName + "\" пуста");
}

std::string serialize(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return out.str();
}

std::string stringItemText(pugi::xml_node item) {
  std::string text;
  for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    const std::string_view name = localName(c);
    if (name == "t") {
      text += c.text().get();
    } else if (name == "r") {
      text += child(c, "t").text().get();
    }
  }
  return text;
}

}  // namespace xlsxgen::xml
