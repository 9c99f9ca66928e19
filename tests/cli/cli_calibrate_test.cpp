// `quarn-cli calibrate` on the calibration bench (examples/calibration_bench.scenario, Brenk model)
// with the simulator inside quarn-cli in virtual time. The simulator's HART log (--hart-log) tells
// which commands reached which transmitter: ch 1 has a sensor error, ch 2 an output error, ch 3 is
// within tolerance, ch 4 is a plain 4-20 mA transmitter.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "openpyxl_reader.h"

namespace {

using clitest::CliRun;
using clitest::expectCleanSimulator;
using clitest::readWhole;
using clitest::runCli;
using clitest::tempPath;

struct Calibration {
  CliRun run;
  std::map<int, std::vector<int>> commands;  // channel 1..4 -> HART commands its transmitter heard
  std::string history;
  nlohmann::json result;
};

// One calibration of the bench, with `sim` added to the simulator's options and `args` to the command.
Calibration calibrate(const std::string& sim, const std::string& args = "") {
  Calibration c;
  const std::string log = tempPath("quarn_hart_log");
  c.history = tempPath("quarn_cal_history");
  std::remove(c.history.c_str());
  const std::string examples = quarn::test::path("QUARN_EXAMPLES_DIR");
  c.run = runCli("--sim-virtual --model brenk --timeout 20 --sim-arg --scenario --sim-arg '" + examples +
                 "/calibration_bench.scenario' --sim-arg --hart-log --sim-arg '" + log + "' " + sim +
                 " calibrate '" + examples + "/calibration.aip' --history '" + c.history + "' " + args);
  std::istringstream lines(readWhole(log));
  for (std::string line; std::getline(lines, line);) {
    int ch = 0;
    if (std::sscanf(line.c_str(), "ch %d:", &ch) != 1) continue;
    std::istringstream cmds(line.substr(line.find(':') + 1));
    for (int cmd; cmds >> cmd;) c.commands[ch].push_back(cmd);
  }
  std::remove(log.c_str());
  if (!c.run.objects.empty()) c.result = c.run.objects.back();
  return c;
}

int count(const std::vector<int>& v, int cmd) {
  int n = 0;
  for (int x : v) n += x == cmd;
  return n;
}

// The commands that change a device's calibration.
int trims(const std::vector<int>& v) {
  return count(v, 43) + count(v, 45) + count(v, 46) + count(v, 82) + count(v, 123);
}

const nlohmann::json& channel(const Calibration& c, int ch) { return c.result["channels"][ch - 1]; }

TEST(CliCalibrate, TrimsExactlyTheDevicesOutOfToleranceAndPairsTheRuns) {
  const std::string report = tempPath("quarn_cal_report");
  std::remove(report.c_str());
  const Calibration c = calibrate("", "--report '" + report + ".xlsx'");
  ASSERT_EQ(c.run.status, 0) << c.run.err << c.run.out;
  EXPECT_FALSE(readWhole(report + ".xlsx").empty()) << "the protocol was not written";
  std::remove((report + ".xlsx").c_str());
  expectCleanSimulator(c.run);
  ASSERT_TRUE(c.result.is_object()) << c.run.out;
  EXPECT_EQ(c.result["ok"], true);

  // Sensor error on 1, output error on 2: both found out of tolerance, trimmed, suitable as left.
  for (int ch : {1, 2}) {
    SCOPED_TRACE(ch);
    const auto& x = channel(c, ch);
    EXPECT_EQ(x["asFound"], false) << x;
    EXPECT_EQ(x["asLeft"], true) << x;
    EXPECT_EQ(x["adjusted"], true);
    EXPECT_TRUE(x["reason"].is_null()) << x;
    EXPECT_EQ(count(c.commands.at(ch), 82), 2) << "the sensor trim's two points";
    EXPECT_EQ(count(c.commands.at(ch), 45), 1);
    EXPECT_EQ(count(c.commands.at(ch), 46), 1);
    for (const auto& p : x["asLeftPoints"]) EXPECT_LT(std::abs(p["reducedError"].get<double>()), 0.05) << p;
  }
  // The output error shows in the check before the current trim and is gone after it.
  EXPECT_NEAR(channel(c, 2)["currentTrim"]["before"][2].get<double>(), 20.12, 0.01);
  EXPECT_NEAR(channel(c, 2)["currentTrim"]["after"][2].get<double>(), 20.0, 0.01);

  // Within tolerance: measured twice, never trimmed.
  EXPECT_EQ(channel(c, 3)["asFound"], true);
  EXPECT_EQ(channel(c, 3)["asLeft"], true);
  EXPECT_EQ(channel(c, 3)["adjusted"], false);
  EXPECT_EQ(trims(c.commands.at(3)), 0) << "a trim reached the device in tolerance";

  // The plain transmitter is named, and measured in both runs.
  EXPECT_EQ(channel(c, 4)["hart"], false);
  EXPECT_EQ(channel(c, 4)["reason"], "подстройка невозможна: нет HART");
  EXPECT_EQ(channel(c, 4)["asLeft"], true);
  EXPECT_EQ(c.commands.count(4) ? c.commands.at(4).size() : 0u, 0u);

  // The history: as-found, four adjustments (a sensor and a current trim of each), as-left, paired.
  const auto& h = c.result["history"];
  EXPECT_EQ(h["asFound"]["tag"], "as_found") << h;
  EXPECT_EQ(h["asLeft"]["tag"], "as_left") << h;
  EXPECT_EQ(h["adjustments"].size(), 4u) << h;
  const CliRun pair = runCli("history pair 2002 --history '" + c.history + "'");
  ASSERT_EQ(pair.status, 0) << pair.err;
  const auto& p = pair.objects.at(0);
  EXPECT_EQ(p["asFound"]["run"], h["asFound"]["run"]) << p;
  EXPECT_EQ(p["asLeft"]["run"], h["asLeft"]["run"]) << p;
  ASSERT_EQ(p["adjustments"].size(), 2u) << p;
  EXPECT_EQ(p["adjustments"][0]["action"], "sensor_trim");
  EXPECT_EQ(p["adjustments"][1]["action"], "current_trim");
  std::remove(c.history.c_str());
}

// --always trims every HART device, the suitable one too; the plain one still cannot be.
TEST(CliCalibrate, AlwaysTrimsEveryHartDevice) {
  const Calibration c = calibrate("", "--always");
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  for (int ch : {1, 2, 3}) {
    EXPECT_EQ(channel(c, ch)["adjusted"], true) << ch;
    EXPECT_EQ(channel(c, ch)["asLeft"], true) << ch;
    EXPECT_EQ(count(c.commands.at(ch), 82), 2) << ch;
  }
  EXPECT_EQ(channel(c, 4)["reason"], "подстройка невозможна: нет HART");
  std::remove(c.history.c_str());
}

// A write-protected device refuses the trims and a device whose trims do not take stays out of
// tolerance: status 3, and neither is reported adjusted and suitable.
TEST(CliCalibrate, RefusedAndIneffectiveTrimsAreNamed) {
  const Calibration c = calibrate(
      "--sim-arg --set --sim-arg channel.1.write_protected=1 --sim-arg --set --sim-arg "
      "channel.2.trim_ignored=1");
  EXPECT_EQ(c.run.status, 3) << c.run.err;
  ASSERT_TRUE(c.result.is_object()) << c.run.out;
  EXPECT_EQ(c.result["ok"], false);

  const auto& refused = channel(c, 1);
  EXPECT_EQ(refused["refused"], true);
  EXPECT_EQ(refused["adjusted"], false);
  EXPECT_EQ(refused["asLeft"], false);
  EXPECT_EQ(refused["reason"].get<std::string>().rfind("прибор отказал: ", 0), 0u) << refused;
  EXPECT_NE(refused["reason"].get<std::string>().find("защиты от записи"), std::string::npos) << refused;
  EXPECT_EQ(count(c.commands.at(1), 45), 0) << "no current trim after the refused sensor trim";

  const auto& stuck = channel(c, 2);
  EXPECT_EQ(stuck["asLeft"], false);
  EXPECT_EQ(stuck["reason"], "после подстройки погрешность превышает допускаемую");

  EXPECT_NE(c.run.err.find("channel 1: прибор отказал"), std::string::npos) << c.run.err;
  EXPECT_NE(c.run.err.find("channel 2: после подстройки погрешность превышает допускаемую"),
            std::string::npos);
  EXPECT_EQ(channel(c, 3)["reason"], nullptr);
  std::remove(c.history.c_str());
}

// The link goes while the current trim holds the devices at fixed currents: the sequence stops with
// status 2, the as-found run stays in the history, and the next connection finds the devices again and
// takes them out of fixed-current mode (command 40 with 0 mA as the last word each hears).
TEST(CliCalibrate, LinkLostDuringTheCurrentTrimLeavesNoDeviceFixed) {
  const Calibration c = calibrate("--sim-arg --fault --sim-arg 'any disconnect at_ms=200000 for_ms=3000'");
  EXPECT_EQ(c.run.status, 2) << c.run.err;
  ASSERT_TRUE(c.result.is_object()) << c.run.out;
  EXPECT_EQ(c.result["linkLost"], true);
  EXPECT_EQ(c.result["stopReason"], "связь с калибратором потеряна");
  EXPECT_EQ(c.result["exitFixedSent"], true);
  EXPECT_EQ(c.result["history"]["asFound"]["tag"], "as_found");
  EXPECT_TRUE(c.result["history"]["asLeft"].is_null());
  for (int ch : {1, 2}) {
    SCOPED_TRACE(ch);
    const std::vector<int>& cmds = c.commands.at(ch);
    ASSERT_GE(count(cmds, 40), 2) << "the link must go while the device is fixed at a current";
    ASSERT_GE(count(cmds, 0), 3) << "a new search after the link came back";
    EXPECT_EQ(cmds.back(), 40);
    EXPECT_EQ(channel(c, ch)["reason"], "подстройка прервана: связь с калибратором потеряна");
    EXPECT_EQ(channel(c, ch)["asLeft"], nullptr) << "nothing claimed that was not measured";
  }
  const CliRun list = runCli("history list --history '" + c.history + "'");
  ASSERT_EQ(list.objects.size(), 1u) << list.out;
  EXPECT_EQ(list.objects[0]["tag"], "as_found");
  std::remove(c.history.c_str());
}

// Every cell, state and print setting of two workbooks read back with openpyxl.
void expectSameWorkbook(const std::string& original, const std::string& rebuilt) {
  std::string error;
  const auto a = xlsxtest::readWorkbook(original, &error);
  ASSERT_TRUE(a) << error;
  const auto b = xlsxtest::readWorkbook(rebuilt, &error);
  ASSERT_TRUE(b) << error;
  ASSERT_EQ((*a)["sheets"].size(), (*b)["sheets"].size());
  for (size_t k = 0; k < (*a)["sheets"].size(); ++k) {
    SCOPED_TRACE((*a)["sheets"][k]["name"].get<std::string>());
    EXPECT_EQ((*a)["sheets"][k]["name"], (*b)["sheets"][k]["name"]);
    EXPECT_EQ((*a)["sheets"][k]["cells"], (*b)["sheets"][k]["cells"]);
  }
  EXPECT_EQ(*a, *b);
}

// The text of the first cell of a sheet that begins with `start`.
std::string cellStartingWith(const nlohmann::json& sheet, const std::string& start) {
  for (const auto& [ref, value] : sheet["cells"].items())
    if (value.is_string() && value.get<std::string>().rfind(start, 0) == 0) return value;
  return {};
}

// The protocol of a calibration holds both runs and the trims, and `history report` of its as-left run
// makes the same workbook again from the history: as-found run, adjustments and as-left run paired.
TEST(CliCalibrate, TheProtocolHoldsBothRunsAndTheHistoryMakesItAgain) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  const std::string report = tempPath("quarn_cal_both") + ".xlsx",
                    again = tempPath("quarn_cal_again") + ".xlsx";
  const Calibration c = calibrate("", "--report '" + report + "'");
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const auto asLeft = c.result["history"]["asLeft"]["run"];
  ASSERT_TRUE(asLeft.is_number()) << c.result["history"];
  const CliRun rebuilt =
      runCli("history report " + asLeft.dump() + " --history '" + c.history + "' --report '" + again + "'");
  ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_EQ(rebuilt.objects.at(0)["asFound"], c.result["history"]["asFound"]["run"]);
  EXPECT_EQ(rebuilt.objects.at(0)["adjustments"], 4);
  expectSameWorkbook(report, again);

  std::string error;
  const auto d = xlsxtest::readWorkbook(report, &error);
  ASSERT_TRUE(d) << error;
  const nlohmann::json& p2 = xlsxtest::sheetNamed(*d, "Протокол 2002  (к.2)");
  EXPECT_EQ(cellStartingWith(p2, "ПРОТОКОЛ"), "ПРОТОКОЛ КАЛИБРОВКИ № 1") << p2["cells"];
  EXPECT_EQ(cellStartingWith(p2, "Результаты до подстройки"), "Результаты до подстройки: отрицательные.");
  const std::string trims = cellStartingWith(p2, "подстройка");
  EXPECT_NE(trims.find("подстройка сенсора: Pmin 0.000 кПа"), std::string::npos) << trims;
  EXPECT_NE(trims.find("подстройка тока: 4/12/20 мА: до подстройки"), std::string::npos) << trims;
  EXPECT_NE(cellStartingWith(p2, "Заключение").find("после подстройки положительные"), std::string::npos);
  const nlohmann::json& p4 = xlsxtest::sheetNamed(*d, "Протокол 2004  (к.4)");
  EXPECT_EQ(cellStartingWith(p4, "подстройка"), "подстройка невозможна: нет HART");
  std::remove(report.c_str());
  std::remove(again.c_str());
  std::remove(c.history.c_str());
}

// Nothing out of tolerance: no as-left run; the protocol is the as-found run's with each device's note,
// and the history makes it again from that run, which carries the reasons.
TEST(CliCalibrate, NothingToAdjustGivesTheAsFoundProtocolWithItsNotes) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  const std::string report = tempPath("quarn_cal_found") + ".xlsx",
                    again = tempPath("quarn_cal_found2") + ".xlsx";
  const Calibration c = calibrate(
      "--sim-arg --set --sim-arg 'channel.1.sensor_error=0, 1' --sim-arg --set --sim-arg "
      "'channel.2.output_error=0, 1'",
      "--report '" + report + "'");
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_TRUE(c.result["history"]["asLeft"].is_null()) << c.result["history"];
  const auto asFound = c.result["history"]["asFound"]["run"];
  const CliRun rebuilt =
      runCli("history report " + asFound.dump() + " --history '" + c.history + "' --report '" + again + "'");
  ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;
  expectSameWorkbook(report, again);
  std::string error;
  const auto d = xlsxtest::readWorkbook(report, &error);
  ASSERT_TRUE(d) << error;
  bool notNeeded = false, noHart = false;
  for (const auto& [ref, value] : xlsxtest::sheetNamed(*d, "Протокол 2001  (к.1)")["cells"].items())
    notNeeded = notNeeded || value == "Калибровка: подстройка не требовалась";
  for (const auto& [ref, value] : xlsxtest::sheetNamed(*d, "Протокол 2004  (к.4)")["cells"].items())
    noHart = noHart || value == "Калибровка: подстройка невозможна: нет HART";
  EXPECT_TRUE(notNeeded);
  EXPECT_TRUE(noHart);
  std::remove(report.c_str());
  std::remove(again.c_str());
  std::remove(c.history.c_str());
}

TEST(CliCalibrate, ArgumentsAreCheckedBeforeConnecting) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"calibrate", "calibrate needs a project file"},
      {"calibrate x.aip --pdf", "--pdf needs --report"},
      {"calibrate x.aip --tag as-left", "unknown argument: --tag"},
      {"calibrate x.aip --run-timeout 0", "--run-timeout takes seconds above 0"},
  };
  for (const auto& k : cases) {
    const CliRun r = runCli(std::string("--sim-virtual ") + k.args);
    EXPECT_EQ(r.status, 1) << k.args;
    EXPECT_NE(r.err.find(k.message), std::string::npos) << k.args << ": " << r.err;
  }
}

}  // namespace
