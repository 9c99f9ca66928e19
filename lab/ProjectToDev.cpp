#include "ProjectToDev.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "ChannelRules.h"
#include "IniValues.h"
#include "ProjectFile.h"
#include "quarn/cp1251.h"

namespace quarn::data {
namespace {

std::string fieldText(const char* field, std::size_t size) {
  return text::cp1251ToUtf8(std::string_view(field, strnlen(field, size)));
}

float scanFloat(const std::string& s) {
  const double v = scanNumber(s);
  return std::fabs(v) <= 3.4e38 ? static_cast<float>(v) : 0.0f;
}

}  // namespace

void copyTextField(char* field, std::size_t size, const std::string& utf8) {
  std::memset(field, 0, size);
  if (size == 0) return;
  const std::string bytes = text::utf8ToCp1251(utf8);
  std::memcpy(field, bytes.data(), std::min(bytes.size(), size - 1));
}

void channelToDev(const ChannelParams& ch, TDevChannel& out) {
  out.enabled = ch.enabled ? 1 : 0;
  copyTextField(out.name, sizeof out.name, ch.name);
  copyTextField(out.model, sizeof out.model, ch.model);
  copyTextField(out.sn, sizeof out.sn, ch.sn);
  copyTextField(out.invNo, sizeof out.invNo, ch.invNo);
  copyTextField(out.owner, sizeof out.owner, ch.owner);
  out.errOk = ch.errOk;
  out.tDamp = ch.tDamp;
  out.fnCode = ch.fnCode;
  out.Min = ch.Min;
  out.Max = ch.Max;
  copyTextField(out.Unit, sizeof out.Unit, ch.unit);
  out.el_Min = ch.elMin;
  out.el_Max = ch.elMax;
  copyTextField(out.el_Unit, sizeof out.el_Unit, ch.elUnit);
  out.elTypeSignal = ch.elTypeSignal;
  out.toKpaMul = ch.toKpaMul;
  updateKpaRange(out);
}

ChannelParams channelFromDev(const TDevChannel& ch) {
  ChannelParams p;
  p.enabled = ch.enabled != 0;
  p.name = fieldText(ch.name, sizeof ch.name);
  p.model = fieldText(ch.model, sizeof ch.model);
  p.sn = fieldText(ch.sn, sizeof ch.sn);
  p.invNo = fieldText(ch.invNo, sizeof ch.invNo);
  p.owner = fieldText(ch.owner, sizeof ch.owner);
  p.errOk = ch.errOk;
  p.tDamp = ch.tDamp;
  p.fnCode = ch.fnCode;
  p.Min = ch.Min;
  p.Max = ch.Max;
  p.unit = fieldText(ch.Unit, sizeof ch.Unit);
  p.elMin = ch.el_Min;
  p.elMax = ch.el_Max;
  p.elUnit = fieldText(ch.el_Unit, sizeof ch.el_Unit);
  p.elTypeSignal = ch.elTypeSignal;
  p.toKpaMul = ch.toKpaMul;
  return p;
}

void relayFromDev(const TDev& dev, RelaySettings& relay) {
  for (int i = 0; i < 2; ++i) {
    relay.enabled[static_cast<std::size_t>(i)] = dev.relayOn[i] != 0;
    relay.setpointKpa[static_cast<std::size_t>(i)] = formatFloat(dev.relayP[i]);
    relay.hysteresisKpa[static_cast<std::size_t>(i)] = formatFloat(dev.relayHyst[i]);
  }
}

std::string calibratorLine(const TDev& dev) {
  return std::string(dev.model == 0 ? "Brenk №" : "Quarn №") +
         fieldText(dev.calInfo.serial, sizeof dev.calInfo.serial);
}

std::string referenceList(const TDev& dev, const std::string& line, const std::vector<std::string>& aux) {
  std::string s = line;
  if (dev.dorv.present) s += ", Dorv №" + std::to_string(dev.dorv.serialNo);
  std::string auxText;
  for (std::size_t i = 0; i < aux.size(); ++i) {
    if (i) auxText += "\n";
    auxText += aux[i];
  }
  if (auxText.find_first_not_of(" \t\r\n") != std::string::npos) s += ", " + auxText;
  std::erase(s, '\r');
  return s;
}

std::string protocolDate(long long unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  return buf;
}

void headerToDev(const Project& project, TDev& dev, const ApplyOptions& options) {
  const ProtocolHeader& h = project.header;
  TPovHeader& ph = dev.povHeader;
  ph.isPeriodic = h.kind == ProtocolKind::Periodic;
  ph.isCalib = h.kind == ProtocolKind::Calibration;
  copyTextField(ph.protocolNo, sizeof ph.protocolNo, h.protocolNo);
  copyTextField(ph.date, sizeof ph.date, h.date);
  copyTextField(ph.temp, sizeof ph.temp, h.temp);
  copyTextField(ph.hum, sizeof ph.hum, h.hum);
  copyTextField(ph.pres, sizeof ph.pres, h.pres);
  copyTextField(ph.etalonList, sizeof ph.etalonList,
                referenceList(dev, options.calibratorLine, h.auxEquipment));
  dev.cDigits = h.resultDecimals;

  const double hold = scanNumber(project.readiness.holdTimeS);
  ph.tRdy = static_cast<int32_t>(std::clamp(std::trunc(hold), -2147483648.0, 2147483647.0));
  ph.dRdy = scanFloat(project.readiness.bandPrc);
  ph.vrCoeff = scanFloat(project.readiness.vrCoeff);
  ph.hardMode = project.readiness.hardMode ? 1 : 0;

  for (int i = 0; i < 2; ++i) {
    dev.relayOn[i] = project.relay.enabled[static_cast<std::size_t>(i)] ? 1 : 0;
    dev.relayP[i] = scanFloat(project.relay.setpointKpa[static_cast<std::size_t>(i)]);
    dev.relayHyst[i] = scanFloat(project.relay.hysteresisKpa[static_cast<std::size_t>(i)]);
  }
}

ParamsCheck applyProjectToDev(const Project& project, TDev& dev, const ApplyOptions& options) {
  headerToDev(project, dev, options);
  for (int c = 0; c < kChannelCount; ++c) {
    ChannelParams ch = project.channels[static_cast<std::size_t>(c)];
    if (ch.enabled) normalizeChannel(ch);
    channelToDev(ch, dev.devCh[c]);
  }

  ParamsCheck check = checkParams(dev);
  // After the check, so the readiness uses the range just found (the screen does the same after
  // every change of the device grid).
  setReadiness(dev);
  return check;
}

}  // namespace quarn::data
