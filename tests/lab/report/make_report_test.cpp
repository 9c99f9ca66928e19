// MakeReport: the pieces of the protocol from the shared record, and whole reports made from the
// default template, read back with openpyxl.
#include "make_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "CalibrationRuns.h"
#include "Suitability.h"
#include "calibration_report.h"
#include "comma_locale.h"
#include "openpyxl_reader.h"
#include "protocol_fields.h"
#include "protocol_pdf.h"
#include "quarn/cp1251.h"
#include "report_exchange.h"
#include "test_paths.h"
#include "workbook_fixture.h"

using namespace quarn::report;
using nlohmann::json;

namespace {

std::string utf8(const std::string& cp1251) { return quarn::text::cp1251ToUtf8(cp1251); }

template <std::size_t N>
void put(char (&field)[N], const std::string& utf8Text) {
  const std::string t = quarn::text::utf8ToCp1251(utf8Text);
  std::memset(field, 0, N);
  std::memcpy(field, t.data(), std::min(t.size(), N - 1));
}

std::unique_ptr<TDev> emptyDev() {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  dev->povHeader.vrCoeff = 1.0f;
  dev->settings.unitFactor = 1.0f;
  return dev;
}

void channel(TDev& dev, int c, const std::string& sn, float errOk = 0.5f) {
  TDevChannel& ch = dev.devCh[c];
  ch.enabled = 1;
  put(ch.name, "Преобразователь давления");
  put(ch.model, "ПД-100");
  put(ch.sn, sn);
  put(ch.invNo, "И-" + sn);
  put(ch.owner, "ООО \"Заказчик\"");
  put(ch.Unit, "кПа");
  put(ch.el_Unit, "мА");
  ch.errOk = errOk;
  ch.Min = 0;
  ch.Max = 600;
  ch.el_Min = 4;
  ch.el_Max = 20;
}

void result(TDev& dev, int i, float pRef, float err) {
  TPovResult& r = dev.results[i];
  r.valid = 1;
  r.pRef = pRef;
  for (auto& ch : r.ch) {
    ch.current = 4 + pRef / 600 * 16;
    ch.iExpected = ch.current;
    ch.pFromI = pRef;
    ch.reducedError = err;
    ch.uncertainty = 0.01f;
  }
  dev.pointIdx = i + 1;
}

TEST(MakeReportPieces, IntervalSignalAndFileName) {
  TDevChannel ch{};
  struct Interval {
    float min, max;
    const char* text;
  } intervals[] = {{0, 1.6f, "0.00...1.60"},
                   {0, 600, "0...600"},
                   {0, 1, "0.000...1.000"},
                   {-10, 10, "-10.00...10.00"},
                   {0, 16, "0.0...16.0"}};
  for (const auto& c : intervals) {
    ch.Min = c.min;
    ch.Max = c.max;
    EXPECT_EQ(measuringIntervalText(ch), c.text);
  }
  put(ch.el_Unit, "В");
  ch.elTypeSignal = 4;
  ch.el_Min = 0;
  ch.el_Max = 10;
  EXPECT_EQ(utf8(signalText(ch)), "0.00...10.00 В");
  put(ch.el_Unit, "мА");
  ch.elTypeSignal = 0;
  ch.el_Min = 4;
  ch.el_Max = 20;
  EXPECT_EQ(utf8(signalText(ch)), "4...20 мА");
  ch.el_Min = NAN;  // a broken record gives a text, not undefined behaviour
  EXPECT_EQ(utf8(signalText(ch)), "0...20 мА");

  auto dev = emptyDev();
  channel(*dev, 0, "123");
  EXPECT_EQ(utf8(reportFileName(*dev)), "Протокол поверки ДД №123.xls");
  channel(*dev, 2, "77");
  dev->povHeader.isCalib = 1;
  EXPECT_EQ(utf8(reportFileName(*dev)), "Протокол калибовки ДД №123 77.xls");
}

// The report judges a channel by the data layer's verdict.
// The workbook part LibreOffice converts to PDF: the hidden sheets gone, the names local to them
// dropped, the other sheet-local names and the active tab following their sheets.
TEST(MakeReportPieces, TheWorkbookForThePdfListsOnlyTheVisibleSheets) {
  const std::string workbook =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
      R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
      R"(<bookViews><workbookView activeTab="3" firstSheet="1"/></bookViews><sheets>)"
      R"(<sheet name="A" sheetId="1" r:id="rId1"/>)"
      R"(<sheet name="&amp;DEV_SH_2" sheetId="2" state="hidden" r:id="rId2"/>)"
      R"(<sheet name="B" sheetId="3" r:id="rId3"/>)"
      R"(<sheet name="C" sheetId="4" state="veryHidden" r:id="rId4"/>)"
      R"(<sheet name="D" sheetId="5" r:id="rId5"/></sheets><definedNames>)"
      R"(<definedName name="_xlnm.Print_Titles" localSheetId="0">A!$5:$5</definedName>)"
      R"(<definedName name="_xlnm.Print_Titles" localSheetId="1">'&amp;DEV_SH_2'!$5:$5</definedName>)"
      R"(<definedName name="_xlnm.Print_Area" localSheetId="4">D!$A$1:$H$40</definedName>)"
      R"(<definedName name="Everywhere">A!$A$1</definedName></definedNames></workbook>)";
  const std::optional<std::string> visible = workbookWithoutHiddenSheets(workbook);
  ASSERT_TRUE(visible);
  const std::string& v = *visible;
  for (const char* gone : {"DEV_SH_2", "name=\"C\"", "localSheetId=\"1\"", "localSheetId=\"4\""})
    EXPECT_EQ(v.find(gone), std::string::npos) << gone << "\n" << v;
  for (const char* kept : {"localSheetId=\"0\">A!$5:$5", "localSheetId=\"2\">D!$A$1:$H$40", "Everywhere",
                           "activeTab=\"0\" firstSheet=\"0\""})
    EXPECT_NE(v.find(kept), std::string::npos) << kept << "\n" << v;
  const auto at = [&v](const char* name) { return v.find(std::string("name=\"") + name + "\""); };
  ASSERT_NE(at("D"), std::string::npos) << v;
  EXPECT_LT(at("A"), at("B"));
  EXPECT_LT(at("B"), at("D"));
  // Nothing hidden, every sheet hidden, not XML: nothing to convert instead of the workbook.
  EXPECT_FALSE(workbookWithoutHiddenSheets(R"(<workbook><sheets><sheet name="A"/></sheets></workbook>)"));
  EXPECT_FALSE(workbookWithoutHiddenSheets(
      R"(<workbook><sheets><sheet name="A" state="hidden"/></sheets></workbook>)"));
  EXPECT_FALSE(workbookWithoutHiddenSheets("<workbook><sheets>"));
}

TEST(MakeReportPieces, Suitability) {
  auto dev = emptyDev();
  channel(*dev, 0, "1", 0.5f);
  dev->povHeader.vrCoeff = 0.8f;  // limit 0.4
  EXPECT_EQ(quarn::data::channelSuitable(*dev, 0), false) << "no point recorded";
  struct Case {
    const char* what;
    std::vector<float> errors;
    bool suitable;
  } cases[] = {
      {"all inside", {0.1f, -0.39f, 0.2f}, true}, {"on the limit", {0.5f * 0.8f, -0.5f * 0.8f}, true},
      {"one beyond", {0.1f, 0.41f, 0.1f}, false}, {"negative beyond", {-0.45f}, false},
      {"missing value", {0.1f, NAN}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(dev->results, 0, sizeof dev->results);
    for (std::size_t i = 0; i < c.errors.size(); ++i) result(*dev, static_cast<int>(i), 100, c.errors[i]);
    EXPECT_EQ(quarn::data::channelSuitable(*dev, 0), c.suitable);
  }
  // A deleted (invalid) record does not count.
  std::memset(dev->results, 0, sizeof dev->results);
  result(*dev, 0, 100, 0.1f);
  result(*dev, 1, 100, 9.0f);
  dev->results[1].valid = 0;
  EXPECT_EQ(quarn::data::channelSuitable(*dev, 0), true);
}

// Every placeholder control of the list takes its own text of the protocol page.
TEST(MakeReportPieces, ProtocolPlaceholdersTakeEachControlsText) {
  quarn::data::Project p;
  p.readiness.vrCoeff = "0.65";
  quarn::data::ProtocolHeader& h = p.header;
  h.protocolNo = "№7";
  h.date = "01.02.2027";
  h.temp = "t";
  h.hum = "h";
  h.pres = "p";
  h.organisation = "org";
  h.accreditationNo = "crt";
  h.address = {"line 1", "", "line 3"};
  h.verifierPosition = "vpos";
  h.verifier = "v";
  h.chiefPosition = "cpos";
  h.chief = "c";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"amp_CD_VRCOEFF", "0.65"},   {"amp_D1_SH_NUM", "№7"},   {"amp_CD_DATE", "01.02.2027"},
      {"amp_CD_TEMP", "t"},         {"amp_CD_HUM", "h"},       {"amp_CD_PRES", "p"},
      {"amp_CD_ORG", "org"},        {"amp_CD_CRT_NUM", "crt"}, {"amp_CD_ADDRESS", "line 1\n\nline 3"},
      {"amp_CD_VERIF_POS", "vpos"}, {"amp_CD_VERIF", "v"},     {"amp_CD_CHEF_POS", "cpos"},
      {"amp_CD_CHEF", "c"}};
  EXPECT_EQ(protocolPlaceholders(p), expected);
  ASSERT_EQ(kProtocolPlaceholderControls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(expected[i].first, kProtocolPlaceholderControls[i]);
}

TEST(MakeReportPieces, MethodDocumentIsTheLastMatchingRow) {
  const std::vector<std::pair<std::string, std::string>> methods = {
      {"  Преобразователь давления ПД  ", "МП 001-2020"},
      {"Манометр", "МП 002"},
      {"Преобразователь давления", "МП 003-2021 с изменением № 1 от 2023 года, раздел 7"},
  };
  EXPECT_EQ(methodDocument(methods, "Преобразователь"), "МП 003-2021 с изменением № 1 от 2023 го");
  EXPECT_EQ(methodDocument(methods, "Манометр"), "МП 002");
  EXPECT_EQ(methodDocument(methods, "Термометр"), "");
}

class MakeReportDefaultTemplate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
    setMessageSink([this](const std::string& c, const std::string& t) { messages.push_back(c + ": " + t); });
    const std::string templateFile = quarn::test::path("XLSXTEST_TEMPLATE");
    request.templateFolder = templateFile.substr(0, templateFile.rfind('/'));
    request.templateName = "Протокол поверки.xlsx";
    request.reportsFolder = dir.file("reports");
    // The protocol page's placeholders through the report's own list; the address's first line ends
    // in a carriage return, which the report drops.
    quarn::data::Project page;
    page.readiness.vrCoeff = "0.8";
    quarn::data::ProtocolHeader& h = page.header;
    h.protocolNo = "П-1";
    h.date = "09.12.2026";
    h.temp = "21.5";
    h.hum = "45";
    h.pres = "750";
    h.organisation = "ФБУ \"Тест\"";
    h.accreditationNo = "RA.RU.000001";
    h.address = {"г. Москва,\r", "ул. Тестовая, 1"};
    h.verifierPosition = "инженер";
    h.verifier = "Иванов И.И.";
    h.chiefPosition = "начальник";
    h.chief = "Петров П.П.";
    request.placeholders = protocolPlaceholders(page);
    request.methods = {{"Преобразователь давления", "МИ 1997-89"}};
    dev = emptyDev();
    put(dev->povHeader.temp, "21.5");
    put(dev->povHeader.hum, "45");
    put(dev->povHeader.pres, "750");
    put(dev->povHeader.protocolNo, "П-1");
    put(dev->povHeader.date, "09.12.2026");
    put(dev->povHeader.etalonList, "Калибратор давления, рег. № 12345-67");
    dev->povHeader.vrCoeff = 0.8f;
    dev->cDigits = 3;
    dev->settings.units = 0;
  }
  void TearDown() override { setMessageSink(nullptr); }

  json report() {
    std::string error;
    auto d = xlsxtest::readWorkbook(LastReportOutput(), &error);
    EXPECT_TRUE(d.has_value()) << error;
    return d ? *d : json::object({{"sheets", json::array()}});
  }

  // Every visible sheet is free of placeholders: each one the template holds was filled.
  static void expectNoPlaceholderLeft(const json& d) {
    for (const auto& sheet : d["sheets"]) {
      if (sheet["state"] != "visible") continue;
      EXPECT_EQ(sheet["name"].get<std::string>().find('&'), std::string::npos) << sheet["name"];
      for (const auto& [ref, value] : sheet["cells"].items()) {
        if (value.is_string()) {
          EXPECT_EQ(value.get<std::string>().find('&'), std::string::npos)
              << sheet["name"] << " " << ref << ": " << value;
        }
      }
    }
  }

  xlsxtest::TempFolder dir;
  ReportRequest request;
  std::unique_ptr<TDev> dev;
  std::vector<std::string> messages;
};

TEST_F(MakeReportDefaultTemplate, NoChannelDoesNothing) {
  EXPECT_EQ(MakeReport(*dev, request), -1);
  EXPECT_EQ(dir.list(), std::vector<std::string>{});
}

// A protocol that could not show what its verdict rests on is refused with the reason, and no file
// is written: no result records (an empty table with a verdict of unsuitability), or more records
// than the tables take (a record left out of the tables but counted by the verdict).
TEST_F(MakeReportDefaultTemplate, ResultsTheProtocolCannotHoldAreRefused) {
  struct Case {
    const char* what;
    int records;
    int deleted;
    const char* message;
  };
  const Case cases[] = {
      {"no record", 0, 0, "Нет результатов для протокола"},
      {"every record deleted", 3, 3, "Нет результатов для протокола"},
      {"200 records", 200, 0, "Записей результатов 200, а в таблицы протокола помещается не более 199"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dev = emptyDev();
    channel(*dev, 0, "123");
    for (int i = 0; i < c.records; ++i) result(*dev, i, 100, 0.1f);
    for (int i = 0; i < c.deleted; ++i) dev->results[i].valid = 0;
    messages.clear();
    EXPECT_EQ(MakeReport(*dev, request), -3);
    EXPECT_EQ(LastReportError().rfind(c.message, 0), 0u) << LastReportError();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(c.message), std::string::npos) << messages[0];
    EXPECT_TRUE(LastReportOutput().empty());
    EXPECT_EQ(dir.list(), std::vector<std::string>{});
  }
}

// A reduced error that rounds to zero is a plain 0 in the workbook, not -0.
TEST_F(MakeReportDefaultTemplate, AZeroErrorHasNoSign) {
  channel(*dev, 0, "123");
  result(*dev, 0, 0, -0.0f);
  result(*dev, 1, 300, -0.0004f);  // "-0.000" with three decimals
  result(*dev, 2, 600, -0.25f);
  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();
  EXPECT_EQ(fixedText(-0.0, 3), "0.000");
  EXPECT_EQ(fixedText(-0.0004, 3), "0.000");
  EXPECT_EQ(fixedText(-0.0004, 4), "-0.0004");
  const json d = report();
  const json& p = xlsxtest::sheetNamed(d, "Протокол 123  (к.1)");
  int tableRow = 0;
  for (const auto& [ref, value] : p["cells"].items())
    if (value == "0...600" && ref[0] == 'A' && !tableRow) tableRow = std::stoi(ref.substr(1));
  ASSERT_GT(tableRow, 0);
  for (int r = 0; r < 3; ++r) {
    const json& error = p["cells"]["F" + std::to_string(tableRow + r)];
    ASSERT_TRUE(error.is_number()) << r << ": " << error;
    EXPECT_EQ(std::signbit(error.get<double>()), r == 2) << r << ": " << error;
  }
  // The stored values themselves (a reader may drop the sign of "-0").
  const std::regex negativeZero("<v>-0(\\.0*)?</v>");
  for (const std::string& name : xlsxtest::zipEntryNames(LastReportOutput())) {
    if (name.rfind("xl/worksheets/", 0) != 0) continue;
    EXPECT_FALSE(std::regex_search(xlsxtest::readZipEntry(LastReportOutput(), name), negativeZero)) << name;
  }
}

TEST_F(MakeReportDefaultTemplate, OneSuitableChannelWithADeletedRecord) {
  channel(*dev, 0, "123");
  result(*dev, 0, 0, 0.1f);
  result(*dev, 1, 300, 5.0f);  // deleted below
  result(*dev, 2, 300, -0.2f);
  result(*dev, 3, 600, 0.05f);
  dev->results[1].valid = 0;
  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();
  EXPECT_TRUE(messages.empty()) << messages[0];
  EXPECT_EQ(LastReportOutput(), dir.file("reports/Протокол поверки ДД №123.xlsx"));

  const json d = report();
  ASSERT_EQ(d["sheets"].size(), 16u);
  std::vector<std::string> visible;
  for (const auto& s : d["sheets"])
    if (s["state"] == "visible") visible.push_back(s["name"]);
  EXPECT_EQ(visible, std::vector<std::string>(
                         {"Протокол 123  (к.1)", "свидетельство 123 (к.1)", "сертификат 123 (к.1)"}));
  expectNoPlaceholderLeft(d);

  const json& p = xlsxtest::sheetNamed(d, "Протокол 123  (к.1)");
  std::string title, conclusion;
  int tableRow = 0;
  for (const auto& [ref, value] : p["cells"].items()) {
    if (!value.is_string()) continue;
    const std::string v = value;
    if (v.rfind("ПРОТОКОЛ ПОВЕРКИ", 0) == 0) title = v;
    if (v.rfind("Заключение", 0) == 0) conclusion = v;
    if (v == "0...600" && ref[0] == 'A' && !tableRow) tableRow = std::stoi(ref.substr(1));
  }
  EXPECT_EQ(title, "ПРОТОКОЛ ПОВЕРКИ № П-1");
  EXPECT_NE(conclusion.find("положительные"), std::string::npos) << conclusion;
  EXPECT_NE(conclusion.find("пригодным к применению"), std::string::npos) << conclusion;
  ASSERT_GT(tableRow, 0);
  // Three remaining records, in order, in every column.
  const auto cell = [&](char col, int r) {
    const std::string ref = std::string(1, col) + std::to_string(r);
    return p["cells"].contains(ref) ? p["cells"][ref] : json();
  };
  EXPECT_EQ(cell('B', tableRow), 0);
  EXPECT_EQ(cell('B', tableRow + 1), 300);
  EXPECT_EQ(cell('B', tableRow + 2), 600);
  EXPECT_DOUBLE_EQ(cell('F', tableRow + 1).get<double>(), -0.2);
  EXPECT_EQ(p["formats"]["F" + std::to_string(tableRow + 1)], "0.000");  // three decimals shown
  EXPECT_EQ(cell('G', tableRow + 2), 0.5);
  EXPECT_EQ(cell('A', tableRow + 2), "0...600");
  EXPECT_TRUE(cell('A', tableRow + 3).is_null());
  // The print area of the renamed sheet grew with the two added rows (the template's ends at row 47);
  // the table's header row stays the print title, repeated on every page.
  EXPECT_EQ(p["print_area"], "$A$1:$H$49");
  EXPECT_EQ(p["print_titles"], std::to_string(tableRow - 1) + ":" + std::to_string(tableRow - 1));
  EXPECT_EQ(xlsxtest::sheetNamed(d, "сертификат 123 (к.1)")["print_titles"], "23:23");
  EXPECT_TRUE(xlsxtest::sheetNamed(d, "свидетельство 123 (к.1)")["print_titles"].is_null());
}

TEST_F(MakeReportDefaultTemplate, FourChannelsOneNotSuitableAndASecondReport) {
  for (int c = 0; c < 4; ++c) channel(*dev, c, "SN" + std::to_string(c + 1));
  for (int i = 0; i < 199; ++i) result(*dev, i, static_cast<float>(i * 3), 0.1f);
  dev->results[50].ch[2].reducedError = 0.9f;  // channel 3 fails at one point
  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();
  const json d = report();
  expectNoPlaceholderLeft(d);
  std::vector<std::string> hidden;
  for (const auto& s : d["sheets"])
    if (s["state"] == "hidden") hidden.push_back(s["name"]);
  EXPECT_EQ(hidden, std::vector<std::string>({"&DEV_VER_1", "&DEV_VER_2", "&DEV_VCR_3", "&DEV_VER_4"}));
  const json& notice = xlsxtest::sheetNamed(d, "извещение SN3 (к.3)");
  ASSERT_FALSE(notice.is_null());
  const json& p4 = xlsxtest::sheetNamed(d, "Протокол SN4  (к.4)");
  int rows = 0;
  for (const auto& [ref, value] : p4["cells"].items())
    if (ref[0] == 'A' && value == "0...600") ++rows;
  EXPECT_EQ(rows, 199);

  // What the fill did not change is stored byte for byte as in the template: the document
  // properties, theme, relationships and content types, and the hidden sheets.
  const std::string report = LastReportOutput();
  const std::string templateFile = quarn::test::path("XLSXTEST_TEMPLATE");
  std::vector<std::string> unchanged;
  for (const std::string& name : xlsxtest::zipEntryNames(templateFile)) {
    if (xlsxtest::readZipEntry(report, name) != xlsxtest::readZipEntry(templateFile, name)) continue;
    unchanged.push_back(name);
    EXPECT_TRUE(xlsxtest::readZipEntry(report, name, true) ==
                xlsxtest::readZipEntry(templateFile, name, true))
        << name;
  }
  EXPECT_EQ(unchanged,
            std::vector<std::string>({"docProps/app.xml", "docProps/core.xml", "xl/theme/theme1.xml",
                                      "xl/worksheets/sheet3.xml", "xl/worksheets/sheet7.xml",
                                      "xl/worksheets/sheet10.xml", "xl/worksheets/sheet15.xml", "_rels/.rels",
                                      "xl/_rels/workbook.xml.rels", "[Content_Types].xml"}));

  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();
  EXPECT_EQ(LastReportOutput(), dir.file("reports/Протокол поверки ДД №SN1 SN2 SN3 SN4(1).xlsx"));
}

// Under a locale with a decimal comma (Qt takes it from a Russian session) the tables still hold
// numbers, and the interval and signal texts keep their points.
TEST_F(MakeReportDefaultTemplate, TablesHoldNumbersInACommaLocale) {
  xlsxtest::CommaNumericLocale comma;
  if (!comma.active()) GTEST_SKIP() << comma.why();
  channel(*dev, 0, "123");
  dev->devCh[0].Max = 1.6f;
  dev->devCh[0].elTypeSignal = 4;
  dev->devCh[0].el_Min = 0;
  dev->devCh[0].el_Max = 10;
  put(dev->devCh[0].el_Unit, "В");
  result(*dev, 0, 0.4f, 0.125f);
  result(*dev, 1, 1.2f, -0.25f);
  EXPECT_EQ(measuringIntervalText(dev->devCh[0]), "0.00...1.60");
  EXPECT_EQ(utf8(signalText(dev->devCh[0])), "0.00...10.00 В");
  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();

  const json d = report();
  const json& p = xlsxtest::sheetNamed(d, "Протокол 123  (к.1)");
  int tableRow = 0;
  for (const auto& [ref, value] : p["cells"].items())
    if (value == "0.00...1.60" && ref[0] == 'A' && !tableRow) tableRow = std::stoi(ref.substr(1));
  ASSERT_GT(tableRow, 0) << p["cells"];
  const auto cell = [&](char col, int r) { return p["cells"][std::string(1, col) + std::to_string(r)]; };
  ASSERT_TRUE(cell('B', tableRow).is_number()) << cell('B', tableRow);
  EXPECT_DOUBLE_EQ(cell('B', tableRow).get<double>(), 0.4);
  ASSERT_TRUE(cell('F', tableRow + 1).is_number()) << cell('F', tableRow + 1);
  EXPECT_DOUBLE_EQ(cell('F', tableRow + 1).get<double>(), -0.25);
}

TEST_F(MakeReportDefaultTemplate, OpensInLibreOfficeWhenInstalled) {
  if (std::system("command -v soffice >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "LibreOffice is not installed; the report was not opened in it";
  channel(*dev, 0, "123");
  result(*dev, 0, 100, 0.1f);
  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();
  // A workbook LibreOffice must repair does not convert cleanly in headless mode.
  const std::string cmd = "cd '" + dir.path() + "' && soffice --headless --convert-to csv --outdir conv '" +
                          LastReportOutput() + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  struct stat st;
  EXPECT_EQ(::stat(dir.file("conv").c_str(), &st), 0) << "LibreOffice did not convert the report";
}

TEST_F(MakeReportDefaultTemplate, OutputPathOfTheCallersChoice) {
  channel(*dev, 0, "1");
  result(*dev, 0, 100, 0.1f);
  request.outputPath = dir.file("протокол.xlsx");
  ASSERT_EQ(MakeReport(*dev, request), 0) << LastReportError();
  EXPECT_EQ(LastReportOutput(), dir.file("протокол.xlsx"));
  // A name Windows-1251 cannot carry is refused rather than written under another name.
  request.outputPath = dir.file("报告.xlsx");
  EXPECT_EQ(MakeReport(*dev, request), -2);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Windows-1251"), std::string::npos) << messages[0];
  EXPECT_EQ(dir.list(), std::vector<std::string>({"протокол.xlsx"}));
}

TEST_F(MakeReportDefaultTemplate, MissingTemplateIsShown) {
  channel(*dev, 0, "1");
  result(*dev, 0, 100, 0.1f);
  request.templateName = "нет такого.xlsx";
  EXPECT_EQ(MakeReport(*dev, request), -2);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Ошибка формирования протокола: Файл шаблона не задан или недоступен!");
}

}  // namespace

namespace {

// TMPDIR for the life of the object.
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::string& path) {
    if (const char* was = std::getenv("TMPDIR")) before_ = was;
    ::setenv("TMPDIR", path.c_str(), 1);
  }
  ~ScopedTmpdir() {
    if (before_)
      ::setenv("TMPDIR", before_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }
  ScopedTmpdir(const ScopedTmpdir&) = delete;
  ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

 private:
  std::optional<std::string> before_;
};

// The protocol of a calibration: two devices (channels 1 and 3) measured as found and as left, with
// different numbers of records and different values in each run, so every cell tells which run it
// came from.
class CalibrationProtocol : public MakeReportDefaultTemplate {
 protected:
  std::unique_ptr<TDev> run(int records, float error1, float error3) {
    auto d = emptyDev();
    std::memcpy(&d->povHeader, &dev->povHeader, sizeof d->povHeader);
    d->povHeader.isCalib = 1;
    d->cDigits = 3;
    channel(*d, 0, "A1");
    channel(*d, 2, "A3");
    for (int i = 0; i < records; ++i) {
      result(*d, i, static_cast<float>(i * 100 + records), 0);
      d->results[i].ch[0].reducedError = error1;
      d->results[i].ch[2].reducedError = error3;
    }
    return d;
  }
  quarn::data::RunSnapshot snapshot(const TDev& d) {
    return quarn::data::RunSnapshot(d, request.placeholders, {"МИ 1997-89", "", "МИ 1997-89", ""}, 1);
  }
  quarn::data::CalibrationRuns calibration(bool asLeft) {
    quarn::data::CalibrationRuns runs;
    runs.asFound = snapshot(*run(3, 0.6f, 0.1f));  // channel 1 beyond 0.5 x 0.8
    if (asLeft) {
      runs.asLeft = snapshot(*run(4, 0.05f, 0.2f));
      runs.adjustments = {{1, "A1", "ПД", quarn::data::TrimKind::Sensor,
                           "Pmin 0.000 кПа (эталон 0.010 кПа), Pmax 600.000 кПа"},
                          {1, "A1", "ПД", quarn::data::TrimKind::Current,
                           "4/12/20 мА: до подстройки 4.060/12.100/20.120 мА"}};
    }
    runs.reasons[2] = "подстройка невозможна: нет HART";
    return runs;
  }
  // Column `col` of the rows whose column A holds the interval text, in order.
  static std::vector<json> tableColumn(const json& sheet, char col) {
    std::vector<int> rows;
    for (const auto& [ref, value] : sheet["cells"].items())
      if (ref[0] == 'A' && value == "0...600") rows.push_back(std::stoi(ref.substr(1)));
    std::sort(rows.begin(), rows.end());
    std::vector<json> out;
    for (int r : rows) out.push_back(sheet["cells"].value(std::string(1, col) + std::to_string(r), json()));
    return out;
  }
  static std::string cellStartingWith(const json& sheet, const std::string& start) {
    for (const auto& [ref, value] : sheet["cells"].items())
      if (value.is_string() && value.get<std::string>().rfind(start, 0) == 0) return value;
    return {};
  }
};

// Each device's protocol holds the as-found table, its result as found and its trims (or the reason
// there were none), then the as-left table; the conclusion, the certificate and the calibration
// certificate are the as-left run's.
TEST_F(CalibrationProtocol, HoldsBothRunsAndTheTrimsWithTheAsLeftConclusion) {
  // The first pass's workbook goes into the temporary folder, here the test's own, and is removed.
  const ScopedTmpdir tmp(dir.path());
  ASSERT_EQ(makeCalibrationReport(calibration(true), request), 0) << LastReportError();
  EXPECT_TRUE(messages.empty()) << messages[0];
  EXPECT_EQ(LastReportOutput(), dir.file("reports/Протокол калибовки ДД №A1 A3.xlsx"));
  EXPECT_EQ(dir.list(), std::vector<std::string>{"reports"}) << "the first pass's workbook stays behind";
  const json d = report();
  expectNoPlaceholderLeft(d);
  std::vector<std::string> visible;
  for (const auto& s : d["sheets"])
    if (s["state"] == "visible") visible.push_back(s["name"]);
  // Channel 1 failed as found and passes as left: its certificate, not its notice.
  EXPECT_EQ(visible, std::vector<std::string>({"Протокол A1  (к.1)", "свидетельство A1 (к.1)",
                                               "сертификат A1 (к.1)", "Протокол A3  (к.3)",
                                               "свидетельство A3 (к.3)", "сертификат A3 (к.3)"}));

  const json& p1 = xlsxtest::sheetNamed(d, "Протокол A1  (к.1)");
  EXPECT_EQ(cellStartingWith(p1, "ПРОТОКОЛ"), "ПРОТОКОЛ КАЛИБРОВКИ № П-1");
  // Three as-found records, then four as-left ones: references and errors of each run in turn.
  EXPECT_EQ(tableColumn(p1, 'B'), std::vector<json>({3, 103, 203, 4, 104, 204, 304}));
  const std::vector<json> errors = tableColumn(p1, 'F');
  ASSERT_EQ(errors.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(errors[i].get<double>(), i < 3 ? 0.6 : 0.05) << i;
  EXPECT_EQ(cellStartingWith(p1, "Результаты до подстройки"), "Результаты до подстройки: отрицательные.");
  EXPECT_EQ(cellStartingWith(p1, "подстройка"),
            "подстройка сенсора: Pmin 0.000 кПа (эталон 0.010 кПа), Pmax 600.000 кПа\n"
            "подстройка тока: 4/12/20 мА: до подстройки 4.060/12.100/20.120 мА");
  const std::string conclusion = cellStartingWith(p1, "Заключение");
  EXPECT_NE(conclusion.find("после подстройки положительные"), std::string::npos) << conclusion;
  // The calibration certificate's table is the as-left run's.
  EXPECT_EQ(tableColumn(xlsxtest::sheetNamed(d, "сертификат A1 (к.1)"), 'B'),
            std::vector<json>({4, 104, 204, 304}));

  const json& p3 = xlsxtest::sheetNamed(d, "Протокол A3  (к.3)");
  EXPECT_EQ(cellStartingWith(p3, "Результаты до подстройки"), "Результаты до подстройки: положительные.");
  EXPECT_EQ(cellStartingWith(p3, "подстройка"), "подстройка невозможна: нет HART");
}

// Nothing adjusted: the as-found run's protocol in the verification template, each device's notes
// saying why; a device suitable as found with nothing said of it needed nothing.
TEST_F(CalibrationProtocol, WithoutAnAsLeftRunTheAsFoundRunIsTheProtocol) {
  quarn::data::CalibrationRuns runs = calibration(false);
  ASSERT_EQ(makeCalibrationReport(runs, request), 0) << LastReportError();
  const json d = report();
  expectNoPlaceholderLeft(d);
  EXPECT_EQ(d["sheets"].size(), 16u);
  const json& p1 = xlsxtest::sheetNamed(d, "Протокол A1  (к.1)");
  EXPECT_EQ(cellStartingWith(p1, "ПРОТОКОЛ"), "ПРОТОКОЛ ПОВЕРКИ № П-1");
  EXPECT_EQ(tableColumn(p1, 'B'), std::vector<json>({3, 103, 203}));
  EXPECT_NE(cellStartingWith(p1, "Заключение").find("отрицательные"), std::string::npos);
  const auto notes = [&](const char* sheet) {
    const json& p = xlsxtest::sheetNamed(d, sheet);
    for (const auto& [ref, value] : p["cells"].items())
      if (value == "Примечания:") return p["cells"].value("C" + ref.substr(1), json()).get<std::string>();
    return std::string();
  };
  EXPECT_EQ(notes("Протокол A1  (к.1)"), "Калибровка: подстройка не выполнялась");
  EXPECT_EQ(notes("Протокол A3  (к.3)"), "Калибровка: подстройка невозможна: нет HART");
  runs.reasons[2].clear();
  ASSERT_EQ(makeCalibrationReport(runs, request), 0) << LastReportError();
  const json again = report();
  const json& p3 = xlsxtest::sheetNamed(again, "Протокол A3  (к.3)");
  bool said = false;
  for (const auto& [ref, value] : p3["cells"].items())
    said = said || value == "Калибровка: подстройка не требовалась";
  EXPECT_TRUE(said) << p3["cells"];
}

// A template of the user's own without the calibration's places is refused for a calibration with an
// as-left run, naming what it misses, and nothing is written (no protocol that leaves out the as-found
// results); the same template still takes the as-found run's protocol of a calibration without one.
TEST_F(CalibrationProtocol, ATemplateWithoutTheCalibrationsPlacesIsRefused) {
  std::filesystem::copy_file(quarn::test::path("XLSXTEST_TEMPLATE"), dir.file("Свой шаблон.xlsx"));
  request.templateFolder = dir.path();
  request.templateName = "Свой шаблон.xlsx";
  EXPECT_EQ(makeCalibrationReport(calibration(true), request), -2);
  EXPECT_NE(LastReportError().find("&CAL_D1_AF_RESULT"), std::string::npos) << LastReportError();
  EXPECT_NE(LastReportError().find("&CAL_D3_ADJ"), std::string::npos) << LastReportError();
  EXPECT_EQ(dir.list(), std::vector<std::string>({"Свой шаблон.xlsx"}));
  EXPECT_EQ(makeCalibrationReport(calibration(false), request), 0) << LastReportError();
}

}  // namespace
