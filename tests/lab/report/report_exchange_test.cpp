// The workstation's exchange-block operations: ordering rule, limits, cell alignment, number texts,
// checksum and release; RunReport handing the block to the real libxlsxgen.so.
#include "report_exchange.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "comma_locale.h"
#include "quarn/cp1251.h"
#include "workbook_fixture.h"

using namespace quarn::report;

namespace {

struct Message {
  std::string caption, text;
};

class ReportExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    FreeReport();
    setMessageSink([this](const std::string& caption, const std::string& text) {
      messages.push_back({caption, text});
    });
  }
  void TearDown() override {
    FreeReport();
    setMessageSink(nullptr);
  }
  std::vector<Message> messages;
  TXlsxExchange& block = ReportBlock();
};

// Fields of the packed block are copied out before a check binds a reference to them.
template <typename T>
T val(T v) {
  return v;
}

std::string cp(const std::string& utf8) { return quarn::text::utf8ToCp1251(utf8); }

TEST_F(ReportExchange, LongerKeysMustComeFirst) {
  EXPECT_EQ(Add_ReplacePair("&CD_TEMP", "20"), 0);
  EXPECT_EQ(Add_ReplacePair("&CD_TEMP_FULL", "x"), -1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "  Add_ReplacePair()");
  EXPECT_EQ(messages[0].text,
            " Нужно изменить порядок добавлния!\n Добавляется идентификатор  &CD_TEMP_FULL\n Он длинее уже "
            "добавленного  &CD_TEMP\n (сначала длинные)");
  EXPECT_EQ(Add_ReplacePair("&CD_TEMP", "again"), 0);  // an equal key may come twice
  EXPECT_EQ(Add_ReplacePair("&CD", "shorter"), 0);     // a shorter key after a longer one is fine
  EXPECT_EQ(val(block.pairCount), 3);
  EXPECT_STREQ(val(block.pairs[1].value), "again");
  EXPECT_EQ(AddPairFmt("&D%d_NAME", 3, "n"), 0);
  EXPECT_STREQ(val(block.pairs[3].key), "&D3_NAME");
  EXPECT_EQ(AddPairFmt("&X%s%n_%d", 4, "v"), 0);  // only the %d is filled
  EXPECT_STREQ(val(block.pairs[4].key), "&X%s%n_4");
}

// Which listed key a new key is refused for: the first listed key, long or short, that lies
// inside the new one anywhere; a key whose bytes are all in the new key but not in a row, or one
// alike but for its last byte, does not refuse it, nor does an equal key. Keys listed after a
// release are checked as the first ones were.
TEST_F(ReportExchange, ANewKeyIsRefusedOnlyForAShorterKeyInsideIt) {
  const struct {
    std::vector<const char*> listed;
    const char* key;
    const char* refusedFor;  // nullptr: accepted
  } cases[] = {
      {{"&D1_NAME", "&D1_N"}, "&D1_NAME_FULL", "&D1_NAME"},
      {{"&AB", "&D1_N"}, "&D1_NAME_FULL", "&D1_N"},
      {{"ME_F", "&AB"}, "&D1_NAME_FULL", "ME_F"},
      {{"_FULL"}, "&D1_NAME_FULL", "_FULL"},
      {{"&AB", "_F"}, "&D1_NAME_FULL", "_F"},
      {{"A", "ME_F"}, "&D1_NAME_FULL", "A"},
      {{"ME_F", "L"}, "&D1_NAME_FULL", "ME_F"},
      {{"&BA", "&D1_NAME_FULL"}, "&AB&D1_NAME_FULL", "&D1_NAME_FULL"},
      {{"&BA", "&AD", "LLUF"}, "&AB_D1_NAME_FULL", nullptr},
      {{"&\x01", "\x7E"}, "&A>B", nullptr},
      {{"&D1_NAME"}, "&D1_NAMF", nullptr},
      {{"&D1_NAME"}, "&D1_NAME", nullptr},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.key) + " round " + std::to_string(round));
      FreeReport();
      messages.clear();
      for (const char* key : c.listed) ASSERT_EQ(Add_ReplacePair(key, "v"), 0) << key;
      EXPECT_EQ(Add_ReplacePair(c.key, "v"), c.refusedFor ? -1 : 0);
      if (c.refusedFor) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].text.find(std::string("добавленного  ") + c.refusedFor + "\n"),
                  std::string::npos)
            << messages[0].text;
      } else {
        EXPECT_TRUE(messages.empty());
        EXPECT_STREQ(val(block.pairs[c.listed.size()].key), c.key);
      }
    }
  }
}

TEST_F(ReportExchange, ListsStopAtTheirLimits) {
  for (int i = 0; i < XLSX_HIDDEN_MAX; ++i) ASSERT_EQ(AddHiddenSheet("s"), 0);
  EXPECT_EQ(AddHiddenSheet("s"), -1);
  char key[16];
  for (int i = 0; i < XLSX_PAIRS_MAX; ++i) {
    std::snprintf(key, sizeof key, "K%04d", i);
    ASSERT_EQ(Add_ReplacePair(key, "v"), 0) << i;
  }
  EXPECT_EQ(Add_ReplacePair("Z", "v"), -1);
  EXPECT_TRUE(messages.empty());  // full lists are silent
  for (int i = 0; i < XLSX_TABLES_MAX; ++i) ASSERT_EQ(AddTable("t"), 0);
  EXPECT_EQ(AddTable("t"), -1);
  EXPECT_EQ(SetColumnCount(199), 0);
  EXPECT_EQ(SetColumnCount(200), -1);
  EXPECT_EQ(SetColumnCount(-1), -1);
  EXPECT_EQ(val(block.columnCount), 199);
  EXPECT_EQ(SetFiles(nullptr, "o.xls"), -1);
  EXPECT_EQ(SetFiles("t.xlsx", ""), -1);
  EXPECT_EQ(AddHiddenSheet(nullptr), -1);
  EXPECT_EQ(Add_ReplacePair(nullptr, "v"), -1);
}

TEST_F(ReportExchange, CellsFillTheFirstNSlotsInOrder) {
  SetColumnCount(3);
  AddTable("&A");
  AddTable("&B");
  EXPECT_EQ(AddCell("&A", "1"), 0);
  EXPECT_EQ(AddCell("&A", ""), 0);  // an empty text still takes its row
  EXPECT_EQ(AddCell("&A", "3"), 0);
  EXPECT_EQ(AddCell("&A", "4"), -1);
  EXPECT_EQ(AddCell("&missing", "x"), -1);
  EXPECT_EQ(AddCell("&B", nullptr), -1);
  EXPECT_STREQ(val(block.tables[0].cells[0]), "1");
  EXPECT_STREQ(val(block.tables[0].cells[1]), "");
  EXPECT_STREQ(val(block.tables[0].cells[2]), "3");
  EXPECT_EQ(val(block.tables[0].cells[3]), nullptr);

  struct Case {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {1.5, 2, "1.50"}, {-0.004, 2, "0.00"}, {12.3456, 0, "12"}, {2.0, -3, "2"},
      {NAN, 2, " "},    {INFINITY, 2, " "},  {1e28, 2, " "},     {123.456, 1, "123.5"},
  };
  SetColumnCount(8);
  AddTable("&F");
  for (const auto& c : cases) EXPECT_EQ(AddFloatCell("&F", c.value, c.decimals), 0);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_STREQ(val(block.tables[2].cells[i]), cases[i].text) << i;
}

// Qt takes the locale from the environment, so under a Russian session printf would write "0,500"
// and the workbook would get texts where numbers belong. The cells keep their point.
TEST_F(ReportExchange, NumberCellsKeepTheirPointInACommaLocale) {
  xlsxtest::CommaNumericLocale comma;
  if (!comma.active()) GTEST_SKIP() << comma.why();
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 0.5);
  ASSERT_STREQ(probe, "0,5") << "the locale in force formats with a comma";
  struct Case {
    double value;
    int decimals;
    const char* text;
  } cases[] = {{0.5, 3, "0.500"},
               {-1234.5678, 2, "-1234.57"},
               {0.125, 2, "0.12"},
               {1e20, 1, "100000000000000000000.0"}};
  SetColumnCount(static_cast<int>(std::size(cases)));
  AddTable("&F");
  for (const auto& c : cases) EXPECT_EQ(AddFloatCell("&F", c.value, c.decimals), 0);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_STREQ(val(block.tables[0].cells[i]), cases[i].text) << i;
}

// Cells are found by table name and placed by count: many tables, a name given twice (its first
// table fills), a count lowered under the cells already placed, and a release that starts afresh.
TEST_F(ReportExchange, CellsFindTheirTableAndPlaceWhateverTheOrder) {
  SetColumnCount(3);
  for (const char* name : {"&A", "&B", "&A", "&C"}) ASSERT_EQ(AddTable(name), 0);
  for (const char* t : {"&C", "&A", "&B", "&A", "&C"}) ASSERT_EQ(AddCell(t, t), 0) << t;
  EXPECT_STREQ(val(block.tables[0].cells[1]), "&A");
  EXPECT_EQ(val(block.tables[2].cells[0]), nullptr) << "the second &A never fills";
  EXPECT_STREQ(val(block.tables[3].cells[1]), "&C");
  SetColumnCount(1);
  EXPECT_EQ(AddCell("&B", "x"), -1) << "the one place of &B is taken";
  SetColumnCount(3);
  EXPECT_EQ(AddCell("&B", "y"), 0);
  EXPECT_STREQ(val(block.tables[1].cells[1]), "y");
  FreeReport();
  EXPECT_EQ(AddCell("&A", "z"), -1) << "no table after the release";
  SetColumnCount(2);
  AddTable("&C");
  EXPECT_EQ(AddCell("&C", "first"), 0);
  EXPECT_STREQ(val(block.tables[0].cells[0]), "first");
}

TEST_F(ReportExchange, ChecksumAndRelease) {
  SetFiles("t.xlsx", "o.xls");
  AddHiddenSheet("h");
  Add_ReplacePair("&K", "v");
  SetColumnCount(1);
  AddTable("&T");
  AddCell("&T", "1");
  Checksum();
  EXPECT_EQ(val(block.checksum), xlsx_exchange_checksum(&block));
  EXPECT_NE(val(block.ops[9]), nullptr);  // the operation table is part of the block
  FreeReport();
  EXPECT_EQ(val(block.pairCount), 0);
  EXPECT_EQ(val(block.hiddenCount), 0);
  EXPECT_EQ(val(block.tableCount), 0);
  EXPECT_EQ(val(block.templatePath), nullptr);
  EXPECT_EQ(val(block.hidden[0]), nullptr);
  EXPECT_EQ(val(block.tables[0].cells[0]), nullptr);
}

// Every list filled to its limit: the seal is the library's checksum over all of it, and the release
// frees and clears every slot that was filled; a second, larger fill after the release is released
// whole too.
TEST_F(ReportExchange, AFullBlockIsSealedAndReleasedWhole) {
  char text[16];
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const int tables = round == 0 ? 3 : XLSX_TABLES_MAX;
    ASSERT_EQ(SetFiles("\xFF\xFE.xlsx", "\xEE.xls"), 0);
    for (int i = 0; i < XLSX_HIDDEN_MAX; ++i) ASSERT_EQ(AddHiddenSheet("\xFF\xFF\xFF"), 0);
    for (int i = 0; i < XLSX_PAIRS_MAX; ++i) {
      std::snprintf(text, sizeof text, "\xFF%04d", i);
      ASSERT_EQ(Add_ReplacePair(text, "\xFF\xFF"), 0) << i;
    }
    ASSERT_EQ(SetColumnCount(XLSX_COLUMN_LIMIT - 1), 0);
    for (int t = 0; t < tables; ++t) {
      std::snprintf(text, sizeof text, "&T%02d", t);
      ASSERT_EQ(AddTable(text), 0);
      for (int i = 0; i < XLSX_COLUMN_LIMIT - 1; ++i) ASSERT_EQ(AddFloatCell(text, -9999.9999, 4), 0);
    }
    Checksum();
    EXPECT_EQ(val(block.checksum), xlsx_exchange_checksum(&block));
    FreeReport();
    EXPECT_EQ(val(block.templatePath), nullptr);
    EXPECT_EQ(val(block.outputPath), nullptr);
    int left = 0;
    for (int i = 0; i < XLSX_HIDDEN_MAX; ++i) left += val(block.hidden[i]) != nullptr;
    for (int i = 0; i < XLSX_PAIRS_MAX; ++i)
      left += (val(block.pairs[i].key) != nullptr) + (val(block.pairs[i].value) != nullptr);
    for (int t = 0; t < XLSX_TABLES_MAX; ++t) {
      left += val(block.tables[t].name) != nullptr;
      for (int i = 0; i < XLSX_TABLE_CELLS; ++i) left += val(block.tables[t].cells[i]) != nullptr;
    }
    EXPECT_EQ(left, 0);
  }
}

// Cell texts of every length, one longer than any the tables usually hold and many more bytes in all
// than a report of four channels takes, each read back whole after the last was added: no text runs
// into or over another. A second round after the release reuses what the first left.
TEST_F(ReportExchange, EveryCellKeepsItsOwnText) {
  const auto textOf = [](int round, int t, int i) {
    const std::size_t length =
        (t == 3 && i == 7) ? 100000 : static_cast<std::size_t>((t * 211 + i * 37) % 700);
    std::string text = std::to_string(round) + ":" + std::to_string(t) + ":" + std::to_string(i) + ":";
    text.append(length, static_cast<char>('a' + (t + i) % 26));
    return text;
  };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(SetColumnCount(XLSX_COLUMN_LIMIT - 1), 0);
    for (int t = 0; t < XLSX_TABLES_MAX; ++t) {
      const std::string name = "&T" + std::to_string(t);
      ASSERT_EQ(AddTable(name.c_str()), 0);
      for (int i = 0; i < XLSX_COLUMN_LIMIT - 1; ++i)
        ASSERT_EQ(AddCell(name.c_str(), textOf(round, t, i).c_str()), 0);
    }
    int wrong = 0;
    for (int t = 0; t < XLSX_TABLES_MAX; ++t)
      for (int i = 0; i < XLSX_COLUMN_LIMIT - 1; ++i)
        wrong += textOf(round, t, i) != val(block.tables[t].cells[i]);
    EXPECT_EQ(wrong, 0);
    FreeReport();
  }
}

TEST_F(ReportExchange, RunReportShowsTheLibrarysReason) {
  xlsxtest::TempFolder dir;
  SetFiles(cp(dir.file("нет шаблона.xlsx")).c_str(), cp(dir.file("out.xls")).c_str());
  Checksum();
  EXPECT_EQ(RunReport(), -2);
  EXPECT_EQ(LastReportError(), "Файл шаблона не задан или недоступен!");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Ошибка формирования протокола");
  // Without a new checksum the library refuses the block and says nothing more.
  SetColumnCount(5);
  EXPECT_EQ(RunReport(), -1);
  EXPECT_EQ(dir.list(), std::vector<std::string>{});
}

}  // namespace
