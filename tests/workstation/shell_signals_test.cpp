// ARM_Quarn ended by a signal, checked on the real program with the real simulator: SIGTERM, SIGHUP
// and SIGINT close it as its window's close does. The library's unload takes the calibrator out of
// remote operation while the simulator still runs (its traffic log shows the request and the
// answer), the settings are written, and the simulator it started is gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <ostream>

#include "process_table.h"
#include "sim_traffic.h"
#include "test_paths.h"

namespace {

#if defined(QUARN_HAVE_SIM_PROGRAM)

struct SignalCase {
  int signal;
  const char* name;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class ProgramSignal : public ::testing::TestWithParam<SignalCase> {};

int measuringRequests(const QString& traffic) {
  int n = 0;
  for (const simtraffic::Frame& f : simtraffic::read(traffic.toStdString()))
    n += f.fromHost && f.bytes.find(":1;1;") != std::string::npos;
  return n;
}

TEST_P(ProgramSignal, ClosesTheProgramAsItsWindowDoes) {
  QTemporaryDir dir;
  const QString settings = dir.filePath("arm_quarn.ini");
  const QString traffic = dir.filePath("traffic.log");
  const QString link = dir.filePath("calibrator");
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(env);
  program.start(QString::fromStdString(quarn::test::path("ARM_QUARN_PROGRAM")),
                {"--simulate", "--settings", settings, "--sim-arg", "--log", "--sim-arg", traffic,
                 "--sim-arg", "--link", "--sim-arg", link});
  ASSERT_TRUE(program.waitForStarted(5000));
  // Whatever the test's outcome, nothing it started stays behind.
  struct CleanUp {
    QProcess& program;
    std::string link;
    ~CleanUp() {
      if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(2000);
      }
      proctest::killProcessesWithArgument(link);
    }
  } cleanUp{program, link.toStdString()};

  // Connected and measuring: the workstation's measuring requests reach the simulator.
  for (int i = 0; i < 300 && measuringRequests(traffic) < 3 && program.state() == QProcess::Running; ++i)
    QThread::msleep(100);
  ASSERT_GE(measuringRequests(traffic), 3)
      << "the workstation did not measure: " << program.readAllStandardError().toStdString();
  // The program and the simulator it started carry the link's path.
  ASSERT_EQ(proctest::processesWithArgument(link.toStdString()).size(), 2u) << "the simulator runs";
  ASSERT_FALSE(QFileInfo::exists(settings)) << "the settings are written when the program closes";

  ::kill(static_cast<pid_t>(program.processId()), GetParam().signal);
  const bool ended = program.waitForFinished(20000);
  const std::string err = program.readAllStandardError().toStdString();
  ASSERT_TRUE(ended) << err;
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "killed by the signal: " << err;
  EXPECT_EQ(program.exitCode(), 0) << err;
  EXPECT_NE(err.find(std::string(GetParam().name) + ": closing"), std::string::npos) << err;

  EXPECT_TRUE(proctest::noProcessWithArgument(link.toStdString(), 3000)) << "the simulator still runs";
  EXPECT_FALSE(QFileInfo::exists(link)) << "the simulator removes its link when it ends cleanly";
  EXPECT_EQ(simtraffic::remoteOffAfterMeasuring(simtraffic::read(traffic.toStdString())), "");
  QFile written(settings);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << "the settings were not written";
  EXPECT_TRUE(written.readAll().contains("[MainForm]"));
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramSignal,
                         ::testing::Values(SignalCase{SIGTERM, "SIGTERM"}, SignalCase{SIGHUP, "SIGHUP"},
                                           SignalCase{SIGINT, "SIGINT"}),
                         [](const ::testing::TestParamInfo<SignalCase>& info) {
                           return std::string(info.param.name);
                         });

#endif

}  // namespace
