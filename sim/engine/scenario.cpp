#include "quarnsim/scenario.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

// "20-80" or "50" (milliseconds).
bool toRange(const std::string& text, DelayRange& out) {
  const size_t dash = text.find('-', 1);
  double lo, hi;
  if (dash == std::string::npos) {
    if (!toDouble(text, lo) || lo < 0) return false;
    out = {lo, lo};
    return true;
  }
  if (!toDouble(trim(text.substr(0, dash)), lo) || !toDouble(trim(text.substr(dash + 1)), hi) || lo < 0 ||
      hi < lo)
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

std::string applyChannel(TransmitterConfig& c, const std::string& what, const std::string& v,
                         std::string_view key) {
  long n;
  double d;
  bool b;
  if (what == "present") {
    if (!toBool(v, b)) return bad(key, v);
    c.present = b;
  } else if (what == "hart") {
    if (!toBool(v, b)) return bad(key, v);
    c.hart = b;
  } else if (what == "address") {
    if (!toLong(v, n) || n < 0 || n > 63) return bad(key, v);
    c.pollingAddress = static_cast<uint8_t>(n);
  } else if (what == "device_id") {
    if (!toLong(v, n, 0) || n < 0 || n > 0xFFFFFF) return bad(key, v);
    c.deviceId = static_cast<uint32_t>(n);
  } else if (what == "expanded_type") {
    if (!toLong(v, n, 0) || n < 0 || n > 0xFFFF) return bad(key, v);
    c.expandedDeviceType = static_cast<uint16_t>(n);
  } else if (what == "revision") {
    if (!toLong(v, n) || (n != 5 && n != 7)) return bad(key, v);
    c.hartRevision = static_cast<uint8_t>(n);
  } else if (what == "tag") {
    c.tag = v;
  } else if (what == "descriptor") {
    c.descriptor = v;
  } else if (what == "message") {
    c.message = v;
  } else if (what == "units") {
    if (!toLong(v, n) || n < 0 || n > 255) return bad(key, v);
    c.units = static_cast<uint8_t>(n);
  } else if (what == "range") {
    double lo, hi;
    if (!toPair(v, lo, hi) || lo == hi) return bad(key, v);
    c.lowerRange = lo;
    c.upperRange = hi;
  } else if (what == "damping") {
    if (!toDouble(v, d) || d < 0) return bad(key, v);
    c.damping = d;
  } else if (what == "function") {
    if (v == "linear") {
      c.function = TransferFunction::Linear;
    } else if (v == "sqrt" || v == "square_root") {
      c.function = TransferFunction::SquareRoot;
    } else {
      return bad(key, v);
    }
  } else if (what == "output") {
    if (v == "4-20") {
      c.output = OutputType::mA4_20;
    } else if (v == "20-4") {
      c.output = OutputType::mA20_4;
    } else if (v == "0-5") {
      c.output = OutputType::mA0_5;
    } else if (v == "5-0") {
      c.output = OutputType::mA5_0;
    } else {
      return bad(key, v);
    }
  } else if (what == "error_percent") {
    if (!toDouble(v, d)) return bad(key, v);
    c.errorPercent = d;
  } else if (what == "drift_percent_per_hour") {
    if (!toDouble(v, d)) return bad(key, v);
    c.driftPercentPerHour = d;
  } else if (what == "refuse_45") {
    if (!toBool(v, b)) return bad(key, v);
    c.refuseCommand45 = b;
  } else if (what == "write_protected") {
    if (!toBool(v, b)) return bad(key, v);
    c.writeProtected = b;
  } else if (what == "silent") {
    if (!toBool(v, b)) return bad(key, v);
    c.faults.silent = b;
  } else if (what == "hart_bad_checksum") {
    if (!toBool(v, b)) return bad(key, v);
    c.faults.badChecksum = b;
  } else if (what == "hart_truncated") {
    if (!toBool(v, b)) return bad(key, v);
    c.faults.truncated = b;
  } else if (what == "hart_error") {  // "command:code" or "command:code:count"
    const auto parts = split(v, ':');
    long cmd, code, count = -1;
    if ((parts.size() != 2 && parts.size() != 3) || !toLong(parts[0], cmd) || !toLong(parts[1], code) ||
        cmd < 0 || cmd > 255 || code < 0 || code > 255 ||
        (parts.size() == 3 && (!toLong(parts[2], count) || count < -1)))
      return bad(key, v);
    c.faults.errorCommand = static_cast<int>(cmd);
    c.faults.errorCode = static_cast<uint8_t>(code);
    c.faults.errorCount = static_cast<int>(count);
  } else if (what == "request_preambles") {
    if (!toLong(v, n) || n < 2 || n > 20) return bad(key, v);
    c.requestPreambles = static_cast<uint8_t>(n);
  } else if (what == "hart_stop_after") {
    if (!toLong(v, n) || n < -1) return bad(key, v);
    c.faults.stopAfterRequests = static_cast<int>(n);
  } else {
    return "unknown key: " + std::string(key);
  }
  return "";
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
    if (next < words.size() && words[next].find('=') == std::string::npos && toDouble(words[next], out)) {
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
    if (!toDouble(value, v)) return "bad fault option: '" + words[next] + "'";
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

std::string applySetting(Scenario& s, std::string_view keyView, std::string_view valueView) {
  const std::string key = trim(keyView);
  const std::string v = trim(valueView);
  double d;
  long n;
  bool b;

  auto setDouble = [&](double& field) -> std::string {
    if (!toDouble(v, d)) return bad(key, v);
    field = d;
    return "";
  };
  auto setFloat = [&](float& field) -> std::string {
    if (!toDouble(v, d)) return bad(key, v);
    field = static_cast<float>(d);
    return "";
  };
  auto setInt = [&](int& field, long lo, long hi) -> std::string {
    if (!toLong(v, n) || n < lo || n > hi) return bad(key, v);
    field = static_cast<int>(n);
    return "";
  };
  auto setBool = [&](bool& field) -> std::string {
    if (!toBool(v, b)) return bad(key, v);
    field = b;
    return "";
  };
  auto setRange = [&](DelayRange& field) -> std::string { return toRange(v, field) ? "" : bad(key, v); };

  if (key == "model") {
    if (v == "quarn") {
      s.model = Model::Quarn;
    } else if (v == "brenk") {
      s.model = Model::Brenk;
    } else {
      return bad(key, v);
    }
    return "";
  }
  if (key == "seed") {
    if (!toLong(v, n) || n < 0) return bad(key, v);
    s.seed = static_cast<uint64_t>(n);
    return "";
  }
  if (key == "device_type") return setInt(s.deviceType, -1, 100000);
  if (key == "turnaround_ms") return setRange(s.turnaround);
  if (key == "kesto.turnaround_ms") return setRange(s.kestoTurnaround);
  if (key == "dorv.turnaround_ms") return setRange(s.dorvTurnaround);
  if (key == "hart.turnaround_ms") return setRange(s.hartTurnaround);
  if (key == "require_remote") return setBool(s.requireRemote);

  if (key == "serial") return s.serial = v, "";
  if (key == "made_date") return s.madeDate = v, "";
  if (key == "limit_min_kpa") return setDouble(s.pLimitMinKPa);
  if (key == "limit_max_kpa") return setDouble(s.pLimitMaxKPa);
  if (key == "version") {  // "major.minor"
    const auto parts = split(v, '.');
    long major, minor;
    if (parts.size() != 2 || !toLong(parts[0], major) || !toLong(parts[1], minor)) return bad(key, v);
    s.versionMajor = static_cast<int>(major);
    s.versionMinor = static_cast<int>(minor);
    return "";
  }
  if (key == "model_name") return s.modelName = v, "";
  if (key == "model_no") return setInt(s.modelNo, 0, 1000000);
  if (key == "module1_class") return setInt(s.module1Class, 0, 3);
  if (key == "module2_class") return setInt(s.module2Class, 0, 3);

  if (key == "ref_source") return setInt(s.refSource, 0, 4);
  if (key == "sub_range") return setInt(s.subRange, 0, 9);
  if (key == "press_type") return setInt(s.pressType, 0, 2);
  if (key == "units") return setInt(s.units, 0, 7);
  if (key == "decimals") return setInt(s.decimals, 0, 5);
  if (key == "averaging") return setInt(s.averaging, 1, 29);
  if (key == "ready_band1") return setFloat(s.readyBand1);
  if (key == "ready_band2") return setFloat(s.readyBand2);
  if (key == "reg_mode") return setInt(s.regMode, 0, 2);
  if (key == "auto_range") return setInt(s.autoRange, 0, 1);
  if (key == "setpoint_kpa") return setFloat(s.setpointKPa);

  if (key == "initial_kpa") return setDouble(s.initialKPa);
  if (key == "baro_kpa") return setDouble(s.baroKPa);
  if (key == "noise_kpa") return setDouble(s.noiseKPa);
  if (key == "baro_noise_kpa") return setDouble(s.baroNoiseKPa);
  if (key == "source_kpa") return setDouble(s.sourceKPa);
  if (key == "input_tau_s") return setDouble(s.inputTauS);
  if (key == "vent_tau_s") return setDouble(s.ventTauS);
  if (key == "reg_rate_kpa_s") return setDouble(s.regRateKPaS);
  if (key == "reg_tau_s") return setDouble(s.regTauS);
  if (key == "leak_kpa_per_min") return setDouble(s.leakKPaPerMin);
  if (key == "zero_offset_kpa") return setDouble(s.zeroOffsetKPa);
  if (key == "module2_limit_kpa") return setDouble(s.module2LimitKPa);

  if (key == "operator.points") {
    s.operatorScript.pointsKPa.clear();
    if (v.empty()) return "";
    for (const auto& part : split(v, ',')) {
      if (!toDouble(part, d)) return bad(key, v);
      s.operatorScript.pointsKPa.push_back(d);
    }
    return "";
  }
  if (key == "operator.dwell_s") return setDouble(s.operatorScript.dwellS);
  if (key == "operator.tolerance_kpa") return setDouble(s.operatorScript.toleranceKPa);
  if (key == "operator.opens_input") return setBool(s.operatorScript.opensInput);
  if (key == "operator.repeat") return setBool(s.operatorScript.repeat);

  if (key == "kesto.fitted") return setBool(s.kestoFitted);
  if (key == "kesto.device_type") return setInt(s.kestoDeviceType, 0, 100000);
  if (key == "kesto.noise_ma") return setDouble(s.kestoNoiseMA);
  if (key == "kesto.input_type") return setInt(s.kestoInputType, 0, 255);

  if (key == "dorv.fitted") return setBool(s.dorvFitted);
  if (key == "dorv.on_quarn") return setBool(s.dorvOnQuarn);
  if (key == "dorv.type") return setInt(s.dorvType, 0, 100000);
  if (key == "dorv.address") return setInt(s.dorvAddress, 0, 255);
  if (key == "dorv.unit") return setInt(s.dorvUnit, 0, 7);
  if (key == "dorv.press_type") return setInt(s.dorvPressType, 0, 3);
  if (key == "dorv.range") return toPair(v, s.dorvLowKPa, s.dorvHighKPa) ? "" : bad(key, v);
  if (key == "dorv.serial") {
    if (!toLong(v, n, 0) || n < 0 || n > 0xFFFFFFFFL) return bad(key, v);
    s.dorvSerial = static_cast<uint32_t>(n);
    return "";
  }
  if (key == "dorv.noise_kpa") return setDouble(s.dorvNoiseKPa);
  if (key == "dorv.baud") {
    if (!toLong(v, n) || n < 0) return bad(key, v);
    s.dorvBaud = static_cast<uint32_t>(n);
    return "";
  }

  if (key == "fault") {
    Fault f;
    const std::string error = parseFault(v, f);
    if (!error.empty()) return error;
    s.faults.push_back(f);
    return "";
  }
  if (key == "channels") {  // the first N channels have a transmitter, the others nothing
    if (!toLong(v, n) || n < 0 || n > 4) return bad(key, v);
    for (int ch = 0; ch < 4; ++ch) s.channels[ch].present = ch < n;
    return "";
  }
  if (key == "hart_addresses") {  // polling address per channel, in order
    const auto parts = split(v, ',');
    if (parts.empty() || parts.size() > 4) return bad(key, v);
    for (size_t ch = 0; ch < parts.size(); ++ch) {
      if (!toLong(parts[ch], n) || n < 0 || n > 63) return bad(key, v);
      s.channels[ch].pollingAddress = static_cast<uint8_t>(n);
    }
    return "";
  }

  // kesto.status.N, switch.N, channel.N.what (N counts from 1)
  auto indexed = [&](std::string_view prefix, int count, int& index, std::string& rest) {
    if (key.rfind(prefix, 0) != 0) return false;
    const std::string tail = key.substr(prefix.size());
    const size_t dot = tail.find('.');
    long i;
    if (!toLong(tail.substr(0, dot), i) || i < 1 || i > count) return false;
    index = static_cast<int>(i - 1);
    rest = dot == std::string::npos ? "" : tail.substr(dot + 1);
    return true;
  };
  int index;
  std::string rest;
  if (indexed("kesto.status.", 4, index, rest) && rest.empty()) {
    if (v == "auto") return s.channelStatus[index] = -1, "";
    return setInt(s.channelStatus[index], 0, 3);
  }
  if (indexed("switch.", 8, index, rest) && rest.empty()) {  // "setpoint,hysteresis[,opens]" or "off"
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
    s.switches[index] = sw;
    return "";
  }
  if (indexed("channel.", 4, index, rest) && rest == "turnaround_ms") {
    DelayRange range;
    if (!toRange(v, range)) return bad(key, v);
    s.channelTurnaround[index] = range;
    return "";
  }
  if (indexed("channel.", 4, index, rest) && !rest.empty())
    return applyChannel(s.channels[index], rest, v, key);
  return "unknown key: " + key;
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

std::string loadScenarioFile(Scenario& s, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read " + path;
  std::ostringstream text;
  text << in.rdbuf();
  const std::string error = applyScenarioText(s, text.str());
  return error.empty() ? "" : path + ": " + error;
}

}  // namespace quarnsim
