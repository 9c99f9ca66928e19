// Debug output.
//
// There is no debug monitor window on this platform: std_out hands its line to the log sink of the
// platform layer, and the other debug helpers only keep their results.
#include <cstring>

#include "core/quarn_core.h"
#include "platform/log.h"

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

}  // extern "C"
