// JSON views of the shared record.
#include "session.h"

namespace cli {

Json measurementJson(const TDev& d, uint32_t readings) {
  // The record keeps older values where a cycle read none: those are null here, never an old or a
  // zero value. An error is only this cycle's when both its pressures are.
  const bool reference = (readings & QUARN_CYCLE_REFERENCE) != 0;
  const bool kesto = (readings & QUARN_CYCLE_KESTO) != 0;
  const bool channels = (readings & QUARN_CYCLE_CHANNELS) != 0;
  const auto read = [](bool fresh, float v) { return fresh ? number(v) : Json(nullptr); };
  Json j;
  j["pRef"] = read(reference, d.pRef);
  j["pRefUnits"] = read(reference, d.pRefUnits);
  j["pRefText"] = text(d.pRefText);
  j["baroText"] = text(d.baroText);
  j["speedText"] = text(d.speedText);
  j["sensorState"] = val(d.sensorState);
  j["inputOn"] = val(d.inputOn);
  j["ventOn"] = val(d.ventOn);
  j["kestoDataValid"] = val(d.kestoDataValid);
  Json currents = Json::array();
  for (float c : d.kestoCurrent) currents.push_back(read(kesto, c));
  j["kestoCurrent"] = currents;
  Json ch = Json::array();
  for (const TMeasCh& m : d.ch) {
    ch.push_back({{"current", read(channels, m.current)},
                  {"pFromI", read(channels, m.pFromI)},
                  {"pFromIKPa", read(channels, m.pFromIKPa)},
                  {"reducedError", read(channels && reference, m.reducedError)}});
  }
  j["ch"] = ch;
  return j;
}

Json settingsJson(const TDev& d) {
  const TSettings& s = d.settings;
  return Json{{"valid", val(s.valid)},
              {"refSource", val(s.refSource)},
              {"subRange", val(s.subRange)},
              {"pressType", val(s.pressType)},
              {"units", val(s.units)},
              {"decimals", val(s.decimals)},
              {"averaging", val(s.averaging)},
              {"readyBand1", number(s.readyBand1)},
              {"regMode", val(s.regMode)},
              {"autoRange", val(s.autoRange)},
              {"pTargetStored", number(s.pTargetStored)},
              {"readyBand2", number(s.readyBand2)},
              {"unitFactor", number(s.unitFactor)}};
}

Json calInfoJson(const TDev& d) {
  const TCalInfo& c = d.calInfo;
  return Json{{"serial", text(c.serial)},         {"madeDate", text(c.madeDate)},
              {"pLimitMin", number(c.pLimitMin)}, {"pLimitMax", number(c.pLimitMax)},
              {"span", number(c.span)},           {"version", val(c.version)},
              {"modelName", text(c.modelName)},   {"modelNo", val(c.modelNo)}};
}

}  // namespace cli
