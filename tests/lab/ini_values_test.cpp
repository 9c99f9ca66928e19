#include <gtest/gtest.h>

#include "IniValues.h"
#include "quarn/cp1251.h"

using namespace quarn::data;

namespace {

TEST(IniValues, FloatsAreWrittenWithFifteenSignificantDigits) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.2f, "0.200000002980232"},  // a single-precision field widened to double
      {600.0f, "600"},
      {0.5, "0.5"},
      {-2.5, "-2.5"},
      {1e20, "1E20"},
      {1e-5, "1E-5"},
      {0.0, "0"},
      {-0.0, "0"},
      {1.6f, "1.60000002384186"},
      {1e15, "1E15"},
      {0.0001, "0.0001"},
  };
  for (const Case& c : cases) {
    const std::string text = formatFloat(c.value);
    EXPECT_EQ(text, c.text);
    // Whatever is written reads back as the same single-precision value.
    EXPECT_EQ(static_cast<float>(*parseFloat(text)), static_cast<float>(c.value)) << text;
  }
}

TEST(IniValues, StrictParsersRejectWhatIsNotANumber) {
  struct IntCase {
    const char* text;
    std::optional<long long> value;
  } ints[] = {{"12", 12},
              {" 7 ", 7},
              {"-3", -3},
              {"0x1F", 31},
              {"0X10", 16},
              {"abc", {}},
              {"12abc", {}},
              {"", {}},
              {"1.5", {}},
              {"0x", {}},
              {"99999999999999999999", {}},
              {"0xZZ", {}}};
  for (const IntCase& c : ints) EXPECT_EQ(parseInteger(c.text), c.value) << c.text;

  struct FloatCase {
    const char* text;
    std::optional<double> value;
  } floats[] = {{"0.5", 0.5}, {" 3 ", 3.0}, {"1E20", 1e20}, {"1e-5", 1e-5}, {"-.25", -0.25},
                {"+4", 4.0},  {"abc", {}},  {"nan", {}},    {"inf", {}},    {"1e999", {}},
                {"1,5", {}},  {"", {}},     {"5.", 5.0},    {"1e", {}}};
  for (const FloatCase& c : floats) EXPECT_EQ(parseFloat(c.text), c.value) << c.text;
}

TEST(IniValues, EditBoxNumbersTakeTheLeadingNumberOrZero) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"12abc", 12}, {"abc", 0},   {"-1.5e2x", -150}, {"", 0},    {"  .5", 0.5},
               {"nan", 0},    {"1e999", 0}, {"2.9", 2.9},      {"1e+", 1}, {"0x10", 0}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(scanNumber(c.text), c.value) << c.text;
}

TEST(IniValues, MissingOrUnreadableValuesGiveTheDefault) {
  const IniDocument ini = IniDocument::parse(
      "[S]\r\nint=0x10\r\nbadInt=1.5\r\nbool2=2\r\nboolHex0=0x0\r\nboolWord=yes\r\nfloat=0.25\r\nbadFloat=1,"
      "5\r\n");
  EXPECT_EQ(readInteger(ini, "S", "int", 7), 16);
  EXPECT_EQ(readInteger(ini, "S", "badInt", 7), 7);
  EXPECT_EQ(readInteger(ini, "S", "missing", 7), 7);
  EXPECT_TRUE(readBool(ini, "S", "bool2", false));
  EXPECT_FALSE(readBool(ini, "S", "boolHex0", true));
  EXPECT_TRUE(readBool(ini, "S", "boolWord", true));
  EXPECT_FALSE(readBool(ini, "S", "boolWord", false));
  EXPECT_DOUBLE_EQ(readFloat(ini, "S", "float", 1), 0.25);
  EXPECT_DOUBLE_EQ(readFloat(ini, "S", "badFloat", 1), 1);
  EXPECT_EQ(readTextUtf8(ini, "S", "missing", "кПа"), "кПа");
}

TEST(IniValues, CyrillicTextsAreWindows1251InTheFileAndUtf8Outside) {
  IniDocument ini;
  const std::string text = "Давление ёЁ №5 «кгс/см2»";
  writeTextUtf8(ini, "S", "name", text);
  writeTextUtf8(ini, "S", "foreign", "压力 ok");
  const std::string raw = ini.serialize();
  // "Давление ёЁ №5 «кгс/см2»" byte by byte.
  EXPECT_NE(raw.find("name=\xC4\xE0\xE2\xEB\xE5\xED\xE8\xE5 \xB8\xA8 \xB9"
                     "5 \xAB\xEA\xE3\xF1/\xF1\xEC"
                     "2\xBB\r\n"),
            std::string::npos);
  const IniDocument back = IniDocument::parse(raw);
  EXPECT_EQ(readTextUtf8(back, "S", "name", ""), text);
  EXPECT_EQ(readTextUtf8(back, "S", "foreign", ""), "?? ok");  // not in the code page
}

TEST(IniValues, TextsAreCutToTheirLimitInCharacters) {
  IniDocument ini;
  std::string cyr;
  for (int i = 0; i < 50; ++i) cyr += "Ж";
  writeTextUtf8(ini, "S", "name", cyr);
  const std::string cut = readTextUtf8(ini, "S", "name", "", 39);
  EXPECT_EQ(cut.size(), 39u * 2u);  // 39 Cyrillic characters, two UTF-8 bytes each
  EXPECT_EQ(readTextUtf8(ini, "S", "name", "", 0), cyr);
  EXPECT_EQ(cutUtf8("абв", 2), "аб");
  EXPECT_EQ(cutUtf8("ab", 5), "ab");
}

TEST(IniValues, MemoLinesAndTheStaleLinesOfALongerText) {
  IniDocument ini;
  writeMemoUtf8(ini, "S", "amp_CD_ADDRESS", {"г. Москва,", "ул. Первая, 1", "офис 3"});
  writeMemoUtf8(ini, "S", "amp_CD_ADDRESS", {"г. Тверь,", "ул. Вторая, 2"});
  // The shorter text overwrote two lines; the key of the third stays and comes back as a line.
  const auto lines = readMemoUtf8(IniDocument::parse(ini.serialize()), "S", "amp_CD_ADDRESS");
  ASSERT_TRUE(lines);
  EXPECT_EQ(*lines, (std::vector<std::string>{"г. Тверь,", "ул. Вторая, 2", "офис 3"}));

  // No line 0: the memo keeps its text. A gap ends the lines.
  EXPECT_FALSE(readMemoUtf8(IniDocument::parse("[S]\r\nm_str1=x\r\n"), "S", "m"));
  const auto gap = readMemoUtf8(IniDocument::parse("[S]\r\nm_str0=a\r\nm_str1=b\r\nm_str3=d\r\n"), "S", "m");
  EXPECT_EQ(*gap, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
