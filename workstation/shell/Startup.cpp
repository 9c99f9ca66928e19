#include "Startup.h"

#include <cmath>

#include "MainWindow.h"
#include "PortMenus.h"
#include "SimLauncher.h"
#include "TDev.h"

namespace arm {

QStringList simulatorArguments(const CommandLine& cmd) {
  QStringList args = cmd.simArgs;
  if (cmd.brenk && !args.contains(QStringLiteral("--model")))
    args << "--model"
         << "brenk";
  if (cmd.brenk && !args.contains(QStringLiteral("--dorv")) && !args.contains(QStringLiteral("--dorv-link")))
    args << "--dorv";
  // The Quarn does not regulate by itself: without an operator following the run's targets (the
  // input valve alone takes the pressure to the source's 650 kPa) a verification never ends.
  if (!cmd.brenk && cmd.simOperator && !args.contains(QStringLiteral("--stdin-control")))
    args << "--stdin-control";
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
  if (!cmd.brenk && cmd.simOperator) {
    // The targets of a verification or relay check under way (task 21), as quarn-cli --sim follows them.
    sim.followTargets([&window] {
      const TDev* dev = window.dev();
      return dev && dev->task == TASK_CHECK ? static_cast<float>(dev->pTarget) : NAN;
    });
  }
  return true;
}

}  // namespace arm
