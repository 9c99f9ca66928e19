#include "CommandLine.h"

namespace arm {

namespace {

// The main window's mode numbers that have a screen: 1 regulation, 2 HART, 3 parameters,
// 4 verification, 6 graph, 7 settings.
bool modeHasScreen(int number) { return number >= 1 && number <= 7 && number != 5; }

}  // namespace

QString usageText() {
  return QStringLiteral(
      "usage: ARM_Quarn [options]\n"
      "  --brenk              run as the Brenk workstation\n"
      "  --simulate           start the simulator (quarn-sim beside the program) and connect to it;\n"
      "                       with --brenk its Dorv transducer is offered as a port too\n"
      "  --sim-arg ARG        pass an argument to the simulator (repeatable)\n"
      "  --sim-no-operator    with the Quarn, the simulator's operator does not bring the pressure\n"
      "                       source to each target of a run (by default it does)\n"
      "  --library PATH       library to try after the one beside the program and the search path\n"
      "  --settings PATH      settings file instead of \"arm_quarn.ini\"\n"
      "  --mode N             open on mode N: 1 regulation, 2 HART, 3 parameters, 4 verification,\n"
      "                       6 graph, 7 settings\n"
      "  --page N             the parameters screen's page N: 1 devices, 2 protocol, 3 points,\n"
      "                       4 relay test, 5 measurement methods\n"
      "  --project FILE       open this project (*.aip) instead of the one the settings name\n"
      "  --screenshot FILE    save a picture of the window after --after-ms and quit\n"
      "  --after-ms N         how long to run before the screenshot or the timing report (default 6000)\n"
      "  --measure-updates    print the refresh time per notification (median, p95, max) and quit\n"
      "  --hart-panel NAME    the HART screen's lower panel: current (default) or sensor\n"
      "  --hart-search        the HART screen starts a search as soon as the connection allows\n"
      "  --verify-start       the verification screen starts a run as soon as it can (for pictures)\n"
      "  --history FILE       the run history file (default: ~/.local/share/quarn/history.db)\n"
      "  --history-dialog TAB open File -> \"История поверок\" at start on its tab points or pair\n"
      "                       (with --screenshot: the picture of the dialog)\n"
      "  --history-source S   the dialog reads this workstation's history (local, default) or the\n"
      "                       lab server's (lab; the server of QUARN_HISTORY_SERVER or the settings)\n"
      "  --help               this text\n"
      "With --screenshot or --measure-updates nothing waits for an operator: errors go to stderr and\n"
      "the program ends with status 1.\n");
}

CommandLine parseCommandLine(const QStringList& args, bool leaveQtOptions) {
  CommandLine c;
  for (int i = 1; i < args.size() && c.error.isEmpty(); ++i) {
    const QString& a = args[i];
    if (leaveQtOptions && a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--")) && a != "-h") {
      // A toolkit option, and its value when one follows.
      if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-'))) ++i;
      continue;
    }
    // The value of an option that takes one; sets the error when it is missing.
    auto value = [&](QString& out) {
      if (i + 1 >= args.size()) {
        c.error = QStringLiteral("option %1 needs a value").arg(a);
        return false;
      }
      out = args[++i];
      return true;
    };
    auto number = [&](int& out) {
      QString text;
      if (!value(text)) return false;
      bool ok = false;
      out = text.toInt(&ok);
      if (!ok || out < 0) c.error = QStringLiteral("option %1: \"%2\" is not a number").arg(a, text);
      return c.error.isEmpty();
    };
    QString text;
    if (a == QLatin1String("--brenk")) {
      c.brenk = true;
    } else if (a == QLatin1String("--simulate")) {
      c.simulate = true;
    } else if (a == QLatin1String("--sim-no-operator")) {
      c.simOperator = false;
    } else if (a == QLatin1String("--sim-arg")) {
      if (value(text)) c.simArgs << text;
    } else if (a == QLatin1String("--library")) {
      value(c.library);
    } else if (a == QLatin1String("--settings")) {
      value(c.settings);
    } else if (a == QLatin1String("--screenshot")) {
      value(c.screenshot);
    } else if (a == QLatin1String("--after-ms")) {
      number(c.afterMs);
    } else if (a == QLatin1String("--measure-updates")) {
      c.measure = true;
    } else if (a == QLatin1String("--hart-panel")) {
      if (value(text)) {
        if (text == QLatin1String("sensor") || text == QLatin1String("current"))
          c.hartSensorPanel = text == QLatin1String("sensor");
        else
          c.error = QStringLiteral("option --hart-panel: \"%1\" is neither current nor sensor").arg(text);
      }
    } else if (a == QLatin1String("--hart-search")) {
      c.hartSearch = true;
    } else if (a == QLatin1String("--verify-start")) {
      c.verifyStart = true;
    } else if (a == QLatin1String("--history")) {
      value(c.history);
    } else if (a == QLatin1String("--history-dialog")) {
      if (value(text)) {
        if (text == QLatin1String("points") || text == QLatin1String("pair"))
          c.historyTab = text == QLatin1String("pair") ? 1 : 0;
        else
          c.error = QStringLiteral("option --history-dialog: \"%1\" is neither points nor pair").arg(text);
      }
    } else if (a == QLatin1String("--history-source")) {
      if (value(text)) {
        if (text == QLatin1String("local") || text == QLatin1String("lab"))
          c.historyLab = text == QLatin1String("lab");
        else
          c.error = QStringLiteral("option --history-source: \"%1\" is neither local nor lab").arg(text);
      }
    } else if (a == QLatin1String("--mode")) {
      int n = 0;
      if (number(n)) {
        if (modeHasScreen(n))
          c.modeIndex = n - 1;
        else
          c.error = QStringLiteral("option --mode: %1 is not a mode (1, 2, 3, 4, 6 or 7)").arg(n);
      }
    } else if (a == QLatin1String("--page")) {
      int n = 0;
      if (number(n)) {
        if (n >= 1 && n <= 5)
          c.pageIndex = n - 1;
        else
          c.error = QStringLiteral("option --page: %1 is not a page (1 to 5)").arg(n);
      }
    } else if (a == QLatin1String("--project")) {
      value(c.project);
    } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      c.help = true;
    } else {
      c.error = QStringLiteral("unknown option %1").arg(a);
    }
  }
  return c;
}

}  // namespace arm
