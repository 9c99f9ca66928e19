#include "protocol.h"

#include <unistd.h>

#include <cstdio>
#include <functional>

#include "MethodList.h"
#include "ProjectFile.h"
#include "calibration_report.h"
#include "quarn/library_binding.h"
#include "report_exchange.h"
#include "session.h"

namespace cli {

namespace report = quarn::report;

void setReportTemplate(report::ReportRequest& request, const std::string& templatePath,
                       quarn::data::ReportTemplate t) {
  if (!templatePath.empty()) {
    const auto slash = templatePath.rfind('/');
    t.folder = slash == std::string::npos ? "" : templatePath.substr(0, slash + 1);
    t.name = slash == std::string::npos ? templatePath : templatePath.substr(slash + 1);
  } else {
    quarn::data::resolveReportTemplate(t, quarn::host::programFolder());
  }
  request.templateFolder = t.folder;
  request.templateName = t.name;
}

quarn::data::MethodList methodList() {
  quarn::data::MethodList methods{};
  quarn::data::loadMethods(quarn::host::programFolder() + "mp.ini", methods);
  return methods;
}

namespace {

// Runs the report assembly with its messages on stderr; throws Failure with its reason.
void runAssembly(const std::function<int()>& assemble) {
  report::setMessageSink([](const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "quarn-cli: %s: %s\n", caption.c_str(), text.c_str());
  });
  const int result = assemble();
  if (result != 0) {
    const std::string why =
        report::LastReportError().empty() ? "code " + std::to_string(result) : report::LastReportError();
    throw Failure{kFailure, "the report was not written: " + why};
  }
  std::fprintf(stderr, "report written: %s\n", report::LastReportOutput().c_str());
}

}  // namespace

void makeProtocol(const quarn::data::RunSnapshot& run, const report::ReportRequest& request) {
  runAssembly([&] { return report::makeRunReport(run, request); });
}

void makeCalibrationProtocol(const quarn::data::CalibrationRuns& runs, const report::ReportRequest& request) {
  runAssembly([&] { return report::makeCalibrationReport(runs, request); });
}

void checkReportPaths(const std::string& reportPath, const std::string& templatePath) {
  const auto slash = reportPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : reportPath.substr(0, slash + 1);
  if (access(folder.c_str(), W_OK) != 0) throw Failure{kFailure, "cannot write the report into " + folder};
  if (!templatePath.empty() && access(templatePath.c_str(), R_OK) != 0)
    throw Failure{kFailure, "template not found: " + templatePath};
}

}  // namespace cli
