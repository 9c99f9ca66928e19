// Taking a HART answer from the calibrator's port into the selected record, and clearing the records.
#include <cstring>

#include "core/quarn_core.h"
#include "hart/hart_internal.h"
#include "hart/hart_master.h"
#include "serial/serial_port.h"

namespace {

// Hart_DeForm takes its count as one byte; a larger read is parsed from its first 255 bytes rather
// than from the count's remainder.
constexpr int32_t kLongestParse = 255;

}  // namespace

namespace quarn::hart {

int32_t receiveAnswer() {
  const int32_t taken = ReadPortAsync0();
  const int32_t count = taken < 0 ? 0 : (taken > kLongestParse ? kLongestParse : taken);
  return Hart_DeForm(pRS->rxBuf, static_cast<uint32_t>(count), hdi);
}

int32_t concludeAnswer(int32_t parsed) {
  // A decoded answer (good, or a refusal with its response code) shows that the device is there: the
  // "no HART device" the request left pending no longer holds. Any other code stays for the host.
  if (parsed >= 0 && Dev.errCode == ERR_NO_HART_DEVICE) ClearDevErrorCode();
  if (parsed == 0) return 1;
  // Only an answer that was decoded carries a response code and its text; a frame refused on its
  // checksum or length is treated as no answer.
  if (parsed > 0 && hdi->rxResponseCode != 0 && hdi->responseText && hdi->rxCommand != 45 &&
      hdi->rxCommand != 136) {
    Dev.errCode = ERR_HART_RESPONSE;
    Dev.errText = hdi->responseText;
    Update();
  }
  return 0;
}

}  // namespace quarn::hart

extern "C" {

QUARN_API int32_t HART_Rx(void) { return quarn::hart::concludeAnswer(quarn::hart::receiveAnswer()); }

QUARN_API void InitDevHart(void) {
  for (THartDev& dev : Dev.hart) {
    std::memset(&dev, 0, sizeof dev);
    dev.size = THARTDEV_SIZE;
    dev.endMark = THARTDEV_END_MARK;
    dev.outputType = 1;  // 4-20 mA
  }
}

}  // extern "C"
