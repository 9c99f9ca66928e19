// The Dorv reference transducer on its own serial line: identification, the registers the host
// reads (pressure type, range limits, unit, serial number) and the pressure measurement.
#include <cstdio>

#include "bench.h"

namespace quarnsim {

namespace {

// Dorv unit code -> kPa per unit.
constexpr double kUnitToKPa[8] = {1000.0, 1.0, 0.001, 0.00980665, 98.0665, 0.133322, 100.0, 6.894759};
constexpr int kFixedDataType = 13;  // reports kPa and a fixed 0..600 kPa range, has no registers

enum Code { kNoCommand = 1, kBadFormat = 2, kNoParam = 3 };

}  // namespace

double Engine::Impl::dorvReadingKPa() {
  double p = pressure.pressure + random.gauss(scenario.dorvNoiseKPa);
  if (scenario.dorvPressType == 0) p += scenario.baroKPa;
  return p;
}

std::optional<std::string> Engine::Impl::dorvAnswer(const uail::Request& rq) {
  const Scenario& s = scenario;
  if (rq.address != s.dorvAddress) return std::nullopt;
  const std::string head = std::to_string(s.dorvAddress) + ";";
  const int unitCode = s.dorvUnit >= 0 && s.dorvUnit < 8 ? s.dorvUnit : 1;

  switch (rq.type) {
    case 0:
      return head + std::to_string(s.dorvType) + ";";

    case 1: {
      if (rq.fields.size() != 1 || rq.fields[0] != "0") return errorBody(s.dorvAddress, kBadFormat);
      double value = dorvReadingKPa();
      if (s.dorvType != kFixedDataType) value /= kUnitToKPa[unitCode];
      char text[64];
      std::snprintf(text, sizeof text, "%f", value);
      return head + text + ";";
    }

    case 37: {
      if (s.dorvType == kFixedDataType) return errorBody(s.dorvAddress, kNoCommand);
      if (rq.fields.size() != 1 || rq.fields[0].size() != 2) return errorBody(s.dorvAddress, kBadFormat);
      const auto reg = uail::parseHexBytes(rq.fields[0]);
      if (!reg) return errorBody(s.dorvAddress, kBadFormat);
      switch ((*reg)[0]) {
        case 0x31:
          return head + std::to_string(s.dorvPressType) + ";";
        case 0x34:
          return head + uail::hexFloat(static_cast<float>(s.dorvHighKPa)) + ";";
        case 0x4C:
          return head + uail::hexFloat(static_cast<float>(s.dorvLowKPa)) + ";";
        case 0x1E:
          return head + std::to_string(unitCode) + ";";
        case 0x8B:
          return head + uail::hexU32(s.dorvSerial) + ";";
        default:
          return errorBody(s.dorvAddress, kNoParam);
      }
    }

    default:
      return errorBody(s.dorvAddress, kNoCommand);
  }
}

}  // namespace quarnsim
