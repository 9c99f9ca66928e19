// Finding and connecting the calibrator: open the ports, send the identification request to all of
// them, take the first port whose answer names the wanted model, switch the calibrator to remote
// operation, read its settings and set up its Kesto module. Also the two ways the link goes down.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/procedure_state.h"
#include "calibrator/uail_link.h"
#include "calibrator/valve_state.h"

using namespace quarn::cal;

namespace {

constexpr uint32_t kSearchBaud = 9600;
constexpr uint8_t kRqRemote = 8;

// Device-type numbers the identification answer must carry for the wanted model.
bool acceptedType(int typeId) {
  if (isQuarn) return typeId == 105 || typeId == 106;
  if (isBrenk) return typeId == 84 || typeId == 85;
  return false;
}

// Values of a link that is gone: no pressure, no currents, no setpoint.
void markValuesMissing() {
  for (float& c : Dev.kestoCurrent) c = NAN;
  Dev.pTarget = NAN;
  Dev.pRef = NAN;
  Dev.pRefUnits = NAN;
  // The texts must not go on showing the last readings of a calibrator that is gone.
  copyText(Dev.pRefText, kNoValueText);
  copyText(Dev.baroText, kNoValueText);
  copyText(Dev.speedText, kNoValueText);
  for (TMeasCh& m : Dev.ch) m.current = m.pFromI = m.pFromIKPa = m.reducedError = NAN;
}

void linkDown() {
  stopRunOnLostLink();
  if (Dev.linked == 1) Dev.event = 1;
  Dev.linked = 0;
  Dev.linkState = 0;
}

void resetHartRecords() {
  for (THartDev& h : Dev.hart) {
    std::memset(&h, 0, sizeof h);
    h.size = THARTDEV_SIZE;
    h.endMark = THARTDEV_END_MARK;
    h.outputType = 1;
  }
  for (THartChk& c : Dev.hartChk) {
    for (float& v : c.meas) v = NAN;
    for (float& v : c.dev) v = NAN;
  }
}

bool portNumberInRange(uint32_t n) { return n >= RS_PORT_FIRST && n <= RS_PORT_LAST; }

}  // namespace

extern "C" {

QUARN_API int32_t Connect(void) {
  Dev.linkState = 0;
  Dev.linked = 0;
  // Exactly one model flag: a host that switches the model between two connections must not end up
  // with both set, which would refuse every calibrator.
  isQuarn = Dev.model == 1 ? 1 : 0;
  isBrenk = Dev.model == 0 ? 1 : 0;
  pRS = &rs;
  ClosePorts(-1);
  Update();

  bool anyOpen = false;
  if (Dev.portNo != 0) {
    if (portNumberInRange(Dev.portNo)) {
      rs.hPort[Dev.portNo] = OpenPortAsync(static_cast<int32_t>(Dev.portNo), kSearchBaud, RS_PARITY_NONE);
      anyOpen = quarn_rs_handle_valid(rs.hPort[Dev.portNo]) != 0;
    }
  } else {
    anyOpen = ScanOpenPorts(rs.hPort, kSearchBaud) > 0;
  }
  if (anyOpen)
    next(Connect_2_AllTxRqType, 200);
  else
    next(Connect_NotFound, 100);
  return 0;
}

QUARN_API int32_t Connect_2_AllTxRqType(void) {
  const char* frame = Uail_make_RAW("1;0;");
  if (frame) ScanTxPorts(frame, rs.hPort);
  next(Connect_2_AllRxRqType, 200);
  return 0;
}

QUARN_API int32_t Connect_2_AllRxRqType(void) {
  for (int32_t port = RS_PORT_FIRST; port <= RS_PORT_LAST; ++port) {
    const uint32_t h = rs.hPort[port];
    if (!quarn_rs_handle_valid(h)) continue;
    if (ReadPortAsync(h, rs.rxBuf, RS_RX_BUF_SIZE) <= 0) continue;
    const char* start = std::strchr(reinterpret_cast<const char*>(rs.rxBuf), '!');
    int typeId = 0;
    if (!start || std::sscanf(start, "!1;%d;", &typeId) != 1) continue;
    if (!acceptedType(typeId)) continue;

    Dev.portNo = static_cast<uint32_t>(port);
    address(kAddrCalibrator);
    Dev.devTypeId = static_cast<uint32_t>(typeId);
    rs.hCom = h;
    sendInt(kRqRemote, 1);
    ClosePorts(port);
    next(Connect_Found, 600);
    return 0;
  }
  ClosePorts(-1);
  next(Connect, 5);
  return 0;
}

QUARN_API int32_t Connect_Found(void) {
  const Answer a = takeAnswer();
  if (!a.complete) {
    next(Connect_NotFound);
    return 0;
  }
  if (Dev.linked == 0) Dev.event = 1;
  Dev.linked = 1;
  Dev.linkState = 2;
  if (portNumberInRange(Dev.portNo)) rs.hCom = rs.hPort[Dev.portNo];
  ClosePorts(static_cast<int32_t>(Dev.portNo));
  Dev.kestoOk = 1;
  Dev.kestoEnabled = 1;
  Dev.retCode = 16;
  Update();
  fRet[RET_READ_SETTINGS] = {Connect_Found_2, Connect_NotFound};
  next(ReadSettings);
  return 0;
}

QUARN_API int32_t Connect_Found_2(void) {
  if (Dev.kestoOk == 1) {
    Dev.sensorType = 8;
    fRet[RET_SET_SENSOR_TYPE] = {Connect_Found_3, Connect_Kesto_NotAc};
    next(SetSensorType);
  } else {
    next(Connect_Found_3);
  }
  return 0;
}

QUARN_API int32_t Connect_Kesto_NotAc(void) {
  Dev.kestoOk = 0;
  Dev.kestoEnabled = 0;
  next(Connect_Found_3);
  return 0;
}

QUARN_API int32_t Connect_Found_3(void) {
  Dev.event = 1;
  Update();
  Dev.ventOn = 0;
  Dev.inputOn = 0;
  valveStatesReported = false;
  controlModeAtConnect = static_cast<int32_t>(Dev.controlMode);
  next(fRet[RET_CONNECT].ok);
  return 0;
}

QUARN_API int32_t Connect_NotFound(void) {
  pRS = &rs;
  ClosePorts(-1);
  linkDown();
  markValuesMissing();
  std::memset(&Dev.refStat, 0, sizeof Dev.refStat);
  for (TMeasCh& m : Dev.ch) {
    std::memset(&m.pStat, 0, sizeof m.pStat);
    std::memset(&m.iStat, 0, sizeof m.iStat);
  }
  resetHartRecords();
  Update();
  next(fRet[RET_CONNECT].err, 20);
  return 0;
}

QUARN_API int32_t Connect_Loose(void) {
  pRS = &rs;
  linkDown();
  markValuesMissing();
  StatValue_ClearAll();
  Update();
  next(fRet[RET_CONNECT_LOOSE].ok);
  return 0;
}

}  // extern "C"
