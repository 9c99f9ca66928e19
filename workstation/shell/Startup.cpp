#include "Startup.h"

#include "MainWindow.h"
#include "PortMenus.h"
#include "SimLauncher.h"

namespace arm {

QStringList simulatorArguments(const CommandLine& cmd) {
  QStringList args = cmd.simArgs;
  if (cmd.brenk && !args.contains(QStringLiteral("--model")))
    args << "--model"
         << "brenk";
  if (cmd.brenk && !args.contains(QStringLiteral("--dorv")) && !args.contains(QStringLiteral("--dorv-link")))
    args << "--dorv";
  return args;
}

bool attachSimulator(MainWindow& window, SimLauncher& sim, const CommandLine& cmd, QString& error) {
  if (!sim.start(window.programDir() + QStringLiteral("/quarn-sim"), simulatorArguments(cmd), 5000, error))
    return false;
  const uint32_t port = window.ports().registerPortPath(sim.calibratorPath());
  if (port == 0 || (!sim.dorvPath().isEmpty() && window.ports().registerPortPath(sim.dorvPath()) == 0)) {
    error = QStringLiteral("Нет свободного номера порта");
    return false;
  }
  window.setStartPort(port);
  return true;
}

}  // namespace arm
