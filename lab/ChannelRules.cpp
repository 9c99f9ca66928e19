#include "ChannelRules.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "quarn/cp1251.h"

namespace quarn::data {

const PressureUnit kPressureUnits[kUnitCount] = {
    {"кПа", 1.0f},
    {"МПа", 1000.0f},
    {"бар", 100.0f},
    {"кгс/см2", 98.06652f},
    {"кгс/м2", 0.00980665f},
    {"мм вод.ст.", 0.00980665f},
    {"мм рт.ст.", 0.13332267f},
    {"psi", 6.894745f},
};

const char* const kSignalTypeNames[kSignalTypeCount] = {"4..20 мА", "20..4 мА", "0..5 мА", "5..0 мА",
                                                        "напряжение"};

namespace {
std::string withoutBlanks(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\t') out.push_back(c);
  return out;
}
}  // namespace

std::optional<int> unitIndex(std::string_view unitUtf8) {
  const std::string key = withoutBlanks(unitUtf8);
  for (int i = 0; i < kUnitCount; ++i)
    if (withoutBlanks(kPressureUnits[i].text) == key) return i;
  return std::nullopt;
}

SignalLimits signalLimits(int type) {
  switch (type) {
    case kSignal20to4:
      return {20, 4, kCurrentUnit, true};
    case kSignal0to5:
      return {0, 5, kCurrentUnit, true};
    case kSignal5to0:
      return {5, 0, kCurrentUnit, true};
    case kSignalVoltage:
      return {0, 0, kVoltageUnit, false};
    default:
      return {4, 20, kCurrentUnit, true};
  }
}

uint32_t sensorTypeForSignal(int type) { return type == kSignal4to20 || type == kSignal20to4 ? 8u : 6u; }

std::optional<uint32_t> sensorTypeChange(const TDev& dev, int type) {
  const uint32_t code = sensorTypeForSignal(type);
  if (!dev.linked || !dev.kestoOk || !dev.kestoDataValid || dev.sensorType == code) return std::nullopt;
  return code;
}

std::optional<std::string> unitOfHartCode(unsigned code) {
  switch (code) {
    case 12:
      return "кПа";
    case 237:
      return "МПа";
    case 7:
      return "бар";
    case 10:
      return "кгс/см2";
    case 176:
      return "кгс/м2";
    case 239:
      return "мм вод. ст.";
    case 5:
      return "мм рт. ст.";
    case 175:
      return "psi";
    default:
      return std::nullopt;
  }
}

void updateKpaRange(TDevChannel& ch) {
  ch.MinKpa = ch.Min * ch.toKpaMul;
  ch.MaxKpa = ch.Max * ch.toKpaMul;
}

namespace {
void putField(char* field, std::size_t size, std::string_view cp1251) {
  std::memset(field, 0, size);
  std::memcpy(field, cp1251.data(), std::min(cp1251.size(), size - 1));
}
}  // namespace

bool keepEnteredSerial(TDevChannel& ch, std::string_view enteredSerial) {
  const auto first = enteredSerial.find_first_not_of(" \t");
  if (first == std::string_view::npos) return false;
  const auto last = enteredSerial.find_last_not_of(" \t");
  const std::string entered = text::utf8ToCp1251(enteredSerial.substr(first, last - first + 1));
  const std::string_view now(ch.sn, strnlen(ch.sn, sizeof ch.sn));
  if (now == std::string_view(entered).substr(0, sizeof ch.sn - 1)) return false;
  putField(ch.sn, sizeof ch.sn, entered);
  return true;
}

void takeOverHartDevice(TDevChannel& ch, const THartDev& hart, std::string_view enteredSerial) {
  ch.enabled = 1;
  putField(ch.name, sizeof ch.name,
           std::string_view(hart.deviceTypeName, strnlen(hart.deviceTypeName, sizeof hart.deviceTypeName)));
  putField(ch.sn, sizeof ch.sn, std::to_string(hart.deviceId));
  keepEnteredSerial(ch, enteredSerial);
  ch.Min = hart.lowerRange;
  ch.Max = hart.upperRange;
  if (const auto unit = unitOfHartCode(hart.rangeUnits))
    putField(ch.Unit, sizeof ch.Unit, text::utf8ToCp1251(*unit));
  const std::string unitText =
      text::cp1251ToUtf8(std::string_view(ch.Unit, strnlen(ch.Unit, sizeof ch.Unit)));
  if (const auto idx = unitIndex(unitText)) ch.toKpaMul = kPressureUnits[*idx].toKpa;
  updateKpaRange(ch);
}

void setSignalTypeForAll(TDev& dev, int type, float voltMin, float voltMax) {
  const SignalLimits lim = signalLimits(type);
  const std::string unit = text::utf8ToCp1251(lim.unit);
  for (TDevChannel& ch : dev.devCh) {
    ch.elTypeSignal = type;
    ch.el_Min = lim.fixed ? lim.elMin : voltMin;
    ch.el_Max = lim.fixed ? lim.elMax : voltMax;
    putField(ch.el_Unit, sizeof ch.el_Unit, unit);
  }
}

}  // namespace quarn::data
