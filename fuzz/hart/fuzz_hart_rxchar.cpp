// Any byte stream into the byte-wise receiver, frame after frame.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "hart/hart_master.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto dev = std::make_unique<THartDev>();
  std::memset(dev.get(), 0, sizeof(THartDev));
  dev->size = THARTDEV_SIZE;
  dev->endMark = THARTDEV_END_MARK;
  const auto* begin = reinterpret_cast<const uint8_t*>(dev.get());
  for (size_t i = 0; i < size; ++i) {
    const int32_t r = OnRxChar(dev.get(), data[i]);
    // -1000 - r for a decoded frame: a response code 1..255, or -2 from a refused answer (-998).
    if (r != 0 && r != 1 && r != -1 && r != -2 && r != -998 && !(r < -1000 && r > -1256)) std::abort();
    if (dev->size != THARTDEV_SIZE || dev->endMark != THARTDEV_END_MARK) std::abort();
    if (dev->rxDataLength > sizeof dev->rxData) std::abort();
    const auto* p = dev->rxPtr;
    if (p && (p < begin || p > begin + sizeof(THartDev))) std::abort();
  }
  return 0;
}
