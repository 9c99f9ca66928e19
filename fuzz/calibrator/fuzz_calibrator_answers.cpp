// Arbitrary device answers for the calibrator procedures. The first byte chooses the model and what
// takes the rest: one of the text converters, or one of the steps that read an answer from the line
// (the bytes then wait on a virtual port as if the device had sent them). Nothing may crash, hang or
// write outside the record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "calibrator/calibrator.h"
#include "quarn_core.h"
#include "serial/serial_port.h"
#include "uail/uail.h"

namespace {

constexpr uint32_t kPort = 42;

struct Line {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};
Line g_line;

quarn_vport_ops lineOps() {
  quarn_vport_ops o{};
  o.ctx = &g_line;
  o.open = [](void*) { return 0; };
  o.close = [](void*) {};
  o.set_line = [](void*, uint32_t, int, int) {};
  o.write = [](void*, const uint8_t*, uint32_t n, uint32_t) { return static_cast<int>(n); };
  o.available = [](void* c, uint32_t) {
    auto* l = static_cast<Line*>(c);
    return static_cast<int>(l->size - l->pos);
  };
  o.read = [](void* c, uint8_t* buf, uint32_t max, uint32_t) {
    auto* l = static_cast<Line*>(c);
    const size_t n = std::min<size_t>(max, l->size - l->pos);
    std::memcpy(buf, l->data + l->pos, n);
    l->pos += n;
    return static_cast<int>(n);
  };
  o.purge = [](void*) {};
  return o;
}

TStepFn const kSteps[] = {
    MeasControl_2,
    MeasControl_ExtDorvstate_Quarn_2,
    Control_1,
    Control_3,
    ReadSettings_2,
    ReadSettings_3,
    ReadSettings_4,
    WriteSettings_2,
    SetSensorType_1,
    Kesto_Read_1,
    Kesto_Read_3,
    Kesto_Read_4,
    Kesto_ReadError_AcErr,
    ProcBrenkextDorv_RxAcId,
    ProcBrenkextDorv_RxReg52,
    ProcBrenkextDorv_RxReg30,
    ProcBrenkextDorv_RxReg139,
    ProcBrenkextDorv_RxP,
    WaitExtDorv_info_1,
    Connect_2_AllRxRqType,
    Connect_Found,
};
constexpr size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

bool init() {
  InitDev();
  const quarn_vport_ops ops = lineOps();
  quarn_port_register_virtual(kPort, &ops);
  quarn_port_register_virtual(kPort + 1, &ops);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = init();
  (void)ready;
  if (size < 1) return 0;
  const uint8_t sel = data[0];
  isQuarn = (sel & 0x80) ? 1 : 0;
  isBrenk = isQuarn ? 0 : 1;
  const uint8_t* rest = data + 1;
  const size_t n = size - 1;
  const std::string text(reinterpret_cast<const char*>(rest), n);

  const unsigned what = sel & 0x7F;
  if (what < 4) {
    switch (what) {
      case 0: {
        TSettings s = Dev.settings;
        settings_Str2Bin(&s, text.c_str());
        char out[SETTINGS_TEXT_MAX];
        settings_Bin2Str(out, &s);
        break;
      }
      case 1: {
        TCalInfo info = Dev.calInfo;
        info_sn_Str2Bin(&info, text.c_str());
        break;
      }
      case 2: {
        TCalInfo info = Dev.calInfo;
        info_ver_Str2Bin(&info, text.c_str());
        break;
      }
      default: {
        TDorv d = Dev.dorv;
        ExtDorv_info_Str2Bin(&d, text.c_str());
        break;
      }
    }
    return 0;
  }

  // A step reading the bytes from the calibrator's (or the transducer's) port.
  pRS = (what & 1) ? &rsDorv : &rs;
  const uint32_t portNo = pRS == &rs ? kPort : kPort + 1;
  if (!quarn_rs_handle_valid(pRS->hCom))
    pRS->hCom = OpenPortAsync(static_cast<int32_t>(portNo), 9600, RS_PARITY_NONE);
  if (pRS == &rs) rs.hPort[kPort] = rs.hCom;
  Dev.portNo = kPort;
  g_line = Line{rest, n, 0};
  cRepeat = 3;
  Dev.kestoDataValid = (sel >> 3) & 1;
  kSteps[what % kStepCount]();
  g_line = Line{};
  OnTimer = nullptr;
  pRS = &rs;
  return 0;
}
