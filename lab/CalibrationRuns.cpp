#include "CalibrationRuns.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "CalibrationSequence.h"
#include "quarn/cp1251.h"

namespace quarn::data {

namespace {

// Three decimals with a point whatever the locale (the workstation runs under the operator's); "-" for
// a value the sequence did not get.
std::string fixed3(float v) {
  if (!std::isfinite(v)) return "-";
  char buf[64];
  const auto end =
      std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::fixed, 3).ptr;
  std::string text(buf, end);
  if (text.find_first_not_of("-0.") == std::string::npos && text.front() == '-') text.erase(0, 1);
  return text;
}

std::string currents(const std::array<float, 3>& values) {
  return fixed3(values[0]) + "/" + fixed3(values[1]) + "/" + fixed3(values[2]);
}

template <std::size_t N>
std::string utf8(const char (&field)[N]) {
  return text::cp1251ToUtf8(std::string(field, strnlen(field, N)));
}

std::string reasonField(int channel) {
  return std::string(kCalibrationFieldPrefix) + "D" + std::to_string(channel) + "_REASON";
}

}  // namespace

const char* trimKindText(TrimKind kind) {
  return kind == TrimKind::Sensor ? "подстройка сенсора" : "подстройка тока";
}

std::vector<CalibrationAdjustment> calibrationAdjustments(const CalibrationSequence& sequence) {
  std::vector<CalibrationAdjustment> out;
  if (!sequence.asFound()) return out;
  const TDev& rec = sequence.asFound()->record();
  for (int c = 0; c < kChannelCount; ++c) {
    const CalibrationChannel& x = sequence.channels()[static_cast<std::size_t>(c)];
    CalibrationAdjustment a;
    a.channel = c + 1;
    a.serial = utf8(rec.devCh[c].sn);
    a.deviceName = utf8(rec.devCh[c].name);
    if (a.serial.empty()) continue;
    if (x.sensorTrimmed) {
      a.kind = TrimKind::Sensor;
      a.note = "Pmin " + fixed3(x.trimPmin) + " кПа (эталон " + fixed3(x.pRefMin) + " кПа), Pmax " +
               fixed3(x.trimPmax) + " кПа (эталон " + fixed3(x.pRefMax) + " кПа)";
      out.push_back(a);
    }
    if (x.currentTrimmed) {
      a.kind = TrimKind::Current;
      a.note = "4/12/20 мА: до подстройки " + currents(x.currentBefore) + " мА, после " +
               currents(x.currentAfter) + " мА";
      out.push_back(a);
    }
  }
  return out;
}

std::optional<CalibrationRuns> calibrationRunsOf(const CalibrationSequence& sequence) {
  if (sequence.stage() != CalibrationStage::Finished || !sequence.asFound()) return std::nullopt;
  CalibrationRuns runs;
  runs.asFound = *sequence.asFound();
  if (sequence.asLeft()) runs.asLeft = *sequence.asLeft();
  runs.adjustments = calibrationAdjustments(sequence);
  for (int c = 0; c < kChannelCount; ++c)
    runs.reasons[static_cast<std::size_t>(c)] = sequence.channels()[static_cast<std::size_t>(c)].reason;
  return runs;
}

ProtocolFields calibrationReasonFields(const CalibrationRuns& runs) {
  ProtocolFields out;
  const std::optional<RunSnapshot>& last = runs.asLeft ? runs.asLeft : runs.asFound;
  for (int c = 0; c < kChannelCount; ++c)
    if (last && last->record().devCh[c].enabled)
      out.emplace_back(reasonField(c + 1), runs.reasons[static_cast<std::size_t>(c)]);
  return out;
}

std::optional<std::array<std::string, kChannelCount>> calibrationReasonsOf(const ProtocolFields& fields) {
  std::optional<std::array<std::string, kChannelCount>> reasons;
  for (const auto& [name, text] : fields)
    for (int c = 0; c < kChannelCount; ++c)
      if (name == reasonField(c + 1)) {
        if (!reasons) reasons.emplace();
        (*reasons)[static_cast<std::size_t>(c)] = text;
      }
  return reasons;
}

}  // namespace quarn::data
