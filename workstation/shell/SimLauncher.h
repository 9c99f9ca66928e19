// Starts the built-in instrument simulator (quarn-sim beside the program) on a pseudo-terminal and
// learns the terminal's path from the line it prints ("calibrator /dev/pts/N").
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace arm {

class SimLauncher {
 public:
  ~SimLauncher();
  // Starts `program` with `arguments` and waits up to `timeoutMs` for the calibrator's terminal.
  // Returns false with `error` set when it cannot be started or names no terminal in time.
  bool start(const QString& program, const QStringList& arguments, int timeoutMs, QString& error);
  void stop();
  // The simulated operator at the Quarn's pressure source (quarn-sim --stdin-control): every new
  // finite value `target` gives (looked at ten times a second) is sent as "target KPA", and the
  // simulator brings the source there. NaN: nothing to follow now.
  void followTargets(std::function<float()> target);
  QString calibratorPath() const { return calibratorPath_; }
  QString dorvPath() const { return dorvPath_; }

 private:
  QProcess process_;
  QTimer follow_;
  std::function<float()> target_;
  float followed_ = 0;
  bool haveFollowed_ = false;
  QString calibratorPath_;
  QString dorvPath_;
};

}  // namespace arm
