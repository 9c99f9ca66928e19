// A cell's text written over whatever the cell held: the XML is the same whether the cell's own
// <is><t> elements are kept or the cell is made anew.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "sheet_grid.h"
#include "xml_util.h"

using namespace xlsxgen;

namespace {

TEST(CellText, WrittenTextGivesTheSameXmlWhateverTheCellHeld) {
  struct Case {
    const char* what;
    const char* cell;
    const char* text;
    const char* expected;
  } cases[] = {
      {"inline text", "<c r=\"A1\" t=\"inlineStr\"><is><t>&amp;NUM</t></is></c>", "7",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>7</t></is></c>"},
      {"kept blanks no longer needed",
       "<c r=\"A1\" s=\"2\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> &amp;A </t></is></c>", "x",
       "<c r=\"A1\" s=\"2\" t=\"inlineStr\"><is><t>x</t></is></c>"},
      {"blanks that must be kept", "<c r=\"A1\" t=\"inlineStr\"><is><t>&amp;A</t></is></c>", " x",
       "<c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> x</t></is></c>"},
      {"empty <t>", "<c r=\"A1\" t=\"inlineStr\"><is><t/></is></c>", "a&b",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>a&amp;b</t></is></c>"},
      {"longer text than the parsed one", "<c r=\"A1\" t=\"inlineStr\"><is><t>&amp;N</t></is></c>",
       "Преобразователь давления",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>Преобразователь давления</t></is></c>"},
      {"prefixed elements", "<x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>&amp;A</x:t></x:is></x:c>", "y",
       "<x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>y</x:t></x:is></x:c>"},
      {"rich text runs are flattened",
       "<c r=\"A1\" t=\"inlineStr\"><is><r><t>&amp;N</t></r><r><t>A</t></r></is></c>", "z",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>z</t></is></c>"},
      {"phonetic run beside the text",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>&amp;A</t><rPh sb=\"0\" eb=\"1\"><t>a</t></rPh></is></c>", "z",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>z</t></is></c>"},
      {"another attribute on <t>", "<c r=\"A1\" t=\"inlineStr\"><is><t foo=\"1\">&amp;A</t></is></c>", "z",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>z</t></is></c>"},
      {"an attribute on <is>", "<c r=\"A1\" t=\"inlineStr\"><is foo=\"1\"><t>&amp;A</t></is></c>", "z",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>z</t></is></c>"},
      {"<is> of another prefix", "<x:c r=\"A1\" t=\"inlineStr\"><is><t>&amp;A</t></is></x:c>", "z",
       "<x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>z</x:t></x:is></x:c>"},
      {"shared string", "<c r=\"A1\" s=\"1\" t=\"s\"><v>3</v></c>", "z",
       "<c r=\"A1\" s=\"1\" t=\"inlineStr\"><is><t>z</t></is></c>"},
      {"number cell without a type", "<c r=\"A1\"><v>3</v></c>", "z",
       "<c r=\"A1\" t=\"inlineStr\"><is><t>z</t></is></c>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string source = c.cell;
    pugi::xml_document doc;
    xml::parseInPlace(doc, source, "sheet");
    setCellString(doc.document_element(), c.text);
    EXPECT_EQ(xml::serialize(doc), c.expected);
  }
}

}  // namespace
