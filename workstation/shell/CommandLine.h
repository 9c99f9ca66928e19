// The command line of ARM_Quarn: options for the simulator, the library and settings files, and the
// unattended runs (a screenshot of one mode, a refresh-time measurement).
#pragma once

#include <QString>
#include <QStringList>

namespace arm {

struct CommandLine {
  bool brenk = false;
  bool simulate = false;
  QStringList simArgs;
  // With the Quarn the simulator's operator brings the pressure source to each target of a run, as
  // quarn-cli --sim does; --sim-no-operator leaves the source to the simulator's own settings.
  bool simOperator = true;
  QString library;
  QString settings;
  QString screenshot;
  int afterMs = 6000;
  bool measure = false;
  bool hartSensorPanel = false;  // the HART screen shows its sensor panel instead of the current panel
  bool hartSearch = false;       // the HART screen starts a search as soon as it can
  bool verifyStart = false;      // the verification screen starts a run as soon as it can
  QString history;               // the run history file; empty: the user's data folder
  // File -> "История поверок" opened at start on this tab (0 points, 1 pair); -1: not opened.
  int historyTab = -1;
  // The dialog opened at start reads the lab server (--history-source lab).
  bool historyLab = false;
  int modeIndex = -1;  // the mode shown at start (index = mode number - 1); -1: the regulation screen
  int pageIndex = -1;  // the parameters screen's page shown at start (page number - 1); -1: the first
  QString project;     // the project opened at start instead of the saved one
  bool help = false;
  QString error;  // not empty: the command line is refused for this reason

  // Nobody watches the run: questions and errors must not wait for an operator.
  bool unattended() const { return !screenshot.isEmpty() || measure; }
};

// Reads the arguments (the first one is the program). An unknown option, a missing or bad value and
// a mode without a screen are refused with `error` set. With `leaveQtOptions` the toolkit's own
// options (one dash, e.g. "-platform offscreen") are passed over, so the command line can be checked
// before the toolkit starts (and --help needs no display).
CommandLine parseCommandLine(const QStringList& arguments, bool leaveQtOptions = false);

// The text of --help.
QString usageText();

}  // namespace arm
