#include "xml_util.h"

#include <string>

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

namespace {

// Russian names of the parser's findings; the message a user sees is in one language.
const char* parseStatusText(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_out_of_memory:
      return "недостаточно памяти";
    case pugi::status_unrecognized_tag:
      return "нераспознанный тег";
    case pugi::status_bad_pi:
      return "ошибка в инструкции обработки";
    case pugi::status_bad_comment:
      return "ошибка в комментарии";
    case pugi::status_bad_cdata:
      return "ошибка в разделе CDATA";
    case pugi::status_bad_doctype:
      return "ошибка в объявлении типа документа";
    case pugi::status_bad_pcdata:
      return "ошибка в тексте";
    case pugi::status_bad_start_element:
      return "ошибка в открывающем теге";
    case pugi::status_bad_attribute:
      return "ошибка в атрибуте";
    case pugi::status_bad_end_element:
      return "ошибка в закрывающем теге";
    case pugi::status_end_element_mismatch:
      return "закрывающий тег не соответствует открывающему";
    case pugi::status_append_invalid_root:
    case pugi::status_no_document_element:
      return "нет корневого элемента";
    default:
      return "ошибка разбора";
  }
}

}  // namespace

namespace {

// A text of blanks only (a cell holding " ") is kept; other blank runs between elements are not.
constexpr unsigned kParseOptions = (pugi::parse_full & ~pugi::parse_eol) | pugi::parse_ws_pcdata_single;

void checkParsed(const pugi::xml_document& doc, const pugi::xml_parse_result& result,
                 const std::string& partName) {
  if (!result)
    throw XlsxError("Шаблон повреждён: часть \"" + partName + "\" не является XML (" +
                    parseStatusText(result.status) + ", позиция " + std::to_string(result.offset) + ")");
  if (!doc.document_element()) throw XlsxError("Шаблон повреждён: часть \"" + partName + "\" пуста");
}

}  // namespace

void parse(pugi::xml_document& doc, const std::string& bytes, const std::string& partName) {
  checkParsed(doc, doc.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_utf8), partName);
}

void parseInPlace(pugi::xml_document& doc, std::string& bytes, const std::string& partName) {
  checkParsed(doc, doc.load_buffer_inplace(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_utf8),
              partName);
}

namespace {

// Bytes that need an entity in character data (1) and in attribute values (2).
struct EscapeTable {
  unsigned char flags[256] = {};
  constexpr EscapeTable() {
    for (int c = 0; c < 0x20; ++c) flags[c] = (c == '\t' || c == '\n') ? 2 : 3;
    flags[static_cast<unsigned char>('&')] = 3;
    flags[static_cast<unsigned char>('<')] = 3;
    flags[static_cast<unsigned char>('>')] = 3;
    flags[static_cast<unsigned char>('"')] = 2;
  }
};
constexpr EscapeTable kEscape;

void appendEscaped(std::string& out, std::string_view text, unsigned char mask) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!(kEscape.flags[c] & mask)) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
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
      default: {
        char entity[8] = {'&', '#', 0};
        int n = 2;
        if (c >= 10) entity[n++] = static_cast<char>('0' + c / 10);
        entity[n++] = static_cast<char>('0' + c % 10);
        entity[n++] = ';';
        out.append(entity, static_cast<std::size_t>(n));
      }
    }
  }
  out.append(text.data() + run, text.size() - run);
}

void appendAttributes(std::string& out, pugi::xml_node node) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    out += ' ';
    out += a.name();
    out += "=\"";
    appendEscapedAttribute(out, a.value());
    out += '"';
  }
}

void runAfter(std::string& out, pugi::xml_node element, const std::vector<AfterElement>& after) {
  for (const AfterElement& a : after)
    if (a.element == element) a.write(out);
}

}  // namespace

void appendEscapedText(std::string& out, std::string_view text) { appendEscaped(out, text, 1); }
void appendEscapedAttribute(std::string& out, std::string_view value) { appendEscaped(out, value, 2); }

namespace {

// Writes `start` with its subtree and, with `siblings`, the siblings after it with theirs. Iterative,
// so a deeply nested part cannot exhaust the stack.
void writeTree(std::string& out, pugi::xml_node start, bool siblings,
               const std::vector<AfterElement>& after) {
  const pugi::xml_node top = start.parent();
  pugi::xml_node node = start;
  while (node) {
    switch (node.type()) {
      case pugi::node_element:
        out += '<';
        out += node.name();
        appendAttributes(out, node);
        if (pugi::xml_node first = node.first_child()) {
          out += '>';
          node = first;
          continue;
        }
        out += "/>";
        runAfter(out, node, after);
        break;
      case pugi::node_pcdata:
        appendEscapedText(out, node.value());
        break;
      case pugi::node_cdata: {
        // "]]>" cannot stand inside a section: it is split over two.
        std::string_view value = node.value();
        out += "<![CDATA[";
        for (std::size_t end; (end = value.find("]]>")) != std::string_view::npos;
             value.remove_prefix(end + 2)) {
          out.append(value.data(), end + 2);
          out += "]]><![CDATA[";
        }
        out.append(value.data(), value.size());
        out += "]]>";
        break;
      }
      case pugi::node_comment:
        out += "<!--";
        out += node.value();
        out += "-->";
        break;
      case pugi::node_pi:
        out += "<?";
        out += node.name();
        if (*node.value()) {
          out += ' ';
          out += node.value();
        }
        out += "?>";
        break;
      case pugi::node_declaration:
        out += "<?";
        out += node.name();
        appendAttributes(out, node);
        out += "?>";
        break;
      case pugi::node_doctype:
        out += "<!DOCTYPE";
        if (*node.value()) {
          out += ' ';
          out += node.value();
        }
        out += '>';
        break;
      default:
        break;
    }
    // Past the last child of an element: close it, and its parents that are done too.
    for (;;) {
      if (node == start && !siblings) {
        node = pugi::xml_node();
        break;
      }
      if (pugi::xml_node next = node.next_sibling()) {
        node = next;
        break;
      }
      node = node.parent();
      if (node == top) {
        node = pugi::xml_node();
        break;
      }
      out += "</";
      out += node.name();
      out += '>';
      runAfter(out, node, after);
    }
  }
}

}  // namespace

void serialize(std::string& out, const pugi::xml_document& doc, const std::vector<AfterElement>& after,
               std::size_t sizeHint) {
  for (const AfterElement& a : after) sizeHint += a.size;
  out.reserve(out.size() + sizeHint);
  if (pugi::xml_node first = doc.first_child()) writeTree(out, first, true, after);
}

std::string serialize(const pugi::xml_document& doc, const std::vector<AfterElement>& after,
                      std::size_t sizeHint) {
  std::string out;
  serialize(out, doc, after, sizeHint);
  return out;
}

void appendXml(std::string& out, pugi::xml_node node) {
  if (node) writeTree(out, node, false, {});
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
