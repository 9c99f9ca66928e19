// The demonstration bench and the demo project cut short, for the runs of verify and relay: point
// set 1 reduced to the given points and one second of hold. Needs the examples (QUARN_EXAMPLES_DIR,
// quarn::test::path) and the data library.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "ProjectFile.h"
#include "test_paths.h"

namespace clitest {

// examples/demo.aip.
inline std::string demoProject() { return quarn::test::path("QUARN_EXAMPLES_DIR") + "/demo.aip"; }

// examples/demo_bench.scenario: channel 2 slightly off, channel 3 out of tolerance, channel 4 with a
// 20..4 mA output.
inline std::string demoBench() {
  const std::string project = demoProject();
  return project.substr(0, project.rfind('/') + 1) + "demo_bench.scenario";
}

// The simulator on the demonstration bench (or a copy of its scenario) with a fast pressure source:
// inside quarn-cli in virtual time, or with `sim` "--sim" quarn-sim on a pseudo-terminal in real time.
inline std::string demoFastBench(const std::string& scenario = demoBench(),
                                 const std::string& sim = "--sim-virtual") {
  return sim + " --timeout 20 --sim-arg --scenario --sim-arg '" + scenario +
         "' --sim-arg --set --sim-arg input_tau_s=0.3 ";
}

// The demo project in `dir` with point set 1 reduced to `points` (percent) and one second of hold.
inline std::string shortProject(const std::string& dir, std::initializer_list<float> points,
                                const std::string& name = "short.aip") {
  namespace data = quarn::data;
  data::Project p;
  const data::Result<data::LoadedProject> load = data::loadProject(demoProject(), p);
  EXPECT_TRUE(load.ok()) << load.why();
  data::PointSet set{};
  size_t i = 0;
  for (float v : points) set[i++] = {true, v, 0};
  p.pointSets[0] = set;
  p.selectedSet = 0;
  p.readiness.holdTimeS = "1";
  const std::string path = dir + "/" + name;
  EXPECT_EQ(data::saveProject(path, p).why(), "");
  return path;
}

}  // namespace clitest
