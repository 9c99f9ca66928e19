#include "run_history.h"

#ifdef QUARN_HISTORY_SERVER
#include "HistoryServer.h"
#endif

#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "HistoryAnchors.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "session.h"

namespace cli {

namespace history = quarn::history;

bool takeHistoryArg(const std::vector<std::string>& args, size_t& i, HistoryArgs& h, bool withTag) {
  const std::string& a = args[i];
  if (a == "--history") {
    h.path = takeValue(args, i);
    if (h.path.empty()) throw Failure{kFailure, "--history takes a file"};
    return true;
  }
  if (withTag && a == "--tag") {
    const std::string v = takeValue(args, i);
    if (v == "auto")
      h.tag = TagChoice::Auto;
    else if (v == "as-found")
      h.tag = TagChoice::AsFound;
    else if (v == "as-left")
      h.tag = TagChoice::AsLeft;
    else
      throw Failure{kFailure, "--tag takes auto, as-found or as-left"};
    return true;
  }
  return false;
}

std::string historyFile(const HistoryArgs& h, bool makeFolder) {
  if (!h.path.empty()) return h.path;
  const std::string file = history::defaultHistoryPath();
  if (file.empty())
    throw Failure{
        kFailure,
        "no place for the run history (neither XDG_DATA_HOME nor HOME is set): give --history FILE"};
  // The user's data folder is ours to make; a folder given with --history must exist.
  if (makeFolder) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
  }
  return file;
}

history::OpenOptions historyOptions(const std::string& file, bool readOnly) {
  history::OpenOptions options;
  options.readOnly = readOnly;
  options.anchorFolder = history::defaultAnchorFolder();
#ifdef QUARN_HISTORY_SERVER
  // The heads a lab server acknowledged: the history must still hold them.
  options.anchors = history::serverAnchorsOf(options.anchorFolder, file);
#endif
  const std::string standard = history::defaultHistoryPath();
  options.keepHead = !readOnly && !standard.empty() &&
                     quarn::history::anchorPathOf(file) == quarn::history::anchorPathOf(standard);
  return options;
}

void RunHistory::prepare() {
  try {
    file_ = historyFile(args_, true);
  } catch (const Failure& f) {
    std::fprintf(stderr, "quarn-cli: %s; the run goes on and its results will be printed\n",
                 f.reason.c_str());
    return;
  }
  auto opened = history::HistoryStore::open(file_, historyOptions(file_, false));
  if (!opened) {
    std::fprintf(
        stderr,
        "quarn-cli: the run history cannot be used: %s The run goes on; its results will be printed.\n",
        opened.error().message.c_str());
    return;
  }
  store_ = std::move(opened.value());
  if (store_->readOnly())
    std::fprintf(
        stderr,
        "quarn-cli: the run history %s cannot be written (read-only); the run goes on, its results will be "
        "printed but not stored\n",
        file_.c_str());
}

bool RunHistory::open(std::string& error) {
  if (store_) return true;
  try {
    file_ = historyFile(args_, true);
    auto opened = history::HistoryStore::open(file_, historyOptions(file_, false));
    if (opened)
      store_ = std::move(opened.value());
    else
      error = opened.error().message;
  } catch (const Failure& f) {
    error = f.reason;
  }
  return store_ != nullptr;
}

Json RunHistory::storeAdjustment(const history::Adjustment& adjustment, std::string& error) {
  error.clear();
  if (open(error)) {
    const auto id = store_->addAdjustment(adjustment);
    if (id) return Json{{"entry", id.value()}};
    error = id.error().message;
  }
  return Json{{"error", error}};
}

Json RunHistory::store(history::RunRecord run, std::string& error) {
  error.clear();
  footer_ = history::protocolFooterUnstored();
  if (open(error)) {
    if (args_.tag == TagChoice::AsLeft) {
      run.tag = history::RunTag::AsLeft;
    } else if (args_.tag == TagChoice::AsFound) {
      run.tag = history::RunTag::AsFound;
    } else if (const auto offer = store_->offerTag(run); offer && offer->tag == history::RunTag::AsLeft) {
      // The same devices were adjusted (or calibrated) since their as-found run today.
      run.tag = history::RunTag::AsLeft;
      std::fprintf(stderr, "quarn-cli: stored as as-left: %s\n", offer->reason.c_str());
    }
    const auto id = store_->addRun(run);
    if (id) {
      const std::string hash = store_->lastWrittenHash();
      footer_ = history::protocolFooter(id.value(), hash);
      std::fprintf(stderr, "run %lld stored in the history %s (%s)\n", static_cast<long long>(id.value()),
                   file_.c_str(), history::tagName(run.tag));
      return Json{{"file", file_}, {"run", id.value()}, {"tag", history::tagName(run.tag)}, {"hash", hash}};
    }
    error = id.error().message;
  }
  return Json{{"file", file_.empty() ? Json(nullptr) : Json(file_)}, {"error", error}};
}

// ---- JSON views ----

std::string localTimeText(int64_t msUtc, int utcOffsetMin) {
  // The moment as the workstation's clock showed it: UTC shifted by the offset stored with it.
  const int64_t seconds = msUtc / 1000 - (msUtc % 1000 < 0 ? 1 : 0) + int64_t{utcOffsetMin} * 60;
  const time_t t = static_cast<time_t>(seconds);
  tm parts{};
  if (!gmtime_r(&t, &parts)) return {};
  const int offset = utcOffsetMin < 0 ? -utcOffsetMin : utcOffsetMin;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                utcOffsetMin < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

namespace {

Json deviceSummaryJson(const history::DeviceSummary& d) {
  return Json{{"channel", d.channel},
              {"name", d.name},
              {"model", d.model},
              {"serial", d.serial},
              {"verdict", history::verdictName(d.verdict)}};
}

Json pointJson(const history::PointResult& p) {
  return Json{{"index", p.index},
              {"targetPrc", number(p.targetPrc)},
              {"pRef", number(p.pRef)},
              {"current", number(p.current)},
              {"iExpected", number(p.iExpected)},
              {"pFromI", number(p.pFromI)},
              {"pFromIKPa", number(p.pFromIKPa)},
              {"reducedError", number(p.reducedError)},
              {"uncertainty", number(p.uncertainty)}};
}

Json deviceJson(const history::DeviceResult& d, bool withPoints) {
  Json j{{"channel", d.channel},
         {"name", d.name},
         {"model", d.model},
         {"serial", d.serial},
         {"inventoryNo", d.inventoryNo},
         {"owner", d.owner},
         {"rangeMin", number(d.rangeMin)},
         {"rangeMax", number(d.rangeMax)},
         {"units", d.units},
         {"minKpa", number(d.minKpa)},
         {"maxKpa", number(d.maxKpa)},
         {"toKpaMul", number(d.toKpaMul)},
         {"signalMin", number(d.signalMin)},
         {"signalMax", number(d.signalMax)},
         {"signalUnits", d.signalUnits},
         {"signalType", d.signalType},
         {"transferFunction", d.transferFunction},
         {"errOk", number(d.errOk)},
         {"vrCoeff", number(d.vrCoeff)},
         {"method", d.method},
         {"verdict", history::verdictName(d.verdict)}};
  if (withPoints) {
    Json points = Json::array();
    for (const history::PointResult& p : d.points) points.push_back(pointJson(p));
    j["points"] = points;
  }
  return j;
}

Json relayJson(const history::RelayResult& r) {
  return Json{{"channel", r.channel},
              {"relay", r.relay},
              {"selected", r.selected},
              {"setpointKpa", number(r.setpointKpa)},
              {"hysteresisKpa", number(r.hysteresisKpa)},
              {"state", r.state},
              {"pOnKpa", number(r.pOnKpa)},
              {"pOffKpa", number(r.pOffKpa)}};
}

// The run of a pair: when, how tagged, and the device of the serial with its verdict.
Json pairSideJson(const std::optional<history::StoredRun>& run, const std::string& serial) {
  if (!run) return nullptr;
  const history::RunRecord& r = run->record;
  Json device = nullptr;
  for (const history::DeviceResult& d : r.devices)
    if (d.serial == serial) device = deviceJson(d, false);
  return Json{{"run", run->runId},
              {"kind", history::kindName(r.kind)},
              {"tag", history::tagName(r.tag)},
              {"startedAt", localTimeText(r.startedAtMs, r.utcOffsetMin)},
              {"workstation", r.workstation},
              {"device", device}};
}

}  // namespace

Json runSummaryJson(const history::RunSummary& run) {
  Json devices = Json::array();
  for (const history::DeviceSummary& d : run.devices) devices.push_back(deviceSummaryJson(d));
  return Json{{"run", run.runId},
              {"content", run.contentId},
              {"cancelled", run.cancelled},
              {"kind", history::kindName(run.kind)},
              {"tag", history::tagName(run.tag)},
              {"startedAt", localTimeText(run.startedAtMs, run.utcOffsetMin)},
              {"finishedAt", localTimeText(run.finishedAtMs, run.utcOffsetMin)},
              {"startedAtMs", run.startedAtMs},
              {"workstation", run.workstation},
              {"calibratorSerial", run.calibratorSerial},
              {"devices", devices}};
}

namespace {

// A JSON string as nlohmann's dump writes it (UTF-8 kept; quote, backslash and control characters
// escaped; a byte that is not valid UTF-8 replaced by U+FFFD).
void appendJsonString(std::string_view s, std::string& out) {
  out += '"';
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    // The length of a well-formed sequence starting here, or 0.
    std::size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF)
      n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
      n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
      n = 4, cp = c & 0x07;
    bool ok = n > 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      ok = (d & 0xC0) == 0x80;
      cp = cp << 6 | (d & 0x3F);
    }
    ok = ok && !(n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
         !(n == 4 && (cp < 0x10000 || cp > 0x10FFFF));
    if (ok) {
      out.append(s.data() + i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  out += '"';
}

void appendKey(const char* key, std::string& out) {
  out += '"';
  out += key;
  out += "\":";
}

}  // namespace

void appendRunSummaryLine(const history::RunSummary& run, std::string& out) {
  char number[24];
  auto integer = [&](int64_t v) { out.append(number, std::to_chars(number, number + sizeof number, v).ptr); };
  out += '{';
  appendKey("run", out);
  integer(run.runId);
  out += ',';
  appendKey("content", out);
  integer(run.contentId);
  out += ',';
  appendKey("cancelled", out);
  out += run.cancelled ? "true" : "false";
  out += ',';
  appendKey("kind", out);
  appendJsonString(history::kindName(run.kind), out);
  out += ',';
  appendKey("tag", out);
  appendJsonString(history::tagName(run.tag), out);
  out += ',';
  appendKey("startedAt", out);
  appendJsonString(localTimeText(run.startedAtMs, run.utcOffsetMin), out);
  out += ',';
  appendKey("finishedAt", out);
  appendJsonString(localTimeText(run.finishedAtMs, run.utcOffsetMin), out);
  out += ',';
  appendKey("startedAtMs", out);
  integer(run.startedAtMs);
  out += ',';
  appendKey("workstation", out);
  appendJsonString(run.workstation, out);
  out += ',';
  appendKey("calibratorSerial", out);
  appendJsonString(run.calibratorSerial, out);
  out += ',';
  appendKey("devices", out);
  out += '[';
  for (std::size_t i = 0; i < run.devices.size(); ++i) {
    const history::DeviceSummary& d = run.devices[i];
    if (i) out += ',';
    out += '{';
    appendKey("channel", out);
    integer(d.channel);
    out += ',';
    appendKey("name", out);
    appendJsonString(d.name, out);
    out += ',';
    appendKey("model", out);
    appendJsonString(d.model, out);
    out += ',';
    appendKey("serial", out);
    appendJsonString(d.serial, out);
    out += ',';
    appendKey("verdict", out);
    appendJsonString(history::verdictName(d.verdict), out);
    out += '}';
  }
  out += "]}\n";
}

Json runRecordJson(const history::RunRecord& r) {
  Json fields = Json::array();
  for (const auto& [name, value] : r.protocol.fields)
    fields.push_back(Json{{"name", name}, {"value", value}});
  Json devices = Json::array();
  for (const history::DeviceResult& d : r.devices) devices.push_back(deviceJson(d, true));
  Json relays = Json::array();
  for (const history::RelayResult& x : r.relays) relays.push_back(relayJson(x));
  return Json{{"kind", history::kindName(r.kind)},
              {"tag", history::tagName(r.tag)},
              {"startedAt", localTimeText(r.startedAtMs, r.utcOffsetMin)},
              {"finishedAt", localTimeText(r.finishedAtMs, r.utcOffsetMin)},
              {"startedAtMs", r.startedAtMs},
              {"finishedAtMs", r.finishedAtMs},
              {"utcOffsetMin", r.utcOffsetMin},
              {"workstation", r.workstation},
              {"calibrator", Json{{"model", r.calibrator.model},
                                  {"serial", r.calibrator.serial},
                                  {"version", r.calibrator.version}}},
              {"reference", Json{{"kind", history::referenceName(r.reference.kind)},
                                 {"serial", r.reference.serial},
                                 {"module", r.reference.module},
                                 {"upperKpa", number(r.reference.upperKpa)}}},
              {"conditions", Json{{"temperature", r.conditions.temperature},
                                  {"humidity", r.conditions.humidity},
                                  {"pressure", r.conditions.pressure}}},
              {"method", r.method},
              {"pointSet", r.pointSet},
              {"pointCount", r.pointCount},
              {"handInput", r.handInput},
              {"readiness", Json{{"holdS", r.readiness.holdS},
                                 {"bandPrc", number(r.readiness.bandPrc)},
                                 {"hardMode", r.readiness.hardMode}}},
              {"protocol", Json{{"number", r.protocol.number},
                                {"date", r.protocol.date},
                                {"periodic", r.protocol.periodic},
                                {"decimals", r.protocol.decimals},
                                {"displayUnit", r.protocol.displayUnit},
                                {"unitFactor", number(r.protocol.unitFactor)},
                                {"referenceList", r.protocol.referenceList},
                                {"fields", fields}}},
              {"devices", devices},
              {"relays", relays}};
}

Json storedRunJson(const history::StoredRun& run) {
  return Json{{"run", run.runId},
              {"content", run.contentId},
              {"corrections", run.corrections},
              {"cancelled", run.cancelled},
              {"cancelReason", run.cancelled ? Json(run.cancelReason) : Json(nullptr)},
              {"recordedAtMs", run.recordedAtMs},
              {"hash", run.hash},
              {"record", runRecordJson(run.record)}};
}

Json pairJson(const history::RunPair& pair) {
  Json points = Json::array();
  for (const history::PointChange& p : pair.points)
    points.push_back(Json{{"targetPrc", number(p.targetPrc)},
                          {"asFound", p.asFound ? pointJson(*p.asFound) : Json(nullptr)},
                          {"asLeft", p.asLeft ? pointJson(*p.asLeft) : Json(nullptr)},
                          {"errorChange", number(p.errorChange)}});
  Json adjustments = Json::array();
  for (const history::Adjustment& a : pair.adjustments)
    adjustments.push_back(Json{{"at", localTimeText(a.atMs, a.utcOffsetMin)},
                               {"channel", a.channel},
                               {"action", history::adjustmentName(a.kind)},
                               {"note", a.note}});
  return Json{{"serial", pair.serial},
              {"asFound", pairSideJson(pair.asFound, pair.serial)},
              {"asLeft", pairSideJson(pair.asLeft, pair.serial)},
              {"points", points},
              {"adjustments", adjustments}};
}

}  // namespace cli
