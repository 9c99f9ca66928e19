// The pieces the protocol of a run and the protocol of a calibration are both assembled from. Internal
// to the report assembly.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "TDev.h"
#include "make_report.h"

namespace quarn::report::detail {

// The names of a run's result tables: the reference column and seven per channel, each with one "%d"
// for the channel number (interval, expected signal, signal, pressure, reduced error, permissible
// error, uncertainty).
struct TableNames {
  const char* reference;
  std::array<const char*, 7> channel;
};

// The template path of a request (folder and name joined).
std::string templatePathOf(const ReportRequest& request);
// `templatePath` (UTF-8) and the request's output into the block. False, with the message shown, when
// a path cannot be carried in Windows-1251.
bool setReportFiles(const TDev& dev, const std::string& templatePath, const ReportRequest& request);
// Every sheet of a channel that is off; of an enabled channel, the certificate or the notice it does
// not get.
void hideSheets(const TDev& dev);
// The result records the tables hold, in order.
std::vector<int> validRecords(const TDev& dev);
// -3 with the reason (RefuseReport) for no records or more than the tables take; 0 otherwise.
int refuseRecords(const std::vector<int>& records);
// The result tables: one cell per record.
void addTables(const TDev& dev, const std::vector<int>& records, const TableNames& names);

}  // namespace quarn::report::detail
