// The calibrator's main unit at UAIL address 1: identification, remote operation, measuring
// answers, valves (Quarn) or operating mode and setpoint (Brenk), zero adjustment, settings and
// identification texts, and the Quarn's report on an attached Dorv transducer.
#include <cmath>
#include <cstdio>
#include <limits>

#include "bench.h"

namespace quarnsim {

namespace {

constexpr int kAddress = 1;

// kPa to display unit, by unit index.
constexpr float kUnitFactors[8] = {1.0f,      0.001f,    0.01f,   0.01019716f,
                                   101.9716f, 101.9716f, 7.5006f, 0.145038f};

enum Code {
  kOk = 0,
  kNoCommand = 1,
  kBadFormat = 2,
  kNoParam = 3,
  kNoRights = 4,
  kAccess = 5,
  kRange = 6,
  kInternal = 11
};

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "--";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 0 : (decimals > 5 ? 5 : decimals), value);
  return text;
}

// A number as short as it reads back exactly enough ("2500", "0.25", "2.5e+06").
std::string compact(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.7g", value);
  return text;
}

// A text field as it can travel inside an answer: no separators, no blanks or control bytes.
std::string fieldText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) out += (c < 0x21 || c == ';' || c == 0x7F) ? '_' : static_cast<char>(c);
  return out.empty() ? "-" : out;
}

std::string body(std::initializer_list<std::string> fields) {
  std::string out = std::to_string(kAddress) + ";";
  for (const auto& f : fields) out += f + ";";
  return out;
}

std::optional<int> intIn(const std::string& text, int lo, int hi) {
  const auto v = uail::parseInt(text);
  if (!v || *v < lo || *v > hi) return std::nullopt;
  return static_cast<int>(*v);
}

}  // namespace

std::string okBody(int address) { return std::to_string(address) + ";$0;"; }
std::string errorBody(int address, int code) {
  return std::to_string(address) + ";$" + std::to_string(code) + ";";
}

double Engine::Impl::referenceReadingKPa() {
  double p = pressure.pressure + unit.sensorOffsetKPa + random.gauss(scenario.noiseKPa);
  if (unit.pressType == 0) p += scenario.baroKPa;
  return p;
}

std::optional<std::string> Engine::Impl::calibratorAnswer(const uail::Request& rq) {
  const Scenario& s = scenario;
  const bool quarn = s.model == Model::Quarn;
  const auto& f = rq.fields;
  const float unitFactor = kUnitFactors[unit.units >= 0 && unit.units < 8 ? unit.units : 0];
  auto needsRemote = [&] { return s.requireRemote && !unit.remote; };

  switch (rq.type) {
    case 0:
      return body({std::to_string(unit.deviceType)});

    case 1: {  // measuring cycle
      const double baro = s.baroKPa + random.gauss(s.baroNoiseKPa);
      if (!quarn)
        return body({uail::hexFloat(static_cast<float>(referenceReadingKPa())),
                     uail::hexFloat(static_cast<float>(baro))});
      int state = 0;
      const double p = pressure.pressure;
      const bool lowModule =
          unit.refSource == 2 || (unit.refSource == 0 && std::fabs(p) <= s.module2LimitKPa);
      if (lowModule) state |= 1;
      if (pressure.ventOpen) state |= 2;
      if (pressure.inputOpen) state |= 4;
      const std::string baroText = fixed(baro * unitFactor, unit.decimals);
      const std::string speedText = fixed(pressure.speedKPaS * unitFactor, unit.decimals);
      if (unit.refSource == 3) {
        if (!s.dorvOnQuarn) {  // the reference chosen is not there: measured values missing
          return std::to_string(kAddress) + ";$" + std::to_string(kInternal) + ";" +
                 uail::hexFloat(std::numeric_limits<float>::quiet_NaN()) + ";--;" + baroText + ";--;" +
                 std::to_string(state) + ";";
        }
        const double reading = dorvReadingKPa();
        return body({uail::hexFloat(static_cast<float>(reading)), fixed(reading * unitFactor, unit.decimals),
                     baroText, speedText, std::to_string(state)});
      }
      const double reading = referenceReadingKPa();
      return body({uail::hexFloat(static_cast<float>(reading)), fixed(reading * unitFactor, unit.decimals),
                   baroText, speedText, std::to_string(state)});
    }

    case 2: {  // setpoint (Brenk)
      if (quarn) return errorBody(kAddress, kNoCommand);
      if (f.size() != 1) return errorBody(kAddress, kBadFormat);
      const auto value = uail::parseHexFloat(f[0]);
      if (!value) return errorBody(kAddress, kBadFormat);
      if (needsRemote()) return errorBody(kAddress, kNoRights);
      if (!std::isfinite(*value) || *value < s.pLimitMinKPa || *value > s.pLimitMaxKPa)
        return errorBody(kAddress, kRange);
      pressure.setpoint = *value;
      return okBody(kAddress);
    }

    case 3: {  // valves (Quarn) or operating mode (Brenk)
      if (quarn) {
        if (f.size() != 2) return errorBody(kAddress, kBadFormat);
        const auto input = intIn(f[0], 0, 1);
        const auto vent = intIn(f[1], 0, 1);
        if (!input || !vent) return errorBody(kAddress, kRange);
        if (needsRemote()) return errorBody(kAddress, kNoRights);
        pressure.inputOpen = *input;
        pressure.ventOpen = *vent;
        return body({pressure.inputOpen ? "1" : "0", pressure.ventOpen ? "1" : "0"});
      }
      if (f.size() != 1) return errorBody(kAddress, kBadFormat);
      const auto mode = intIn(f[0], 0, 2);
      if (!mode) return errorBody(kAddress, kRange);
      if (needsRemote()) return errorBody(kAddress, kNoRights);
      pressure.mode = *mode;
      return okBody(kAddress);
    }

    case 4: {  // zero adjustment: only with the system open to the atmosphere
      if (needsRemote()) return errorBody(kAddress, kNoRights);
      const bool vented = quarn ? pressure.ventOpen : pressure.mode == 2;
      if (!vented) return errorBody(kAddress, kAccess);
      unit.sensorOffsetKPa = -pressure.pressure;
      return okBody(kAddress);
    }

    case 5: {  // state of the Dorv attached to the calibrator (Quarn)
      if (!quarn) return errorBody(kAddress, kNoCommand);
      return body({s.dorvOnQuarn ? "1" : "0", std::to_string(s.dorvPressType), compact(s.dorvLowKPa),
                   compact(s.dorvHighKPa), std::to_string(s.dorvSerial)});
    }

    case 8: {  // remote operation on / off
      if (f.size() != 1) return errorBody(kAddress, kBadFormat);
      const auto on = intIn(f[0], 0, 1);
      if (!on) return errorBody(kAddress, kRange);
      unit.remote = *on;
      return okBody(kAddress);
    }

    case 9:
      return body({fieldText(s.serial), fieldText(s.madeDate),
                   uail::hexFloat(static_cast<float>(s.pLimitMinKPa)),
                   uail::hexFloat(static_cast<float>(s.pLimitMaxKPa))});

    case 11:
      if (quarn) {
        return body({std::to_string(s.versionMajor), std::to_string(s.versionMinor), fieldText(s.modelName),
                     std::to_string(s.module1Class), std::to_string(s.module2Class)});
      }
      return body(
          {std::to_string(s.versionMajor), std::to_string(s.versionMinor), std::to_string(s.modelNo)});

    case 16:  // settings text
      if (quarn) {
        return body({std::to_string(unit.refSource), std::to_string(unit.subRange),
                     std::to_string(unit.pressType), std::to_string(unit.units),
                     std::to_string(unit.decimals), std::to_string(unit.averaging),
                     uail::hexFloat(unit.readyBand1)});
      }
      return body({std::to_string(unit.pressType), std::to_string(unit.units), std::to_string(unit.decimals),
                   std::to_string(unit.autoRange), std::to_string(unit.averaging),
                   std::to_string(pressure.mode), uail::hexFloat(static_cast<float>(pressure.setpoint)),
                   uail::hexFloat(unit.readyBand1), uail::hexFloat(unit.readyBand2)});

    case 17: {  // write settings; nothing changes unless every field is acceptable
      if (quarn) {
        // Seven fields, or eight with the corridor repeated.
        if (f.size() != 7 && f.size() != 8) return errorBody(kAddress, kBadFormat);
        const auto ref = uail::parseInt(f[0]), sub = uail::parseInt(f[1]), type = uail::parseInt(f[2]),
                   units = uail::parseInt(f[3]), dec = uail::parseInt(f[4]), avg = uail::parseInt(f[5]);
        const auto band = uail::parseHexFloat(f[6]);
        if (!ref || !sub || !type || !units || !dec || !avg || !band) return errorBody(kAddress, kBadFormat);
        if (f.size() == 8 && !uail::parseHexFloat(f[7])) return errorBody(kAddress, kBadFormat);
        if (*ref < 0 || *ref > 4 || *sub < 0 || *sub > 9 || *type < 0 || *type > 2 || *units < 0 ||
            *units > 7 || *dec < 0 || *dec > 5 || *avg < 1 || *avg > 29 || !std::isfinite(*band) ||
            *band < 0 || *band > 100)
          return errorBody(kAddress, kRange);
        if (needsRemote()) return errorBody(kAddress, kNoRights);
        unit.refSource = *ref;
        unit.subRange = *sub;
        unit.pressType = *type;
        unit.units = *units;
        unit.decimals = *dec;
        unit.averaging = *avg;
        unit.readyBand1 = *band;
        return okBody(kAddress);
      }
      if (f.size() != 9) return errorBody(kAddress, kBadFormat);
      const auto type = uail::parseInt(f[0]), units = uail::parseInt(f[1]), dec = uail::parseInt(f[2]),
                 autoRange = uail::parseInt(f[3]), avg = uail::parseInt(f[4]), mode = uail::parseInt(f[5]);
      const auto target = uail::parseHexFloat(f[6]), band1 = uail::parseHexFloat(f[7]),
                 band2 = uail::parseHexFloat(f[8]);
      if (!type || !units || !dec || !autoRange || !avg || !mode || !target || !band1 || !band2)
        return errorBody(kAddress, kBadFormat);
      if (*type < 0 || *type > 2 || *units < 0 || *units > 7 || *dec < 0 || *dec > 5 || *autoRange < 0 ||
          *autoRange > 1 || *avg < 1 || *avg > 29 || *mode < 0 || *mode > 2 || !std::isfinite(*target) ||
          *target < s.pLimitMinKPa || *target > s.pLimitMaxKPa || !std::isfinite(*band1) ||
          !std::isfinite(*band2) || *band1 < 0 || *band1 > 100 || *band2 < 0 || *band2 > 100)
        return errorBody(kAddress, kRange);
      if (needsRemote()) return errorBody(kAddress, kNoRights);
      unit.pressType = *type;
      unit.units = *units;
      unit.decimals = *dec;
      unit.autoRange = *autoRange;
      unit.averaging = *avg;
      pressure.mode = *mode;
      pressure.setpoint = *target;
      unit.readyBand1 = *band1;
      unit.readyBand2 = *band2;
      return okBody(kAddress);
    }

    default:
      return errorBody(kAddress, kNoCommand);
  }
}

}  // namespace quarnsim
