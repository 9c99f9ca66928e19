#include "quarnsim/scenario.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <type_traits>
#include <utility>

namespace quarnsim {

Scenario::Scenario() {
  for (int ch = 0; ch < 4; ++ch) {
    TransmitterConfig& c = channels[ch];
    c.deviceId = 0x001000u + static_cast<uint32_t>(ch + 1);
    c.sensorSerial = 0x020000u + static_cast<uint32_t>(ch + 1);
    c.tag = "PT-" + std::to_string(ch + 1);
  }
}

namespace {

std::string trim(std::string_view text) {
  size_t a = 0, b = text.size();
  while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
  return std::string(text.substr(a, b - a));
}

std::vector<std::string> split(std::string_view text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == sep) {
      out.push_back(trim(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  return out;
}

bool toDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool toLong(const std::string& text, long& out, int base = 10) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

bool toBool(const std::string& text, bool& out) {
  if (text == "1" || text == "yes" || text == "true" || text == "on") {
    out = true;
    return true;
  }
  if (text == "0" || text == "no" || text == "false" || text == "off") {
    out = false;
    return true;
  }
  return false;
}

// The largest number a delay or a fault option may give: a turnaround of 10^9 ms (11 days) is far
// beyond any test, and every such number still fits the integers and microsecond times it becomes.
constexpr double kLargestSetting = 1e9;

bool withinSettingLimit(double v) { return std::fabs(v) <= kLargestSetting; }  // false for NaN

// "20-80" or "50" (milliseconds).
bool toRange(const std::string& text, DelayRange& out) {
  const size_t dash = text.find('-', 1);
  double lo, hi;
  if (dash == std::string::npos) {
    if (!toDouble(text, lo) || lo < 0 || !withinSettingLimit(lo)) return false;
    out = {lo, lo};
    return true;
  }
  if (!toDouble(trim(text.substr(0, dash)), lo) || !toDouble(trim(text.substr(dash + 1)), hi) || lo < 0 ||
      hi < lo || !withinSettingLimit(hi))
    return false;
  out = {lo, hi};
  return true;
}

bool toPair(const std::string& text, double& a, double& b) {
  const auto parts = split(text, ',');
  return parts.size() == 2 && toDouble(parts[0], a) && toDouble(parts[1], b);
}

std::string bad(std::string_view key, std::string_view value) {
  return "bad value for " + std::string(key) + ": '" + std::string(value) + "'";
}

// ---- Setters ------------------------------------------------------------------------------------
//
// A setter applies one value to the field a key names and returns "" or the error text. The builders
// below take the field as a member pointer or as a function returning a reference to it, so one
// builder serves every field of its kind.

template <typename Record>
using Setter = std::function<std::string(Record&, const std::string& key, const std::string& value)>;

template <typename Record, typename Field>
auto& fieldOf(Record& r, Field field) {
  return std::invoke(field, r);
}

// A finite number.
template <typename Record, typename Field>
Setter<Record> real(Field field) {
  return [field](Record& r, const std::string& key, const std::string& v) -> std::string {
    double d;
    if (!toDouble(v, d)) return bad(key, v);
    auto& target = fieldOf(r, field);
    target = static_cast<std::remove_reference_t<decltype(target)>>(d);
    return "";
  };
}

// An integer in [lo, hi]; `base` 0 also takes 0x... .
template <typename Record, typename Field>
Setter<Record> integer(Field field, long lo, long hi, int base = 10) {
  return [field, lo, hi, base](Record& r, const std::string& key, const std::string& v) -> std::string {
    long n;
    if (!toLong(v, n, base) || n < lo || n > hi) return bad(key, v);
    auto& target = fieldOf(r, field);
    target = static_cast<std::remove_reference_t<decltype(target)>>(n);
    return "";
  };
}

// 1/yes/true/on or 0/no/false/off.
template <typename Record, typename Field>
Setter<Record> flag(Field field) {
  return [field](Record& r, const std::string& key, const std::string& v) -> std::string {
    bool b;
    if (!toBool(v, b)) return bad(key, v);
    fieldOf(r, field) = b;
    return "";
  };
}

// Any text.
template <typename Record, typename Field>
Setter<Record> text(Field field) {
  return [field](Record& r, const std::string&, const std::string& v) -> std::string {
    fieldOf(r, field) = v;
    return "";
  };
}

// "20-80" or "50" milliseconds.
template <typename Record, typename Field>
Setter<Record> delay(Field field) {
  return [field](Record& r, const std::string& key, const std::string& v) -> std::string {
    return toRange(v, fieldOf(r, field)) ? "" : bad(key, v);
  };
}

// One of a few words.
template <typename Record, typename Field, typename Value>
Setter<Record> choice(Field field, std::initializer_list<std::pair<const char*, Value>> words) {
  std::vector<std::pair<std::string, Value>> table(words.begin(), words.end());
  return [field, table](Record& r, const std::string& key, const std::string& v) -> std::string {
    for (const auto& [word, value] : table) {
      if (v == word) {
        fieldOf(r, field) = value;
        return "";
      }
    }
    return bad(key, v);
  };
}

template <typename Record>
using SetterTable = std::map<std::string, Setter<Record>, std::less<>>;

// channel.N.what: the transmitter of one channel.
const SetterTable<TransmitterConfig>& channelSetters() {
  using C = TransmitterConfig;
  static const SetterTable<C> table = {
      {"present", flag<C>(&C::present)},
      {"hart", flag<C>(&C::hart)},
      {"address", integer<C>(&C::pollingAddress, 0, 63)},
      {"device_id", integer<C>(&C::deviceId, 0, 0xFFFFFF, 0)},
      {"expanded_type", integer<C>(&C::expandedDeviceType, 0, 0xFFFF, 0)},
      {"revision",
       [](C& c, const std::string& key, const std::string& v) -> std::string {
         long n;
         if (!toLong(v, n) || (n != 5 && n != 7)) return bad(key, v);
         c.hartRevision = static_cast<uint8_t>(n);
         return "";
       }},
      {"tag", text<C>(&C::tag)},
      {"descriptor", text<C>(&C::descriptor)},
      {"message", text<C>(&C::message)},
      {"units", integer<C>(&C::units, 0, 255)},
      {"range",
       [](C& c, const std::string& key, const std::string& v) -> std::string {
         double lo, hi;
         if (!toPair(v, lo, hi) || lo == hi) return bad(key, v);
         c.lowerRange = lo;
         c.upperRange = hi;
         return "";
       }},
      {"damping",
       [](C& c, const std::string& key, const std::string& v) -> std::string {
         double d;
         if (!toDouble(v, d) || d < 0) return bad(key, v);
         c.damping = d;
         return "";
       }},
      {"function", choice<C>(&C::function, {std::pair{"linear", TransferFunction::Linear},
                                            std::pair{"sqrt", TransferFunction::SquareRoot},
                                            std::pair{"square_root", TransferFunction::SquareRoot}})},
      {"output",
       choice<C>(&C::output, {std::pair{"4-20", OutputType::mA4_20}, std::pair{"20-4", OutputType::mA20_4},
                              std::pair{"0-5", OutputType::mA0_5}, std::pair{"5-0", OutputType::mA5_0}})},
      {"error_percent", real<C>(&C::errorPercent)},
      {"drift_percent_per_hour", real<C>(&C::driftPercentPerHour)},
      {"sensor_error",  // "ZERO_KPA, GAIN": the sensor's reading is GAIN x pressure + ZERO_KPA
       [](C& c, const std::string& key, const std::string& v) -> std::string {
         double zero, gain;
         if (!toPair(v, zero, gain) || !(gain > 0.5 && gain < 1.5)) return bad(key, v);
         c.sensorTrimOffsetKPa = zero;
         c.sensorTrimGain = gain;
         return "";
       }},
      {"output_error",  // "OFFSET_MA, GAIN": the output stage drives GAIN x command + OFFSET_MA
       [](C& c, const std::string& key, const std::string& v) -> std::string {
         double offset, gain;
         if (!toPair(v, offset, gain) || !(gain > 0.5 && gain < 1.5) || std::fabs(offset) > 4)
           return bad(key, v);
         c.analogOffset = offset;
         c.analogGain = gain;
         return "";
       }},
      {"trim_ignored", flag<C>([](C& c) -> bool& { return c.faults.trimIgnored; })},
      {"refuse_45", flag<C>(&C::refuseCommand45)},
      {"write_protected", flag<C>(&C::writeProtected)},
      {"silent", flag<C>([](C& c) -> bool& { return c.faults.silent; })},
      {"hart_bad_checksum", flag<C>([](C& c) -> bool& { return c.faults.badChecksum; })},
      {"hart_truncated", flag<C>([](C& c) -> bool& { return c.faults.truncated; })},
      {"hart_damaged_first", integer<C>([](C& c) -> int& { return c.faults.damagedFirst; }, 0, INT_MAX)},
      {"hart_error",  // "command:code" or "command:code:count"
       [](C& c, const std::string& key, const std::string& v) -> std::string {
         const auto parts = split(v, ':');
         long cmd, code, count = -1;
         if ((parts.size() != 2 && parts.size() != 3) || !toLong(parts[0], cmd) || !toLong(parts[1], code) ||
             cmd < 0 || cmd > 255 || code < 0 || code > 255 ||
             (parts.size() == 3 && (!toLong(parts[2], count) || count < -1)))
           return bad(key, v);
         c.faults.errorCommand = static_cast<int>(cmd);
         c.faults.errorCode = static_cast<uint8_t>(code);
         c.faults.errorCount = static_cast<int>(count);
         return "";
       }},
      {"request_preambles", integer<C>(&C::requestPreambles, 2, 20)},
      {"hart_stop_after", integer<C>([](C& c) -> int& { return c.faults.stopAfterRequests; }, -1, INT_MAX)},
  };
  return table;
}

}  // namespace

std::string parseFault(std::string_view text, Fault& fault) {
  std::istringstream in{std::string(text)};
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 2) return "a fault needs a target and a kind: '" + std::string(text) + "'";
  Fault f;
  const std::string& target = words[0];
  if (target == "calibrator" || target == "main") {
    f.target = FaultTarget::Calibrator;
  } else if (target == "kesto") {
    f.target = FaultTarget::Kesto;
  } else if (target == "dorv") {
    f.target = FaultTarget::Dorv;
  } else if (target == "any" || target == "all") {
    f.target = FaultTarget::Any;
  } else {
    return "unknown fault target: '" + target + "'";
  }
  size_t next = 2;
  const std::string& kind = words[1];
  auto number = [&](double& out) {
    if (next < words.size() && words[next].find('=') == std::string::npos && toDouble(words[next], out) &&
        withinSettingLimit(out)) {
      ++next;
      return true;
    }
    return false;
  };
  double arg;
  if (kind == "silent") {
    f.kind = FaultKind::Silent;
  } else if (kind == "stop") {  // answers normally, then stops: "stop after=N"
    f.kind = FaultKind::Silent;
  } else if (kind == "late") {
    f.kind = FaultKind::Late;
    if (number(arg)) f.delayMs = arg;
  } else if (kind == "garbage") {
    f.kind = FaultKind::Garbage;
  } else if (kind == "badcrc" || kind == "bad_checksum") {
    f.kind = FaultKind::BadChecksum;
  } else if (kind == "error") {
    f.kind = FaultKind::ErrorCode;
    if (number(arg)) f.code = static_cast<int>(arg);
  } else if (kind == "disconnect") {
    f.kind = FaultKind::Disconnect;
  } else {
    return "unknown fault kind: '" + kind + "'";
  }
  for (; next < words.size(); ++next) {
    const size_t eq = words[next].find('=');
    if (eq == std::string::npos) return "bad fault option: '" + words[next] + "'";
    const std::string key = words[next].substr(0, eq);
    const std::string value = words[next].substr(eq + 1);
    double v;
    if (!toDouble(value, v) || !withinSettingLimit(v)) return "bad fault option: '" + words[next] + "'";
    if (key == "cmd") {
      f.command = static_cast<int>(v);
    } else if (key == "after") {
      f.afterRequests = static_cast<long>(v);
    } else if (key == "nth") {
      if (v < 1 || v != static_cast<double>(static_cast<long>(v)))
        return "bad fault option: '" + words[next] + "'";
      f.nth = static_cast<long>(v);
    } else if (key == "count") {
      f.count = static_cast<long>(v);
    } else if (key == "prob") {
      if (v < 0 || v > 1) return "bad fault option: '" + words[next] + "'";
      f.probability = v;
    } else if (key == "at_ms") {
      f.atMs = v;
    } else if (key == "for_ms") {
      f.durationMs = v;
    } else if (key == "delay_ms") {
      f.delayMs = v;
    } else if (key == "code") {
      f.code = static_cast<int>(v);
    } else {
      return "unknown fault option: '" + key + "'";
    }
  }
  fault = f;
  return "";
}

namespace {

// Every key of the scenario text but the numbered ones.
const SetterTable<Scenario>& scenarioSetters() {
  using S = Scenario;
  static const SetterTable<S> table = {
      {"model", choice<S>(&S::model, {std::pair{"quarn", Model::Quarn}, std::pair{"brenk", Model::Brenk}})},
      {"seed", integer<S>(&S::seed, 0, LONG_MAX)},
      {"device_type", integer<S>(&S::deviceType, -1, 100000)},
      {"turnaround_ms", delay<S>(&S::turnaround)},
      {"kesto.turnaround_ms", delay<S>(&S::kestoTurnaround)},
      {"dorv.turnaround_ms", delay<S>(&S::dorvTurnaround)},
      {"hart.turnaround_ms", delay<S>(&S::hartTurnaround)},
      {"require_remote", flag<S>(&S::requireRemote)},

      {"serial", text<S>(&S::serial)},
      {"made_date", text<S>(&S::madeDate)},
      {"limit_min_kpa", real<S>(&S::pLimitMinKPa)},
      {"limit_max_kpa", real<S>(&S::pLimitMaxKPa)},
      {"version",  // "major.minor"
       [](S& s, const std::string& key, const std::string& v) -> std::string {
         const auto parts = split(v, '.');
         long major, minor;
         if (parts.size() != 2 || !toLong(parts[0], major) || !toLong(parts[1], minor)) return bad(key, v);
         s.versionMajor = static_cast<int>(major);
         s.versionMinor = static_cast<int>(minor);
         return "";
       }},
      {"model_name", text<S>(&S::modelName)},
      {"model_no", integer<S>(&S::modelNo, 0, 1000000)},
      {"module1_class", integer<S>(&S::module1Class, 0, 3)},
      {"module2_class", integer<S>(&S::module2Class, 0, 3)},

      {"ref_source", integer<S>(&S::refSource, 0, 4)},
      {"sub_range", integer<S>(&S::subRange, 0, 9)},
      {"press_type", integer<S>(&S::pressType, 0, 2)},
      {"units", integer<S>(&S::units, 0, 7)},
      {"decimals", integer<S>(&S::decimals, 0, 5)},
      {"averaging", integer<S>(&S::averaging, 1, 29)},
      {"ready_band1", real<S>(&S::readyBand1)},
      {"ready_band2", real<S>(&S::readyBand2)},
      {"reg_mode", integer<S>(&S::regMode, 0, 2)},
      {"auto_range", integer<S>(&S::autoRange, 0, 1)},
      {"setpoint_kpa", real<S>(&S::setpointKPa)},

      {"initial_kpa", real<S>(&S::initialKPa)},
      {"baro_kpa", real<S>(&S::baroKPa)},
      {"noise_kpa", real<S>(&S::noiseKPa)},
      {"baro_noise_kpa", real<S>(&S::baroNoiseKPa)},
      {"source_kpa", real<S>(&S::sourceKPa)},
      {"input_tau_s", real<S>(&S::inputTauS)},
      {"vent_tau_s", real<S>(&S::ventTauS)},
      {"reg_rate_kpa_s", real<S>(&S::regRateKPaS)},
      {"reg_tau_s", real<S>(&S::regTauS)},
      {"leak_kpa_per_min", real<S>(&S::leakKPaPerMin)},
      {"zero_offset_kpa", real<S>(&S::zeroOffsetKPa)},
      {"module2_limit_kpa", real<S>(&S::module2LimitKPa)},

      {"operator.points",
       [](S& s, const std::string& key, const std::string& v) -> std::string {
         s.operatorScript.pointsKPa.clear();
         if (v.empty()) return "";
         for (const auto& part : split(v, ',')) {
           double d;
           if (!toDouble(part, d)) return bad(key, v);
           s.operatorScript.pointsKPa.push_back(d);
         }
         return "";
       }},
      {"operator.dwell_s", real<S>([](S& s) -> double& { return s.operatorScript.dwellS; })},
      {"operator.tolerance_kpa", real<S>([](S& s) -> double& { return s.operatorScript.toleranceKPa; })},
      {"operator.opens_input", flag<S>([](S& s) -> bool& { return s.operatorScript.opensInput; })},
      {"operator.repeat", flag<S>([](S& s) -> bool& { return s.operatorScript.repeat; })},

      {"kesto.fitted", flag<S>(&S::kestoFitted)},
      {"kesto.device_type", integer<S>(&S::kestoDeviceType, 0, 100000)},
      {"kesto.noise_ma", real<S>(&S::kestoNoiseMA)},
      {"kesto.input_type", integer<S>(&S::kestoInputType, 0, 255)},

      {"dorv.fitted", flag<S>(&S::dorvFitted)},
      {"dorv.on_quarn", flag<S>(&S::dorvOnQuarn)},
      {"dorv.type", integer<S>(&S::dorvType, 0, 100000)},
      {"dorv.address", integer<S>(&S::dorvAddress, 0, 255)},
      {"dorv.unit", integer<S>(&S::dorvUnit, 0, 7)},
      {"dorv.press_type", integer<S>(&S::dorvPressType, 0, 3)},
      {"dorv.range",
       [](S& s, const std::string& key, const std::string& v) -> std::string {
         return toPair(v, s.dorvLowKPa, s.dorvHighKPa) ? "" : bad(key, v);
       }},
      {"dorv.serial", integer<S>(&S::dorvSerial, 0, 0xFFFFFFFFL, 0)},
      {"dorv.noise_kpa", real<S>(&S::dorvNoiseKPa)},
      {"dorv.baud", integer<S>(&S::dorvBaud, 0, 0xFFFFFFFFL)},

      {"fault",
       [](S& s, const std::string&, const std::string& v) -> std::
                                                              string {
                                                                Fault f;
                                                                const std::string error = parseFault(v, f);
                                                                if (!error.empty()) return error;
                                                                s.faults.push_back(f);
                                                                return "";
                                                              }},
      {"channels",  // the first N channels have a transmitter, the others nothing
       [](S& s, const std::string& key, const std::string& v) -> std::string {
         long n;
         if (!toLong(v, n) || n < 0 || n > 4) return bad(key, v);
         for (int ch = 0; ch < 4; ++ch) s.channels[ch].present = ch < n;
         return "";
       }},
      {"hart_addresses",  // polling address per channel, in order
       [](S& s, const std::string& key, const std::string& v) -> std::string {
         const auto parts = split(v, ',');
         if (parts.empty() || parts.size() > 4) return bad(key, v);
         for (size_t ch = 0; ch < parts.size(); ++ch) {
           long n;
           if (!toLong(parts[ch], n) || n < 0 || n > 63) return bad(key, v);
           s.channels[ch].pollingAddress = static_cast<uint8_t>(n);
         }
         return "";
       }},
  };
  return table;
}

// "setpoint,hysteresis[,opens|closes]" or "off".
std::string setSwitch(PressureSwitch& out, const std::string& key, const std::string& v) {
  PressureSwitch sw;
  if (v != "off") {
    const auto parts = split(v, ',');
    if (parts.size() < 2 || parts.size() > 3 || !toDouble(parts[0], sw.setpointKPa) ||
        !toDouble(parts[1], sw.hysteresisKPa))
      return bad(key, v);
    if (parts.size() == 3) {
      if (parts[2] == "opens") {
        sw.closesOnRise = false;
      } else if (parts[2] != "closes") {
        return bad(key, v);
      }
    }
    sw.fitted = true;
  }
  out = sw;
  return "";
}

// A numbered key "prefix" N ["." rest], N from 1 to count: the index from 0 and the rest.
bool numberedKey(const std::string& key, std::string_view prefix, int count, int& index, std::string& rest) {
  if (key.rfind(prefix, 0) != 0) return false;
  const std::string tail = key.substr(prefix.size());
  const size_t dot = tail.find('.');
  long i;
  if (!toLong(tail.substr(0, dot), i) || i < 1 || i > count) return false;
  index = static_cast<int>(i - 1);
  rest = dot == std::string::npos ? "" : tail.substr(dot + 1);
  return true;
}

// kesto.status.N, switch.N, channel.N.turnaround_ms and channel.N.what.
std::string applyNumbered(Scenario& s, const std::string& key, const std::string& v) {
  int index;
  std::string rest;
  if (numberedKey(key, "kesto.status.", 4, index, rest) && rest.empty()) {
    if (v == "auto") return s.channelStatus[index] = -1, "";
    return integer<Scenario>([index](Scenario& sc) -> int& { return sc.channelStatus[index]; }, 0, 3)(s, key,
                                                                                                      v);
  }
  if (numberedKey(key, "switch.", 8, index, rest) && rest.empty())
    return setSwitch(s.switches[index], key, v);
  if (numberedKey(key, "channel.", 4, index, rest) && rest == "turnaround_ms") {
    DelayRange range;
    if (!toRange(v, range)) return bad(key, v);
    s.channelTurnaround[index] = range;
    return "";
  }
  if (numberedKey(key, "channel.", 4, index, rest) && !rest.empty()) {
    const auto& setters = channelSetters();
    const auto setter = setters.find(rest);
    if (setter == setters.end()) return "unknown key: " + key;
    return setter->second(s.channels[index], key, v);
  }
  return "unknown key: " + key;
}

}  // namespace

std::string applySetting(Scenario& s, std::string_view keyView, std::string_view valueView) {
  const std::string key = trim(keyView);
  const std::string v = trim(valueView);
  const auto& setters = scenarioSetters();
  const auto setter = setters.find(key);
  if (setter != setters.end()) return setter->second(s, key, v);
  return applyNumbered(s, key, v);
}

std::string applyScenarioText(Scenario& s, std::string_view text) {
  int lineNo = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    start = end + 1;
    ++lineNo;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) {
      if (end == text.size()) break;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return "line " + std::to_string(lineNo) + ": expected key = value";
    const std::string error = applySetting(s, line.substr(0, eq), line.substr(eq + 1));
    if (!error.empty()) return "line " + std::to_string(lineNo) + ": " + error;
    if (end == text.size()) break;
  }
  return "";
}

std::string applyBenchOptions(Scenario& s, std::vector<std::string>& args) {
  static const std::pair<const char*, const char*> kOptions[] = {
      {"--model", "model"}, {"--channels", "channels"}, {"--hart-addresses", "hart_addresses"},
      {"--fault", "fault"}, {"--seed", "seed"},         {"--turnaround-ms", "turnaround_ms"},
      {"--set", nullptr},   {"--scenario", nullptr},
  };
  auto known = [](const std::string& opt) -> const std::pair<const char*, const char*>* {
    for (const auto& o : kOptions)
      if (opt == o.first) return &o;
    return nullptr;
  };
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--scenario") {
      const std::string error = loadScenarioFile(s, args[i + 1]);
      if (!error.empty()) return error;
    }
  }
  std::vector<std::string> others;
  for (size_t i = 0; i < args.size(); ++i) {
    const auto* option = known(args[i]);
    if (!option) {
      others.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size()) return "missing value after " + args[i];
    const std::string& value = args[++i];
    std::string error;
    if (option->second) {
      error = applySetting(s, option->second, value);
    } else if (args[i - 1] == "--set") {
      const size_t eq = value.find('=');
      if (eq == std::string::npos) return "--set needs KEY=VALUE: " + value;
      error = applySetting(s, value.substr(0, eq), value.substr(eq + 1));
    }
    if (!error.empty()) return error;
  }
  args = std::move(others);
  return "";
}

std::string loadScenarioFile(Scenario& s, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read " + path;
  std::ostringstream text;
  text << in.rdbuf();
  const std::string error = applyScenarioText(s, text.str());
  return error.empty() ? "" : path + ": " + error;
}

}  // namespace quarnsim
