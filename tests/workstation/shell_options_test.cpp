// The program's command line and its unattended runs, checked on the real ARM_Quarn binary where
// the behaviour lives in main(): --help and refusals, a screenshot run that must never wait on a
// modal error, and a screenshot of the simulator.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "CommandLine.h"
#include "SimLauncher.h"
#include "Startup.h"
#include "stand_in_simulator.h"
#include "test_paths.h"

namespace {

using namespace arm;

TEST(CommandLine, OptionsValuesAndRefusals) {
  struct Case {
    QStringList args;
    const char* error;  // part of the refusal; empty: accepted
    int modeIndex;
    bool unattended;
  } cases[] = {
      {{"--mode", "6"}, "", 5, false},
      {{"--brenk", "--mode", "7", "--simulate"}, "", 6, false},
      {{"--mode", "1", "--screenshot", "a.png", "--after-ms", "250"}, "", 0, true},
      {{"--measure-updates"}, "", -1, true},
      {{"--mode", "5"}, "5 is not a mode", -1, false},
      {{"--mode", "0"}, "0 is not a mode", -1, false},
      {{"--mode", "six"}, "\"six\" is not a number", -1, false},
      {{"--mode"}, "--mode needs a value", -1, false},
      {{"--page", "6"}, "6 is not a page", -1, false},
      {{"--page", "0"}, "0 is not a page", -1, false},
      {{"--project"}, "--project needs a value", -1, false},
      {{"--after-ms", "-3"}, "is not a number", -1, false},
      {{"--screenshot"}, "--screenshot needs a value", -1, false},
      {{"--bogus"}, "unknown option --bogus", -1, false},
      {{"--simulate", "extra"}, "unknown option extra", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const CommandLine cmd = parseCommandLine(QStringList{"ARM_Quarn"} + c.args);
    if (*c.error) {
      EXPECT_TRUE(cmd.error.contains(QString::fromUtf8(c.error))) << cmd.error.toStdString();
      continue;
    }
    EXPECT_TRUE(cmd.error.isEmpty()) << cmd.error.toStdString();
    EXPECT_EQ(cmd.modeIndex, c.modeIndex);
    EXPECT_EQ(cmd.unattended(), c.unattended);
  }
  const CommandLine page =
      parseCommandLine({"ARM_Quarn", "--mode", "3", "--page", "5", "--project", "a.aip"});
  EXPECT_EQ(page.pageIndex, 4);
  EXPECT_EQ(page.project, QStringLiteral("a.aip"));
  const CommandLine sim =
      parseCommandLine({"ARM_Quarn", "--sim-arg", "--channels", "--sim-arg", "2", "--brenk"});
  EXPECT_EQ(sim.simArgs, (QStringList{"--channels", "2"}));
  EXPECT_EQ(simulatorArguments(sim), (QStringList{"--channels", "2", "--model", "brenk", "--dorv"}));
  // The Quarn's simulator takes operator commands: the workstation's operator follows a run's targets.
  EXPECT_EQ(simulatorArguments(parseCommandLine({"ARM_Quarn"})), QStringList{"--stdin-control"});
  EXPECT_EQ(simulatorArguments(parseCommandLine({"ARM_Quarn", "--sim-no-operator"})), QStringList());
  EXPECT_EQ(simulatorArguments(parseCommandLine({"ARM_Quarn", "--sim-arg", "--stdin-control"})),
            QStringList{"--stdin-control"});
  // Before the toolkit has taken its own options, they are passed over; after, there are none left.
  const QStringList withQt{"ARM_Quarn", "-platform", "offscreen", "--help"};
  EXPECT_TRUE(parseCommandLine(withQt, true).help);
  EXPECT_TRUE(parseCommandLine(withQt, true).error.isEmpty());
  EXPECT_FALSE(parseCommandLine(withQt).error.isEmpty());
}

TEST(SimulatorLauncher, WaitsForTheDorvTerminalWhenAskedForOne) {
  // The simulator prints its Dorv terminal after the calibrator's; the launcher must not stop
  // listening after the first line.
  QTemporaryDir dir;
  const QString script = dir.filePath("quarn-sim");
  ASSERT_TRUE(armtest::writeStandInSimulator(script, "/dev/pts/90", "/dev/pts/91"));
  for (bool dorv : {true, false}) {
    SimLauncher sim;
    QString error;
    const QStringList args = dorv ? QStringList{"--model", "brenk", "--dorv"} : QStringList{};
    ASSERT_TRUE(sim.start(script, args, 5000, error)) << error.toStdString();
    EXPECT_EQ(sim.calibratorPath(), QStringLiteral("/dev/pts/90"));
    EXPECT_EQ(sim.dorvPath(), dorv ? QStringLiteral("/dev/pts/91") : QString());
    sim.stop();
  }
}

#ifdef QUARN_HAVE_SIM_PROGRAM
TEST(SimulatorLauncher, TheRealSimulatorNamesBothTerminals) {
  SimLauncher sim;
  QString error;
  ASSERT_TRUE(sim.start(QString::fromStdString(quarn::test::path("QUARN_SIM_PROGRAM")),
                        {"--model", "brenk", "--dorv"}, 5000, error))
      << error.toStdString();
  EXPECT_TRUE(QFileInfo::exists(sim.calibratorPath())) << sim.calibratorPath().toStdString();
  EXPECT_TRUE(QFileInfo::exists(sim.dorvPath())) << sim.dorvPath().toStdString();
  EXPECT_NE(sim.calibratorPath(), sim.dorvPath());
}
#endif

// ---- The program ----------------------------------------------------------------------------

struct ProgramRun {
  int exitCode = -1;
  bool finished = false;
  QString out, err;
};

ProgramRun runProgram(const QString& program, const QStringList& args, int timeoutMs, bool display = true) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (display) {
    env.insert("QT_QPA_PLATFORM", "offscreen");
  } else {
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
  }
  p.setProcessEnvironment(env);
  p.start(program, args);
  ProgramRun r;
  r.finished = p.waitForStarted(5000) && p.waitForFinished(timeoutMs);
  if (!r.finished) {
    p.kill();
    p.waitForFinished(2000);
  }
  r.exitCode = p.exitCode();
  r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  r.err = QString::fromLocal8Bit(p.readAllStandardError());
  return r;
}

// ARM_Quarn in the build (read when a case runs: a missing entry fails that case).
QString armQuarn() { return QString::fromStdString(quarn::test::path("ARM_QUARN_PROGRAM")); }

TEST(Program, HelpListsTheOptionsWithoutADisplayAndUnknownOptionsAreRefused) {
  const ProgramRun help = runProgram(armQuarn(), {"--help"}, 10000, false);
  ASSERT_TRUE(help.finished);
  EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
  for (const char* option : {"--simulate", "--brenk", "--mode N", "--screenshot FILE", "--measure-updates"})
    EXPECT_TRUE(help.out.contains(QString::fromLatin1(option))) << option;

  const ProgramRun bogus = runProgram(armQuarn(), {"--bogus"}, 10000, false);
  ASSERT_TRUE(bogus.finished);
  EXPECT_EQ(bogus.exitCode, 2);
  EXPECT_TRUE(bogus.err.contains(QStringLiteral("unknown option --bogus"))) << bogus.err.toStdString();
  const ProgramRun mode = runProgram(armQuarn(), {"--mode", "5"}, 10000, false);
  EXPECT_EQ(mode.exitCode, 2);
}

TEST(Program, AScreenshotRunNeverWaitsOnAModalError) {
  // The program alone in a folder: the library is not found, which shows a modal error in a run
  // with an operator. Unattended, the error goes to stderr and the run fails at once.
  QTemporaryDir dir;
  const QString copy = dir.filePath("ARM_Quarn");
  ASSERT_TRUE(QFile::copy(armQuarn(), copy));
  const QString picture = dir.filePath("shot.png");
  const ProgramRun r = runProgram(
      copy, {"--library", dir.filePath("none.so"), "--screenshot", picture, "--after-ms", "100"}, 20000);
  ASSERT_TRUE(r.finished) << "the run waited for an operator";
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("Error load library !"))) << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(picture));
}

TEST(Program, AScreenshotOfTheRegulationScreenOnTheSimulator) {
  QTemporaryDir dir;
  const QString picture = dir.filePath("regulation.png");
  const ProgramRun r = runProgram(armQuarn(),
                                  {"--simulate", "--mode", "1", "--settings", dir.filePath("arm_quarn.ini"),
                                   "--screenshot", picture, "--after-ms", "3000"},
                                  30000);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QImage image(picture);
  ASSERT_FALSE(image.isNull());
  EXPECT_GE(image.width(), 1100);
}

TEST(Program, AProjectThatCannotBeLoadedFailsAScreenshotRun) {
  // A project cut off in its last line: unattended, the refusal reaches stderr and the status.
  QTemporaryDir dir;
  const QString project = dir.filePath("cut.aip");
  {
    QFile f(project);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Device_ch_0]\r\nenabled=1\r\nname=half a li");
  }
  const QString picture = dir.filePath("shot.png");
  const ProgramRun r =
      runProgram(armQuarn(),
                 {"--simulate", "--project", project, "--settings", dir.filePath("arm_quarn.ini"),
                  "--screenshot", picture, "--after-ms", "1500"},
                 30000);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("не загружен"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(project)) << r.err.toStdString();
}

}  // namespace
