// quarn-cli against the simulator. The probe, the lost link and the signals run against quarn-sim on
// a real pseudo-terminal in real time (the link as an operator's calibrator has it, a timeout in
// seconds, a simulator process that must end);
// the other runs use the simulator inside quarn-cli in virtual time (--sim-virtual), which goes
// through the same exchanges without waiting.
#include <gtest/gtest.h>

#include <string>

#include "cli_process.h"
#include "process_table.h"
#include "sim_traffic.h"

namespace {

using clitest::CliRun;
using clitest::expectCleanSimulator;
using clitest::runCli;

TEST(CliEndToEnd, ProbeReturnsTheSimulatedQuarnIdentification) {
  const CliRun r = runCli("--sim --timeout 20 probe");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  const auto& j = r.objects[0];
  EXPECT_EQ(j["linked"], 1);
  EXPECT_EQ(j["linkState"], 2);
  const int type = j["devTypeId"];
  EXPECT_TRUE(type == 105 || type == 106) << type;
  EXPECT_GT(j["portNo"].get<int>(), 0);
  EXPECT_FALSE(j["calInfo"]["serial"].get<std::string>().empty());
  EXPECT_GT(j["calInfo"]["pLimitMax"].get<double>(), j["calInfo"]["pLimitMin"].get<double>());
  EXPECT_EQ(j["settings"]["unitFactor"], 1.0);
  expectCleanSimulator(r);
}

TEST(CliEndToEnd, BrenkWorkstationLinksOnlyToABrenk) {
  const CliRun r = runCli("--sim-virtual --model brenk --timeout 20 probe");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u);
  const int type = r.objects[0]["devTypeId"];
  EXPECT_TRUE(type == 84 || type == 85) << type;
  expectCleanSimulator(r);
}

TEST(CliEndToEnd, MeasurePrintsOneObjectPerCycle) {
  const CliRun r = runCli("--sim-virtual --timeout 20 measure --cycles 3");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 3u) << r.out;
  for (const auto& j : r.objects) {
    ASSERT_FALSE(j.is_discarded());
    EXPECT_TRUE(j["pRef"].is_number()) << j;
    EXPECT_EQ(j["kestoCurrent"].size(), 4u);
    EXPECT_EQ(j["ch"].size(), 4u);
  }
  expectCleanSimulator(r);
}

// A value the cycle did not read itself is null, never an older or a zero value (the record keeps
// those), and an error answer of the calibrator is told on stderr with its code and text.
TEST(CliEndToEnd, MeasurePrintsOnlyWhatEachCycleRead) {
  {
    SCOPED_TRACE("every measuring request answered with error 5");
    const CliRun r = runCli(
        "--sim-virtual --sim-arg --fault --sim-arg 'calibrator error 5 cmd=1' --timeout 20 "
        "measure --cycles 4");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.objects.size(), 4u) << r.out;
    for (size_t i = 0; i < r.objects.size(); ++i) {
      const auto& j = r.objects[i];
      EXPECT_TRUE(j["pRef"].is_null()) << j;
      EXPECT_TRUE(j["kestoCurrent"][0].is_number()) << "the currents were read: " << j;
      // The first reading after connecting only arms the channels' conversion.
      EXPECT_EQ(j["ch"][0]["current"].is_number(), i > 0) << j;
      EXPECT_TRUE(j["ch"][0]["reducedError"].is_null()) << "no reference, no error: " << j;
    }
    for (const char* cycle : {"cycle 1: ", "cycle 4: "})
      EXPECT_NE(r.err.find(std::string(cycle) + "the calibrator answered the measuring request with error 5: "
                                                "Ошибка доступа."),
                std::string::npos)
          << r.err;
    expectCleanSimulator(r);
  }
  {
    SCOPED_TRACE("the Kesto module's data reads go silent for good");
    // About eight cycles' requests to the module, then its data file answers no more.
    const CliRun r = runCli(
        "--sim-virtual --sim-arg --fault --sim-arg 'kesto silent cmd=42 after=40' --timeout 20 "
        "measure --cycles 14");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.objects.size(), 14u) << r.out;
    size_t first = 0;  // the first cycle without currents
    while (first < r.objects.size() && r.objects[first]["kestoCurrent"][0].is_number()) ++first;
    ASSERT_GE(first, 2u) << r.out;
    ASSERT_LT(first, r.objects.size() - 2) << r.out;
    EXPECT_TRUE(r.objects[first - 1]["ch"][0]["current"].is_number()) << r.objects[first - 1];
    for (size_t i = first; i < r.objects.size(); ++i) {
      SCOPED_TRACE(i);
      const auto& j = r.objects[i];
      EXPECT_TRUE(j["pRef"].is_number()) << j;
      for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(j["kestoCurrent"][c].is_null()) << j;
        for (const char* key : {"current", "pFromI", "pFromIKPa", "reducedError"})
          EXPECT_TRUE(j["ch"][c][key].is_null()) << key << ": " << j;
      }
    }
    expectCleanSimulator(r);
  }
}

// SIGTERM, SIGHUP and SIGINT end a command as its own end does: the library's unload takes the
// calibrator out of remote operation (the simulator's traffic log shows the request and its answer)
// and the simulator it started ends cleanly.
TEST(CliEndToEnd, ASignalEndsTheCommandAsItsOwnEndDoes) {
  for (const char* signal : {"TERM", "HUP", "INT"}) {
    SCOPED_TRACE(signal);
    const std::string traffic = clitest::tempPath("quarn_cli_traffic");
    const std::string link = clitest::tempPath("quarn_cli_link");
    unlink(link.c_str());  // the simulator makes it
    const CliRun r = runCli("--sim --sim-arg --log --sim-arg '" + traffic + "' --sim-arg --link --sim-arg '" +
                                link + "' --timeout 20 measure --cycles 100000",
                            std::string("timeout --foreground --preserve-status -s ") + signal + " 7 ");
    EXPECT_TRUE(proctest::noProcessWithArgument(link, 3000)) << "the simulator still runs";
    proctest::killProcessesWithArgument(link);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
    EXPECT_GE(r.objects.size(), 2u) << "it was measuring";
    expectCleanSimulator(r);
    EXPECT_EQ(simtraffic::remoteOffAfterMeasuring(simtraffic::read(traffic)), "");
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the simulator removes its link when it ends cleanly";
    unlink(traffic.c_str());
  }
}

// The calibrator stops answering after a few cycles of a long measurement: the wait for the next
// cycle is one timeout, not the timeout times the cycles asked for.
TEST(CliEndToEnd, MeasureNoticesALostLinkWithinOneTimeout) {
  const CliRun r = runCli(
      "--sim --sim-arg --fault --sim-arg 'calibrator stop after=12' --timeout 3 "
      "measure --cycles 1000",
      "timeout -s KILL 60 ");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_GE(r.objects.size(), 1u) << r.out;
  EXPECT_LT(r.objects.size(), 1000u);
  EXPECT_NE(r.err.find("the link to the calibrator was lost"), std::string::npos) << r.err;
  EXPECT_LT(r.seconds, 40.0);
  expectCleanSimulator(r);
}

TEST(CliEndToEnd, MissingPortEndsWithStatusTwoWithinTheTimeout) {
  const CliRun r = runCli("--port /dev/quarn-no-such-port --timeout 2 probe");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.objects.empty());
  EXPECT_LT(r.seconds, 10.0);
}

// Each refusal names its rule, and the rule it names is the one applied: the limits it states are
// accepted (they get as far as the missing port, status 2), the values beyond them refused.
TEST(CliEndToEnd, BadArgumentsAreRefusedWithTheirRule) {
  struct Case {
    const char* args;
    int status;
    const char* message;
  };
  const char* timeoutRule = "--timeout takes seconds above 0, at most 86400";
  const Case cases[] = {
      {"--model other probe", 1, "--model takes quarn or brenk"},
      {"frobnicate", 1, "unknown command frobnicate"},
      {"measure --cycles x", 1, "not a number for --cycles"},
      {"--timeout -1 probe", 1, timeoutRule},
      {"--timeout 0 probe", 1, timeoutRule},
      {"--timeout 86400.5 probe", 1, timeoutRule},
      {"--timeout 86400 --port /dev/quarn-no-such-port probe", 2, "no such port"},
      {"--timeout 0.5 --port /dev/quarn-no-such-port probe", 2, "no such port"},
      // Only a terminal device is a port: not a file, not another kind of device.
      {"--port /etc/passwd probe", 1, "not a terminal device: /etc/passwd"},
      {"--port /dev/null probe", 1, "not a terminal device: /dev/null"},
      {"--port /tmp probe", 1, "not a terminal device: /tmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = runCli(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(r.objects.empty()) << r.out;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
