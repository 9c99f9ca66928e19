// The verification screen's mode "Калибровка с подстройкой" against the calibration bench
// (examples/calibration_bench.scenario, examples/calibration.aip) in virtual time: the whole
// sequence on the Quarn (the simulator's operator bringing each pressure) and on the Brenk
// (unattended), "СТОП" at each stage, a link lost during the current trim, and the serial numbers the
// operator entered against a HART search. CALIBRATION_SCREENSHOT=FILE keeps a picture of the
// finished sequence, made as ARM_Quarn --screenshot makes its pictures.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "CalibrationPanel.h"
#include "CalibrationRuns.h"
#include "HistoryStore.h"
#include "LabelPanel.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "Prompts.h"
#include "ProtocolExporter.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "TDevValues.h"
#include "VerificationScreen.h"
#include "WindowPicture.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "calibration_report.h"
#include "openpyxl_reader.h"
#include "quarnsim/scenario.h"
#include "quarnsim/transmitter.h"
#include "test_paths.h"

namespace {

using namespace arm;
using armtest::pressMouse;
using quarn::data::CalibrationStage;
namespace data = quarn::data;
namespace history = quarn::history;

// The project's serial numbers of the four transmitters.
const char* const kSerials[4] = {"2001", "2002", "2003", "2004"};

class CalibrationWorkstation : public armtest::Workstation {
 protected:
  // The bench on `model`, the calibration project (changed by `edit`) loaded, the verification
  // screen in calibration mode. Runs go into a history of the test's own.
  VerificationScreen& open(quarnsim::Model model, const std::function<void(data::Project&)>& edit = {}) {
    quarnsim::Scenario scenario;
    EXPECT_EQ(quarnsim::loadScenarioFile(
                  scenario, quarn::test::path("QUARN_EXAMPLES_DIR") + "/calibration_bench.scenario"),
              "");
    scenario.model = model;
    operatorBringsPressure_ = model == quarnsim::Model::Quarn;
    plugSimulator(scenario);
    MainWindow::Options options = armtest::windowOptions(dir.path(), model == quarnsim::Model::Brenk ? 0 : 1);
    options.historyPath = historyPath();
    window = std::make_unique<MainWindow>(options);
    EXPECT_EQ(window->create(), 0);
    window->show();
    window->TimerLoadTimer();  // now, or it would load the default project over ours later
    connectTo("COM7");
    runFor(2000);
    data::Project p;
    EXPECT_TRUE(data::loadProject(quarn::test::path("QUARN_EXAMPLES_DIR") + "/calibration.aip", p));
    if (edit) edit(p);
    const QString file = dir.filePath(QStringLiteral("job.aip"));
    EXPECT_EQ(data::saveProject(file.toStdString(), p).why(), "");
    EXPECT_TRUE(window->projectController().load(file));
    window->SelectMode(kModeVerification);
    VerificationScreen& s = *window->screen<VerificationScreen>();
    QObject::connect(&s, &VerificationScreen::messageShown, [this](const QString& t) { messages << t; });
    s.setCalibrationMode(true);
    return s;
  }

  QString historyPath() const { return dir.filePath(QStringLiteral("history.db")); }

  // Timer periods until `done`; on the Quarn the operator brings the pressure to every new target.
  bool run(const std::function<bool()>& done, uint32_t maxMs) {
    float target = std::numeric_limits<float>::quiet_NaN();
    return runUntil(
        [&] {
          QCoreApplication::processEvents();
          const float t = dev().pTarget;
          if (operatorBringsPressure_ && t != target && !std::isnan(t)) {
            target = t;
            bench->operatorSetsPressure(t);
          }
          return done();
        },
        maxMs);
  }

  VerificationScreen& screen() { return *window->screen<VerificationScreen>(); }
  CalibrationStage stage() {
    const data::CalibrationSequence* seq = screen().calibration()->sequence();
    return seq ? seq->stage() : CalibrationStage::Idle;
  }
  QString stageText() { return window->findChild<QLabel*>(QStringLiteral("lbCalibStage"))->text(); }
  bool startShown() { return !window->findChild<QWidget*>(QStringLiteral("Panel_StartPov"))->isHidden(); }
  std::vector<int> fixedChannels() {
    std::vector<int> out;
    for (int c = 0; c < 4; ++c)
      if (bench->transmitter(c).fixedCurrentMode()) out.push_back(c);
    return out;
  }
  std::string projectSerial(int c) {
    return window->projectController().model().channels[static_cast<size_t>(c)].sn;
  }

  std::unique_ptr<history::HistoryStore> store() {
    history::OpenOptions o;
    o.readOnly = true;
    auto opened = history::HistoryStore::open(historyPath().toStdString(), o);
    EXPECT_TRUE(opened.ok()) << opened.error().message;
    return opened ? std::move(opened.value()) : nullptr;
  }
  std::vector<history::RunSummary> storedRuns() {
    if (!QFileInfo::exists(historyPath())) return {};
    auto s = store();
    if (!s) return {};
    auto runs = s->list();
    EXPECT_TRUE(runs.ok()) << runs.error().message;
    return runs ? runs.value() : std::vector<history::RunSummary>{};
  }

  // The sequence from "ПУСК" to its message; the checks a finished calibration of the bench passes:
  // the two devices out of tolerance trimmed and suitable as left, the one in tolerance never hears a
  // trim, the plain one is named, no device left in fixed-current mode, both runs and the trims in the
  // history under the project's serial numbers.
  void calibrateAndCheck(VerificationScreen& s) {
    ASSERT_TRUE(s.startRun());
    EXPECT_FALSE(window->findChild<QWidget*>(QStringLiteral("pm_mode_Check"))->isEnabled());
    // The sequence's own HART search is a stage of the calibration panel, not a search "during a
    // verification" the parameters screen would report.
    bool toldSearchDuringRun = false;
    ASSERT_TRUE(run(
        [&] {
          toldSearchDuringRun |=
              window->context().messageWindow().text().contains(QStringLiteral("во время поверки"));
          return !messages.isEmpty();
        },
        30 * 60 * 1000))
        << stageText().toStdString();
    EXPECT_FALSE(toldSearchDuringRun);
    EXPECT_EQ(messages.back(), QStringLiteral("Калибровка завершена: подстроенные приборы годны."));
    // The run that ended the calibration is written once control is back in the event loop.
    QCoreApplication::processEvents();
    EXPECT_FALSE(s.running());
    EXPECT_TRUE(window->findChild<QWidget*>(QStringLiteral("pm_mode_Check"))->isEnabled());

    const QTableWidget& table = *window->findChild<QTableWidget*>(QStringLiteral("lvCalib"));
    auto cell = [&](int row, int col) { return table.item(row, col)->text(); };
    for (int row : {0, 1}) {
      SCOPED_TRACE(row);
      EXPECT_EQ(cell(row, 1), QStringLiteral("не годен"));
      EXPECT_EQ(cell(row, 2), QStringLiteral("сенсор, ток"));
      EXPECT_EQ(cell(row, 3), QStringLiteral("годен"));
      EXPECT_EQ(cell(row, 4), QStringLiteral("подстроен"));
    }
    EXPECT_EQ(cell(2, 1), QStringLiteral("годен"));
    EXPECT_EQ(cell(2, 2), QStringLiteral("нет"));
    EXPECT_EQ(cell(2, 3), QStringLiteral("годен"));
    EXPECT_EQ(cell(3, 4), QStringLiteral("подстройка невозможна: нет HART"));
    EXPECT_EQ(stageText(), QStringLiteral("Калибровка завершена"));

    for (uint8_t trim : {43, 45, 46, 82, 123}) {
      const auto& heard = bench->transmitter(2).commandsSeen();
      EXPECT_EQ(std::count(heard.begin(), heard.end(), trim), 0) << "command " << int(trim);
    }
    EXPECT_TRUE(fixedChannels().empty());

    // The history pairs each trimmed device's runs with its trims by the serial of the project.
    auto st = store();
    ASSERT_NE(st, nullptr);
    for (int c = 0; c < 3; ++c) {
      SCOPED_TRACE(kSerials[c]);
      auto pair = st->pair(kSerials[c]);
      ASSERT_TRUE(pair.ok()) << pair.error().message;
      EXPECT_TRUE(pair->asFound.has_value());
      ASSERT_TRUE(pair->asLeft.has_value());
      EXPECT_EQ(pair->adjustments.size(), c < 2 ? 2u : 0u) << "sensor and current trim";
    }
    const std::vector<history::RunSummary> runs = storedRuns();
    ASSERT_EQ(runs.size(), 2u);
    for (const history::RunSummary& r : runs) {
      ASSERT_EQ(r.devices.size(), 4u);
      for (const history::DeviceSummary& d : r.devices)
        EXPECT_EQ(d.serial, kSerials[d.channel - 1]) << "channel " << d.channel;
    }
  }

  QStringList messages;

 private:
  bool operatorBringsPressure_ = true;
};

TEST_F(CalibrationWorkstation, TrimsTheDevicesOutOfToleranceAndShowsBothVerdicts) {
  VerificationScreen& s = open(quarnsim::Model::Quarn, [](data::Project& p) {
    p.reportTemplate.folder = quarn::test::path("QUARN_EXAMPLES_DIR") + "/../template_xml/";
    p.reportTemplate.name = "Протокол поверки.xlsx";
  });
  EXPECT_FALSE(window->findChild<QWidget*>(QStringLiteral("Panel_Calib"))->isHidden());
  ASSERT_NO_FATAL_FAILURE(calibrateAndCheck(s));

  // "в Excel" writes the calibration's protocol, not the as-left run's alone: device 1's protocol
  // holds its result as found and its trims.
  ProtocolExporter& exporter = *s.exporter();
  exporter.setUserDataDir(dir.path());
  Prompts::messageWindow = [](const QString&, bool, const QString&) { return ZDialog::kResultCancel; };
  exporter.exportProtocol();
  Prompts::reset();
  ASSERT_FALSE(exporter.lastWorkbook().isEmpty());
  QProcess unzip;
  unzip.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral("-c"),
               QStringLiteral(
                   "import sys, zipfile; "
                   "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read('xl/worksheets/sheet1.xml'))"),
               exporter.lastWorkbook()});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  const QString sheet = QString::fromUtf8(unzip.readAllStandardOutput());
  EXPECT_TRUE(sheet.contains(QStringLiteral("ПРОТОКОЛ КАЛИБРОВКИ"))) << sheet.left(2000).toStdString();
  EXPECT_TRUE(sheet.contains(QStringLiteral("Результаты до подстройки: отрицательные.")));
  EXPECT_TRUE(sheet.contains(QStringLiteral("подстройка сенсора: Pmin")));

  // The history makes the same workbook again from the as-left run, as quarn-cli history report does:
  // the as-found run, the trims with their values and the reasons it stored.
  if (xlsxtest::openpyxlMissing().empty()) {
    auto st = store();
    ASSERT_NE(st, nullptr);
    const std::vector<history::RunSummary> runs = storedRuns();
    const auto asLeft = std::find_if(runs.begin(), runs.end(), [](const history::RunSummary& r) {
      return r.tag == history::RunTag::AsLeft;
    });
    ASSERT_NE(asLeft, runs.end());
    const auto calibration = st->calibrationOf(asLeft->runId);
    ASSERT_TRUE(calibration.ok()) << calibration.error().message;
    EXPECT_EQ(calibration->adjustments.size(), 4u);
    for (const history::Adjustment& a : calibration->adjustments) EXPECT_FALSE(a.note.empty()) << a.serial;
    quarn::report::ReportRequest request;
    request.templateFolder = quarn::test::path("QUARN_EXAMPLES_DIR") + "/../template_xml/";
    request.templateName = "Протокол поверки.xlsx";
    request.outputPath = dir.filePath(QStringLiteral("again.xlsx")).toStdString();
    request.historyEntry = history::protocolFooter(calibration->last.contentId, calibration->last.hash);
    ASSERT_EQ(quarn::report::makeCalibrationReport(history::calibrationRunsOfStored(*calibration), request),
              0);
    std::string error;
    const auto written = xlsxtest::readWorkbook(exporter.lastWorkbook().toStdString(), &error);
    ASSERT_TRUE(written) << error;
    const auto rebuilt = xlsxtest::readWorkbook(request.outputPath, &error);
    ASSERT_TRUE(rebuilt) << error;
    ASSERT_EQ((*written)["sheets"].size(), (*rebuilt)["sheets"].size());
    for (size_t k = 0; k < (*written)["sheets"].size(); ++k) {
      SCOPED_TRACE((*written)["sheets"][k]["name"].get<std::string>());
      EXPECT_EQ((*written)["sheets"][k]["cells"], (*rebuilt)["sheets"][k]["cells"]);
    }
    EXPECT_EQ(*written, *rebuilt);
  }
  if (const char* shot = std::getenv("CALIBRATION_SCREENSHOT")) {
    // The screen as the operator sees it once the message is read: refreshed after the end.
    runFor(2000);
    QCoreApplication::processEvents();
    EXPECT_TRUE(windowPicture(*window).save(QString::fromLocal8Bit(shot)));
  }
}

// The Brenk sets every pressure itself: nobody touches the bench from "ПУСК" to the end. Before the
// calibration the operator searched on the HART screen, which must leave the serial numbers of the
// project in place (the history pairs the runs and trims by them).
TEST_F(CalibrationWorkstation, OnTheBrenkTheWholeSequenceRunsUnattended) {
  VerificationScreen& s = open(quarnsim::Model::Brenk);
  window->SelectMode(kModeHart);
  auto* search = window->findChild<LabelPanel*>(QStringLiteral("pnHartSearch"));
  ASSERT_TRUE(runUntil([&] { return search->isEnabled(); }));
  pressMouse(search, true);
  ASSERT_TRUE(run([&] { return dev().task == TASK_MEASURE && !search->isHidden(); }, 300000));
  ASSERT_TRUE(run([&] { return dev().hart[0].found != 0; }, 1000));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(projectSerial(c), kSerials[c]) << c;
  window->SelectMode(kModeVerification);
  ASSERT_NO_FATAL_FAILURE(calibrateAndCheck(s));
}

// A serial left empty in the grid is filled from the device (its HART id), and the operator is told;
// one that was entered stays.
TEST_F(CalibrationWorkstation, AHartSearchFillsOnlyAnEmptySerialAndSaysSo) {
  open(quarnsim::Model::Quarn, [](data::Project& p) { p.channels[1].sn.clear(); });
  window->SelectMode(kModeHart);
  auto* search = window->findChild<LabelPanel*>(QStringLiteral("pnHartSearch"));
  ASSERT_TRUE(runUntil([&] { return search->isEnabled(); }));
  pressMouse(search, true);
  ASSERT_TRUE(run([&] { return dev().task == TASK_MEASURE && !search->isHidden(); }, 300000));
  runFor(500);
  QCoreApplication::processEvents();
  // A copy: the record is packed, and an assertion binds its arguments by reference.
  const auto deviceId = dev().hart[1].deviceId;
  const std::string id = std::to_string(deviceId);
  ASSERT_NE(deviceId, 0u);
  EXPECT_EQ(projectSerial(0), "2001");
  EXPECT_EQ(projectSerial(1), id) << "the empty serial takes the device's id";
  EXPECT_EQ(projectSerial(2), "2003");
  // The search's list of changes names the filled serial, and no other serial.
  const QStringList told = window->context().messageWindow().text().split(QLatin1Char('\n'));
  auto line = [&](int channel) {
    for (const QString& l : told)
      if (l.startsWith(QStringLiteral("Канал %1: ").arg(channel))) return l;
    return QString();
  };
  EXPECT_TRUE(line(2).contains(QStringLiteral("Серийный №: — → ") + QString::fromStdString(id)))
      << told.join(QLatin1Char('\n')).toStdString();
  for (int channel : {1, 3, 4}) EXPECT_FALSE(line(channel).contains(QStringLiteral("Серийный"))) << channel;
}

// "СТОП" at each stage: the sequence ends with the operator's reason, the screen is idle again with
// the stage saying so, no device is left in fixed-current mode, and the as-found run is in the
// history once it had finished (never the unfinished as-left run).
struct StopCase {
  const char* name;
  CalibrationStage at;
  bool whileFixed;    // wait until the current trim holds a device at a fixed current
  uint32_t settleMs;  // then let the stage go on this long (a search under way, a point or two measured)
  size_t runsStored;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class CalibrationStop : public CalibrationWorkstation, public ::testing::WithParamInterface<StopCase> {};

TEST_P(CalibrationStop, EndsCleanlyAndLeavesNoDeviceFixed) {
  const StopCase& k = GetParam();
  VerificationScreen& s = open(quarnsim::Model::Quarn);
  ASSERT_TRUE(s.startRun());
  ASSERT_TRUE(
      run([&] { return stage() == k.at && (!k.whileFixed || !fixedChannels().empty()); }, 30 * 60 * 1000))
      << stageText().toStdString();
  run([] { return false; }, k.settleMs);
  ASSERT_EQ(stage(), k.at);
  pressMouse(window->findChild<QWidget*>(QStringLiteral("Label_StopPov")), true);
  ASSERT_TRUE(run([&] { return !messages.isEmpty(); }, 60000)) << stageText().toStdString();
  EXPECT_EQ(messages, QStringList{QStringLiteral("Калибровка остановлена: остановлено оператором")});
  EXPECT_FALSE(s.running());
  EXPECT_TRUE(startShown());
  EXPECT_EQ(stageText(), QStringLiteral("Калибровка остановлена (остановлено оператором)"));
  ASSERT_TRUE(run([&] { return dev().task == TASK_MEASURE; }, 10000));
  runFor(3000);
  EXPECT_TRUE(fixedChannels().empty());
  if (k.whileFixed) {
    // The devices the trim had fixed heard the exit last.
    for (int c : {0, 1}) EXPECT_EQ(bench->transmitter(c).commandsSeen().back(), 40) << c;
  }
  const std::vector<history::RunSummary> runs = storedRuns();
  ASSERT_EQ(runs.size(), k.runsStored);
  if (!runs.empty()) {
    EXPECT_EQ(runs[0].tag, history::RunTag::AsFound);
  }
  EXPECT_EQ(window->context().calibrationRunTag(), -1) << "a later verification is no calibration's run";
}

INSTANTIATE_TEST_SUITE_P(
    AtEachStage, CalibrationStop,
    ::testing::Values(StopCase{"Search", CalibrationStage::Search, false, 1500, 0},
                      StopCase{"AsFound", CalibrationStage::AsFound, false, 20000, 0},
                      StopCase{"SensorTrim", CalibrationStage::SensorTrim, false, 3000, 1},
                      StopCase{"CurrentTrim", CalibrationStage::CurrentTrim, true, 0, 1},
                      StopCase{"AsLeft", CalibrationStage::AsLeft, false, 20000, 1}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// The link goes while the current trim holds devices at fixed currents: the sequence stops with its
// message, the as-found run stays in the history, and the next connection finds the devices again
// and takes them out of fixed-current mode (command 40 with 0 mA the last each hears), telling the
// operator. The project's serials survive the search after the reconnect.
TEST_F(CalibrationWorkstation, ALinkLostDuringTheCurrentTrimIsMadeGoodOnTheNextConnection) {
  VerificationScreen& s = open(quarnsim::Model::Quarn);
  ASSERT_TRUE(s.startRun());
  ASSERT_TRUE(run([&] { return stage() == CalibrationStage::CurrentTrim && !fixedChannels().empty(); },
                  30 * 60 * 1000))
      << stageText().toStdString();
  runFor(1000);
  const std::vector<int> fixedAtLoss = fixedChannels();
  ASSERT_FALSE(fixedAtLoss.empty());
  bench->setConnected(false);
  ASSERT_TRUE(run([&] { return !messages.isEmpty(); }, 60000)) << stageText().toStdString();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Калибровка остановлена: связь с калибратором потеряна")))
      << messages[0].toStdString();
  EXPECT_TRUE(
      messages[0].contains(QStringLiteral("Приборы каналов 1, 2 могут оставаться в режиме "
                                          "фиксированного тока: при восстановлении связи они будут "
                                          "из него выведены.")))
      << messages[0].toStdString();
  EXPECT_FALSE(s.running());
  EXPECT_EQ(fixedChannels(), fixedAtLoss) << "nothing reaches the devices without the link";
  runFor(5000);
  QCoreApplication::processEvents();
  std::vector<history::RunSummary> runs = storedRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].tag, history::RunTag::AsFound);

  bench->setConnected(true);
  ASSERT_TRUE(run([&] { return messages.size() == 2 && dev().task == TASK_MEASURE; }, 120000))
      << stageText().toStdString();
  EXPECT_EQ(messages[1], QStringLiteral("После восстановления связи: Приборы каналов 1, 2 выведены из режима "
                                        "фиксированного тока."));
  EXPECT_TRUE(fixedChannels().empty());
  for (int c : fixedAtLoss) EXPECT_EQ(bench->transmitter(c).commandsSeen().back(), 40) << c;
  EXPECT_FALSE(s.running());
  EXPECT_TRUE(startShown());
  EXPECT_FALSE(s.calibration()->release().armed());
  // Once done, never again: another notification or a second reconnect sends nothing more.
  const size_t heard = bench->transmitter(0).commandsSeen().size();
  runFor(10000);
  EXPECT_EQ(bench->transmitter(0).commandsSeen().size(), heard);
  EXPECT_EQ(messages.size(), 2);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(projectSerial(c), kSerials[c]) << c;
  runs = storedRuns();
  EXPECT_EQ(runs.size(), 1u);
}

}  // namespace
