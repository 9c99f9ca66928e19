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

namespace {

// The main unit's answer to one request: one handler per request type, each with the bench's state
// at hand. A handler returns the body of the answer frame.
class MainUnit {
 public:
  MainUnit(Engine::Impl& e, const uail::Request& rq)
      : e_(e), s_(e.scenario), f_(rq.fields), quarn_(e.scenario.model == Model::Quarn) {}

  std::optional<std::string> answer(int type) {
    switch (type) {
      case 0:
        return identify();
      case 1:
        return measure();
      case 2:
        return setpoint();
      case 3:
        return valvesOrMode();
      case 4:
        return zero();
      case 5:
        return dorvState();
      case 8:
        return remote();
      case 9:
        return identification();
      case 11:
        return version();
      case 16:
        return settings();
      case 17:
        return writeSettings();
      default:
        return errorBody(kAddress, kNoCommand);
    }
  }

 private:
  bool needsRemote() const { return s_.requireRemote && !e_.unit.remote; }
  float unitFactor() const {
    return kUnitFactors[e_.unit.units >= 0 && e_.unit.units < 8 ? e_.unit.units : 0];
  }

  std::optional<std::string> identify() { return body({std::to_string(e_.unit.deviceType)}); }

  // The measuring cycle: the Brenk gives reference and barometer, the Quarn its reading, display
  // values and state bits (low-range module, vent, input).
  std::optional<std::string> measure() {
    const double baro = s_.baroKPa + e_.random.gauss(s_.baroNoiseKPa);
    if (!quarn_)
      return body({uail::hexFloat(static_cast<float>(e_.referenceReadingKPa())),
                   uail::hexFloat(static_cast<float>(baro))});
    const PressureSystem& pressure = e_.pressure;
    const CalibratorUnitState& unit = e_.unit;
    int state = 0;
    const bool lowModule =
        unit.refSource == 2 || (unit.refSource == 0 && std::fabs(pressure.pressure) <= s_.module2LimitKPa);
    if (lowModule) state |= 1;
    if (pressure.ventOpen) state |= 2;
    if (pressure.inputOpen) state |= 4;
    const std::string baroText = fixed(baro * unitFactor(), unit.decimals);
    const std::string speedText = fixed(pressure.speedKPaS * unitFactor(), unit.decimals);
    if (unit.refSource == 3 && !s_.dorvOnQuarn) {
      // The reference chosen is not there: measured values missing.
      return std::to_string(kAddress) + ";$" + std::to_string(kInternal) + ";" +
             uail::hexFloat(std::numeric_limits<float>::quiet_NaN()) + ";--;" + baroText + ";--;" +
             std::to_string(state) + ";";
    }
    const double reading = unit.refSource == 3 ? e_.dorvReadingKPa() : e_.referenceReadingKPa();
    return body({uail::hexFloat(static_cast<float>(reading)), fixed(reading * unitFactor(), unit.decimals),
                 baroText, speedText, std::to_string(state)});
  }

  // Setpoint (Brenk).
  std::optional<std::string> setpoint() {
    if (quarn_) return errorBody(kAddress, kNoCommand);
    if (f_.size() != 1) return errorBody(kAddress, kBadFormat);
    const auto value = uail::parseHexFloat(f_[0]);
    if (!value) return errorBody(kAddress, kBadFormat);
    if (needsRemote()) return errorBody(kAddress, kNoRights);
    if (!std::isfinite(*value) || *value < s_.pLimitMinKPa || *value > s_.pLimitMaxKPa)
      return errorBody(kAddress, kRange);
    e_.pressure.setpoint = *value;
    return okBody(kAddress);
  }

  // Valves (Quarn) or operating mode (Brenk).
  std::optional<std::string> valvesOrMode() {
    PressureSystem& pressure = e_.pressure;
    if (quarn_) {
      if (f_.size() != 2) return errorBody(kAddress, kBadFormat);
      const auto input = intIn(f_[0], 0, 1);
      const auto vent = intIn(f_[1], 0, 1);
      if (!input || !vent) return errorBody(kAddress, kRange);
      if (needsRemote()) return errorBody(kAddress, kNoRights);
      pressure.inputOpen = *input;
      pressure.ventOpen = *vent;
      return body({pressure.inputOpen ? "1" : "0", pressure.ventOpen ? "1" : "0"});
    }
    if (f_.size() != 1) return errorBody(kAddress, kBadFormat);
    const auto mode = intIn(f_[0], 0, 2);
    if (!mode) return errorBody(kAddress, kRange);
    if (needsRemote()) return errorBody(kAddress, kNoRights);
    pressure.mode = *mode;
    return okBody(kAddress);
  }

  // Zero adjustment: only with the system open to the atmosphere.
  std::optional<std::string> zero() {
    if (needsRemote()) return errorBody(kAddress, kNoRights);
    const bool vented = quarn_ ? e_.pressure.ventOpen : e_.pressure.mode == 2;
    if (!vented) return errorBody(kAddress, kAccess);
    e_.unit.sensorOffsetKPa = -e_.pressure.pressure;
    return okBody(kAddress);
  }

  // State of the Dorv attached to the calibrator (Quarn).
  std::optional<std::string> dorvState() {
    if (!quarn_) return errorBody(kAddress, kNoCommand);
    return body({s_.dorvOnQuarn ? "1" : "0", std::to_string(s_.dorvPressType), compact(s_.dorvLowKPa),
                 compact(s_.dorvHighKPa), std::to_string(s_.dorvSerial)});
  }

  // Remote operation on / off.
  std::optional<std::string> remote() {
    if (f_.size() != 1) return errorBody(kAddress, kBadFormat);
    const auto on = intIn(f_[0], 0, 1);
    if (!on) return errorBody(kAddress, kRange);
    e_.unit.remote = *on;
    return okBody(kAddress);
  }

  std::optional<std::string> identification() {
    return body({fieldText(s_.serial), fieldText(s_.madeDate),
                 uail::hexFloat(static_cast<float>(s_.pLimitMinKPa)),
                 uail::hexFloat(static_cast<float>(s_.pLimitMaxKPa))});
  }

  std::optional<std::string> version() {
    if (quarn_) {
      return body({std::to_string(s_.versionMajor), std::to_string(s_.versionMinor), fieldText(s_.modelName),
                   std::to_string(s_.module1Class), std::to_string(s_.module2Class)});
    }
    return body(
        {std::to_string(s_.versionMajor), std::to_string(s_.versionMinor), std::to_string(s_.modelNo)});
  }

  // The settings text of the model.
  std::optional<std::string> settings() {
    const CalibratorUnitState& unit = e_.unit;
    if (quarn_) {
      return body({std::to_string(unit.refSource), std::to_string(unit.subRange),
                   std::to_string(unit.pressType), std::to_string(unit.units), std::to_string(unit.decimals),
                   std::to_string(unit.averaging), uail::hexFloat(unit.readyBand1)});
    }
    return body({std::to_string(unit.pressType), std::to_string(unit.units), std::to_string(unit.decimals),
                 std::to_string(unit.autoRange), std::to_string(unit.averaging),
                 std::to_string(e_.pressure.mode), uail::hexFloat(static_cast<float>(e_.pressure.setpoint)),
                 uail::hexFloat(unit.readyBand1), uail::hexFloat(unit.readyBand2)});
  }

  // Write settings; nothing changes unless every field is acceptable.
  std::optional<std::string> writeSettings() { return quarn_ ? writeQuarnSettings() : writeBrenkSettings(); }

  // Seven fields, or eight with the corridor repeated.
  std::optional<std::string> writeQuarnSettings() {
    if (f_.size() != 7 && f_.size() != 8) return errorBody(kAddress, kBadFormat);
    const auto ref = uail::parseInt(f_[0]), sub = uail::parseInt(f_[1]), type = uail::parseInt(f_[2]),
               units = uail::parseInt(f_[3]), dec = uail::parseInt(f_[4]), avg = uail::parseInt(f_[5]);
    const auto band = uail::parseHexFloat(f_[6]);
    if (!ref || !sub || !type || !units || !dec || !avg || !band) return errorBody(kAddress, kBadFormat);
    if (f_.size() == 8 && !uail::parseHexFloat(f_[7])) return errorBody(kAddress, kBadFormat);
    if (*ref < 0 || *ref > 4 || *sub < 0 || *sub > 9 || *type < 0 || *type > 2 || *units < 0 || *units > 7 ||
        *dec < 0 || *dec > 5 || *avg < 1 || *avg > 29 || !std::isfinite(*band) || *band < 0 || *band > 100)
      return errorBody(kAddress, kRange);
    if (needsRemote()) return errorBody(kAddress, kNoRights);
    CalibratorUnitState& unit = e_.unit;
    unit.refSource = *ref;
    unit.subRange = *sub;
    unit.pressType = *type;
    unit.units = *units;
    unit.decimals = *dec;
    unit.averaging = *avg;
    unit.readyBand1 = *band;
    return okBody(kAddress);
  }

  std::optional<std::string> writeBrenkSettings() {
    if (f_.size() != 9) return errorBody(kAddress, kBadFormat);
    const auto type = uail::parseInt(f_[0]), units = uail::parseInt(f_[1]), dec = uail::parseInt(f_[2]),
               autoRange = uail::parseInt(f_[3]), avg = uail::parseInt(f_[4]), mode = uail::parseInt(f_[5]);
    const auto target = uail::parseHexFloat(f_[6]), band1 = uail::parseHexFloat(f_[7]),
               band2 = uail::parseHexFloat(f_[8]);
    if (!type || !units || !dec || !autoRange || !avg || !mode || !target || !band1 || !band2)
      return errorBody(kAddress, kBadFormat);
    if (*type < 0 || *type > 2 || *units < 0 || *units > 7 || *dec < 0 || *dec > 5 || *autoRange < 0 ||
        *autoRange > 1 || *avg < 1 || *avg > 29 || *mode < 0 || *mode > 2 || !std::isfinite(*target) ||
        *target < s_.pLimitMinKPa || *target > s_.pLimitMaxKPa || !std::isfinite(*band1) ||
        !std::isfinite(*band2) || *band1 < 0 || *band1 > 100 || *band2 < 0 || *band2 > 100)
      return errorBody(kAddress, kRange);
    if (needsRemote()) return errorBody(kAddress, kNoRights);
    CalibratorUnitState& unit = e_.unit;
    unit.pressType = *type;
    unit.units = *units;
    unit.decimals = *dec;
    unit.autoRange = *autoRange;
    unit.averaging = *avg;
    e_.pressure.mode = *mode;
    e_.pressure.setpoint = *target;
    unit.readyBand1 = *band1;
    unit.readyBand2 = *band2;
    return okBody(kAddress);
  }

  Engine::Impl& e_;
  const Scenario& s_;
  const std::vector<std::string>& f_;
  const bool quarn_;
};

}  // namespace

std::optional<std::string> Engine::Impl::calibratorAnswer(const uail::Request& rq) {
  return MainUnit(*this, rq).answer(rq.type);
}

}  // namespace quarnsim
