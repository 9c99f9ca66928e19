// SIGTERM, SIGHUP and SIGINT end the workstation the way closing its window does: the library is
// freed (its unload takes the calibrator out of remote operation), the settings are written and the
// simulator it started is ended. A signal handler may do almost nothing, so it only writes the
// signal's number into a pipe; the event loop watches the pipe's other end and does the rest.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace arm {

class SignalClose : public QObject {
 public:
  SignalClose() = default;
  ~SignalClose() override;
  SignalClose(const SignalClose&) = delete;
  SignalClose& operator=(const SignalClose&) = delete;

  // Handles SIGTERM, SIGHUP and SIGINT from now on: `onSignal` runs in the event loop with the first
  // signal's number, and the default handling is back for them, so a second signal ends the program
  // at once. False when the pipe cannot be made (the handling stays the system's).
  bool install(std::function<void(int)> onSignal);

  // Name of a signal for messages ("SIGTERM").
  static const char* name(int signal);

 private:
  void readPipe();

  std::function<void(int)> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  bool handled_ = false;
};

}  // namespace arm
