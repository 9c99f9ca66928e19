// Channel conversion: the Kesto module's currents into the pressures and reduced errors of the
// devices under test, and the transfer of a Kesto reading into the shared record.
#include <cmath>
#include <cstring>

#include "calibrator/calibrator.h"
#include "calibrator/cycle_readings.h"
#include "calibrator/link_deps.h"
#include "calibrator/verification.h"

namespace {

constexpr uint32_t kSensorTypeTenths = 6;  // the module reports tenths of a milliampere

void convertChannel(TMeasCh& m, const TDevChannel& c, float rawCurrent) {
  const float current = Dev.sensorType == kSensorTypeTenths ? rawCurrent / 10.0f : rawCurrent;
  m.current = current;

  const float span = c.Max - c.Min;
  const float currentSpan = c.el_Max - c.el_Min;
  const float toKPa = c.toKpaMul;
  // A channel whose ranges are incomplete has no result (a NaN range gives NaN by arithmetic).
  if (span == 0.0f || currentSpan == 0.0f || toKPa == 0.0f) {
    m.pFromI = m.pFromIKPa = m.reducedError = NAN;
    return;
  }

  const float x = (current - c.el_Min) / currentSpan;
  // Square-root transfer function: the current follows the root of the pressure.
  const float share = c.fnCode == 1 ? (x < 0.0f ? -1.0f : 1.0f) * x * x : x;
  m.pFromI = c.Min + share * span;
  m.pFromIKPa = m.pFromI * toKPa;

  // Percent of the span's size: a device whose range runs downwards (Min above Max) that reads high
  // has a positive error, as any other device.
  const float kpaSpan = std::fabs(toKPa * span);
  m.reducedError = kpaSpan == 0.0f ? NAN : (m.pFromIKPa - Dev.pRef) / kpaSpan * 100.0f;

  StatValue_AddValue(&m.pStat, m.pFromIKPa);
  StatValue_AddValue(&m.iStat, current);
}

}  // namespace

extern "C" {

QUARN_API void measChDataToDev(void) {
  if (Dev.kestoDataValid == 0) return;
  for (int k = 0; k < 4; ++k) convertChannel(Dev.ch[k], Dev.devCh[k], Dev.kestoCurrent[k]);
  quarn::cal::cycleReadings.currents = true;
}

QUARN_API int32_t IsBadKesto_Ac(const TMeasKesto* image) {
  if (!image) return 1;
  for (float c : image->current)
    if (c != 0.0f) return 0;
  return 1;
}

QUARN_API void Kesto_DataToDev(void) {
  uint32_t used = 0;
  for (uint8_t skip : Dev.chSkip)
    if (skip == 0) ++used;
  Dev.kestoChCount = used;
  std::memcpy(Dev.kestoCurrent, measKesto.current, sizeof Dev.kestoCurrent);
  quarn::cal::cycleReadings.kesto = true;
  // The first good reading after an invalid one only arms the conversion.
  if (Dev.kestoDataValid == 1) measChDataToDev();
  relayDataToDev();
  Dev.kestoDataValid = 1;
}

}  // extern "C"
