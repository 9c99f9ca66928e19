#include "canonical_decode.h"

#include <charconv>
#include <cstring>
#include <vector>

namespace quarn::history {

namespace {

// One line of the canonical text: its name and what follows the name's space (a text's bytes, or
// the values of a number line).
struct Line {
  std::string_view name;
  char type = 0;             // 'i', 'r', 'n', 't'; 'm' for a line of several numbers (a point)
  std::string_view payload;  // the text, or the integer's digits, or the 16 hexadecimal digits
  std::string_view values;   // a point line: "r… n r…"
};

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool done() const { return at_ >= text_.size(); }

  // The next line, or false when the text does not have the shape of one.
  bool next(Line& line) {
    const std::size_t space = text_.find(' ', at_);
    if (space == std::string_view::npos) return false;
    line = Line{};
    line.name = text_.substr(at_, space - at_);
    std::size_t p = space + 1;
    if (line.name.empty() || p >= text_.size()) return false;
    line.type = text_[p];
    if (line.type == 't') {
      const std::size_t colon = text_.find(':', p);
      if (colon == std::string_view::npos) return false;
      std::size_t n = 0;
      const char* first = text_.data() + p + 1;
      const char* last = text_.data() + colon;
      const auto parsed = std::from_chars(first, last, n);
      if (first == last || parsed.ptr != last || parsed.ec != std::errc()) return false;
      if (n >= text_.size() - colon - 1 || text_[colon + 1 + n] != '\n') return false;
      line.payload = text_.substr(colon + 1, n);
      at_ = colon + 1 + n + 1;
      return true;
    }
    const std::size_t nl = text_.find('\n', p);
    if (nl == std::string_view::npos) return false;
    const std::string_view rest = text_.substr(p, nl - p);
    at_ = nl + 1;
    if (rest.find(' ') != std::string_view::npos) {
      line.type = 'm';
      line.values = rest;
      return true;
    }
    line.payload = rest.substr(1);
    return line.type == 'i' || line.type == 'r' || line.type == 'n';
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

bool toInteger(std::string_view s, int64_t& out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A number written as the 16 hexadecimal digits of its double ('r'), or missing ('n').
bool toReal(char type, std::string_view hex, float& out) {
  if (type == 'n') {
    out = NAN;
    return hex.empty();
  }
  if (type != 'r' || hex.size() != 16) return false;
  uint64_t bits = 0;
  const auto r = std::from_chars(hex.data(), hex.data() + 16, bits, 16);
  if (r.ec != std::errc() || r.ptr != hex.data() + 16) return false;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  out = static_cast<float>(v);  // a double that is no float does not come back the same: refused
  return true;
}

// "[12]" at the start of `s` (after a name's head): the number and the rest after the bracket.
bool bracketed(std::string_view& s, int64_t& n) {
  const std::size_t close = s.find(']');
  if (close == std::string_view::npos || !toInteger(s.substr(0, close), n)) return false;
  s.remove_prefix(close + 1);
  return true;
}

bool startsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }

class Decoder {
 public:
  bool line(const Line& l) {
    std::string_view name = l.name;
    if (name == "quarn-history-entry") return integer(l, out_.header.hashFormat);
    if (startsWith(name, "entry.")) return entryField(name.substr(6), l);
    if (startsWith(name, "run.")) return runField(name.substr(4), l);
    if (startsWith(name, "field[")) {
      name.remove_prefix(6);
      int64_t idx = 0;
      if (!bracketed(name, idx)) return false;
      std::vector<std::pair<std::string, std::string>>& fields = run().protocol.fields;
      if (name == ".name") {
        fields.emplace_back(std::string(l.payload), std::string());
        return l.type == 't';
      }
      if (name == ".value" && !fields.empty()) {
        fields.back().second = l.payload;
        return l.type == 't';
      }
      return false;
    }
    if (startsWith(name, "channel[")) {
      name.remove_prefix(8);
      int64_t channel = 0;
      if (!bracketed(name, channel) || !startsWith(name, ".")) return false;
      name.remove_prefix(1);
      if (startsWith(name, "point[")) return pointField(static_cast<int>(channel), name.substr(6), l);
      return deviceField(static_cast<int>(channel), name, l);
    }
    if (startsWith(name, "relay[")) {
      name.remove_prefix(6);
      const std::size_t dot = name.find('.');
      int64_t channel = 0, relay = 0;
      if (dot == std::string_view::npos || !toInteger(name.substr(0, dot), channel)) return false;
      name.remove_prefix(dot + 1);
      if (!bracketed(name, relay) || !startsWith(name, ".")) return false;
      return relayField(static_cast<int>(channel), static_cast<int>(relay), name.substr(1), l);
    }
    if (startsWith(name, "adjustment.")) return adjustmentField(name.substr(11), l);
    return false;
  }

  DecodedEntry& entry() { return out_; }

 private:
  RunRecord& run() {
    if (!out_.run) out_.run.emplace();
    return *out_.run;
  }

  static bool integer(const Line& l, int64_t& out) { return l.type == 'i' && toInteger(l.payload, out); }
  template <class T>
  static bool integer(const Line& l, T& out) {
    int64_t v = 0;
    if (!integer(l, v)) return false;
    out = static_cast<T>(v);
    return true;
  }
  static bool flag(const Line& l, bool& out) {
    int64_t v = 0;
    if (!integer(l, v)) return false;
    out = v != 0;
    return true;
  }
  static bool real(const Line& l, float& out) { return toReal(l.type, l.payload, out); }
  static bool text(const Line& l, std::string& out) {
    if (l.type != 't') return false;
    out = l.payload;
    return true;
  }

  bool entryField(std::string_view f, const Line& l) {
    EntryHeader& h = out_.header;
    if (f == "seq") return integer(l, h.seq);
    if (f == "kind") return text(l, h.kind);
    if (f == "refers_to") {
      if (l.type == 'n') {
        h.refersTo.reset();
        return l.payload.empty();
      }
      int64_t v = 0;
      if (!integer(l, v)) return false;
      h.refersTo = v;
      return true;
    }
    if (f == "recorded_at") return integer(l, h.recordedAtMs);
    if (f == "workstation") return text(l, h.workstation);
    if (f == "note") return text(l, h.note);
    if (f == "operator") return text(l, h.operatorName);
    return false;
  }

  bool runField(std::string_view f, const Line& l) {
    RunRecord& r = run();
    std::string name;
    if (f == "started_at") return integer(l, r.startedAtMs);
    if (f == "finished_at") return integer(l, r.finishedAtMs);
    if (f == "utc_offset_min") return integer(l, r.utcOffsetMin);
    if (f == "workstation") return text(l, r.workstation);
    if (f == "kind") {
      if (!text(l, name)) return false;
      const std::optional<RunKind> k = kindFromName(name);
      if (k) r.kind = *k;
      return k.has_value();
    }
    if (f == "tag") {
      if (!text(l, name)) return false;
      const std::optional<RunTag> t = tagFromName(name);
      if (t) r.tag = *t;
      return t.has_value();
    }
    if (f == "calibrator_model") return text(l, r.calibrator.model);
    if (f == "calibrator_serial") return text(l, r.calibrator.serial);
    if (f == "calibrator_version") return text(l, r.calibrator.version);
    if (f == "reference_kind") {
      if (!text(l, name)) return false;
      if (name == referenceName(ReferenceKind::Dorv))
        r.reference.kind = ReferenceKind::Dorv;
      else if (name == referenceName(ReferenceKind::Calibrator))
        r.reference.kind = ReferenceKind::Calibrator;
      else
        return false;
      return true;
    }
    if (f == "reference_serial") return text(l, r.reference.serial);
    if (f == "reference_module") return integer(l, r.reference.module);
    if (f == "reference_upper_kpa") return real(l, r.reference.upperKpa);
    if (f == "temperature") return text(l, r.conditions.temperature);
    if (f == "humidity") return text(l, r.conditions.humidity);
    if (f == "pressure") return text(l, r.conditions.pressure);
    if (f == "method") return text(l, r.method);
    if (f == "point_set") return integer(l, r.pointSet);
    if (f == "point_count") return integer(l, r.pointCount);
    if (f == "hand_input") return flag(l, r.handInput);
    if (f == "hold_s") return integer(l, r.readiness.holdS);
    if (f == "band_prc") return real(l, r.readiness.bandPrc);
    if (f == "hard_mode") return flag(l, r.readiness.hardMode);
    if (f == "protocol_no") return text(l, r.protocol.number);
    if (f == "protocol_date") return text(l, r.protocol.date);
    if (f == "periodic") return flag(l, r.protocol.periodic);
    if (f == "decimals") return integer(l, r.protocol.decimals);
    if (f == "display_unit") return integer(l, r.protocol.displayUnit);
    if (f == "unit_factor") return real(l, r.protocol.unitFactor);
    if (f == "reference_list") return text(l, r.protocol.referenceList);
    // The counts are not read: the text written again from what was read carries them, and must
    // equal the text given.
    int64_t count = 0;
    if (f == "fields" || f == "devices" || f == "relays") return integer(l, count);
    return false;
  }

  DeviceResult* device(int channel) {
    std::vector<DeviceResult>& devices = run().devices;
    if (devices.empty() || devices.back().channel != channel) return nullptr;
    return &devices.back();
  }

  bool deviceField(int channel, std::string_view f, const Line& l) {
    if (f == "name") {
      DeviceResult d;
      d.channel = channel;
      if (!text(l, d.name)) return false;
      run().devices.push_back(std::move(d));
      return true;
    }
    DeviceResult* d = device(channel);
    if (!d) return false;
    std::string name;
    if (f == "model") return text(l, d->model);
    if (f == "serial") return text(l, d->serial);
    if (f == "inventory_no") return text(l, d->inventoryNo);
    if (f == "owner") return text(l, d->owner);
    if (f == "range_min") return real(l, d->rangeMin);
    if (f == "range_max") return real(l, d->rangeMax);
    if (f == "units") return text(l, d->units);
    if (f == "min_kpa") return real(l, d->minKpa);
    if (f == "max_kpa") return real(l, d->maxKpa);
    if (f == "to_kpa_mul") return real(l, d->toKpaMul);
    if (f == "signal_min") return real(l, d->signalMin);
    if (f == "signal_max") return real(l, d->signalMax);
    if (f == "signal_units") return text(l, d->signalUnits);
    if (f == "signal_type") return integer(l, d->signalType);
    if (f == "transfer_fn") return integer(l, d->transferFunction);
    if (f == "err_ok") return real(l, d->errOk);
    if (f == "vr_coeff") return real(l, d->vrCoeff);
    if (f == "method") return text(l, d->method);
    if (f == "verdict") {
      if (!text(l, name)) return false;
      const std::optional<Verdict> v = verdictFromName(name);
      if (v) d->verdict = *v;
      return v.has_value();
    }
    int64_t count = 0;
    if (f == "points") return integer(l, count);
    return false;
  }

  // "point[k]" with its eight values on the line (format 2), or "point[k].name" one value each
  // (format 1, the first of which starts the point).
  bool pointField(int channel, std::string_view rest, const Line& l) {
    DeviceResult* d = device(channel);
    int64_t index = 0;
    if (!d || !bracketed(rest, index)) return false;
    if (rest.empty()) {
      if (l.type != 'm') return false;
      PointResult p;
      p.index = static_cast<int>(index);
      // The line's order: target, reference, signal, expected signal, pressure from the signal in
      // the device unit and in kPa, reduced error, uncertainty.
      float* const order[] = {&p.targetPrc, &p.pRef,      &p.current,      &p.iExpected,
                              &p.pFromI,    &p.pFromIKPa, &p.reducedError, &p.uncertainty};
      std::string_view v = l.values;
      for (float* slot : order) {
        const std::size_t space = v.find(' ');
        const std::string_view token = v.substr(0, space);
        if (token.empty() || !toReal(token[0], token.substr(1), *slot)) return false;
        v = space == std::string_view::npos ? std::string_view() : v.substr(space + 1);
      }
      if (!v.empty()) return false;
      d->points.push_back(p);
      return true;
    }
    if (!startsWith(rest, ".")) return false;
    rest.remove_prefix(1);
    if (rest == "target_prc") {
      PointResult p;
      p.index = static_cast<int>(index);
      d->points.push_back(p);
    }
    if (d->points.empty() || d->points.back().index != index) return false;
    PointResult& p = d->points.back();
    if (rest == "target_prc") return real(l, p.targetPrc);
    if (rest == "p_ref") return real(l, p.pRef);
    if (rest == "current") return real(l, p.current);
    if (rest == "i_expected") return real(l, p.iExpected);
    if (rest == "p_from_i") return real(l, p.pFromI);
    if (rest == "p_from_i_kpa") return real(l, p.pFromIKPa);
    if (rest == "reduced_error") return real(l, p.reducedError);
    if (rest == "uncertainty") return real(l, p.uncertainty);
    return false;
  }

  bool relayField(int channel, int relay, std::string_view f, const Line& l) {
    std::vector<RelayResult>& relays = run().relays;
    if (f == "selected") {
      RelayResult x;
      x.channel = channel;
      x.relay = relay;
      if (!flag(l, x.selected)) return false;
      relays.push_back(x);
      return true;
    }
    if (relays.empty() || relays.back().channel != channel || relays.back().relay != relay) return false;
    RelayResult& x = relays.back();
    if (f == "setpoint_kpa") return real(l, x.setpointKpa);
    if (f == "hysteresis_kpa") return real(l, x.hysteresisKpa);
    if (f == "state") return integer(l, x.state);
    if (f == "p_on_kpa") return real(l, x.pOnKpa);
    if (f == "p_off_kpa") return real(l, x.pOffKpa);
    return false;
  }

  bool adjustmentField(std::string_view f, const Line& l) {
    if (!out_.adjustment) out_.adjustment.emplace();
    Adjustment& a = *out_.adjustment;
    std::string name;
    if (f == "at") return integer(l, a.atMs);
    if (f == "utc_offset_min") return integer(l, a.utcOffsetMin);
    if (f == "workstation") return text(l, a.workstation);
    if (f == "channel") return integer(l, a.channel);
    if (f == "serial") return text(l, a.serial);
    if (f == "device_name") return text(l, a.deviceName);
    if (f == "action") {
      if (!text(l, name)) return false;
      const std::optional<AdjustmentKind> k = adjustmentFromName(name);
      if (k) a.kind = *k;
      return k.has_value();
    }
    if (f == "note") return text(l, a.note);
    return false;
  }

  DecodedEntry out_;
};

Error unreadable(const std::string& why) {
  return Error{ErrorCode::Damaged, "содержимое записи не читается: " + why};
}

}  // namespace

Result<DecodedEntry> decodeCanonicalEntry(std::string_view canonical) {
  Reader reader(canonical);
  Decoder decoder;
  Line line;
  while (!reader.done()) {
    if (!reader.next(line)) return unreadable("строка без имени, типа или конца");
    if (!decoder.line(line)) return unreadable("поле «" + std::string(line.name) + "»");
  }
  DecodedEntry& e = decoder.entry();
  const std::string& kind = e.header.kind;
  const bool runLike = kind == "run" || kind == "correction";
  if (runLike != e.run.has_value() || (kind == "adjustment") != e.adjustment.has_value() ||
      (!runLike && kind != "adjustment" && kind != "cancellation"))
    return unreadable("вид записи «" + kind + "» не совпадает с её полями");
  // What was read, written out again, must be the text given.
  if (canonicalEntry(e.header, e.run ? &*e.run : nullptr, e.adjustment ? &*e.adjustment : nullptr) !=
      canonical)
    return unreadable("значения не в том виде, в каком программа их записывает");
  return std::move(e);
}

}  // namespace quarn::history
