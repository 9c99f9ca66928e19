// quarn-cli's verify and relay commands against the simulator: a short project (two points, one
// second of hold, a fast pressure source) runs to its end unattended on the demonstration bench;
// invalid projects and a calibrator without its Kesto module are refused at once; Ctrl-C stops a run;
// progress is one line on a terminal, plain lines elsewhere. The whole run of the demo project, the
// refusal without the Kesto module (at once, in seconds) and Ctrl-C run against quarn-sim on a real
// pseudo-terminal in real time; the other runs use the simulator inside quarn-cli in virtual time.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "ProjectFile.h"
#include "cli_process.h"
#include "demo_project.h"

namespace {

namespace data = quarn::data;
using clitest::CliRun;
using clitest::expectCleanSimulator;

std::string today() {
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  char b[48];
  std::snprintf(b, sizeof b, "%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
  return b;
}

// The XML parts of a workbook as one text (through Python's zipfile, which the report tests use).
std::string workbookXml(const std::string& path) {
  const std::string cmd =
      "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
      "sys.stdout.write(''.join(z.read(n).decode('utf-8', 'replace') for n in z.namelist() "
      "if n.endswith('.xml')))\" '" +
      path + "'";
  std::string xml;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) xml.append(buf, n);
    pclose(p);
  }
  return xml;
}

class CliVerify : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarn_cli_verify_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    // Finished runs go into the run history of the user's data folder: here, the test's folder.
    const char* old = getenv("XDG_DATA_HOME");
    oldDataHome = old ? old : "";
    hadDataHome = old != nullptr;
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    // The head of that history is remembered in the user's settings folder: the test's folder too.
    const char* config = getenv("XDG_CONFIG_HOME");
    oldConfigHome = config ? config : "";
    hadConfigHome = config != nullptr;
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  }
  void TearDown() override {
    if (hadDataHome)
      setenv("XDG_DATA_HOME", oldDataHome.c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
    if (hadConfigHome)
      setenv("XDG_CONFIG_HOME", oldConfigHome.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
    std::system(("rm -rf '" + dir + "'").c_str());
  }

  std::string shortProject(std::initializer_list<float> points, const std::string& name = "short.aip") {
    return clitest::shortProject(dir, points, name);
  }

  CliRun run(const std::string& args, const std::string& prefix = "") {
    return clitest::runCli(args, prefix);
  }

  static constexpr const char* kFastBench =
      "--sim-virtual --timeout 20 --sim-arg --set --sim-arg input_tau_s=0.3 ";
  static constexpr const char* kFastBenchRealTime =
      "--sim --timeout 20 --sim-arg --set --sim-arg input_tau_s=0.3 ";
  std::string dir;
  std::string oldDataHome;
  bool hadDataHome = false;
  std::string oldConfigHome;
  bool hadConfigHome = false;
};

using clitest::demoFastBench;

// The demonstration bench gives a real verdict: the exact and the slightly-off transmitters pass,
// the one out of tolerance does not, the 20..4 mA one passes with falling currents. The protocol
// is dated today.
TEST_F(CliVerify, ShortVerificationOfTheDemoProjectRunsToItsEnd) {
  const std::string project = shortProject({0, 50});
  // The protocol too, when the report library is built beside the program.
  const std::string cli = clitest::cliProgram();
  const bool withReport = access((cli.substr(0, cli.rfind('/') + 1) + "libxlsxgen.so").c_str(), R_OK) == 0;
  const std::string report = dir + "/protocol.xlsx";
  const std::string dayBefore = today();
  const CliRun r = run(demoFastBench(clitest::demoBench(), "--sim") + "verify '" + project +
                       "' --run-timeout 120" + (withReport ? " --report '" + report + "'" : ""));
  ASSERT_EQ(r.status, 0) << r.err;
  expectCleanSimulator(r);
  const auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  ASSERT_EQ(j["points"].size(), 2u) << r.out;
  EXPECT_EQ(j["suitable"], nlohmann::json::parse("[true, true, false, true]")) << r.out;
  const double pRef = j["points"][1]["pRef"];
  EXPECT_NEAR(pRef, 300.0, 0.3);
  const auto& ch = j["points"][1]["ch"];
  EXPECT_NEAR(ch[0]["iExpected"].get<double>(), 4 + 16 * pRef / 600, 1e-3);
  EXPECT_NEAR(ch[3]["iExpected"].get<double>(), 20 - 16 * pRef / 600, 1e-3);
  EXPECT_GT(ch[0]["uncertainty"].get<double>(), 0.0);
  const double expectedError[4] = {0, 0.2, 0.6, 0};
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(ch[c]["reducedError"].get<double>(), expectedError[c], 0.02) << c;
  // Without --history the run goes into the user's data folder.
  EXPECT_EQ(j["history"]["file"], dir + "/quarn/history.db") << j["history"];
  EXPECT_EQ(j["history"]["run"], 1) << j["history"];
  // Its head is remembered in the settings folder, apart from the file: run 1 with its hash.
  const std::string heads = clitest::readWhole(dir + "/config/quarn/history-heads");
  EXPECT_EQ(heads.rfind("1\t" + j["history"]["hash"].get<std::string>(), 0), 0u) << heads;

  // Not a terminal: plain lines, none rewritten in place.
  EXPECT_NE(r.err.find("point 2 of 2"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\033'), std::string::npos) << r.err;

  if (withReport) {
    ASSERT_EQ(access(report.c_str(), R_OK), 0) << r.err;
    const std::string xml = workbookXml(report);
    ASSERT_FALSE(xml.empty()) << "the workbook could not be read";
    const std::string dayAfter = today();
    auto dated = [&](const std::string& text) {
      return xml.find(text + dayBefore + ".") != std::string::npos ||
             xml.find(text + dayAfter + ".") != std::string::npos;
    };
    EXPECT_TRUE(dated("Выписано свидетельство о поверке № 1 от ")) << "certificate of a suitable channel";
    EXPECT_TRUE(dated("Выписано извещение о непригодности № 1 от ")) << "notice of channel 3";
    EXPECT_EQ(xml.find("№ 1 от ."), std::string::npos) << "an undated protocol line";
  }
}

// A protocol that cannot be made after the run (here the template is no workbook) does not take
// the run's results with it: they are printed and stored, and the command ends with status 1.
TEST_F(CliVerify, AReportThatCannotBeMadeKeepsTheResults) {
  const std::string project = shortProject({0});
  std::ofstream(dir + "/broken.xlsx") << "not a workbook\n";
  const CliRun r = run(demoFastBench() + "verify '" + project + "' --run-timeout 120 --report '" + dir +
                       "/out.xlsx' --template '" + dir + "/broken.xlsx'");
  EXPECT_EQ(r.status, 1) << r.err;
  expectCleanSimulator(r);
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  EXPECT_EQ(r.objects[0]["points"].size(), 1u) << r.out;
  EXPECT_EQ(r.objects[0]["history"]["run"], 1) << r.out;
  EXPECT_NE(r.err.find("quarn-cli: the report was not written: "), std::string::npos) << r.err;
}

// --pdf is refused before the run when no office program is on the search path; with one (a
// stand-in "soffice" here) the PDF is written beside the workbook.
TEST_F(CliVerify, PdfBesideTheReportOrRefusedWithoutLibreOffice) {
  const std::string project = shortProject({0});
  const std::string bin = dir + "/bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  const std::string args =
      demoFastBench() + "verify '" + project + "' --run-timeout 120 --report '" + dir + "/p.xlsx' --pdf";
  const CliRun refused = run(args, "PATH='" + bin + "' ");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("--pdf needs LibreOffice"), std::string::npos) << refused.err;
  EXPECT_TRUE(refused.objects.empty()) << refused.out;

  const std::string cli = clitest::cliProgram();
  if (access((cli.substr(0, cli.rfind('/') + 1) + "libxlsxgen.so").c_str(), R_OK) != 0) return;
  std::ofstream(bin + "/soffice")
      << "#!/bin/sh\n"
         "while [ $# -gt 1 ]; do [ \"$1\" = --outdir ] && out=$2; shift; done\n"
         "base=$(basename \"$1\"); printf '%%PDF-1.4' > \"$out/${base%.*}.pdf\"\n";
  ASSERT_EQ(chmod((bin + "/soffice").c_str(), 0700), 0);
  const CliRun r = run(args, "PATH='" + bin + ":/usr/bin:/bin' ");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(access((dir + "/p.xlsx").c_str(), R_OK), 0);
  EXPECT_EQ(access((dir + "/p.pdf").c_str(), R_OK), 0) << r.err;
  EXPECT_NE(r.err.find("pdf written: " + dir + "/p.pdf"), std::string::npos) << r.err;
}

// On a terminal the progress is one line rewritten in place, with a bar and the point of n.
TEST_F(CliVerify, ProgressOnATerminalIsOneUpdatingLine) {
  const std::string project = shortProject({0, 50});
  const CliRun r = clitest::runCliOnTerminal(demoFastBench() + "verify '" + project + "' --run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.err;
  expectCleanSimulator(r);
  EXPECT_EQ(r.objects.size(), 1u) << r.out;
  EXPECT_GE(std::count(r.err.begin(), r.err.end(), '\r'), 3) << r.err;
  // The run's line is ended once when the run ends; nothing else is printed on its own line
  // before the one that says where the run was stored.
  const size_t stored = r.err.find("run 1 stored in the history");
  ASSERT_NE(stored, std::string::npos) << r.err;
  EXPECT_LE(std::count(r.err.begin(), r.err.begin() + static_cast<long>(stored), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("point 2 of 2 [##########"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\033[K"), std::string::npos) << r.err;
}

// Without the Kesto module there are no channel currents (and no contacts): a run would wait for
// ever, so both commands are refused as soon as the calibrator is linked.
TEST_F(CliVerify, ARunWithoutTheKestoModuleIsRefusedAtOnce) {
  const std::string project = shortProject({0, 50});
  for (const char* command : {"verify", "relay"}) {
    SCOPED_TRACE(command);
    const CliRun r = run(std::string(kFastBenchRealTime) + "--sim-arg --set --sim-arg kesto.fitted=0 " +
                             command + " '" + project + "' --run-timeout 600",
                         "timeout -s KILL 60 ");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("needs the calibrator's Kesto module"), std::string::npos) << r.err;
    EXPECT_LT(r.seconds, 30.0);
    expectCleanSimulator(r);
  }
}

TEST_F(CliVerify, RelayCheckPrintsTheEightRecords) {
  const std::string project = shortProject({0});
  const CliRun r = run(std::string(kFastBench) + "--sim-arg --set --sim-arg switch.1=300,5 relay '" +
                       project + "' --run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.err;
  expectCleanSimulator(r);
  const auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_EQ(j["relays"].size(), 8u) << r.out;
  EXPECT_EQ(j["relays"][0]["channel"], 1);
  EXPECT_EQ(j["relays"][0]["relay"], 1);
  // The fast source crosses the switch within a fraction of a cycle, and the reference is read at the
  // start of the cycle whose contact reading shows the edge: only the neighbourhood is certain here
  // (the virtual-time tests pin the pressures with a slow source).
  ASSERT_TRUE(j["relays"][0]["pOn"].is_number()) << r.out;
  ASSERT_TRUE(j["relays"][0]["pOff"].is_number()) << r.out;
  EXPECT_NEAR(j["relays"][0]["pOn"].get<double>(), 300.0, 20.0) << r.out;
  EXPECT_NEAR(j["relays"][0]["pOff"].get<double>(), 295.0, 20.0) << r.out;
  EXPECT_TRUE(j["relays"][2]["pOn"].is_null()) << "no switch on channel 2";
}

TEST_F(CliVerify, InvalidProjectsAreRefusedBeforeConnecting) {
  // A project whose point set has no switched-on point.
  data::Project p;
  ASSERT_TRUE(data::loadProject(clitest::demoProject(), p).ok());
  p.pointSets[2] = data::PointSet{};
  ASSERT_EQ(data::saveProject(dir + "/nopoints.aip", p).why(), "");
  // Channel ranges that differ by more than 5 %.
  p.channels[1].Max = 700;
  ASSERT_EQ(data::saveProject(dir + "/ranges.aip", p).why(), "");
  struct Case {
    std::string args;
    std::string message;
  };
  const Case cases[] = {
      {"verify '" + dir + "/nopoints.aip' --set 3", "Нет точек поверки!"},
      {"verify '" + dir + "/ranges.aip'", "Диапазоны датчиков не совпадают!"},
      {"verify '" + dir + "/missing.aip'", "missing.aip"},
      {"verify", "needs a project file"},
      {"verify '" + dir + "/nopoints.aip' --set 6", "--set takes 1..5"},
      {"relay '" + dir + "/nopoints.aip' --set 3", "Нет точек поверки!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = run("--port /dev/quarn-no-such-port --timeout 2 " + c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// A project cut off or changed since it was saved is refused before any connection; a change the
// command accepts (--accept-edited) and a file without the checksum are used, with a note on stderr
// (the missing port then ends the run with status 2).
TEST_F(CliVerify, ProjectsCutOffOrChangedOutsideAreRefusedUnlessAccepted) {
  std::ifstream in(clitest::demoProject(), std::ios::binary);
  const std::string demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    return "'" + dir + "/" + name + "'";
  };
  std::string edited = demo;
  edited.replace(edited.find("errOk=0.5"), 9, "errOk=5.5");
  const std::string cut = write("cut.aip", demo.substr(0, demo.find("[Points_set_0_point_5]")));
  const std::string changed = write("edited.aip", edited);
  const std::string unmarked = write("unmarked.aip", demo.substr(0, demo.find("[ProjectChecksum]")));
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"verify " + cut, 1, "обрезан: нет раздела [Points_set_0_point_5]"},
      {"verify " + cut + " --accept-edited", 1, "обрезан"},
      {"verify " + changed, 1, "Файл проекта изменён вне программы"},
      {"relay " + changed, 1, "--accept-edited"},
      {"calibrate " + changed, 1, "--accept-edited"},
      {"verify " + changed + " --accept-edited", 2, "изменён вне программы и открыт по подтверждению"},
      {"relay " + unmarked, 2, "без контрольной суммы"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = run("--port /dev/quarn-no-such-port --timeout 1 " + c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// A calibrator catalogue that is missing, damaged or without the calibrator's model: the run goes on,
// says so once on stderr and takes the calibrator's reported upper limit (the simulator's 2500 kPa)
// for the uncertainty, never 0 and never less than the catalogue's module (at 0 kPa the low-range
// module, 250 kPa, with the catalogue beside the program).
TEST_F(CliVerify, ACatalogueMissingDamagedOrWithoutTheModelIsToldOnceAndTheReportedLimitServes) {
  const std::string project = shortProject({0});
  // A copy of the programs without the catalogues, for the missing one (they are looked for in the
  // working folder, then beside the program).
  const std::string cli = clitest::cliProgram();
  const std::string bin = cli.substr(0, cli.rfind('/') + 1);
  const std::string bare = dir + "/bare";
  ASSERT_EQ(std::system(("mkdir -p '" + bare + "' && cp '" + bin + "quarn-cli' '" + bin + "libquarn.so' '" +
                         bin + "quarn-sim' '" + bare + "/'")
                            .c_str()),
            0);
  const struct Case {
    const char* what;
    const char* catalogue;  // written into the working folder; null: none anywhere, "": the shipped one
    const char* told;       // a part of the note; "" for none
    double upperKpa;        // the reference's upper limit the run kept
  } cases[] = {
      {"the shipped catalogue", "", "", 250},
      {"missing", nullptr, "Models_Quarn.xml", 2500},
      {"damaged", "<Models><Model><Model_name>QC-2500</Model_name>", "строка", 2500},
      {"without the model", "<Models><Model><Model_name>QC-600</Model_name></Model></Models>", "«QC-2500»",
       2500},
  };
  double shippedUncertainty = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string work = dir + "/work_" + std::to_string(&c - cases);
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    if (c.catalogue && *c.catalogue) std::ofstream(work + "/Models_Quarn.xml") << c.catalogue;
    const std::string history = work + "/h.db";
    const CliRun r = clitest::runCli(
        demoFastBench() + "verify '" + project + "' --run-timeout 120 --history '" + history + "'",
        "cd '" + work + "' && ", c.catalogue ? cli : bare + "/quarn-cli");
    ASSERT_EQ(r.status, 0) << r.err;
    expectCleanSimulator(r);
    const auto j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    const double uncertainty = j["points"][0]["ch"][0]["uncertainty"];
    const std::string note = "верхний предел калибратора 2500 кПа";
    if (*c.told) {
      const auto at = r.err.find(note);
      EXPECT_NE(at, std::string::npos) << r.err;
      EXPECT_EQ(r.err.find(note, at + 1), std::string::npos) << "told once:\n" << r.err;
      EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
      EXPECT_GE(uncertainty, shippedUncertainty);
    } else {
      EXPECT_EQ(r.err.find(note), std::string::npos) << r.err;
      shippedUncertainty = uncertainty;
    }
    const CliRun shown = run("history show 1 --history '" + history + "'");
    const auto stored = nlohmann::json::parse(shown.out, nullptr, false);
    ASSERT_FALSE(stored.is_discarded()) << shown.out << shown.err;
    EXPECT_DOUBLE_EQ(stored["record"]["reference"]["upperKpa"].get<double>(), c.upperKpa)
        << stored["record"]["reference"];
  }
}

TEST_F(CliVerify, InterruptStopsTheRunCleanly) {
  // A point that is never reached: the source stays far below it.
  const std::string project = shortProject({100});
  const CliRun r =
      run("--sim --timeout 20 --sim-arg --set --sim-arg input_tau_s=1000 verify '" + project + "'",
          "timeout --preserve-status -s INT 6 ");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  EXPECT_LT(r.seconds, 15.0);
  expectCleanSimulator(r);
}

// The line goes for good after the first point was recorded: the run stops at once with the lost
// link named and how many points it had recorded, instead of waiting for the link or the run's time
// limit; nothing is printed or stored as a run.
TEST_F(CliVerify, ALostLinkStopsTheRunAtOnce) {
  const std::string project = shortProject({0, 50, 100});
  const CliRun r = run(std::string(kFastBench) +
                       "--sim-arg --fault --sim-arg 'calibrator disconnect cmd=1 after=12' verify '" +
                       project + "' --run-timeout 600");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("связь с калибратором потеряна"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" of 3 points had been recorded"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("3 of 3 points"), std::string::npos) << r.err;
  EXPECT_LT(r.seconds, 60.0);
}

}  // namespace
