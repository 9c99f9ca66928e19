// The columns of each content table in the order the program reads them (entry_seq first), and the
// readers of one row, shared by the reads of one run and by the check's scans of whole tables. A
// reader fills an existing object, reusing its texts' storage, and notes values that are not of the
// stored form.
#pragma once

#include "HistoryRecord.h"
#include "sqlite_statement.h"

namespace quarn::history::detail {

inline constexpr const char* kRunColumns =
    "entry_seq, started_at, finished_at, utc_offset_min, workstation, kind, tag, calibrator_model, "
    "calibrator_serial, calibrator_version, reference_kind, reference_serial, reference_module, "
    "reference_upper_kpa, temperature, humidity, pressure, method, point_set, point_count, hand_input, "
    "hold_s, band_prc, hard_mode, protocol_no, protocol_date, periodic, decimals, display_unit, "
    "unit_factor, reference_list";
inline constexpr const char* kFieldColumns = "entry_seq, idx, name, value";
inline constexpr const char* kChannelColumns =
    "entry_seq, channel, name, model, serial, inventory_no, owner, range_min, range_max, units, min_kpa, "
    "max_kpa, to_kpa_mul, signal_min, signal_max, signal_units, signal_type, transfer_fn, err_ok, "
    "vr_coeff, method, verdict";
inline constexpr const char* kPointColumns =
    "entry_seq, channel, idx, target_prc, p_ref, current, i_expected, p_from_i, p_from_i_kpa, "
    "reduced_error, uncertainty";
inline constexpr const char* kRelayColumns =
    "entry_seq, channel, relay, selected, setpoint_kpa, hysteresis_kpa, state, p_on_kpa, p_off_kpa";
inline constexpr const char* kAdjustmentColumns =
    "entry_seq, at, utc_offset_min, workstation, channel, serial, device_name, action, note";

// The run's own fields (its lists are left alone).
inline void readRunRow(Statement& s, RunRecord& r, bool& foreign) {
  int i = 1;
  r.startedAtMs = s.integer(i++);
  r.finishedAtMs = s.integer(i++);
  r.utcOffsetMin = s.intValue(i++);
  s.textInto(i++, r.workstation);
  const std::optional<RunKind> kind = kindFromName(std::string(s.textView(i++)));
  const std::optional<RunTag> tag = tagFromName(std::string(s.textView(i++)));
  if (!kind || !tag) foreign = true;
  r.kind = kind.value_or(RunKind::Verification);
  r.tag = tag.value_or(RunTag::AsFound);
  s.textInto(i++, r.calibrator.model);
  s.textInto(i++, r.calibrator.serial);
  s.textInto(i++, r.calibrator.version);
  const std::string_view ref = s.textView(i++);
  if (ref != referenceName(ReferenceKind::Calibrator) && ref != referenceName(ReferenceKind::Dorv))
    foreign = true;
  r.reference.kind =
      ref == referenceName(ReferenceKind::Dorv) ? ReferenceKind::Dorv : ReferenceKind::Calibrator;
  s.textInto(i++, r.reference.serial);
  r.reference.module = s.intValue(i++);
  r.reference.upperKpa = s.real(i++);
  s.textInto(i++, r.conditions.temperature);
  s.textInto(i++, r.conditions.humidity);
  s.textInto(i++, r.conditions.pressure);
  s.textInto(i++, r.method);
  r.pointSet = s.intValue(i++);
  r.pointCount = s.intValue(i++);
  r.handInput = s.integer(i++) != 0;
  r.readiness.holdS = s.intValue(i++);
  r.readiness.bandPrc = s.real(i++);
  r.readiness.hardMode = s.integer(i++) != 0;
  s.textInto(i++, r.protocol.number);
  s.textInto(i++, r.protocol.date);
  r.protocol.periodic = s.integer(i++) != 0;
  r.protocol.decimals = s.intValue(i++);
  r.protocol.displayUnit = s.intValue(i++);
  r.protocol.unitFactor = s.real(i++);
  s.textInto(i++, r.protocol.referenceList);
}

// A device without its points (which the caller clears or fills).
inline void readChannelRow(Statement& s, DeviceResult& d, bool& foreign) {
  int i = 1;
  d.channel = s.intValue(i++);
  s.textInto(i++, d.name);
  s.textInto(i++, d.model);
  s.textInto(i++, d.serial);
  s.textInto(i++, d.inventoryNo);
  s.textInto(i++, d.owner);
  d.rangeMin = s.real(i++);
  d.rangeMax = s.real(i++);
  s.textInto(i++, d.units);
  d.minKpa = s.real(i++);
  d.maxKpa = s.real(i++);
  d.toKpaMul = s.real(i++);
  d.signalMin = s.real(i++);
  d.signalMax = s.real(i++);
  s.textInto(i++, d.signalUnits);
  d.signalType = s.intValue(i++);
  d.transferFunction = s.intValue(i++);
  d.errOk = s.real(i++);
  d.vrCoeff = s.real(i++);
  s.textInto(i++, d.method);
  const std::optional<Verdict> verdict = verdictFromName(std::string(s.textView(i++)));
  if (!verdict) foreign = true;
  d.verdict = verdict.value_or(Verdict::None);
}

inline PointResult readPointRow(Statement& s, int& channel) {
  channel = s.intValue(1);
  PointResult p;
  p.index = s.intValue(2);
  p.targetPrc = s.real(3);
  p.pRef = s.real(4);
  p.current = s.real(5);
  p.iExpected = s.real(6);
  p.pFromI = s.real(7);
  p.pFromIKPa = s.real(8);
  p.reducedError = s.real(9);
  p.uncertainty = s.real(10);
  return p;
}

inline RelayResult readRelayRow(Statement& s) {
  RelayResult x;
  x.channel = s.intValue(1);
  x.relay = s.intValue(2);
  x.selected = s.integer(3) != 0;
  x.setpointKpa = s.real(4);
  x.hysteresisKpa = s.real(5);
  x.state = static_cast<uint32_t>(s.integer(6));
  x.pOnKpa = s.real(7);
  x.pOffKpa = s.real(8);
  return x;
}

inline void readAdjustmentRow(Statement& s, Adjustment& a, bool& foreign) {
  a.atMs = s.integer(1);
  a.utcOffsetMin = s.intValue(2);
  s.textInto(3, a.workstation);
  a.channel = s.intValue(4);
  s.textInto(5, a.serial);
  s.textInto(6, a.deviceName);
  const std::optional<AdjustmentKind> action = adjustmentFromName(std::string(s.textView(7)));
  if (!action) foreign = true;
  a.kind = action.value_or(AdjustmentKind::CurrentTrim);
  s.textInto(8, a.note);
}

}  // namespace quarn::history::detail
