// What an operation on a file came to: done, or why not. The reason is UTF-8, written for the
// operator ("Файл ... не записан: ..."), and a failure always has one.
#pragma once

#include <ostream>
#include <string>
#include <utility>

namespace quarn::data {

class Outcome {
 public:
  Outcome() = default;  // done
  static Outcome failed(std::string why) {
    Outcome o;
    o.ok_ = false;
    o.why_ = why.empty() ? std::string("неизвестная ошибка") : std::move(why);
    return o;
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  // Empty when done.
  const std::string& why() const { return why_; }

  friend std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.ok_ ? std::string("ok") : o.why_);
  }

 private:
  bool ok_ = true;
  std::string why_;
};

}  // namespace quarn::data
