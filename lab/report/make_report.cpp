#include "make_report.h"

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstring>

#include "CalibrationRuns.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "Suitability.h"
#include "protocol_fields.h"
#include "quarn/cp1251.h"
#include "report_exchange.h"
#include "report_parts.h"

namespace quarn::report {

namespace data = quarn::data;

namespace {

constexpr int kChannels = 4;
constexpr int kResults = POV_POINTS_MAX;
static_assert(data::kProtocolRecordsMax == XLSX_COLUMN_LIMIT - 1, "the protocol's records fill its tables");

// A fixed text field of the record, up to its terminator or its size.
template <std::size_t N>
std::string field(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

// Truncation towards zero of a float that may be anything.
long truncated(float v) {
  if (!std::isfinite(v) || std::fabs(v) > 2e9f) return 0;
  return static_cast<long>(v);
}

std::string trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  const auto b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// Leading code points of UTF-8 text.
std::string firstChars(const std::string& s, std::size_t n) {
  std::size_t i = 0, chars = 0;
  while (i < s.size() && chars < n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  return s.substr(0, i);
}

// UTF-8 text that Windows-1251 can hold entirely.
bool representable(const std::string& utf8) {
  return text::utf8ToCp1251(utf8, '\x01').find('\x01') == std::string::npos;
}

const char* const kUnitNames[8] = {CP1251("кПа"),        CP1251("МПа"),    CP1251("бар"),
                                   CP1251("кгс/см2"),    CP1251("кгс/м2"), CP1251("мм вод. ст."),
                                   CP1251("мм рт. ст."), CP1251("psi")};

void addPair(const std::string& key, const std::string& value) {
  Add_ReplacePair(key.c_str(), value.c_str());
}
void addPairFmt(const char* fmt, int n, const std::string& value) { AddPairFmt(fmt, n, value.c_str()); }

std::string channelKey(const char* fmt, int n) {
  const std::string_view f = fmt;
  const auto at = f.find("%d");
  if (at == std::string_view::npos) return std::string(f);
  std::string key(f.substr(0, at));
  key += std::to_string(n);
  key += f.substr(at + 2);
  return key;
}

}  // namespace

std::string measuringIntervalText(const TDevChannel& ch) {
  int k = 3;
  if (ch.Max > 1) k = 2;
  if (ch.Max > 10) k = 1;
  if (ch.Max > 100) k = 0;
  return fixedText(ch.Min, k) + "..." + fixedText(ch.Max, k);
}

std::string signalText(const TDevChannel& ch) {
  const std::string unit = field(ch.el_Unit);
  if (ch.elTypeSignal == 4) return fixedText(ch.el_Min, 2) + "..." + fixedText(ch.el_Max, 2) + " " + unit;
  return std::to_string(truncated(ch.el_Min)) + "..." + std::to_string(truncated(ch.el_Max)) + " " + unit;
}

std::string methodDocument(const std::vector<std::pair<std::string, std::string>>& methods,
                           const std::string& deviceName) {
  std::string document;
  for (const auto& [name, doc] : methods)
    if (trim(name).find(deviceName) != std::string::npos) document = doc;
  return firstChars(document, 39);
}

std::string reportFileName(const TDev& dev) {
  std::string name = CP1251("Протокол ");
  name += dev.povHeader.isCalib ? CP1251("калибовки ДД №") : CP1251("поверки ДД №");
  std::string numbers;
  for (int c = 0; c < kChannels; ++c)
    if (const std::string sn = trim(field(dev.devCh[c].sn)); dev.devCh[c].enabled && !sn.empty())
      numbers += (numbers.empty() ? "" : " ") + sn;
  return name + numbers + ".xls";
}

namespace detail {

std::string templatePathOf(const ReportRequest& request) {
  std::string templatePath = request.templateFolder;
  if (!templatePath.empty() && templatePath.back() != '/' && templatePath.back() != '\\') templatePath += '/';
  return templatePath + request.templateName;
}

bool setReportFiles(const TDev& dev, const std::string& templatePath, const ReportRequest& request) {
  const std::string folder = request.reportsFolder.empty() ? std::string("reports") : request.reportsFolder;
  const std::string& chosen = request.outputPath.empty() ? folder : request.outputPath;
  // The block carries Windows-1251 paths; a path that cannot be written so would name another file.
  if (!representable(templatePath) || !representable(chosen)) {
    ShowMessage("Ошибка формирования протокола",
                "Путь к шаблону или к протоколу содержит символы вне "
                "кодировки Windows-1251: " +
                    templatePath + ", " + chosen);
    return false;
  }
  std::string outputPath = text::utf8ToCp1251(request.outputPath);
  if (request.outputPath.empty()) {
    // The reports folder is made on first use; when that fails the report library names the failure.
    ::mkdir(folder.c_str(), 0777);
    outputPath = text::utf8ToCp1251(folder) + "/" + reportFileName(dev);
  }
  SetFiles(text::utf8ToCp1251(templatePath).c_str(), outputPath.c_str());
  return true;
}

void hideSheets(const TDev& dev) {
  for (int c = 0; c < kChannels; ++c) {
    const int n = c + 1;
    if (!dev.devCh[c].enabled) {
      for (const char* fmt : {"&DEV_SH_%d", "&DEV_VCR_%d", "&DEV_VER_%d", "&DEV_CCR_%d"})
        AddHiddenSheet(channelKey(fmt, n).c_str());
    } else {
      const bool suitable = data::channelSuitable(dev, c).value_or(false);
      AddHiddenSheet(channelKey(suitable ? "&DEV_VER_%d" : "&DEV_VCR_%d", n).c_str());
    }
  }
}

std::vector<int> validRecords(const TDev& dev) {
  std::vector<int> records;
  for (int i = 0; i < kResults; ++i)
    if (dev.results[i].valid) records.push_back(i);
  return records;
}

int refuseRecords(const std::vector<int>& records) {
  // A protocol without results would carry an empty table and a verdict of unsuitability it does
  // not show; one with more records than its tables take would leave out records the verdict
  // counted. Both are refused rather than written.
  if (records.empty()) {
    RefuseReport("Нет результатов для протокола");
    return -3;
  }
  if (records.size() > static_cast<std::size_t>(data::kProtocolRecordsMax)) {
    RefuseReport("Записей результатов " + std::to_string(records.size()) +
                 ", а в таблицы протокола помещается не более " + std::to_string(data::kProtocolRecordsMax) +
                 ": протокол не сформирован.");
    return -3;
  }
  return 0;
}

void addTables(const TDev& dev, const std::vector<int>& records, const TableNames& names) {
  const int d = dev.cDigits;
  SetColumnCount(static_cast<int>(records.size()));
  AddTable(names.reference);
  for (int i : records) AddFloatCell(names.reference, dev.results[i].pRef * dev.settings.unitFactor, d);
  for (int c = 0; c < kChannels; ++c) {
    const TDevChannel& ch = dev.devCh[c];
    if (!ch.enabled) continue;
    const int n = c + 1;
    const std::string interval = measuringIntervalText(ch);
    std::array<std::string, 7> t;
    for (std::size_t k = 0; k < t.size(); ++k) {
      t[k] = channelKey(names.channel[k], n);
      AddTable(t[k].c_str());
    }
    for (int i : records) {
      const TPovChResult& r = dev.results[i].ch[c];
      AddCell(t[0].c_str(), interval.c_str());
      AddFloatCell(t[1].c_str(), r.iExpected, d);
      AddFloatCell(t[2].c_str(), r.current, d);
      AddFloatCell(t[3].c_str(), r.pFromI, d);
      AddFloatCell(t[4].c_str(), r.reducedError, d);
      AddFloatCell(t[5].c_str(), ch.errOk, d);
      AddFloatCell(t[6].c_str(), r.uncertainty, d);
    }
  }
}

}  // namespace detail

namespace {

// Conditions, the reference equipment and the texts of the placeholder controls.
void addHeaderPairs(const TDev& dev, const ReportRequest& request) {
  const TPovHeader& h = dev.povHeader;
  addPair("&CD_TEMP_FULL", CP1251("температура воздуха: ") + field(h.temp) + CP1251("°С"));
  addPair("&CD_HUM_FULL", CP1251("относительная влажность: ") + field(h.hum) + "%");
  addPair("&CD_PRES_FULL", CP1251(" атмосферное давление: ") + field(h.pres) + CP1251(" мм рт.ст."));
  addPair("&CD_ET_AUX_LST", field(h.etalonList));
  addPair(kHistoryEntryPlaceholder,
          request.historyEntry.empty() ? " " : text::utf8ToCp1251(request.historyEntry));

  for (const auto& [control, value] : request.placeholders) {
    // A calibration's own fields ride with the protocol texts in the history; no cell shows them.
    if (control.rfind(data::kCalibrationFieldPrefix, 0) == 0) continue;
    std::string name = control;
    if (name.rfind("amp_", 0) == 0) name = name.substr(4);
    if (!name.empty() && name.front() == '&') name = name.substr(1);
    std::string text;
    for (char ch : value)
      if (ch != '\r') text += ch;
    addPair(text::utf8ToCp1251("&" + name), text::utf8ToCp1251(text));
  }
  for (const auto& [key, value] : request.extraPairs)
    addPair(text::utf8ToCp1251(key), text::utf8ToCp1251(value));
}

// Each enabled channel's device, then the titles of its sheets.
void addDevicePairs(const TDev& dev, const ReportRequest& request) {
  for (int c = 0; c < kChannels; ++c) {
    const TDevChannel& ch = dev.devCh[c];
    if (!ch.enabled) continue;
    const int n = c + 1;
    const std::string name = field(ch.name);
    const std::optional<std::string>& given = request.channelMethods[static_cast<std::size_t>(c)];
    const std::string method = given ? *given : methodDocument(request.methods, text::cp1251ToUtf8(name));
    const std::optional<std::string>& notes = request.channelNotes[static_cast<std::size_t>(c)];
    addPairFmt("&D%d_OWNER", n, field(ch.owner));
    addPairFmt("&D%d_NAME", n, name);
    addPairFmt("&D%d_TYPE", n, field(ch.model));
    addPairFmt("&D%d_SERIAL", n, field(ch.sn));
    addPairFmt("&D%d_INV", n, field(ch.invNo));
    addPairFmt("&VR_D%d_DOC", n, text::utf8ToCp1251(method));
    addPairFmt("&D%d_SIGNAL_UNITS", n, field(ch.el_Unit));
    addPairFmt("&D%d_UNITS", n, field(ch.Unit));
    addPairFmt("&D%d_SIGNAL", n, signalText(ch));
    addPairFmt("&D%d_NOTES", n, notes ? text::utf8ToCp1251(*notes) : CP1251("нет"));
    for (const char* fmt : {"&D%d_CHECK_THT", "&D%d_CHECK_USG", "&D%d_CHECK_EL", "&D%d_CHECK_R"})
      addPairFmt(fmt, n, CP1251("соответствует"));
    addPairFmt("&D%d_FINTERVAL", n, " ");
    addPairFmt("&D%d_VER_ID", n, " ");
  }

  for (int c = 0; c < kChannels; ++c) {
    if (!dev.devCh[c].enabled) continue;
    const int n = c + 1;
    const std::string sn = field(dev.devCh[c].sn);
    const std::string k = " (" + std::string(CP1251("к.")) + std::to_string(n) + ")";
    addPairFmt("&DEV_SH_%d", n, CP1251("Протокол ") + sn + " " + k);
    addPairFmt("&DEV_VCR_%d", n, CP1251("свидетельство ") + sn + k);
    addPairFmt("&DEV_VER_%d", n, CP1251("извещение ") + sn + k);
    addPairFmt("&DEV_CCR_%d", n, CP1251("сертификат ") + sn + k);
  }
}

// The verdict of each enabled channel and the document it gets.
void addResultPairs(const TDev& dev) {
  const TPovHeader& h = dev.povHeader;
  for (int c = 0; c < kChannels; ++c) {
    if (!dev.devCh[c].enabled) continue;
    const int n = c + 1;
    const bool ok = data::channelSuitable(dev, c).value_or(false);
    const std::string number = field(h.protocolNo);
    addPairFmt("&D%d_SH_NUM", n, number);
    addPairFmt("&VR_D%d_TYPE_OF", n, h.isPeriodic ? CP1251("периодической") : CP1251("первичной"));
    addPairFmt("&VR_D%d_RESULT_SHORT", n, ok ? CP1251("положительные") : CP1251("отрицательные"));
    addPairFmt("&VR_D%d_RES_DOC", n,
               std::string(ok ? CP1251("Выписано свидетельство о поверке")
                              : CP1251("Выписано извещение о непригодности")) +
                   CP1251(" № ") + number + CP1251(" от ") + field(h.date) + ".");
    addPairFmt("&VR_D%d_SUITABLE", n,
               ok ? CP1251("пригодным к применению") : CP1251("не пригодным к применению"));
  }
}

const detail::TableNames kRunTables = {
    "&ET_REFF_I",
    {"&D%d_INT_I", "&D%d_ECSGN_I", "&D%d_SGN_I", "&D%d_VAL_I", "&D%d_ACC_I", "&D%d_ALL_ACC_I", "&D%d_UNC_I"}};

}  // namespace

// The block is filled in the order the workbook's replacement needs (longer keys first within each
// group), handed to the report library and emptied again.
int AssembleReport(const TDev& dev, const ReportRequest& request) {
  bool anyEnabled = false;
  for (int c = 0; c < kChannels; ++c) anyEnabled = anyEnabled || dev.devCh[c].enabled;
  if (!anyEnabled) return -1;

  const std::vector<int> records = detail::validRecords(dev);
  if (const int refused = detail::refuseRecords(records); refused != 0) return refused;

  FreeReport();
  if (!detail::setReportFiles(dev, detail::templatePathOf(request), request)) return -2;
  detail::hideSheets(dev);
  addHeaderPairs(dev, request);
  addDevicePairs(dev, request);
  const int units = dev.settings.units;
  addPair("&ET_UNIT", units >= 0 && units < 8 ? kUnitNames[units] : "");
  detail::addTables(dev, records, kRunTables);
  addResultPairs(dev);
  Checksum();
  return 0;
}

int MakeReport(const TDev& dev, const ReportRequest& request) {
  if (const int assembled = AssembleReport(dev, request); assembled != 0) return assembled;
  const int result = RunReport();
  FreeReport();
  return result;
}

ReportRequest runRequest(const data::RunSnapshot& run, ReportRequest request) {
  request.placeholders = run.protocolFields();
  request.methods.clear();
  for (int c = 0; c < kChannels; ++c)
    request.channelMethods[static_cast<std::size_t>(c)] = run.channelMethods()[static_cast<std::size_t>(c)];
  return request;
}

int makeRunReport(const data::RunSnapshot& run, ReportRequest request) {
  return MakeReport(run.record(), runRequest(run, std::move(request)));
}

}  // namespace quarn::report
