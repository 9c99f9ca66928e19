// ARM_Quarn: the operator's workstation. `ARM_Quarn --help` lists the options (CommandLine.cpp).
#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "CommandLine.h"
#include "HartScreen.h"
#include "HistoryDialog.h"
#include "MainWindow.h"
#include "ParametersScreen.h"
#include "Prompts.h"
#include "SignalClose.h"
#include "SimLauncher.h"
#include "Startup.h"
#include "UiHelpers.h"
#include "VerificationScreen.h"
#include "WindowPicture.h"

namespace {

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

// The command line refused: the reason and the usage on stderr.
int refuse(const arm::CommandLine& cmd) {
  std::fprintf(stderr, "ARM_Quarn: %s\n%s", qPrintable(cmd.error), qPrintable(arm::usageText()));
  return 2;
}

int run(int argc, char** argv) {
  // Checked before the toolkit starts, so --help and a refusal need no display.
  QStringList raw;
  for (int i = 0; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
  const arm::CommandLine early = arm::parseCommandLine(raw, true);
  if (!early.error.isEmpty()) return refuse(early);
  if (early.help) {
    std::printf("%s", qPrintable(arm::usageText()));
    return 0;
  }
  QApplication app(argc, argv);
  if (!arm::installQtRussian(&app))
    std::fprintf(stderr,
                 "ARM_Quarn: Qt's Russian translations (qtbase_ru) are not installed: standard buttons "
                 "stay English\n");
  const arm::CommandLine cmd = arm::parseCommandLine(app.arguments());
  if (!cmd.error.isEmpty()) return refuse(cmd);
  if (cmd.unattended()) arm::Prompts::installUnattended();
  // A signal closes the program as its window's close does. Every event loop is left first (a modal
  // dialog's too, which then ends as if cancelled), so the close below runs with nothing above it.
  arm::SignalClose signals;
  signals.install([](int signal) {
    std::fprintf(stderr, "ARM_Quarn: %s: closing\n", arm::SignalClose::name(signal));
    // Nobody is there to answer: the project question is answered "no" on stderr.
    arm::Prompts::installUnattended();
    QCoreApplication::exit(0);
  });

  arm::MainWindow::Options options;
  options.model = cmd.brenk ? 0 : 1;
  options.configuredLibrary = cmd.library.toStdString();
  options.settingsPath = cmd.settings;
  options.historyPath = cmd.history;
  options.projectPath = cmd.project;
  arm::MainWindow window(options);
  if (window.create() != 0) return 1;

  arm::SimLauncher sim;
  QString error;
  if (cmd.simulate && !arm::attachSimulator(window, sim, cmd, error)) {
    arm::Prompts::showError(QStringLiteral("Ошибка"), error);
    return 1;
  }
  if (cmd.modeIndex >= 0) window.SelectMode(cmd.modeIndex);
  if (auto* hart = window.screen<arm::HartScreen>()) {
    if (cmd.hartSensorPanel) hart->Type_Click(hart->sensorSelector());
    if (cmd.hartSearch) hart->searchWhenPossible();
  }
  if (auto* verification = window.screen<arm::VerificationScreen>(); verification && cmd.verifyStart)
    verification->startWhenPossible();
  if (auto* parameters = window.screen<arm::ParametersScreen>(); parameters && cmd.pageIndex >= 0)
    parameters->showPage(cmd.pageIndex);
  window.show();
  arm::HistoryDialog* historyDialog = cmd.historyTab >= 0 ? window.openHistory() : nullptr;
  if (historyDialog) historyDialog->tabs()->setCurrentIndex(cmd.historyTab);
  if (historyDialog && cmd.historyLab) historyDialog->setSource(arm::HistoryDialog::Source::Lab);

  bool pictureFailed = false;
  if (cmd.unattended()) {
    QTimer::singleShot(cmd.afterMs, &window, [&] {
      if (!cmd.screenshot.isEmpty()) {
        QWidget& shown = historyDialog ? static_cast<QWidget&>(*historyDialog) : window;
        const QPixmap picture = arm::windowPicture(shown);
        if (!picture.save(cmd.screenshot)) {
          std::fprintf(stderr, "cannot write %s\n", qPrintable(cmd.screenshot));
          pictureFailed = true;
        }
      }
      if (cmd.measure) reportUpdateTimes(window.updateDurations());
      window.close();
    });
  }
  const int rc = app.exec();
  // Closed already unless a signal ended the loop: frees the library and writes the settings while
  // the simulator still runs, so the calibrator's unload exchange reaches it.
  window.close();
  sim.stop();
  if (cmd.unattended() && (pictureFailed || arm::Prompts::unattendedErrors > 0)) return 1;
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
