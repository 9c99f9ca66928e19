// Any received bytes into the whole-frame parser and the answer decoder, and into the check of how
// far they are towards a whole frame.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "hart/hart_internal.h"
#include "hart/hart_master.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // An exact-size heap copy, so a read past the received bytes is caught.
  std::vector<uint8_t> bytes(data, data + size);
  auto dev = std::make_unique<THartDev>();
  std::memset(dev.get(), 0, sizeof(THartDev));
  dev->size = THARTDEV_SIZE;
  dev->endMark = THARTDEV_END_MARK;

  const int32_t r = Hart_DeForm(bytes.data(), static_cast<uint32_t>(size), dev.get());
  if (dev->size != THARTDEV_SIZE || dev->endMark != THARTDEV_END_MARK) std::abort();
  if (dev->rxDataLength > sizeof dev->rxData) std::abort();
  if (r == 0 && dev->responseText != nullptr) std::abort();
  if (r > 0 && (dev->responseText == nullptr || std::strlen(dev->responseText) >= 512)) std::abort();
  if (r != 0 && r != -1 && r != -2 && !(r > 0 && r < 256)) std::abort();
  // The fast search waits while a frame is not whole: a frame that decodes must read as whole.
  const auto progress = quarn::hart::answerProgress(bytes.data(), static_cast<uint32_t>(size));
  if (r >= 0 && progress.stage != quarn::hart::AnswerProgress::Whole) std::abort();
  return 0;
}
