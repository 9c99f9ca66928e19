// Buffers a thread keeps from one report to the next, each lent for two uses one after the other:
// one for text (a part serialised before it is deflated, then the report's package), one for
// scratch (the deflated bytes of one part while the parts are deflated, then a part inflated only
// to be checked). A report then writes into memory that earlier reports already touched instead of
// fresh memory the system has to map page by page, and the first report of a thread maps each
// buffer once for both of its uses. A buffer that an unusually large report grew beyond kKeptBytes
// is let go when handed back.
#pragma once

#include <cstddef>
#include <string>

namespace xlsxgen {

enum class ThreadBufferUse { Text, Scratch, Count };

// One buffer of the thread for the lifetime of the lease. It is lent with what the last lease left
// in it (a user that appends empties it first; one that only needs room keeps the bytes that are
// there already, which saves filling them again). A use whose buffer is already lent (a nested
// lease) gets a buffer of its own instead.
class ThreadBuffer {
 public:
  explicit ThreadBuffer(ThreadBufferUse use);
  ~ThreadBuffer();
  ThreadBuffer(const ThreadBuffer&) = delete;
  ThreadBuffer& operator=(const ThreadBuffer&) = delete;

  std::string& text() { return *text_; }

  static constexpr std::size_t kKeptBytes = 4u << 20;

 private:
  std::string* text_;
  bool* lent_ = nullptr;  // the thread's flag for the buffer, when it is the thread's
  std::string own_;
};

}  // namespace xlsxgen
