// What an operation of the data layer came to: done, or why not (Outcome), and a value, or why there
// is none (Result<T>). The reason is UTF-8, written for the operator ("Файл ... не записан: ..."),
// and a failure always has one. Every operation of lab/ that can fail says so this way; the hosts
// show the reason (the workstation in its message window, quarn-cli on stderr with its exit status).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace quarn::data {

// What kind of failure, for a caller that acts on the kind (a missing file read as empty, say); most
// callers only show the reason.
enum class Fault {
  None,        // done
  NotFound,    // the file is not there
  Unreadable,  // it cannot be read: no permission, a folder or device in its place, a read error
  Damaged,     // it was read, but what it holds cannot be used
  Edited,      // changed outside the program since the program saved it: usable once the change is
               // confirmed (the operator's answer, a command-line option)
  Refused,     // anything else the operation refuses to do
};

class Outcome {
 public:
  Outcome() = default;  // done
  static Outcome failed(std::string why, Fault fault = Fault::Refused) {
    Outcome o;
    o.ok_ = false;
    o.fault_ = fault == Fault::None ? Fault::Refused : fault;
    o.why_ = why.empty() ? std::string("неизвестная ошибка") : std::move(why);
    return o;
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  Fault fault() const { return fault_; }
  // Empty when done.
  const std::string& why() const { return why_; }

  friend std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.ok_ ? std::string("ok") : o.why_);
  }

 private:
  bool ok_ = true;
  Fault fault_ = Fault::None;
  std::string why_;
};

// A value, or the failure that says why there is none. `Failure` is Outcome unless a layer needs to
// tell kinds of failure apart (the run history's Error carries a code beside its reason); it must
// have a why(). A Result made from a failure that is not one (an Outcome that says done) is still
// a failure: a result without a value never counts as done.
template <class T, class Failure = Outcome>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}              // NOLINT: a value is the done result
  Result(Failure failure) : failure_(std::move(failure)) {}  // NOLINT

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const T& value() const { return *value_; }
  T& value() { return *value_; }
  const T* operator->() const { return &*value_; }
  T* operator->() { return &*value_; }
  const T& operator*() const { return *value_; }
  T& operator*() { return *value_; }

  const Failure& error() const { return failure_; }
  // Empty when done.
  const std::string& why() const {
    static const std::string kUnknown = "неизвестная ошибка";
    if (ok()) return failure_.why();
    return failure_.why().empty() ? kUnknown : failure_.why();
  }

 private:
  std::optional<T> value_;
  Failure failure_;
};

}  // namespace quarn::data
