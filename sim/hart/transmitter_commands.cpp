// The HART commands a simulated transmitter answers: universal and common-practice commands plus the
// device-specific output calibration (122, 123, 128) and restore (136) commands.
#include <algorithm>
#include <cmath>

#include "hart_codec.h"
#include "transmitter_state.h"

namespace quarnsim {
namespace {

using namespace response;
using hart::putFloat;

constexpr size_t kTagChars = 8, kDescriptorChars = 16, kMessageChars = 32;
constexpr double kMaxDamping = 60.0;      // s
constexpr double kMaxLoopCurrent = 24.0;  // mA a fixed-current request may ask for
constexpr double kTrimLimit = 0.10;       // largest sensor correction, part of the sensor span
constexpr double kLoopTrimWindow = 0.5;   // mA: fixed current must sit this close to the trimmed end

Reply ok(std::vector<uint8_t> data = {}) { return Reply{kOk, std::move(data)}; }
Reply fail(uint8_t code) { return Reply{code, {}}; }

// Checks a value against [low, high]: a NaN counts as too small.
uint8_t rangeCode(double value, double low, double high) {
  if (!(value >= low)) return kTooSmall;
  if (value > high) return kTooLarge;
  return kOk;
}

bool isWrite(uint8_t command) {
  switch (command) {
    case 6:
    case 17:
    case 18:
    case 34:
    case 35:
    case 43:
    case 44:
    case 45:
    case 46:
    case 47:
    case 82:
    case 123:
    case 136:
      return true;
    default:
      return false;
  }
}

// Minimum request data of the commands that take data.
size_t minimumData(uint8_t command) {
  switch (command) {
    case 6:
    case 44:
    case 47:
    case 80:
    case 81:
      return 1;
    case 136:
      return 2;
    case 34:
    case 40:
    case 45:
    case 46:
      return 4;
    case 82:
      return 7;
    case 123:
      return 8;
    case 35:
      return 9;
    case 18:
      return 21;
    case 17:
      return 24;
    default:
      return 0;
  }
}

class Commands {
 public:
  explicit Commands(Transmitter::State& s) : s_(s), c_(s.config) {}

  Reply run(const hart::Request& rq) {
    const auto& d = rq.data;
    if (d.size() < minimumData(rq.command)) return fail(kTooFewBytes);
    if (c_.writeProtected && isWrite(rq.command)) return fail(kWriteProtected);
    const bool rev6 = c_.hartRevision >= 6;
    switch (rq.command) {
      case 0:
        return identity();
      case 1:
        return primaryVariable();
      case 2:
        return currentAndPercent();
      case 3:
        return dynamicVariables();
      case 6:
        return writePollingAddress(d);
      case 7:
        return rev6 ? loopConfiguration() : fail(kNotImplemented);
      case 8:
        return rev6 ? classifications() : fail(kNotImplemented);
      case 12:
        return ok(hart::packAscii(c_.message, kMessageChars));
      case 13:
        return tagDescriptorDate();
      case 14:
        return sensorInformation();
      case 15:
        return deviceInformation();
      case 16:
        return finalAssembly();
      case 17:
        return writeMessage(d);
      case 18:
        return writeTagDescriptorDate(d);
      case 34:
        return writeDamping(d);
      case 35:
        return writeRange(d);
      case 38:
        return rev6 ? resetConfigChanged() : fail(kNotImplemented);
      case 40:
        return fixedCurrent(d);
      case 42:
        return ok();
      case 43:
        return setZero();
      case 44:
        return writeUnits(d);
      case 45:
        return trimLoopZero(d);
      case 46:
        return trimLoopGain(d);
      case 47:
        return writeTransferFunction(d);
      case 80:
        return trimPoints(d);
      case 81:
        return trimGuidelines(d);
      case 82:
        return sensorTrim(d);
      case 122:
        return readOutputCoefficients();
      case 123:
        return writeOutputCoefficients(d);
      case 128:
        return outputParameters();
      case 136:
        return restore(d);
      default:
        return fail(kNotImplemented);
    }
  }

 private:
  double unitsFactor() const { return s_.unitsToKPa(); }

  Reply identity() {
    std::vector<uint8_t> out{254,
                             static_cast<uint8_t>(c_.expandedDeviceType >> 8),
                             static_cast<uint8_t>(c_.expandedDeviceType),
                             c_.requestPreambles,
                             c_.hartRevision,
                             c_.deviceRevision,
                             c_.softwareRevision,
                             static_cast<uint8_t>((c_.hardwareRevision << 3) | (c_.physicalSignaling & 7)),
                             c_.deviceFlags};
    hart::putU24(out, c_.deviceId);
    if (c_.hartRevision >= 6) {
      out.push_back(c_.responsePreambles);
      out.push_back(4);  // device variables
      hart::putU16(out, s_.configChangeCounter);
      out.push_back(0);  // extended device status
    }
    if (c_.hartRevision >= 7) {
      hart::putU16(out, c_.manufacturerId);
      hart::putU16(out, c_.privateLabelId);
      out.push_back(c_.deviceProfile);
    }
    return ok(std::move(out));
  }

  Reply primaryVariable() {
    std::vector<uint8_t> out{c_.units};
    putFloat(out, static_cast<float>(s_.primaryValue()));
    return ok(std::move(out));
  }

  Reply currentAndPercent() {
    std::vector<uint8_t> out;
    putFloat(out, static_cast<float>(s_.signal()));
    putFloat(out, static_cast<float>(s_.percentOfRange()));
    return ok(std::move(out));
  }

  // Primary: pressure; secondary: sensor temperature; tertiary: percent of range; quaternary: the
  // output signal (mA, or V for a voltage output).
  Reply dynamicVariables() {
    std::vector<uint8_t> out;
    const float current = static_cast<float>(s_.signal());
    putFloat(out, current);
    out.push_back(c_.units);
    putFloat(out, static_cast<float>(s_.primaryValue()));
    out.push_back(32);  // °C
    putFloat(out, static_cast<float>(c_.sensorTemperature));
    out.push_back(57);  // percent
    putFloat(out, static_cast<float>(s_.percentOfRange()));
    out.push_back(c_.output == OutputType::Voltage ? 58 : 39);  // V or mA
    putFloat(out, current);
    return ok(std::move(out));
  }

  Reply writePollingAddress(const std::vector<uint8_t>& d) {
    const uint8_t address = d[0];
    const bool rev6 = c_.hartRevision >= 6;
    if (address > (rev6 ? 63 : 15)) return fail(kInvalidSelection);
    const uint8_t mode = rev6 && d.size() >= 2 ? d[1] : (address == 0 ? 1 : 0);
    if (mode > 1) return fail(kUpperTooLow);  // invalid loop current mode
    c_.pollingAddress = address;
    c_.loopCurrentEnabled = mode == 1;
    if (!s_.loopCurrentEnabled()) s_.fixedMode = false;
    s_.markConfigChanged();
    if (!rev6) return ok({address});
    return ok({address, mode});
  }

  Reply loopConfiguration() {
    return ok({c_.pollingAddress, static_cast<uint8_t>(s_.loopCurrentEnabled() ? 1 : 0)});
  }

  Reply classifications() { return ok({65, 64, 0, 84}); }  // pressure, temperature, none, current

  Reply tagDescriptorDate() {
    std::vector<uint8_t> out = hart::packAscii(c_.tag, kTagChars);
    const std::vector<uint8_t> descriptor = hart::packAscii(c_.descriptor, kDescriptorChars);
    out.insert(out.end(), descriptor.begin(), descriptor.end());
    out.push_back(c_.dateDay);
    out.push_back(c_.dateMonth);
    out.push_back(c_.dateYear);
    return ok(std::move(out));
  }

  Reply sensorInformation() {
    std::vector<uint8_t> out;
    hart::putU24(out, c_.sensorSerial);
    out.push_back(c_.units);
    putFloat(out, static_cast<float>(c_.upperSensorLimit));
    putFloat(out, static_cast<float>(c_.lowerSensorLimit));
    putFloat(out, static_cast<float>(c_.minSpan));
    return ok(std::move(out));
  }

  Reply deviceInformation() {
    std::vector<uint8_t> out{c_.alarmSelection, static_cast<uint8_t>(c_.function), c_.units};
    putFloat(out, static_cast<float>(c_.upperRange));
    putFloat(out, static_cast<float>(c_.lowerRange));
    putFloat(out, static_cast<float>(c_.damping));
    out.push_back(c_.writeProtected ? 1 : 0);
    out.push_back(static_cast<uint8_t>(c_.privateLabelId));
    if (c_.hartRevision >= 6) out.push_back(0);  // analog channel flags
    return ok(std::move(out));
  }

  Reply finalAssembly() {
    std::vector<uint8_t> out;
    hart::putU24(out, c_.finalAssemblyNumber);
    return ok(std::move(out));
  }

  Reply writeMessage(const std::vector<uint8_t>& d) {
    c_.message = trimmed(hart::unpackAscii(d.data(), 24));
    s_.markConfigChanged();
    return ok({d.begin(), d.begin() + 24});
  }

  Reply writeTagDescriptorDate(const std::vector<uint8_t>& d) {
    c_.tag = trimmed(hart::unpackAscii(d.data(), 6));
    c_.descriptor = trimmed(hart::unpackAscii(d.data() + 6, 12));
    c_.dateDay = d[18];
    c_.dateMonth = d[19];
    c_.dateYear = d[20];
    s_.markConfigChanged();
    return ok({d.begin(), d.begin() + 21});
  }

  static std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  Reply writeDamping(const std::vector<uint8_t>& d) {
    const float value = hart::getFloat(d.data());
    if (const uint8_t code = rangeCode(value, 0, kMaxDamping)) return fail(code);
    c_.damping = value;
    s_.markConfigChanged();
    std::vector<uint8_t> out;
    putFloat(out, value);
    return ok(std::move(out));
  }

  // Range values arrive in their own units and are kept in the primary variable's units.
  Reply writeRange(const std::vector<uint8_t>& d) {
    const double given = hart::pressureUnitToKPa(d[0]);
    if (given == 0) return fail(kInvalidUnits);
    const double toPv = given / unitsFactor();
    const double upper = hart::getFloat(d.data() + 1) * toPv;
    const double lower = hart::getFloat(d.data() + 5) * toPv;
    const double tolerance = 1e-6 * std::max(std::fabs(c_.upperSensorLimit), std::fabs(c_.lowerSensorLimit));
    const double lsl = c_.lowerSensorLimit - tolerance, usl = c_.upperSensorLimit + tolerance;
    const bool lowerBad = !(lower >= lsl && lower <= usl);
    const bool upperBad = !(upper >= lsl && upper <= usl);
    if (lowerBad && upperBad) return fail(kBothOutOfLimits);
    if (lowerBad) return fail(lower > usl ? kProcessTooHigh : kProcessTooLow);
    if (upperBad) return fail(upper > usl ? kExcessCorrection : kUpperTooLow);
    if (std::fabs(upper - lower) < c_.minSpan * (1 - 1e-6)) return fail(kSpanTooSmall);
    c_.upperRange = upper;
    c_.lowerRange = lower;
    s_.markConfigChanged();
    return ok({d.begin(), d.begin() + 9});
  }

  Reply resetConfigChanged() {
    s_.configChanged = false;
    std::vector<uint8_t> out;
    hart::putU16(out, s_.configChangeCounter);
    return ok(std::move(out));
  }

  // Command 40: a value of 0 leaves fixed-current mode; any other value fixes the output there.
  Reply fixedCurrent(const std::vector<uint8_t>& d) {
    const float value = hart::getFloat(d.data());
    std::vector<uint8_t> out;
    if (value == 0) {
      s_.fixedMode = false;
      putFloat(out, 0.0f);
      return ok(std::move(out));
    }
    if (const uint8_t code = rangeCode(value, 0, kMaxLoopCurrent)) return fail(code);
    if (c_.output == OutputType::Voltage) return fail(kDeviceError);
    if (!s_.loopCurrentEnabled()) return fail(kExcessCorrection);  // multidrop: output parked
    double low, high;
    s_.physicalLimits(low, high);
    s_.fixedMode = true;
    s_.fixedMa = std::clamp<double>(value, low, high);
    putFloat(out, static_cast<float>(s_.fixedMa));
    return ok(std::move(out));
  }

  Reply setZero() {
    const double reading = s_.sensorReadingKPa(s_.appliedKPa);
    const double limit = kTrimLimit * sensorSpanKPa();
    if (reading > limit) return fail(kProcessTooHigh);
    if (reading < -limit) return fail(kProcessTooLow);
    if (!std::isfinite(reading)) return fail(kDeviceError);
    c_.sensorTrimOffsetKPa -= reading;
    s_.dampedKPa = s_.appliedKPa;  // the zero is taken on a settled reading
    s_.markConfigChanged();
    return ok();
  }

  // Units change: range, sensor limits and trim points follow so that they stay the same pressures.
  Reply writeUnits(const std::vector<uint8_t>& d) {
    const double to = hart::pressureUnitToKPa(d[0]);
    if (to == 0) return fail(kInvalidSelection);
    const double k = unitsFactor() / to;
    for (double* v : {&c_.lowerRange, &c_.upperRange, &c_.lowerSensorLimit, &c_.upperSensorLimit, &c_.minSpan,
                      &c_.lowerTrimPoint, &c_.upperTrimPoint}) {
      *v *= k;
    }
    c_.units = d[0];
    s_.markConfigChanged();
    return ok({d[0]});
  }

  double lowEnd() const {
    double a, b;
    s_.outputEnds(a, b);
    return std::min(a, b);
  }
  double highEnd() const {
    double a, b;
    s_.outputEnds(a, b);
    return std::max(a, b);
  }

  // Loop current trims: the host reports the current it measured while the output was fixed at the
  // low end (45) or the high end (46). The zero trim corrects the offset at once; the gain trim then
  // solves the output stage from both points. Both measurements are taken as made under the
  // calibration in force before the zero trim, as a host measures the whole output first and trims
  // afterwards.
  Reply checkLoopTrim(const std::vector<uint8_t>& d, double end, float& measured) {
    if (c_.refuseCommand45) return fail(kNotImplemented);
    measured = hart::getFloat(d.data());
    if (const uint8_t code = rangeCode(measured, 0, kMaxLoopCurrent)) return fail(code);
    if (!s_.fixedMode || std::fabs(s_.fixedMa - end) > kLoopTrimWindow) return fail(kProcessTooHigh);
    if (std::fabs(measured - s_.fixedMa) > 0.1 * (highEnd() - lowEnd())) return fail(kProcessTooHigh);
    return ok();
  }

  Reply trimLoopZero(const std::vector<uint8_t>& d) {
    float measured = 0;
    if (Reply r = checkLoopTrim(d, lowEnd(), measured); r.code != kOk) return r;
    s_.zeroTrimDone = true;
    s_.zeroTrimK = c_.outputK;
    s_.zeroTrimB = c_.outputB;
    s_.zeroTrimSet = s_.fixedMa;
    s_.zeroTrimMeasured = measured;
    // The hardware gain is unknown until the second point: correct the offset alone for now.
    c_.outputB -= measured - s_.fixedMa;
    s_.markConfigChanged();
    std::vector<uint8_t> out;
    putFloat(out, measured);
    return ok(std::move(out));
  }

  Reply trimLoopGain(const std::vector<uint8_t>& d) {
    float measured = 0;
    if (Reply r = checkLoopTrim(d, highEnd(), measured); r.code != kOk) return r;
    // Without a zero trim before, the low end is taken as right under the present calibration.
    double k0 = c_.outputK, b0 = c_.outputB, set0 = lowEnd(), measured0 = lowEnd();
    if (s_.zeroTrimDone)
      k0 = s_.zeroTrimK, b0 = s_.zeroTrimB, set0 = s_.zeroTrimSet, measured0 = s_.zeroTrimMeasured;
    // measured = gain * (k0 * set + b0) + offset at both points.
    const double gain = (measured - measured0) / (k0 * (s_.fixedMa - set0));
    if (!std::isfinite(gain) || std::fabs(gain) < 1e-3) return fail(kProcessTooHigh);
    const double offset = measured0 - gain * (k0 * set0 + b0);
    c_.outputK = 1.0 / gain;
    c_.outputB = -offset / gain;
    s_.zeroTrimDone = false;
    s_.markConfigChanged();
    std::vector<uint8_t> out;
    putFloat(out, measured);
    return ok(std::move(out));
  }

  Reply writeTransferFunction(const std::vector<uint8_t>& d) {
    if (d[0] > 1) return fail(kInvalidSelection);
    c_.function = static_cast<TransferFunction>(d[0]);
    s_.markConfigChanged();
    return ok({d[0]});
  }

  // Only the primary variable (code 0) has trim points; 1..3 exist but cannot be trimmed.
  static uint8_t trimVariableCode(uint8_t variable) {
    if (variable == 0) return kOk;
    return variable <= 3 ? kTrimNotSupported : kVariableMissing;
  }

  Reply trimPoints(const std::vector<uint8_t>& d) {
    if (const uint8_t code = trimVariableCode(d[0])) return fail(code);
    std::vector<uint8_t> out{0, c_.units};
    putFloat(out, static_cast<float>(c_.lowerTrimPoint));
    putFloat(out, static_cast<float>(c_.upperTrimPoint));
    return ok(std::move(out));
  }

  Reply trimGuidelines(const std::vector<uint8_t>& d) {
    if (const uint8_t code = trimVariableCode(d[0])) return fail(code);
    std::vector<uint8_t> out{0, 3, c_.units};  // lower and upper trim points supported
    for (double v :
         {c_.lowerSensorLimit, c_.upperSensorLimit, c_.lowerSensorLimit, c_.upperSensorLimit, c_.minSpan}) {
      putFloat(out, static_cast<float>(v));
    }
    return ok(std::move(out));
  }

  double sensorSpanKPa() const {
    return std::fabs(c_.upperSensorLimit - c_.lowerSensorLimit) * unitsFactor();
  }

  // Sensor trim: the host tells the pressure it applies; the lower point shifts the reading, the upper
  // point turns it about the lower point.
  Reply sensorTrim(const std::vector<uint8_t>& d) {
    if (const uint8_t code = trimVariableCode(d[0])) return fail(code);
    const uint8_t point = d[1];
    if (point != 1 && point != 2) return fail(kInvalidSelection);
    const double given = hart::pressureUnitToKPa(d[2]);
    if (given == 0) return fail(kInvalidUnits);
    const float value = hart::getFloat(d.data() + 3);
    const double target = value * given;
    const double span = sensorSpanKPa();
    const double lsl = c_.lowerSensorLimit * unitsFactor(), usl = c_.upperSensorLimit * unitsFactor();
    if (const uint8_t code = rangeCode(target, lsl - kTrimLimit * span, usl + kTrimLimit * span))
      return fail(code);
    const double reading = s_.sensorReadingKPa(s_.appliedKPa);
    if (std::fabs(target - reading) > kTrimLimit * span) return fail(kExcessCorrection);
    if (point == 1) {
      c_.sensorTrimOffsetKPa += target - reading;
      c_.lowerTrimPoint = target / unitsFactor();
    } else {
      const double anchor = c_.lowerTrimPoint * unitsFactor();
      const double turn = (target - anchor) / (reading - anchor);
      if (!std::isfinite(turn) || std::fabs(target - anchor) < 1e-6 * span) return fail(kBothOutOfLimits);
      if (std::fabs(turn - 1) > kTrimLimit) return fail(kExcessCorrection);
      c_.sensorTrimGain *= turn;
      c_.sensorTrimOffsetKPa = turn * c_.sensorTrimOffsetKPa + anchor * (1 - turn);
      c_.upperTrimPoint = target / unitsFactor();
    }
    s_.dampedKPa = s_.appliedKPa;
    s_.markConfigChanged();
    return ok({d.begin(), d.begin() + 7});
  }

  Reply readOutputCoefficients() {
    std::vector<uint8_t> out;
    putFloat(out, static_cast<float>(c_.outputK));
    putFloat(out, static_cast<float>(c_.outputB));
    return ok(std::move(out));
  }

  Reply writeOutputCoefficients(const std::vector<uint8_t>& d) {
    const float k = hart::getFloat(d.data()), b = hart::getFloat(d.data() + 4);
    if (!std::isfinite(k) || !std::isfinite(b) || k == 0) return fail(kDeviceError);
    c_.outputK = k;
    c_.outputB = b;
    s_.zeroTrimDone = false;
    s_.markConfigChanged();
    return ok({d.begin(), d.begin() + 8});
  }

  // Output type, parameter byte and the output's ends (signal at 0 % and at 100 % of range).
  Reply outputParameters() {
    double atZero, atFull;
    s_.outputEnds(atZero, atFull);
    std::vector<uint8_t> out{static_cast<uint8_t>(c_.output), c_.outputParam};
    putFloat(out, static_cast<float>(atZero));
    putFloat(out, static_cast<float>(atFull));
    return ok(std::move(out));
  }

  // Restore: 00 00 brings back the factory output calibration, 00 01 the factory configuration of
  // the measurement (range, units, damping, transfer function, sensor calibration, alarm).
  Reply restore(const std::vector<uint8_t>& d) {
    if (d[0] != 0 || d[1] > 1) return fail(kProcessTooHigh);  // invalid action
    const TransmitterConfig& f = s_.factory;
    if (d[1] == 0) {
      c_.outputK = f.outputK;
      c_.outputB = f.outputB;
      s_.zeroTrimDone = false;
    } else {
      c_.units = f.units;
      c_.lowerRange = f.lowerRange;
      c_.upperRange = f.upperRange;
      c_.lowerSensorLimit = f.lowerSensorLimit;
      c_.upperSensorLimit = f.upperSensorLimit;
      c_.minSpan = f.minSpan;
      c_.damping = f.damping;
      c_.function = f.function;
      c_.alarmSelection = f.alarmSelection;
      c_.sensorTrimGain = f.sensorTrimGain;
      c_.sensorTrimOffsetKPa = f.sensorTrimOffsetKPa;
      c_.lowerTrimPoint = f.lowerTrimPoint;
      c_.upperTrimPoint = f.upperTrimPoint;
    }
    s_.markConfigChanged();
    return ok({d[0], d[1]});
  }

  Transmitter::State& s_;
  TransmitterConfig& c_;
};

}  // namespace

Reply Transmitter::State::execute(const hart::Request& request) {
  if (!config.faults.trimIgnored) return Commands(*this).run(request);
  // A device whose trims do not take: it answers every trim as done and keeps its calibration.
  const TransmitterConfig before = config;
  const bool zeroTrimDone = this->zeroTrimDone;
  Reply reply = Commands(*this).run(request);
  switch (request.command) {
    case 43:
    case 45:
    case 46:
    case 82:
    case 123:
      config.sensorTrimGain = before.sensorTrimGain;
      config.sensorTrimOffsetKPa = before.sensorTrimOffsetKPa;
      config.outputK = before.outputK;
      config.outputB = before.outputB;
      this->zeroTrimDone = zeroTrimDone;
      break;
    default:
      break;
  }
  return reply;
}

}  // namespace quarnsim
