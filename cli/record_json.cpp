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
  j["sensorState"] = d.sensorState;
  j["inputOn"] = d.inputOn;
  j["ventOn"] = d.ventOn;
  j["kestoDataValid"] = d.kestoDataValid;
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
  return Json{{"valid", s.valid},
              {"refSource", s.refSource},
              {"subRange", s.subRange},
              {"pressType", s.pressType},
              {"units", s.units},
              {"decimals", s.decimals},
              {"averaging", s.averaging},
              {"readyBand1", number(s.readyBand1)},
              {"regMode", s.regMode},
              {"autoRange", s.autoRange},
              {"pTargetStored", number(s.pTargetStored)},
              {"readyBand2", number(s.readyBand2)},
              {"unitFactor", number(s.unitFactor)}};
}

Json calInfoJson(const TDev& d) {
  const TCalInfo& c = d.calInfo;
  return Json{{"serial", text(c.serial)},         {"madeDate", text(c.madeDate)},
              {"pLimitMin", number(c.pLimitMin)}, {"pLimitMax", number(c.pLimitMax)},
              {"span", number(c.span)},           {"version", c.version},
              {"modelName", text(c.modelName)},   {"modelNo", c.modelNo}};
}

}  // namespace cli
