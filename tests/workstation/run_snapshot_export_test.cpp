// A run owns what it measured. A verification runs on the simulator from "ПУСК" to its end; then a
// HART search rewrites the grid's tolerances, the operator corrects a serial number and widens both
// ranges.
// "в Excel" still writes the run's serial numbers, range and verdict, the history entry holds the
// same, and the protocol rebuilt from the history is the exported one cell for cell.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "DeviceGrid.h"
#include "EditableListView.h"
#include "HistoryDialog.h"
#include "HistoryStore.h"
#include "LabelPanel.h"
#include "ProjectFile.h"
#include "ProtocolExporter.h"
#include "RunRecorder.h"
#include "bench_fixture.h"
#include "openpyxl_reader.h"
#include "quarnsim/scenario.h"
#include "test_paths.h"

namespace {

using namespace arm;
using armtest::pressMouse;
namespace data = quarn::data;
namespace history = quarn::history;
using json = nlohmann::json;

class RunSnapshotOnSimulator : public armtest::Workstation {
 protected:
  QString historyPath() const { return dir.filePath(QStringLiteral("history.db")); }

  // The window with the run history in the test's folder, connected to the simulator running
  // `scenarioText`, with `p` loaded.
  void open(const char* scenarioText, const data::Project& p) {
    // The standard template where the program keeps it.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("template_xml")));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(quarn::test::path("XLSXTEST_TEMPLATE")),
                            dir.filePath(QStringLiteral("template_xml/Протокол поверки.xlsx"))));
    quarnsim::Scenario s;
    ASSERT_EQ(quarnsim::applyScenarioText(s, scenarioText), "");
    plugSimulator(s);
    MainWindow::Options o = armtest::windowOptions(dir.path());
    o.historyPath = historyPath();
    window = std::make_unique<MainWindow>(o);
    ASSERT_EQ(window->create(), 0);
    window->show();
    window->TimerLoadTimer();
    connectTo("COM7");
    runFor(2000);
    const QString file = dir.filePath(QStringLiteral("job.aip"));
    data::Project copy = p;
    ASSERT_EQ(data::saveProject(file.toStdString(), copy).why(), "");
    ASSERT_TRUE(window->projectController().load(file));
  }
  // Timer periods until `done`, the operator bringing the pressure to every new target.
  bool run(const std::function<bool()>& done, uint32_t maxMs) {
    float target = std::numeric_limits<float>::quiet_NaN();
    return runUntil(
        [&] {
          QCoreApplication::processEvents();
          const float t = dev().pTarget;
          if (t != target && !std::isnan(t)) {
            target = t;
            bench->operatorSetsPressure(t);
          }
          return done();
        },
        maxMs);
  }
  EditableListView& grid() { return *window->screen<ParametersScreen>()->deviceGrid()->view(); }
  void editCell(int row, int channel, const QString& text) {
    grid().clickCell(row, channel);
    ASSERT_NE(grid().editingSlot(), -1) << "row " << row << " of channel " << channel;
    grid().lineEditor()->setText(text);
    grid().commitEditor();
  }
};

// Every text of every sheet of a workbook, with the sheet's name, state and cells.
json sheetsOf(const QString& workbook) {
  std::string error;
  const auto dump = xlsxtest::readWorkbook(workbook.toStdString(), &error);
  EXPECT_TRUE(dump) << error;
  return dump ? (*dump)["sheets"] : json::array();
}
bool anyCellHolds(const json& sheets, const std::string& part) {
  for (const json& sheet : sheets) {
    if (sheet["name"].get<std::string>().find(part) != std::string::npos) return true;
    for (const auto& [ref, value] : sheet["cells"].items())
      if (value.is_string() && value.get<std::string>().find(part) != std::string::npos) return true;
  }
  return false;
}
std::string stateOf(const json& sheets, const std::string& name) {
  for (const json& sheet : sheets)
    if (sheet["name"] == name) return sheet["state"];
  return "absent";
}

TEST_F(RunSnapshotOnSimulator, ExportAfterAHartSearchAndARangeChangeWritesTheRunsDevices) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  // Two 0..600 kPa transmitters; the second is 0.3 % off: within the run's 0.5 % x 0.7 = 0.35 %, beyond
  // the 0.2 % x 0.7 = 0.14 % a HART search gives the grid afterwards.
  data::Project p;
  const char* serials[] = {"A-1", "A-2"};
  for (std::size_t c = 0; c < 2; ++c) {
    data::ChannelParams& ch = p.channels[c];
    ch.enabled = true;
    ch.name = "Метран-150";
    ch.model = "ПД-100";
    ch.sn = serials[c];
    ch.Max = 600;
    ch.errOk = 0.5f;
  }
  p.readiness.holdTimeS = "2";
  p.pointSets[0] = {};
  const float points[] = {0, 50, 100};
  for (std::size_t i = 0; i < 3; ++i) p.pointSets[0][i] = {true, points[i], 0};
  open("channels = 2\nchannel.1.device_id = 501\nchannel.2.device_id = 502\nchannel.2.error_percent = 0.3\n",
       p);
  if (HasFatalFailure()) return;

  window->SelectMode(kModeVerification);
  auto* screen = window->screen<VerificationScreen>();
  QStringList messages;
  QObject::connect(screen, &VerificationScreen::messageShown, [&](const QString& t) { messages << t; });
  ASSERT_TRUE(screen->startRun());
  ASSERT_TRUE(run([&] { return !messages.isEmpty(); }, 10 * 60 * 1000));
  ASSERT_EQ(messages, QStringList{QStringLiteral("Поверка завершена")});
  ASSERT_TRUE(runUntil([&] {
    QCoreApplication::processEvents();
    return dev().task == TASK_MEASURE && dev().retCode != 14 && window->runRecorder()->lastRunId() != 0;
  })) << window->runRecorder()->lastError().toStdString();
  ASSERT_EQ(screen->results()->rowCount(), 3);

  // A HART search takes the transmitters into the grid: 0.2 %, the serials the operator entered kept.
  window->SelectMode(kModeHart);
  auto* search = window->findChild<LabelPanel*>(QStringLiteral("pnHartSearch"));
  ASSERT_TRUE(runUntil([&] { return search->isEnabled(); }));
  pressMouse(search, true);
  ASSERT_TRUE(runUntil([&] { return dev().task == TASK_MEASURE && !search->isHidden(); }, 60000));
  runFor(1000);
  ASSERT_EQ(grid().GetText(data::kRowSn, 0), QStringLiteral("A-1"));
  ASSERT_EQ(grid().GetText(data::kRowErrOk, 1), QStringLiteral("0.2"));
  // The operator corrects the first serial and widens both ranges.
  window->SelectMode(kModeParameters);
  editCell(data::kRowSn, 0, QStringLiteral("B-9"));
  editCell(data::kRowMax, 0, QStringLiteral("1000"));
  editCell(data::kRowMax, 1, QStringLiteral("1000"));
  ASSERT_EQ(dev().devCh[1].Max, 1000.0f);

  window->SelectMode(kModeVerification);
  Prompts::messageWindow = [](const QString&, bool, const QString&) { return ZDialog::kResultCancel; };
  pressMouse(window->findChild<QWidget*>(QStringLiteral("lb_ToExcell")), true);
  const QString workbook = screen->exporter()->lastWorkbook();
  ASSERT_FALSE(workbook.isEmpty()) << window->messageWindow()->text().toStdString();
  EXPECT_TRUE(workbook.endsWith(QStringLiteral("Протокол поверки ДД №A-1 A-2.xlsx")))
      << workbook.toStdString();
  const json sheets = sheetsOf(workbook);
  EXPECT_EQ(stateOf(sheets, "Протокол A-1  (к.1)"), "visible");
  EXPECT_EQ(stateOf(sheets, "Протокол A-2  (к.2)"), "visible");
  // Channel 2 as the run judged it: suitable (its certificate shown, the notice hidden).
  EXPECT_EQ(stateOf(sheets, "свидетельство A-2 (к.2)"), "visible");
  EXPECT_EQ(stateOf(sheets, "&DEV_VER_2"), "hidden");
  EXPECT_TRUE(anyCellHolds(sheets, "0...600"));
  for (const char* later : {"B-9", "0...1000"}) EXPECT_FALSE(anyCellHolds(sheets, later)) << later;

  // The history entry is the same run.
  auto store = history::HistoryStore::open(historyPath().toStdString());
  ASSERT_TRUE(store) << store.error().message;
  const auto stored = store.value()->show(window->runRecorder()->lastRunId());
  ASSERT_TRUE(stored) << stored.error().message;
  ASSERT_EQ(stored->record.devices.size(), 2u);
  EXPECT_EQ(stored->record.devices[0].serial, "A-1");
  EXPECT_EQ(stored->record.devices[1].serial, "A-2");
  EXPECT_EQ(stored->record.devices[1].rangeMax, 600.0f);
  EXPECT_EQ(stored->record.devices[1].verdict, history::Verdict::Suitable);

  // The protocol made again from the history is the exported one, cell for cell.
  HistoryDialog* dialog = window->openHistory();
  ASSERT_TRUE(dialog->selectRun(window->runRecorder()->lastRunId()));
  const QString rebuilt = dialog->rebuildProtocol(dir.filePath(QStringLiteral("rebuilt.xlsx")));
  ASSERT_FALSE(rebuilt.isEmpty());
  const json again = sheetsOf(rebuilt);
  ASSERT_EQ(again.size(), sheets.size());
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    SCOPED_TRACE(sheets[i]["name"].get<std::string>());
    EXPECT_EQ(again[i]["name"], sheets[i]["name"]);
    EXPECT_EQ(again[i]["state"], sheets[i]["state"]);
    EXPECT_EQ(again[i]["cells"], sheets[i]["cells"]);
  }
}

}  // namespace
