#include "calibration_report.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Suitability.h"
#include "quarn/cp1251.h"
#include "report_exchange.h"
#include "report_parts.h"

namespace quarn::report {

namespace data = quarn::data;

namespace {

// The as-found run's tables: the as-left run's names with "AF_" after the "&".
const detail::TableNames kAsFoundTables = {
    "&AF_REFF_I",
    {"&AF_D%d_INT_I", "&AF_D%d_ECSGN_I", "&AF_D%d_SGN_I", "&AF_D%d_VAL_I", "&AF_D%d_ACC_I",
     "&AF_D%d_ALL_ACC_I", "&AF_D%d_UNC_I"}};

// The marker of the as-found table row. It does not contain the report library's marker, so the first
// pass leaves that row alone; the second turns it into the library's marker, and the row is filled.
constexpr const char* kAsFoundMarker = "&LST_AF";
constexpr const char* kTableMarker = "&LST_F";

bool suitable(const TDev& dev, int channel) { return data::channelSuitable(dev, channel).value_or(false); }

// A folder of its own for the first pass's workbook, removed with it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    std::string base = std::filesystem::temp_directory_path(ec).string();
    if (ec || base.empty()) base = "/tmp";
    std::string pattern = base + "/quarn-protocol-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string calibrationTemplateName(const std::string& templateName) {
  if (templateName == "Протокол поверки.xls" || templateName == "Протокол поверки.xlsx")
    return kCalibrationTemplateName;
  return templateName;
}

std::string adjustmentText(const data::CalibrationRuns& runs, int channel) {
  std::string text;
  const auto line = [&text](const std::string& s) { text += (text.empty() ? "" : "\n") + s; };
  for (const data::CalibrationAdjustment& a : runs.adjustments)
    if (a.channel == channel + 1) line(std::string(data::trimKindText(a.kind)) + ": " + a.note);
  const std::string& reason = runs.reasons[static_cast<std::size_t>(channel)];
  if (!reason.empty()) line(reason);
  if (text.empty())
    text = runs.asFound && suitable(runs.asFound->record(), channel) ? "подстройка не требовалась"
                                                                     : "подстройка не выполнялась";
  return text;
}

int makeCalibrationReport(const data::CalibrationRuns& runs, ReportRequest request) {
  if (!runs.asFound) return -1;
  const TDev& found = runs.asFound->record();
  if (!runs.asLeft) {
    ReportRequest only = runRequest(*runs.asFound, std::move(request));
    for (int c = 0; c < 4; ++c)
      if (found.devCh[c].enabled)
        only.channelNotes[static_cast<std::size_t>(c)] = "Калибровка: " + adjustmentText(runs, c);
    return MakeReport(found, only);
  }

  const TDev& left = runs.asLeft->record();
  // The as-found run's records are refused on the same grounds as the as-left run's, before any
  // workbook is made.
  bool anyEnabled = false;
  for (const TDevChannel& ch : left.devCh) anyEnabled = anyEnabled || ch.enabled;
  if (!anyEnabled) return -1;
  const std::vector<int> foundRecords = detail::validRecords(found);
  if (const int refused = detail::refuseRecords(foundRecords); refused != 0) return refused;

  ScratchFolder scratch;
  if (scratch.path().empty()) {
    RefuseReport("Не удалось создать временную папку для протокола калибровки.");
    return -2;
  }
  // First pass: the as-left run's protocol in the calibration template, with each device's result as
  // found and its trims.
  ReportRequest first = runRequest(*runs.asLeft, request);
  first.templateName = calibrationTemplateName(request.templateName);
  first.outputPath = scratch.path() + "/as-left.xlsx";
  first.reportsFolder.clear();
  for (int c = 0; c < 4; ++c) {
    if (!left.devCh[c].enabled) continue;
    const std::string n = std::to_string(c + 1);
    first.extraPairs.emplace_back("&CAL_D" + n + "_AF_RESULT",
                                  suitable(found, c) ? "положительные" : "отрицательные");
    first.extraPairs.emplace_back("&CAL_D" + n + "_ADJ", adjustmentText(runs, c));
  }
  if (const int result = MakeReport(left, first); result != 0) return result;
  const std::string firstPass = LastReportOutput();

  // Second pass: the as-found run's tables into that workbook, written where the request says.
  FreeReport();
  if (!detail::setReportFiles(left, firstPass, request)) {
    FreeReport();
    return -2;
  }
  detail::hideSheets(left);
  Add_ReplacePair(kAsFoundMarker, kTableMarker);
  detail::addTables(found, foundRecords, kAsFoundTables);
  Checksum();
  const int result = RunReport();
  FreeReport();
  return result;
}

}  // namespace quarn::report
