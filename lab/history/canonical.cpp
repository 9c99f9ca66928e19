#include "canonical.h"

#include <algorithm>
#include <cstring>

#include "sha256.h"

namespace quarn::history {

namespace {

class Canon {
 public:
  void integer(const std::string& name, int64_t v) { out_ += name + " i" + std::to_string(v) + "\n"; }
  void real(const std::string& name, double v) {
    if (std::isnan(v)) {
      out_ += name + " n\n";
      return;
    }
    if (v == 0) v = 0;  // -0 is kept as 0
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    static constexpr char kDigits[] = "0123456789abcdef";
    char hex[17];
    for (int i = 0; i < 16; ++i) hex[i] = kDigits[(bits >> (60 - 4 * i)) & 15];
    hex[16] = 0;
    out_ += name + " r" + hex + "\n";
  }
  void text(const std::string& name, const std::string& v) {
    out_ += name + " t" + std::to_string(v.size()) + ":" + v + "\n";
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

void addRun(Canon& c, const RunRecord& r) {
  c.integer("run.started_at", r.startedAtMs);
  c.integer("run.finished_at", r.finishedAtMs);
  c.integer("run.utc_offset_min", r.utcOffsetMin);
  c.text("run.workstation", r.workstation);
  c.text("run.kind", kindName(r.kind));
  c.text("run.tag", tagName(r.tag));
  c.text("run.calibrator_model", r.calibrator.model);
  c.text("run.calibrator_serial", r.calibrator.serial);
  c.text("run.calibrator_version", r.calibrator.version);
  c.text("run.reference_kind", referenceName(r.reference.kind));
  c.text("run.reference_serial", r.reference.serial);
  c.integer("run.reference_module", r.reference.module);
  c.real("run.reference_upper_kpa", r.reference.upperKpa);
  c.text("run.temperature", r.conditions.temperature);
  c.text("run.humidity", r.conditions.humidity);
  c.text("run.pressure", r.conditions.pressure);
  c.text("run.method", r.method);
  c.integer("run.point_set", r.pointSet);
  c.integer("run.point_count", r.pointCount);
  c.integer("run.hand_input", r.handInput);
  c.integer("run.hold_s", r.readiness.holdS);
  c.real("run.band_prc", r.readiness.bandPrc);
  c.integer("run.hard_mode", r.readiness.hardMode);
  c.text("run.protocol_no", r.protocol.number);
  c.text("run.protocol_date", r.protocol.date);
  c.integer("run.periodic", r.protocol.periodic);
  c.integer("run.decimals", r.protocol.decimals);
  c.integer("run.display_unit", r.protocol.displayUnit);
  c.real("run.unit_factor", r.protocol.unitFactor);
  c.text("run.reference_list", r.protocol.referenceList);
  c.integer("run.fields", static_cast<int64_t>(r.protocol.fields.size()));
  for (std::size_t i = 0; i < r.protocol.fields.size(); ++i) {
    const std::string p = "field[" + std::to_string(i) + "].";
    c.text(p + "name", r.protocol.fields[i].first);
    c.text(p + "value", r.protocol.fields[i].second);
  }
  c.integer("run.devices", static_cast<int64_t>(r.devices.size()));
  for (const DeviceResult& d : r.devices) {
    const std::string p = "channel[" + std::to_string(d.channel) + "].";
    c.text(p + "name", d.name);
    c.text(p + "model", d.model);
    c.text(p + "serial", d.serial);
    c.text(p + "inventory_no", d.inventoryNo);
    c.text(p + "owner", d.owner);
    c.real(p + "range_min", d.rangeMin);
    c.real(p + "range_max", d.rangeMax);
    c.text(p + "units", d.units);
    c.real(p + "min_kpa", d.minKpa);
    c.real(p + "max_kpa", d.maxKpa);
    c.real(p + "to_kpa_mul", d.toKpaMul);
    c.real(p + "signal_min", d.signalMin);
    c.real(p + "signal_max", d.signalMax);
    c.text(p + "signal_units", d.signalUnits);
    c.integer(p + "signal_type", d.signalType);
    c.integer(p + "transfer_fn", d.transferFunction);
    c.real(p + "err_ok", d.errOk);
    c.real(p + "vr_coeff", d.vrCoeff);
    c.text(p + "method", d.method);
    c.text(p + "verdict", verdictName(d.verdict));
    c.integer(p + "points", static_cast<int64_t>(d.points.size()));
    for (const PointResult& pt : d.points) {
      const std::string q = p + "point[" + std::to_string(pt.index) + "].";
      c.real(q + "target_prc", pt.targetPrc);
      c.real(q + "p_ref", pt.pRef);
      c.real(q + "current", pt.current);
      c.real(q + "i_expected", pt.iExpected);
      c.real(q + "p_from_i", pt.pFromI);
      c.real(q + "p_from_i_kpa", pt.pFromIKPa);
      c.real(q + "reduced_error", pt.reducedError);
      c.real(q + "uncertainty", pt.uncertainty);
    }
  }
  c.integer("run.relays", static_cast<int64_t>(r.relays.size()));
  for (const RelayResult& x : r.relays) {
    const std::string p = "relay[" + std::to_string(x.channel) + "." + std::to_string(x.relay) + "].";
    c.integer(p + "selected", x.selected);
    c.real(p + "setpoint_kpa", x.setpointKpa);
    c.real(p + "hysteresis_kpa", x.hysteresisKpa);
    c.integer(p + "state", x.state);
    c.real(p + "p_on_kpa", x.pOnKpa);
    c.real(p + "p_off_kpa", x.pOffKpa);
  }
}

void addAdjustment(Canon& c, const Adjustment& a) {
  c.integer("adjustment.at", a.atMs);
  c.integer("adjustment.utc_offset_min", a.utcOffsetMin);
  c.text("adjustment.workstation", a.workstation);
  c.integer("adjustment.channel", a.channel);
  c.text("adjustment.serial", a.serial);
  c.text("adjustment.device_name", a.deviceName);
  c.text("adjustment.action", adjustmentName(a.kind));
  c.text("adjustment.note", a.note);
}

}  // namespace

std::string canonicalEntry(const EntryHeader& h, const RunRecord* run, const Adjustment* adjustment) {
  Canon c;
  c.integer("quarn-history-entry", h.hashFormat);
  c.integer("entry.seq", h.seq);
  c.text("entry.kind", h.kind);
  if (h.refersTo)
    c.integer("entry.refers_to", *h.refersTo);
  else
    c.real("entry.refers_to", NAN);
  c.integer("entry.recorded_at", h.recordedAtMs);
  c.text("entry.workstation", h.workstation);
  c.text("entry.note", h.note);
  if (run) addRun(c, *run);
  if (adjustment) addAdjustment(c, *adjustment);
  return c.take();
}

std::string entryHash(const std::string& prevHash, const std::string& canonical) {
  Sha256 s;
  s.update(prevHash);
  s.update("\n");
  s.update(canonical);
  return toHex(s.finish());
}

float storedFloat(float v) {
  if (std::isnan(v)) return NAN;
  return v == 0 ? 0.0f : v;
}

void normalizeRecord(RunRecord& r) {
  r.reference.upperKpa = storedFloat(r.reference.upperKpa);
  r.readiness.bandPrc = storedFloat(r.readiness.bandPrc);
  r.protocol.unitFactor = storedFloat(r.protocol.unitFactor);
  std::stable_sort(r.devices.begin(), r.devices.end(),
                   [](const DeviceResult& a, const DeviceResult& b) { return a.channel < b.channel; });
  for (DeviceResult& d : r.devices) {
    for (float* f : {&d.rangeMin, &d.rangeMax, &d.minKpa, &d.maxKpa, &d.toKpaMul, &d.signalMin, &d.signalMax,
                     &d.errOk, &d.vrCoeff})
      *f = storedFloat(*f);
    std::stable_sort(d.points.begin(), d.points.end(),
                     [](const PointResult& a, const PointResult& b) { return a.index < b.index; });
    for (PointResult& p : d.points)
      for (float* f : {&p.targetPrc, &p.pRef, &p.current, &p.iExpected, &p.pFromI, &p.pFromIKPa,
                       &p.reducedError, &p.uncertainty})
        *f = storedFloat(*f);
  }
  std::stable_sort(r.relays.begin(), r.relays.end(), [](const RelayResult& a, const RelayResult& b) {
    return a.channel != b.channel ? a.channel < b.channel : a.relay < b.relay;
  });
  for (RelayResult& x : r.relays)
    for (float* f : {&x.setpointKpa, &x.hysteresisKpa, &x.pOnKpa, &x.pOffKpa}) *f = storedFloat(*f);
}

}  // namespace quarn::history
