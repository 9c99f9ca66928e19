#include "HistoryRecord.h"

namespace quarn::history {

const char* kindName(RunKind kind) {
  switch (kind) {
    case RunKind::Calibration:
      return "calibration";
    case RunKind::RelayCheck:
      return "relay_check";
    case RunKind::Verification:
      break;
  }
  return "verification";
}

const char* tagName(RunTag tag) { return tag == RunTag::AsLeft ? "as_left" : "as_found"; }

const char* referenceName(ReferenceKind kind) { return kind == ReferenceKind::Dorv ? "dorv" : "calibrator"; }

const char* verdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Suitable:
      return "suitable";
    case Verdict::Unsuitable:
      return "unsuitable";
    case Verdict::None:
      break;
  }
  return "none";
}

std::optional<RunKind> kindFromName(const std::string& name) {
  for (RunKind k : {RunKind::Verification, RunKind::Calibration, RunKind::RelayCheck})
    if (name == kindName(k)) return k;
  return std::nullopt;
}

std::optional<RunTag> tagFromName(const std::string& name) {
  for (RunTag t : {RunTag::AsFound, RunTag::AsLeft})
    if (name == tagName(t)) return t;
  return std::nullopt;
}

std::optional<Verdict> verdictFromName(const std::string& name) {
  for (Verdict v : {Verdict::None, Verdict::Suitable, Verdict::Unsuitable})
    if (name == verdictName(v)) return v;
  return std::nullopt;
}

const char* adjustmentName(AdjustmentKind kind) {
  switch (kind) {
    case AdjustmentKind::SensorTrim:
      return "sensor_trim";
    case AdjustmentKind::ZeroTrim:
      return "zero_trim";
    case AdjustmentKind::TrimRestore:
      return "trim_restore";
    case AdjustmentKind::Rerange:
      return "rerange";
    case AdjustmentKind::CurrentTrim:
      break;
  }
  return "current_trim";
}

std::optional<AdjustmentKind> adjustmentFromName(const std::string& name) {
  for (AdjustmentKind k : {AdjustmentKind::CurrentTrim, AdjustmentKind::SensorTrim, AdjustmentKind::ZeroTrim,
                           AdjustmentKind::TrimRestore, AdjustmentKind::Rerange})
    if (name == adjustmentName(k)) return k;
  return std::nullopt;
}

}  // namespace quarn::history
