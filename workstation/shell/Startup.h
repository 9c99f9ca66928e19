// What the program does at start besides creating the window: the simulator of --simulate, started
// and offered as ports.
#pragma once

#include <QString>
#include <QStringList>

#include "CommandLine.h"

namespace arm {

class MainWindow;
class SimLauncher;

// The simulator's arguments for the command line: the Brenk model for a Brenk workstation, and then
// its Dorv transducer on a terminal of its own, so the external reference can be tried.
QStringList simulatorArguments(const CommandLine& cmd);

// Starts "quarn-sim" from the program's folder, registers its calibrator terminal (and its Dorv
// terminal, when it serves one) as ports and makes the calibrator's port the one the start-up
// connects to. False with `error` set when the simulator does not start or no port number is free.
bool attachSimulator(MainWindow& window, SimLauncher& sim, const CommandLine& cmd, QString& error);

}  // namespace arm
