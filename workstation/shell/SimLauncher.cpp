#include "SimLauncher.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <cmath>

namespace arm {

SimLauncher::~SimLauncher() { stop(); }

bool SimLauncher::start(const QString& program, const QStringList& arguments, int timeoutMs, QString& error) {
  if (!QFileInfo(program).isExecutable()) {
    error = QStringLiteral("Симулятор не найден: ") + program;
    return false;
  }
  process_.setProgram(program);
  process_.setArguments(arguments);
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  // A process group of its own: a terminal's Ctrl-C or hang-up reaches the workstation only, which
  // takes the simulated calibrator out of remote operation before it ends the simulator. And the
  // simulator ends with the workstation however that ends.
  const pid_t parent = getpid();
  process_.setChildProcessModifier([parent] {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
  });
  process_.start();
  if (!process_.waitForStarted(timeoutMs)) {
    error = QStringLiteral("Симулятор не запускается: ") + process_.errorString();
    return false;
  }
  // With its Dorv transducer the simulator names two terminals; wait for both.
  const bool wantDorv =
      arguments.contains(QStringLiteral("--dorv")) || arguments.contains(QStringLiteral("--dorv-link"));
  QElapsedTimer clock;
  clock.start();
  while (calibratorPath_.isEmpty() || (wantDorv && dorvPath_.isEmpty())) {
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0 || process_.state() != QProcess::Running) break;
    if (!process_.canReadLine() && !process_.waitForReadyRead(static_cast<int>(left))) continue;
    while (process_.canReadLine()) {
      const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
      const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
      if (words.size() < 2 || !words[1].startsWith(QLatin1String("/dev/"))) continue;
      if (words[0] == QLatin1String("calibrator")) calibratorPath_ = words[1];
      if (words[0] == QLatin1String("dorv")) dorvPath_ = words[1];
    }
  }
  if (calibratorPath_.isEmpty() || (wantDorv && dorvPath_.isEmpty())) {
    error = QStringLiteral("Симулятор не сообщил свой порт");
    stop();
    return false;
  }
  // The simulator keeps printing (new terminals after a reconnect); drop it so its pipe never fills.
  QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_, [this] {
    while (process_.canReadLine()) {
      const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
      const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
      if (words.size() < 2 || !words[1].startsWith(QLatin1String("/dev/"))) continue;
      if (words[0] == QLatin1String("calibrator")) calibratorPath_ = words[1];
      if (words[0] == QLatin1String("dorv")) dorvPath_ = words[1];
    }
  });
  return true;
}

void SimLauncher::followTargets(std::function<float()> target) {
  target_ = std::move(target);
  follow_.setInterval(100);
  QObject::connect(&follow_, &QTimer::timeout, &process_, [this] {
    if (!target_ || process_.state() != QProcess::Running) return;
    const float t = target_();
    if (!std::isfinite(t) || (haveFollowed_ && t == followed_)) return;
    followed_ = t;
    haveFollowed_ = true;
    process_.write(QByteArray("target ") + QByteArray::number(static_cast<double>(t), 'g', 9) + '\n');
  });
  follow_.start();
}

void SimLauncher::stop() {
  follow_.stop();
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(2000)) {
    process_.kill();
    process_.waitForFinished(1000);
  }
}

}  // namespace arm
