#include "thread_buffer.h"

namespace xlsxgen {

namespace {

constexpr auto kUses = static_cast<std::size_t>(ThreadBufferUse::Count);

struct ThreadBuffers {
  std::string text[kUses];
  bool lent[kUses] = {};
};

ThreadBuffers& buffers() {
  thread_local ThreadBuffers one;
  return one;
}

}  // namespace

ThreadBuffer::ThreadBuffer(ThreadBufferUse use) : text_(&own_) {
  ThreadBuffers& all = buffers();
  const auto at = static_cast<std::size_t>(use);
  if (all.lent[at]) return;
  all.lent[at] = true;
  lent_ = &all.lent[at];
  text_ = &all.text[at];
}

ThreadBuffer::~ThreadBuffer() {
  if (!lent_) return;
  if (text_->capacity() > kKeptBytes) {
    text_->clear();
    text_->shrink_to_fit();
  }
  *lent_ = false;
}

}  // namespace xlsxgen
