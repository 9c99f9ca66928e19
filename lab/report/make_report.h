// Assembling the verification protocol: from the shared record's results and the protocol data to
// the report exchange block, then the report library fills a copy of the template.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TDev.h"

namespace quarn::data {
class RunSnapshot;
}

namespace quarn::report {

struct ReportRequest {
  std::string templateFolder;  // UTF-8
  std::string templateName;
  // Folder the report goes into ("reports" beside the program in the workstation); made when missing.
  std::string reportsFolder;
  // A path of the caller's choice instead (the headless host's --report OUT.xlsx); its folder must exist.
  std::string outputPath;
  // Texts of the placeholder controls in their order: (control name, text). "amp_CD_DATE" (or
  // "CD_DATE") fills the placeholder "&CD_DATE". UTF-8.
  std::vector<std::pair<std::string, std::string>> placeholders;
  // Rows of the measurement-method grid: (device name, method document). UTF-8.
  std::vector<std::pair<std::string, std::string>> methods;
  // A channel's method document as it is (a run made again from the history), instead of the one
  // found in `methods`. UTF-8.
  std::array<std::optional<std::string>, 4> channelMethods;
  // The line that names the run's entry in the run history (history::protocolFooter), filling
  // "&HIST_ENTRY" at the foot of every sheet; empty leaves that line blank. UTF-8.
  std::string historyEntry;
  // A channel's notes ("&D<n>_NOTES") instead of "нет" (a calibration says what it did). UTF-8.
  std::array<std::optional<std::string>, 4> channelNotes;
  // Further placeholders the protocol fills, after the placeholder controls' (key with its "&", text).
  // UTF-8.
  std::vector<std::pair<std::string, std::string>> extraPairs;
};

// 0 success; -1 no channel enabled (nothing done); -3 refused, with LastReportError saying why: no
// result records ("Нет результатов для протокола"), or more than the tables take
// (data::kProtocolRecordsMax); otherwise the result of RunReport (-1 library missing, -2 function
// missing or no workbook made, with LastReportError saying why).
int MakeReport(const TDev& dev, const ReportRequest& request);
// The first part of MakeReport: the block filled and sealed, not handed to the report library.
// 0; -1 no channel enabled; -2 a path that Windows-1251 cannot carry (told through the message
// sink); -3 no result records or more than the protocol takes. With `outputPath` given nothing
// touches the file system.
int AssembleReport(const TDev& dev, const ReportRequest& request);

// The protocol of a run from the run's own snapshot: its record, its protocol page's texts and its
// devices' method documents. `request` says which template and where the workbook goes; its texts
// and methods are replaced by the run's. The one way both hosts make a protocol of a run, just
// finished or taken from the history.
int makeRunReport(const data::RunSnapshot& run, ReportRequest request);
// The request of makeRunReport: the run's protocol texts and method documents in `request`.
ReportRequest runRequest(const data::RunSnapshot& run, ReportRequest request);

// The pieces of the report, for the hosts and the tests. The verdict is the data layer's
// (Suitability.h).
std::string measuringIntervalText(const TDevChannel& ch);  // Windows-1251 (ASCII)
std::string signalText(const TDevChannel& ch);             // Windows-1251
// The method document of the last grid row whose device name contains `deviceName` (UTF-8).
std::string methodDocument(const std::vector<std::pair<std::string, std::string>>& methods,
                           const std::string& deviceName);
// "Протокол поверки ДД №<sn> <sn>.xls" (or "калибовки"): the enabled channels' serial numbers
// separated by blanks. Windows-1251.
std::string reportFileName(const TDev& dev);

}  // namespace quarn::report
