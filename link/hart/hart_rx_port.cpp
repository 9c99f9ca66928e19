// Taking a HART answer from the calibrator's port into the selected record, and clearing the records.
#include <cstring>

#include "core/quarn_core.h"
#include "hart/hart_master.h"
#include "serial/serial_port.h"

namespace {

// Hart_DeForm takes its count as one byte; a larger read is parsed from its first 255 bytes rather
// than from the count's remainder.
constexpr int32_t kLongestParse = 255;

}  // namespace

extern "C" {

QUARN_API int32_t HART_Rx(void) {
  const int32_t taken = ReadPortAsync0();
  const int32_t count = taken < 0 ? 0 : (taken > kLongestParse ? kLongestParse : taken);
  const int32_t r = Hart_DeForm(pRS->rxBuf, static_cast<uint32_t>(count), hdi);
  if (r == 0) return 1;
  // Only an answer that was decoded carries a response code and its text; a frame refused on its
  // checksum or length is treated as no answer.
  if (r > 0 && hdi->rxResponseCode != 0 && hdi->responseText && hdi->rxCommand != 45 &&
      hdi->rxCommand != 136) {
    Dev.errCode = ERR_HART_RESPONSE;
    Dev.errText = hdi->responseText;
    Update();
  }
  return 0;
}

QUARN_API void InitDevHart(void) {
  for (THartDev& dev : Dev.hart) {
    std::memset(&dev, 0, sizeof dev);
    dev.size = THARTDEV_SIZE;
    dev.endMark = THARTDEV_END_MARK;
    dev.outputType = 1;  // 4-20 mA
  }
}

}  // extern "C"
