// Writes examples/demo.aip: the project for the demonstration bench examples/demo_bench.scenario
// (four 0..600 kPa linear transmitters; the one on channel 4 has a falling 20..4 mA output), with
// five points and a short readiness hold so a demonstration run finishes quickly. With --calibration
// it writes examples/calibration.aip instead, for the calibration bench
// examples/calibration_bench.scenario: the same points, four 4..20 mA outputs and no relay.
// Usage: make_demo_project [--calibration] OUT.aip
#include <cstdio>
#include <string>

#include "ChannelRules.h"
#include "ProjectFile.h"

using namespace quarn::data;

int main(int argc, char** argv) {
  const bool calibration = argc == 3 && std::string(argv[1]) == "--calibration";
  if (argc != 2 && !calibration) {
    std::fprintf(stderr, "usage: %s [--calibration] OUT.aip\n", argv[0]);
    return 2;
  }
  const char* out = argv[argc - 1];
  Project p;
  for (int c = 0; c < kChannelCount; ++c) {
    ChannelParams& ch = p.channels[static_cast<std::size_t>(c)];
    ch.enabled = true;
    ch.name = "Датчик давления";
    ch.model = "ДД-600";
    ch.sn = std::to_string(1001 + c);
    ch.invNo = "ИН-" + std::to_string(1001 + c);
    ch.owner = "Демонстрационная лаборатория";
    ch.Min = 0;
    ch.Max = 600;
    ch.unit = "кПа";
    ch.errOk = 0.5f;
    ch.elTypeSignal = c == 3 && !calibration ? kSignal20to4 : kSignal4to20;
    if (calibration) {
      ch.sn = std::to_string(2001 + c);
      ch.invNo = "ИН-" + std::to_string(2001 + c);
    }
  }
  p.pointSets[0] = {};
  const float points[] = {0, 25, 50, 75, 100};
  for (std::size_t i = 0; i < std::size(points); ++i) p.pointSets[0][i] = PointDef{true, points[i], 0};
  p.selectedSet = 0;
  p.header.protocolNo = "1";
  p.header.temp = "20";
  p.header.hum = "50";
  p.header.pres = "750";
  p.header.organisation = "Демонстрационная лаборатория";
  p.header.accreditationNo = "RA.RU.000000";
  p.header.address = {"г. Москва,", "ул. Примерная, 1"};
  p.header.verifierPosition = "поверитель";
  p.header.verifier = "Иванов И.И.";
  p.header.chiefPosition = "начальник лаборатории";
  p.header.chief = "Петров П.П.";
  p.header.resultDecimals = 3;
  p.readiness = {"2", "0.05", "0.7", false};
  p.relay.enabled = {!calibration, false};
  p.relay.setpointKpa = {"300", "450"};
  p.relay.hysteresisKpa = {"10", "10"};
  const Outcome saved = saveProject(out, p);
  if (!saved) {
    std::fprintf(stderr, "%s\n", saved.why().c_str());
    return 1;
  }
  return 0;
}
