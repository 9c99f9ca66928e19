// ARM_Quarn: the operator's workstation. Options:
//   --brenk                 run as the Brenk workstation (the record's model 0)
//   --simulate              start the built-in simulator (quarn-sim beside the program) and connect to it
//   --sim-arg ARG           pass an argument to the simulator (repeatable), e.g. --sim-arg --channels=2
//   --library PATH          library to try after the usual places
//   --settings PATH         settings file instead of "arm_quarn.ini"
//   --screenshot FILE       save a picture of the window after --after-ms and quit
//   --after-ms N            how long to run before the screenshot or the timing report (default 6000)
//   --measure-updates       print the refresh time per notification (median, p95) and quit
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "MainWindow.h"
#include "Prompts.h"
#include "SimLauncher.h"

namespace {

struct CommandLine {
  bool brenk = false;
  bool simulate = false;
  QStringList simArgs;
  QString library;
  QString settings;
  QString screenshot;
  int afterMs = 6000;
  bool measure = false;
};

CommandLine parse(const QStringList& args) {
  CommandLine c;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    auto next = [&]() { return i + 1 < args.size() ? args[++i] : QString(); };
    if (a == QLatin1String("--brenk"))
      c.brenk = true;
    else if (a == QLatin1String("--simulate"))
      c.simulate = true;
    else if (a == QLatin1String("--sim-arg"))
      c.simArgs << next();
    else if (a == QLatin1String("--library"))
      c.library = next();
    else if (a == QLatin1String("--settings"))
      c.settings = next();
    else if (a == QLatin1String("--screenshot"))
      c.screenshot = next();
    else if (a == QLatin1String("--after-ms"))
      c.afterMs = std::max(0, next().toInt());
    else if (a == QLatin1String("--measure-updates"))
      c.measure = true;
  }
  return c;
}

// A picture of the window with its caption drawn above it (a bare X server has no window manager to
// draw the title bar).
QPixmap withTitleBar(const QPixmap& content, const QString& title) {
  const int bar = 28;
  QPixmap out(content.width(), content.height() + bar);
  out.fill(QColor(45, 52, 70));
  QPainter p(&out);
  QFont f = p.font();
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(10, 0, content.width() - 20, bar), Qt::AlignVCenter | Qt::AlignLeft, title);
  p.drawPixmap(0, bar, content);
  return out;
}

void reportUpdateTimes(const std::vector<qint64>& ns) {
  if (ns.empty()) {
    std::printf("no notifications\n");
    return;
  }
  std::vector<qint64> sorted = ns;
  std::sort(sorted.begin(), sorted.end());
  auto at = [&](double q) { return sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))]; };
  std::printf("UpdateFromDev per notification: n=%zu median=%.1f us p95=%.1f us max=%.1f us\n", sorted.size(),
              static_cast<double>(at(0.5)) / 1000.0, static_cast<double>(at(0.95)) / 1000.0,
              static_cast<double>(sorted.back()) / 1000.0);
}

int run(int argc, char** argv) {
  QApplication app(argc, argv);
  const CommandLine cmd = parse(app.arguments());

  arm::MainWindow::Options options;
  options.model = cmd.brenk ? 0 : 1;
  options.configuredLibrary = cmd.library.toStdString();
  options.settingsPath = cmd.settings;
  arm::MainWindow window(options);
  if (window.create() != 0) return 1;

  arm::SimLauncher sim;
  if (cmd.simulate) {
    QStringList simArgs = cmd.simArgs;
    if (cmd.brenk && !simArgs.contains(QStringLiteral("--model")))
      simArgs << "--model"
              << "brenk";
    QString error;
    if (!sim.start(window.programDir() + QStringLiteral("/quarn-sim"), simArgs, 5000, error)) {
      arm::Prompts::showError(QStringLiteral("Ошибка"), error);
      return 1;
    }
    const uint32_t port = window.registerPortPath(sim.calibratorPath());
    if (port == 0) {
      arm::Prompts::showError(QStringLiteral("Ошибка"), QStringLiteral("Нет свободного номера порта"));
      return 1;
    }
    window.setStartPort(port);
  }
  window.show();

  if (!cmd.screenshot.isEmpty() || cmd.measure) {
    QTimer::singleShot(cmd.afterMs, &window, [&] {
      if (!cmd.screenshot.isEmpty()) {
        const QPixmap picture = withTitleBar(window.grab(), window.windowTitle());
        if (!picture.save(cmd.screenshot))
          std::fprintf(stderr, "cannot write %s\n", qPrintable(cmd.screenshot));
      }
      if (cmd.measure) reportUpdateTimes(window.updateDurations());
      window.close();
    });
  }
  const int rc = app.exec();
  sim.stop();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    arm::Prompts::showError(QStringLiteral("ARM_Quarn"), QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
