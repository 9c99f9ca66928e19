// `quarn-cli hart …` against the simulator on a real pseudo-terminal, in real time. The scenarios
// keep the devices on the first channels at low polling addresses so each run ends in seconds.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CliRun {
  int status = -1;
  std::vector<nlohmann::json> objects;
  std::string out;
};

CliRun runCli(const std::string& args) {
  CliRun r;
  const std::string cmd = std::string(QUARN_CLI) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  while (fgets(buf, sizeof buf, p)) r.out += buf;
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) r.objects.push_back(nlohmann::json::parse(line, nullptr, false));
  return r;
}

const char kTwoDevices[] =
    "--sim --sim-arg --channels --sim-arg 2 --sim-arg --hart-addresses --sim-arg 0,2,0,0 --timeout 20 ";

TEST(CliHart, SearchFindsTheSimulatorsTransmitters) {
  const CliRun r = runCli(std::string(kTwoDevices) + "hart search --run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  const auto& j = r.objects[0];
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["hartFirstCh"], 0);
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

TEST(CliHart, WriteChangesTheRangeAndReadsItBack) {
  const CliRun r = runCli(
      "--sim --sim-arg --channels --sim-arg 1 --timeout 20 hart write --ch 1 --units 7 --upper 4 "
      "--run-timeout 120");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  const auto& j = r.objects[0];
  EXPECT_EQ(j["device"]["rangeUnits"], 7);
  EXPECT_EQ(j["device"]["upperRange"], 4.0);
  EXPECT_EQ(j["channel"]["MaxKpa"], 400.0);
}

TEST(CliHart, BadArgumentsAreRefusedBeforeAnythingStarts) {
  for (const char* args : {"hart", "hart zero", "hart info --ch 5", "hart trim-sensor --pmin 0", "hart bogus",
                           "hart write --ch 1 --address 64"}) {
    const CliRun r = runCli(std::string("--port /dev/quarn-no-such-port ") + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_TRUE(r.objects.empty()) << args;
  }
}

}  // namespace
