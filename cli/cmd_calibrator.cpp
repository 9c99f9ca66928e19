// Commands for the calibrator itself: probe, measure, control, settings.
#include <cmath>
#include <cstdio>

#include "TDevValues.h"
#include "quarn/cp1251.h"
#include "session.h"

namespace cli {

namespace {

void refuseExtra(const std::vector<std::string>& args, size_t i) {
  if (i < args.size()) throw Failure{kFailure, "unknown argument: " + args[i]};
}

// An answer-code text of the calibrator (Windows-1251, words parted by TABs) for a line of stderr.
std::string answerText(const char* cp1251) {
  std::string t = cp1251 ? quarn::text::cp1251ToUtf8(cp1251) : std::string();
  for (char& c : t)
    if (c == '\t') c = ' ';
  return t.empty() ? "(no text)" : t;
}

uint32_t onOff(const std::string& v, const std::string& what) {
  if (v == "on" || v == "1") return 1;
  if (v == "off" || v == "0") return 0;
  throw Failure{kFailure, what + " takes on or off, not " + v};
}

}  // namespace

int cmdProbe(Session& s, const std::vector<std::string>& args) {
  refuseExtra(args, 0);
  s.open();
  s.connect();
  const TDev& d = s.host.dev();
  Json j{{"linked", val(d.linked)}, {"linkState", val(d.linkState)}, {"devTypeId", val(d.devTypeId)},
         {"portNo", val(d.portNo)}, {"kestoOk", val(d.kestoOk)},     {"calInfo", calInfoJson(d)}};
  Json st = settingsJson(d);
  j["settings"] =
      Json{{"refSource", st["refSource"]},   {"subRange", st["subRange"]},    {"pressType", st["pressType"]},
           {"units", st["units"]},           {"decimals", st["decimals"]},    {"averaging", st["averaging"]},
           {"readyBand1", st["readyBand1"]}, {"unitFactor", st["unitFactor"]}};
  emit(j);
  return kOk;
}

int cmdMeasure(Session& s, const std::vector<std::string>& args) {
  long cycles = 5;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--cycles") {
      const double v = parseNumber(takeValue(args, i), "--cycles");
      if (v < 1 || v > 1e9 || v != std::floor(v))
        throw Failure{kFailure, "--cycles takes a whole number >= 1"};
      cycles = static_cast<long>(v);
    } else {
      refuseExtra(args, i);
    }
  }
  s.open();
  const auto cycleReadings = s.host.library().symbol<uint32_t (*)()>("quarn_cycle_readings");
  const auto answerError = s.host.library().symbol<int32_t (*)(const char**)>("quarn_uail_answer_error");
  if (!cycleReadings)
    throw Failure{kFailure, "the library cannot say what a cycle read (quarn_cycle_readings)"};

  // One object per measuring cycle, written when the cycle has ended (measuring answer, control, Kesto
  // reading): the record as the cycle's last notification left it, with what the cycle read itself.
  long printed = 0;
  long cycle = 0;        // cycles whose measuring answer has come
  bool open = false;     // a cycle has begun and is not written yet
  uint32_t started = 0;  // its start (measTimeStart): the next cycle's start ends it
  Json pending;
  const auto write = [&] {
    if (open && printed < cycles) {
      emit(pending);
      ++printed;
    }
    open = false;
  };
  s.extraListeners.push_back([&](const TDev& d) {
    if (d.event == EVENT_MEASUREMENT) {
      write();
      open = true;
      started = d.measTimeStart;
      ++cycle;
      const char* why = nullptr;
      const int32_t code = answerError ? answerError(&why) : 0;
      // 51 is a damaged frame, which the cycle repeats; here an answer came, with an error block.
      if (code != 0 && code != 51)
        std::fprintf(
            stderr, "quarn-cli: cycle %ld: the calibrator answered the measuring request with error %d: %s\n",
            cycle, static_cast<int>(code), answerText(why).c_str());
    }
    if (!open) return;
    // A link lost in the cycle ends it with what it had read; the record now holds the loss's blanks.
    if (d.linked == 0) {
      write();
      return;
    }
    pending = measurementJson(d, cycleReadings());
  });
  s.connect();
  // Each cycle takes well under a second: the timeout is the longest wait for the next one, so a
  // line that dies is noticed after one timeout however many cycles were asked for.
  while (printed < cycles) {
    const long before = printed;
    const bool next = s.host.runUntil(
        [&] {
          if (open && s.host.dev().measTimeStart != started) write();
          return printed > before;
        },
        s.timeoutMs());
    if (next) continue;
    if (Host::stopRequested()) throw Failure{kFailure, "interrupted"};
    char secs[32];
    std::snprintf(secs, sizeof secs, "%g", s.opts.timeoutS);
    throw Failure{kNoCalibrator, "the link to the calibrator was lost: no measuring cycle within " +
                                     std::string(secs) + " s (after " + std::to_string(printed) + " of " +
                                     std::to_string(cycles) + " cycles)"};
  }
  return kOk;
}

int cmdControl(Session& s, const std::vector<std::string>& args) {
  s.open();
  s.connect();
  TDev& d = s.host.dev();
  bool any = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--input") {
      d.inputOn = onOff(takeValue(args, i), a);
    } else if (a == "--vent") {
      d.ventOn = onOff(takeValue(args, i), a);
    } else if (a == "--mode") {
      const double v = parseNumber(takeValue(args, i), a);
      if (v < 0 || v > 16 || v != std::floor(v)) throw Failure{kFailure, "--mode takes 0..16"};
      d.controlMode = static_cast<uint32_t>(v);
    } else if (a == "--setpoint") {
      d.pTarget = static_cast<float>(parseNumber(takeValue(args, i), a));
    } else {
      refuseExtra(args, i);
    }
    any = true;
  }
  if (!any) throw Failure{kFailure, "control needs --input, --vent, --mode or --setpoint"};
  if (!s.runTask(TASK_CONTROL)) throw Failure{kNoCalibrator, "control did not finish in time"};
  // One measuring cycle later the record shows what the calibrator reports.
  const uint64_t seen = s.measureCount;
  s.host.runUntil([&] { return s.measureCount > seen; }, s.timeoutMs());
  emit(Json{{"ok", s.lastEndErr == 0},
            {"errCode", val(s.lastEndErr)},
            {"errText", val(s.lastEndText)},
            {"inputOn", val(d.inputOn)},
            {"ventOn", val(d.ventOn)},
            {"controlMode", val(d.controlMode)},
            {"pTarget", number(d.pTarget)},
            {"pRef", number(d.pRef)}});
  return s.lastEndErr == 0 ? kOk : kFailure;
}

int cmdSettings(Session& s, const std::vector<std::string>& args) {
  s.open();
  s.connect();
  TDev& d = s.host.dev();
  if (!s.runTask(TASK_SETTINGS_READ)) throw Failure{kNoCalibrator, "settings read did not finish in time"};
  if (!d.settings.valid) throw Failure{kFailure, "the calibrator's settings could not be read"};

  bool write = false;
  TSettings& st = d.settings;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto intValue = [&](int32_t lo, int32_t hi) {
      const double v = parseNumber(takeValue(args, i), a);
      if (v < lo || v > hi || v != std::floor(v))
        throw Failure{kFailure, a + " takes " + std::to_string(lo) + ".." + std::to_string(hi)};
      write = true;
      return static_cast<int32_t>(v);
    };
    if (a == "--ref-source")
      st.refSource = intValue(REF_SOURCE_AUTO, REF_SOURCE_MANUAL);
    else if (a == "--sub-range")
      st.subRange = intValue(0, 99);
    else if (a == "--press-type")
      st.pressType = intValue(0, 2);
    else if (a == "--units")
      st.units = intValue(0, 7);
    else if (a == "--decimals")
      st.decimals = intValue(0, 5);
    else if (a == "--averaging")
      st.averaging = intValue(1, 29);
    else if (a == "--reg-mode")
      st.regMode = intValue(0, 2);
    else if (a == "--auto-range")
      st.autoRange = intValue(0, 1);
    else if (a == "--ready-band") {
      st.readyBand1 = static_cast<float>(parseNumber(takeValue(args, i), a));
      write = true;
    } else if (a == "--ready-band2") {
      st.readyBand2 = static_cast<float>(parseNumber(takeValue(args, i), a));
      write = true;
    } else if (a == "--setpoint-stored") {
      st.pTargetStored = static_cast<float>(parseNumber(takeValue(args, i), a));
      write = true;
    } else {
      refuseExtra(args, i);
    }
  }
  if (write) {
    if (!s.runTask(TASK_SETTINGS_WRITE))
      throw Failure{kNoCalibrator, "settings write did not finish in time"};
    if (s.lastEndErr != 0) throw Failure{kFailure, "settings write failed: " + s.lastEndText};
    if (!s.runTask(TASK_SETTINGS_READ))
      throw Failure{kNoCalibrator, "settings read-back did not finish in time"};
  }
  Json j{{"settings", settingsJson(d)}, {"calInfo", calInfoJson(d)}, {"written", write}};
  emit(j);
  return kOk;
}

}  // namespace cli
