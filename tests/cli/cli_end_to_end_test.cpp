// quarn-cli against the simulator on a real pseudo-terminal, in real time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
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
  double seconds = 0;
};

CliRun runCli(const std::string& args) {
  CliRun r;
  const auto start = std::chrono::steady_clock::now();
  const std::string cmd = std::string(QUARN_CLI) + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  while (fgets(buf, sizeof buf, p)) r.out += buf;
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) r.objects.push_back(nlohmann::json::parse(line, nullptr, false));
  }
  return r;
}

TEST(CliEndToEnd, ProbeReturnsTheSimulatedQuarnIdentification) {
  const CliRun r = runCli("--sim --timeout 20 probe");
  ASSERT_EQ(r.status, 0) << r.out;
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
}

TEST(CliEndToEnd, BrenkWorkstationLinksOnlyToABrenk) {
  const CliRun r = runCli("--sim --model brenk --timeout 20 probe");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(r.objects.size(), 1u);
  const int type = r.objects[0]["devTypeId"];
  EXPECT_TRUE(type == 84 || type == 85) << type;
}

TEST(CliEndToEnd, MeasurePrintsOneObjectPerCycle) {
  const CliRun r = runCli("--sim --timeout 20 measure --cycles 3");
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(r.objects.size(), 3u) << r.out;
  for (const auto& j : r.objects) {
    ASSERT_FALSE(j.is_discarded());
    EXPECT_TRUE(j["pRef"].is_number()) << j;
    EXPECT_EQ(j["kestoCurrent"].size(), 4u);
    EXPECT_EQ(j["ch"].size(), 4u);
  }
}

TEST(CliEndToEnd, MissingPortEndsWithStatusTwoWithinTheTimeout) {
  const CliRun r = runCli("--port /dev/quarn-no-such-port --timeout 2 probe");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.objects.empty());
  EXPECT_LT(r.seconds, 10.0);
}

TEST(CliEndToEnd, BadArgumentsAreRefusedWithStatusOne) {
  for (const char* args : {"--model other probe", "frobnicate", "measure --cycles x", "--timeout -1 probe"}) {
    const CliRun r = runCli(args);
    EXPECT_EQ(r.status, 1) << args;
  }
}

}  // namespace
