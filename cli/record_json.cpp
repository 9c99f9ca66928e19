// JSON views of the shared record.
#include "session.h"

namespace cli {

Json measurementJson(const TDev& d) {
  Json j;
  j["pRef"] = number(d.pRef);
  j["pRefUnits"] = number(d.pRefUnits);
  j["pRefText"] = text(d.pRefText);
  j["baroText"] = text(d.baroText);
  j["speedText"] = text(d.speedText);
  j["sensorState"] = val(d.sensorState);
  j["inputOn"] = val(d.inputOn);
  j["ventOn"] = val(d.ventOn);
  j["kestoDataValid"] = val(d.kestoDataValid);
  Json currents = Json::array();
  for (float c : d.kestoCurrent) currents.push_back(number(c));
  j["kestoCurrent"] = currents;
  Json ch = Json::array();
  for (const TMeasCh& m : d.ch) {
    ch.push_back({{"current", number(m.current)},
                  {"pFromI", number(m.pFromI)},
                  {"pFromIKPa", number(m.pFromIKPa)},
                  {"reducedError", number(m.reducedError)}});
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
