#include "canonical.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "sha256.h"

namespace quarn::history {

namespace {

// Writes the canonical lines into a sink: a text (canonicalEntry) or a digest (hashEntry). A field's
// name comes in two parts, the prefix of its device, point or relay and its own name; each line is
// put together in a buffer on the stack and handed over whole.
template <class Sink>
class Canon {
 public:
  explicit Canon(Sink& sink) : sink_(sink) {}

  void integer(std::string_view prefix, std::string_view name, int64_t v) {
    char* p = open(prefix, name, 'i');
    p = std::to_chars(p, p + 24, v).ptr;
    *p++ = '\n';
    close(p);
  }
  void real(std::string_view prefix, std::string_view name, double v) {
    if (std::isnan(v)) {
      char* p = open(prefix, name, 'n');
      *p++ = '\n';
      close(p);
      return;
    }
    char* p = open(prefix, name, 'r');
    p = hex(p, v);
    *p++ = '\n';
    close(p);
  }
  // A name and several numbers on one line: "name r<hex> n r<hex>\n".
  template <std::size_t N>
  void reals(std::string_view name, const float (&values)[N]) {
    static_assert(N * 18 < 96 + 32 + 2 + 24 + 1 + 256, "the line fits its buffer");
    char* p = line_;
    std::memcpy(p, name.data(), name.size());
    p += name.size();
    for (float f : values) {
      *p++ = ' ';
      if (std::isnan(f)) {
        *p++ = 'n';
      } else {
        *p++ = 'r';
        p = hex(p, f);
      }
    }
    *p++ = '\n';
    close(p);
  }
  void text(std::string_view prefix, std::string_view name, std::string_view v) {
    char* p = open(prefix, name, 't');
    p = std::to_chars(p, p + 24, v.size()).ptr;
    *p++ = ':';
    if (v.size() <= kShortText) {
      std::memcpy(p, v.data(), v.size());
      p += v.size();
      *p++ = '\n';
      close(p);
      return;
    }
    close(p);
    sink_.put(v.data(), v.size());
    sink_.put("\n", 1);
  }

 private:
  static constexpr std::size_t kShortText = 256;
  // The 16 hexadecimal digits of the double's bits; -0 is kept as 0.
  static char* hex(char* p, double v) {
    if (v == 0) v = 0;
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) p[i] = kDigits[(bits >> (60 - 4 * i)) & 15];
    return p + 16;
  }
  char* open(std::string_view prefix, std::string_view name, char type) {
    char* p = line_;
    std::memcpy(p, prefix.data(), prefix.size());
    p += prefix.size();
    std::memcpy(p, name.data(), name.size());
    p += name.size();
    *p++ = ' ';
    *p++ = type;
    return p;
  }
  void close(char* end) { sink_.put(line_, static_cast<std::size_t>(end - line_)); }

  Sink& sink_;
  // A name (a prefix below 96 bytes and a field name below 32), its type, a number or a short text.
  char line_[96 + 32 + 2 + 24 + 1 + kShortText + 1];
};

// "channel[2].", "channel[2].point[17].", "field[3].", "relay[1.2]." built in place.
class Prefix {
 public:
  std::string_view set(std::string_view head, int64_t a, char between = 0, int64_t b = 0,
                       std::string_view tail = "].") {
    char* p = buf_;
    p = put(p, head);
    p = std::to_chars(p, buf_ + sizeof buf_, a).ptr;
    if (between) {
      *p++ = between;
      p = std::to_chars(p, buf_ + sizeof buf_, b).ptr;
    }
    p = put(p, tail);
    return {buf_, static_cast<std::size_t>(p - buf_)};
  }
  // This prefix followed by another piece: "channel[2]." + "point[17].".
  std::string_view extend(std::string_view base, std::string_view head, int64_t a,
                          std::string_view tail = "].") {
    char* p = buf_;
    p = put(p, base);
    p = put(p, head);
    p = std::to_chars(p, buf_ + sizeof buf_, a).ptr;
    p = put(p, tail);
    return {buf_, static_cast<std::size_t>(p - buf_)};
  }

 private:
  static char* put(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
  }
  char buf_[96];
};

template <class Sink>
void addRun(Canon<Sink>& c, const RunView& v, int format) {
  const RunRecord& r = *v.scalars;
  const std::string_view run = "run.";
  c.integer(run, "started_at", r.startedAtMs);
  c.integer(run, "finished_at", r.finishedAtMs);
  c.integer(run, "utc_offset_min", r.utcOffsetMin);
  c.text(run, "workstation", r.workstation);
  c.text(run, "kind", kindName(r.kind));
  c.text(run, "tag", tagName(r.tag));
  c.text(run, "calibrator_model", r.calibrator.model);
  c.text(run, "calibrator_serial", r.calibrator.serial);
  c.text(run, "calibrator_version", r.calibrator.version);
  c.text(run, "reference_kind", referenceName(r.reference.kind));
  c.text(run, "reference_serial", r.reference.serial);
  c.integer(run, "reference_module", r.reference.module);
  c.real(run, "reference_upper_kpa", r.reference.upperKpa);
  c.text(run, "temperature", r.conditions.temperature);
  c.text(run, "humidity", r.conditions.humidity);
  c.text(run, "pressure", r.conditions.pressure);
  c.text(run, "method", r.method);
  c.integer(run, "point_set", r.pointSet);
  c.integer(run, "point_count", r.pointCount);
  c.integer(run, "hand_input", r.handInput);
  c.integer(run, "hold_s", r.readiness.holdS);
  c.real(run, "band_prc", r.readiness.bandPrc);
  c.integer(run, "hard_mode", r.readiness.hardMode);
  c.text(run, "protocol_no", r.protocol.number);
  c.text(run, "protocol_date", r.protocol.date);
  c.integer(run, "periodic", r.protocol.periodic);
  c.integer(run, "decimals", r.protocol.decimals);
  c.integer(run, "display_unit", r.protocol.displayUnit);
  c.real(run, "unit_factor", r.protocol.unitFactor);
  c.text(run, "reference_list", r.protocol.referenceList);
  c.integer(run, "fields", static_cast<int64_t>(v.fields.size()));
  Prefix prefix, pointPrefix;
  for (std::size_t i = 0; i < v.fields.size(); ++i) {
    const std::string_view p = prefix.set("field[", static_cast<int64_t>(i));
    c.text(p, "name", v.fields[i].first);
    c.text(p, "value", v.fields[i].second);
  }
  c.integer(run, "devices", static_cast<int64_t>(v.devices.size()));
  for (const DeviceResult& d : v.devices) {
    const std::string_view p = prefix.set("channel[", d.channel);
    c.text(p, "name", d.name);
    c.text(p, "model", d.model);
    c.text(p, "serial", d.serial);
    c.text(p, "inventory_no", d.inventoryNo);
    c.text(p, "owner", d.owner);
    c.real(p, "range_min", d.rangeMin);
    c.real(p, "range_max", d.rangeMax);
    c.text(p, "units", d.units);
    c.real(p, "min_kpa", d.minKpa);
    c.real(p, "max_kpa", d.maxKpa);
    c.real(p, "to_kpa_mul", d.toKpaMul);
    c.real(p, "signal_min", d.signalMin);
    c.real(p, "signal_max", d.signalMax);
    c.text(p, "signal_units", d.signalUnits);
    c.integer(p, "signal_type", d.signalType);
    c.integer(p, "transfer_fn", d.transferFunction);
    c.real(p, "err_ok", d.errOk);
    c.real(p, "vr_coeff", d.vrCoeff);
    c.text(p, "method", d.method);
    c.text(p, "verdict", verdictName(d.verdict));
    c.integer(p, "points", static_cast<int64_t>(d.points.size()));
    for (const PointResult& pt : d.points) {
      if (format >= 2) {
        // One line per point: the point's name and its eight values in the order below.
        const float values[] = {pt.targetPrc, pt.pRef,      pt.current,      pt.iExpected,
                                pt.pFromI,    pt.pFromIKPa, pt.reducedError, pt.uncertainty};
        c.reals(pointPrefix.extend(p, "point[", pt.index, "]"), values);
        continue;
      }
      const std::string_view q = pointPrefix.extend(p, "point[", pt.index);
      c.real(q, "target_prc", pt.targetPrc);
      c.real(q, "p_ref", pt.pRef);
      c.real(q, "current", pt.current);
      c.real(q, "i_expected", pt.iExpected);
      c.real(q, "p_from_i", pt.pFromI);
      c.real(q, "p_from_i_kpa", pt.pFromIKPa);
      c.real(q, "reduced_error", pt.reducedError);
      c.real(q, "uncertainty", pt.uncertainty);
    }
  }
  c.integer(run, "relays", static_cast<int64_t>(v.relays.size()));
  for (const RelayResult& x : v.relays) {
    const std::string_view p = prefix.set("relay[", x.channel, '.', x.relay);
    c.integer(p, "selected", x.selected);
    c.real(p, "setpoint_kpa", x.setpointKpa);
    c.real(p, "hysteresis_kpa", x.hysteresisKpa);
    c.integer(p, "state", x.state);
    c.real(p, "p_on_kpa", x.pOnKpa);
    c.real(p, "p_off_kpa", x.pOffKpa);
  }
}

template <class Sink>
void addAdjustment(Canon<Sink>& c, const Adjustment& a) {
  const std::string_view p = "adjustment.";
  c.integer(p, "at", a.atMs);
  c.integer(p, "utc_offset_min", a.utcOffsetMin);
  c.text(p, "workstation", a.workstation);
  c.integer(p, "channel", a.channel);
  c.text(p, "serial", a.serial);
  c.text(p, "device_name", a.deviceName);
  c.text(p, "action", adjustmentName(a.kind));
  c.text(p, "note", a.note);
}

template <class Sink>
void addEntry(Sink& sink, const EntryHeader& h, const RunView* run, const Adjustment* adjustment) {
  Canon<Sink> c(sink);
  c.integer("", "quarn-history-entry", h.hashFormat);
  const std::string_view e = "entry.";
  c.integer(e, "seq", h.seq);
  c.text(e, "kind", h.kind);
  if (h.refersTo)
    c.integer(e, "refers_to", *h.refersTo);
  else
    c.real(e, "refers_to", NAN);
  c.integer(e, "recorded_at", h.recordedAtMs);
  c.text(e, "workstation", h.workstation);
  c.text(e, "note", h.note);
  if (h.hashFormat >= 2) c.text(e, "operator", h.operatorName);
  if (run) addRun(c, *run, h.hashFormat);
  if (adjustment) addAdjustment(c, *adjustment);
}

struct TextSink {
  std::string out;
  void put(const char* p, std::size_t n) { out.append(p, n); }
};

// Gathers the small pieces into blocks before they go into the digest.
struct DigestSink {
  explicit DigestSink(Sha256& sha) : sha_(sha) {}
  void put(const char* p, std::size_t n) {
    if (used_ + n > sizeof buf_) {
      flush();
      if (n > sizeof buf_) {
        sha_.update(p, n);
        return;
      }
    }
    std::memcpy(buf_ + used_, p, n);
    used_ += n;
  }
  void flush() {
    sha_.update(buf_, used_);
    used_ = 0;
  }

 private:
  Sha256& sha_;
  char buf_[8192];
  std::size_t used_ = 0;
};

}  // namespace

std::string canonicalEntry(const EntryHeader& h, const RunRecord* run, const Adjustment* adjustment) {
  TextSink sink;
  const RunView view = run ? RunView::of(*run) : RunView{};
  addEntry(sink, h, run ? &view : nullptr, adjustment);
  return std::move(sink.out);
}

std::string canonicalOf(const EntryHeader& h, const RunView* run, const Adjustment* adjustment) {
  TextSink sink;
  addEntry(sink, h, run, adjustment);
  return std::move(sink.out);
}

std::string entryHash(const std::string& prevHash, const std::string& canonical) {
  Sha256 s;
  s.update(prevHash);
  s.update("\n");
  s.update(canonical);
  return toHex(s.finish());
}

void hashEntry(Sha256& sha, std::string_view prevHash, const EntryHeader& h, const RunView* run,
               const Adjustment* adjustment, char* out) {
  sha.reset();
  DigestSink sink(sha);
  sink.put(prevHash.data(), prevHash.size());
  sink.put("\n", 1);
  addEntry(sink, h, run, adjustment);
  sink.flush();
  toHex(sha.finish(), out);
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
