// quarn-cli's verify and relay commands against the simulator on a real pseudo-terminal, in real
// time: a short project (two points, one second of hold, a fast pressure source) runs to its end
// unattended; invalid projects are refused before any connection; Ctrl-C stops a run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "ProjectFile.h"

namespace {

namespace data = quarn::data;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  double seconds = 0;
};

class CliVerify : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarn_cli_verify_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  // The demo project with point set 1 reduced to `points` and the hold time to one second.
  std::string shortProject(std::initializer_list<float> points, const std::string& name = "short.aip") {
    data::Project p;
    const data::ProjectLoad load = data::loadProject(QUARN_DEMO_PROJECT, p);
    EXPECT_TRUE(load.ok) << load.error;
    data::PointSet set{};
    size_t i = 0;
    for (float v : points) set[i++] = {true, v, 0};
    p.pointSets[0] = set;
    p.selectedSet = 0;
    p.readiness.holdTimeS = "1";
    const std::string path = dir + "/" + name;
    EXPECT_EQ(data::saveProject(path, p), "");
    return path;
  }

  CliRun run(const std::string& args, const std::string& prefix = "") {
    CliRun r;
    const auto start = std::chrono::steady_clock::now();
    const std::string errFile = dir + "/stderr.txt";
    const std::string cmd = prefix + std::string(QUARN_CLI) + " " + args + " 2>'" + errFile + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    while (fgets(buf, sizeof buf, p)) r.out += buf;
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (FILE* e = std::fopen(errFile.c_str(), "r")) {
      while (fgets(buf, sizeof buf, e)) r.err += buf;
      std::fclose(e);
    }
    return r;
  }

  static constexpr const char* kFastBench = "--sim --timeout 20 --sim-arg --set --sim-arg input_tau_s=0.3 ";
  std::string dir;
};

TEST_F(CliVerify, ShortVerificationOfTheDemoProjectRunsToItsEnd) {
  const std::string project = shortProject({0, 50});
  // The protocol too, when the report library is built beside the program.
  const std::string cli = QUARN_CLI;
  const bool withReport = access((cli.substr(0, cli.rfind('/') + 1) + "libxlsxgen.so").c_str(), R_OK) == 0;
  const std::string report = dir + "/protocol.xlsx";
  const CliRun r = run(std::string(kFastBench) + "verify '" + project + "' --run-timeout 120" +
                       (withReport ? " --report '" + report + "'" : ""));
  ASSERT_EQ(r.status, 0) << r.err;
  if (withReport) {
    EXPECT_EQ(access(report.c_str(), R_OK), 0) << r.err;
  }
  const auto j = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << r.out;
  ASSERT_EQ(j["points"].size(), 2u) << r.out;
  EXPECT_EQ(j["suitable"], nlohmann::json::parse("[true, true, true, true]"));
  const double pRef = j["points"][1]["pRef"];
  EXPECT_NEAR(pRef, 300.0, 0.3);
  const auto& ch = j["points"][1]["ch"][0];
  EXPECT_NEAR(ch["iExpected"].get<double>(), 4 + 16 * pRef / 600, 1e-3);
  EXPECT_GT(ch["uncertainty"].get<double>(), 0.0);
  EXPECT_NE(r.err.find("point 2 of 2"), std::string::npos) << r.err;
}

TEST_F(CliVerify, RelayCheckPrintsTheEightRecords) {
  const std::string project = shortProject({0});
  const CliRun r = run(std::string(kFastBench) + "--sim-arg --set --sim-arg switch.1=300,5 relay '" +
                       project + "' --run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.err;
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
  ASSERT_TRUE(data::loadProject(QUARN_DEMO_PROJECT, p).ok);
  p.pointSets[2] = data::PointSet{};
  ASSERT_EQ(data::saveProject(dir + "/nopoints.aip", p), "");
  // Channel ranges that differ by more than 5 %.
  p.channels[1].Max = 700;
  ASSERT_EQ(data::saveProject(dir + "/ranges.aip", p), "");
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
}

}  // namespace
