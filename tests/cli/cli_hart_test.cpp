// `quarn-cli hart …` against the simulator. A write with its read-back runs against quarn-sim on a
// real pseudo-terminal in real time (the HART line's timing as a real modem has it); the other jobs
// use the simulator inside quarn-cli in virtual time. The scenarios keep the devices on the first
// channels at low polling addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_process.h"

namespace {

using clitest::CliRun;
using clitest::expectCleanSimulator;
using clitest::runCli;

const char kTwoDevices[] =
    "--sim-virtual --sim-arg --channels --sim-arg 2 --sim-arg --hart-addresses --sim-arg 0,2,0,0 --timeout "
    "20 ";

TEST(CliHart, SearchFindsTheSimulatorsTransmitters) {
  const CliRun r = runCli(std::string(kTwoDevices) + "hart search --run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  expectCleanSimulator(r);
  const auto& j = r.objects[0];
  EXPECT_EQ(j["ok"], true);
  ASSERT_TRUE(j.contains("reason")) << j;
  EXPECT_TRUE(j["reason"].is_null()) << j;
  // Not a terminal: plain lines of the search itself, none without content.
  EXPECT_NE(r.err.find("HART search: channel 2  polling address 2"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("|  |"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  ASSERT_EQ(j["devices"].size(), 2u) << j;
  const int addresses[2] = {0, 2};
  for (int k = 0; k < 2; ++k) {
    const auto& d = j["devices"][k];
    EXPECT_EQ(d["ch"], k + 1);
    EXPECT_EQ(d["found"], 1);
    EXPECT_EQ(d["pollingAddress"], addresses[k]);
    EXPECT_EQ(d["rangeUnits"], 12);
    EXPECT_EQ(d["lowerRange"], 0.0);
    EXPECT_EQ(d["upperRange"], 600.0);
    EXPECT_EQ(d["outputType"], 1);
    EXPECT_FALSE(d["deviceTypeName"].get<std::string>().empty());
    for (const char* key :
         {"deviceId", "expandedDeviceType", "manufacturerName", "tag", "damping", "transferFunction"})
      EXPECT_TRUE(d.contains(key)) << key;
  }
  EXPECT_EQ(j["channels"][1]["MaxKpa"], 600.0);
}

// --fast: the same two transmitters, found and read in less time than with the fixed windows (a
// silent polling address costs about 0.4 s instead of 1 s, answers are taken when complete). The
// search's time is the simulator's virtual time: about 11 s against 5 s.
TEST(CliHart, FastSearchFindsTheSameTransmittersSooner) {
  const CliRun fixed = runCli(std::string(kTwoDevices) + "hart search --run-timeout 120");
  const CliRun fast = runCli(std::string(kTwoDevices) + "hart search --fast --run-timeout 120");
  ASSERT_EQ(fixed.status, 0) << fixed.err;
  ASSERT_EQ(fast.status, 0) << fast.err;
  ASSERT_EQ(fast.objects.size(), 1u) << fast.out;
  expectCleanSimulator(fast);
  const auto& a = fixed.objects[0];
  const auto& b = fast.objects[0];
  EXPECT_EQ(b["devices"], a["devices"]);
  EXPECT_EQ(b["channels"], a["channels"]);
  EXPECT_LT(b["searchSeconds"].get<double>(), a["searchSeconds"].get<double>());
}

// The first channel with a device in both numberings: the record's index and the channel number
// that `devices[].ch` and the command line use.
TEST(CliHart, FirstChannelIsGivenAsIndexAndAsChannelNumber) {
  struct Case {
    const char* sim;
    int hartFirstCh;
    nlohmann::json firstChannel;
  };
  const Case cases[] = {
      // Transmitters on channels 2 and 3 only (1 and 4 show nothing on their loops).
      {"--sim-arg --set --sim-arg channel.1.present=0 --sim-arg --set --sim-arg kesto.status.1=1 "
       "--sim-arg --set --sim-arg channel.4.present=0 --sim-arg --set --sim-arg kesto.status.4=1 "
       "--sim-arg --hart-addresses --sim-arg 0,0,1,0 ",
       1, 2},
      // No transmitter anywhere.
      {"--sim-arg --channels --sim-arg 0 --sim-arg --set --sim-arg kesto.status.1=1 --sim-arg --set "
       "--sim-arg "
       "kesto.status.2=1 --sim-arg --set --sim-arg kesto.status.3=1 --sim-arg --set --sim-arg "
       "kesto.status.4=1 ",
       -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    const CliRun r =
        runCli(std::string("--sim-virtual --timeout 20 ") + c.sim + "hart search --run-timeout 120");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.objects.size(), 1u) << r.out;
    const auto& j = r.objects[0];
    EXPECT_EQ(j["hartFirstCh"], c.hartFirstCh) << j;
    ASSERT_TRUE(j.contains("firstChannel")) << j;
    EXPECT_EQ(j["firstChannel"], c.firstChannel) << j;
    if (!j["devices"].empty()) {
      EXPECT_EQ(j["devices"][0]["ch"], c.firstChannel);
    }
    expectCleanSimulator(r);
  }
}

// A job that fails says why, in its object and on stderr, also when the library reported no error.
TEST(CliHart, AFailedJobAlwaysSaysWhy) {
  struct Case {
    const char* args;
    const char* reason;
  };
  const char* oneDevice =
      "--sim-arg --channels --sim-arg 1 --sim-arg --set --sim-arg kesto.status.2=1 --sim-arg --set --sim-arg "
      "kesto.status.3=1 --sim-arg --set --sim-arg kesto.status.4=1 ";
  const std::string noDevice = std::string(oneDevice) + "hart info --ch 2";
  const Case cases[] = {
      {"--sim-arg --set --sim-arg kesto.fitted=0 hart search", "no Kesto module"},
      {"--sim-arg --fault --sim-arg 'kesto error 3 cmd=5' hart search", "channel select failed"},
      {noDevice.c_str(), "no HART device found on channel 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = runCli(std::string("--sim-virtual --timeout 20 ") + c.args + " --run-timeout 120");
    EXPECT_EQ(r.status, 1) << r.err;
    ASSERT_EQ(r.objects.size(), 1u) << r.out;
    const auto& j = r.objects[0];
    EXPECT_EQ(j["ok"], false);
    ASSERT_TRUE(j.contains("reason") && j["reason"].is_string()) << j;
    EXPECT_NE(j["reason"].get<std::string>().find(c.reason), std::string::npos) << j;
    EXPECT_NE(r.err.find("failed: " + j["reason"].get<std::string>()), std::string::npos) << r.err;
    expectCleanSimulator(r);
  }
}

// On a terminal the search is one line rewritten in place: channel, polling address, a bar and the
// longest time left (a second per silent address).
TEST(CliHart, SearchProgressOnATerminalIsOneUpdatingLine) {
  const CliRun r = clitest::runCliOnTerminal(
      "--sim-virtual --sim-arg --channels --sim-arg 1 --sim-arg --hart-addresses --sim-arg 3,0,0,0 --sim-arg "
      "--set "
      "--sim-arg kesto.status.2=1 --sim-arg --set --sim-arg kesto.status.3=1 --sim-arg --set --sim-arg "
      "kesto.status.4=1 --timeout 20 hart search --run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  expectCleanSimulator(r);
  EXPECT_GE(std::count(r.err.begin(), r.err.end(), '\r'), 3) << r.err;
  EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  // Address 2 of the only usable channel: 2/64 done, 61 s left at most.
  EXPECT_NE(r.err.find("HART search: channel 1 [#...................] 3%  1 min 1 s left  polling address 2"),
            std::string::npos)
      << r.err;
}

TEST(CliHart, WriteChangesTheRangeAndReadsItBack) {
  const CliRun r = runCli(
      "--sim --sim-arg --channels --sim-arg 1 --timeout 20 hart write --ch 1 --units 7 --upper 4 "
      "--run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  expectCleanSimulator(r);
  const auto& j = r.objects[0];
  EXPECT_EQ(j["device"]["rangeUnits"], 7);
  EXPECT_EQ(j["device"]["upperRange"], 4.0);
  EXPECT_EQ(j["channel"]["MaxKpa"], 400.0);
}

// A write to the HART transmitter of channel 1 beside a plain 4-20 mA transmitter on channel 2: the
// job's errors are those of the write to channel 1 only, not the "no HART device" of the search's
// silent polls of channel 2 nor the mark each request carries until its answer.
TEST(CliHart, AWritesErrorsAreThoseOfTheAskedChannel) {
  struct Case {
    const char* what;
    const char* values;
    bool ok;
    std::vector<int> errCodes;
  };
  const Case cases[] = {
      {"a write the device takes", "--upper 500", true, {}},
      {"a range the device refuses", "--upper 4", false, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CliRun r = runCli(
        std::string(
            "--sim-virtual --sim-arg --channels --sim-arg 2 --sim-arg --set --sim-arg channel.2.hart=0 "
            "--sim-arg --set --sim-arg kesto.status.3=1 --sim-arg --set --sim-arg kesto.status.4=1 "
            "--timeout 20 hart write --ch 1 ") +
        c.values + " --run-timeout 120");
    EXPECT_EQ(r.status, c.ok ? 0 : 1) << r.err;
    ASSERT_EQ(r.objects.size(), 1u) << r.out;
    const auto& j = r.objects[0];
    EXPECT_EQ(j["ok"], c.ok) << j;
    std::vector<int> codes;
    for (const auto& e : j["errors"]) codes.push_back(e["errCode"].get<int>());
    EXPECT_EQ(codes, c.errCodes) << j;
    expectCleanSimulator(r);
  }
}

TEST(CliHart, BadArgumentsAreRefusedBeforeAnythingStarts) {
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"hart", "hart needs a job"},
      {"hart zero", "hart zero needs --ch N"},
      {"hart info --ch 5", "--ch takes 1..4"},
      {"hart trim-sensor --pmin 0", "needs --pmin, --pmax, --corridor and --time"},
      {"hart bogus", "unknown hart job: bogus"},
      {"hart write --ch 1 --address 64", "--address takes 0..63"},
      {"hart search --run-timeout 0", "--run-timeout takes seconds above 0, at most 86400"},
      {"hart search --fast --fast-turnaround 1001", "--fast-turnaround takes 0..1000"},
      {"hart search --fast-turnaround", "option --fast-turnaround needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = runCli(std::string("--port /dev/quarn-no-such-port ") + c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.objects.empty()) << r.out;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace
