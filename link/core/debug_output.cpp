// Debug output and the measuring-cycle timing statistic.
//
// There is no debug monitor window on this platform: std_out hands its line to the log sink of the
// platform layer, and the other debug helpers only keep their results.
#include <cstring>

#include "platform/log.h"
#include "quarn_core.h"
#include "weak_refs.h"

extern "C" {

QUARN_API void* hDebugList = nullptr;

QUARN_API void std_out(const char* text) {
  if (text) quarn_log_line(text);
}

QUARN_API void* GetChildWindow(const char* /*topClass*/, const char* /*childClassPart*/) { return nullptr; }

QUARN_API int32_t dbgX(const char* text, const uint8_t* /*bytes*/, int32_t count) {
  // The line would be the text and "%02X " per byte, within a 1024-byte buffer.
  constexpr size_t kLineMax = 1023;
  size_t length = text ? std::strlen(text) : 0;
  if (count > 0) length += 3u * static_cast<size_t>(count);
  return static_cast<int32_t>(length < kLineMax ? length : kLineMax);
}

QUARN_API uint32_t dbgError(uint32_t code) { return code; }

QUARN_API void ToLogDbgFile(void) {}

QUARN_API uint32_t dbg_measTime_start(void) {
  Dev.measTimeStart = Dev.tick;
  return Dev.tick;
}

QUARN_API uint32_t dbg_measTime_end(void) {
  const uint32_t start = Dev.measTimeStart;
  Dev.measTimeStart = 0;
  return start;
}

QUARN_API uint32_t Debug_statTimerTest(void) {
  if (Dev.measTimeStart != 0 && StatValue_AddValue)
    StatValue_AddValue(&Dev.cycleStat, static_cast<float>(Dev.tick - Dev.measTimeStart));
  Dev.measTimeStart = Dev.tick;
  return Dev.tick;
}

}  // extern "C"
