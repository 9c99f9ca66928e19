// The run history in the workstation: the recorder that stores every finished run (against the
// simulator through the main window, and from a record the test prepares), the as-left offer, a
// history that cannot be written, and the "История поверок" dialog (filters, points and verdicts, the
// as-found / as-left pair, the protocol made again).
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "HartCurrentPanel.h"
#include "HistoryAnchors.h"
#include "HistoryDialog.h"
#include "HistoryStore.h"
#include "LabelPanel.h"
#include "ProjectToDev.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "RunControl.h"
#include "RunRecorder.h"
#include "Suitability.h"
#include "bench_fixture.h"
#include "quarnsim/scenario.h"
#include "screen_fixture.h"
#include "test_paths.h"

namespace {

using namespace armtest;
namespace history = quarn::history;
namespace data = quarn::data;

std::unique_ptr<history::HistoryStore> openStore(const QString& path, bool readOnly = true) {
  history::OpenOptions o;
  o.readOnly = readOnly;
  auto opened = history::HistoryStore::open(path.toStdString(), o);
  EXPECT_TRUE(opened.ok()) << opened.error().message;
  return opened ? std::move(opened.value()) : nullptr;
}

// The runs of a history in the order they were stored.
std::vector<history::RunSummary> storedRuns(const QString& path) {
  auto store = openStore(path);
  if (!store) return {};
  auto runs = store->list();
  EXPECT_TRUE(runs.ok()) << runs.error().message;
  if (!runs) return {};
  std::vector<history::RunSummary> out = runs.value();
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.runId < b.runId; });
  return out;
}

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The user's settings folder (where the head of each history written is remembered) in a folder of
// the test's own while it lives, so a test never writes into the settings of the one who runs it.
class SettingsFolder {
 public:
  SettingsFolder() : had_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")), old_(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
  }
  ~SettingsFolder() {
    if (had_)
      qputenv("XDG_CONFIG_HOME", old_);
    else
      qunsetenv("XDG_CONFIG_HOME");
  }
  QString headsFile() const { return dir_.filePath(QStringLiteral("quarn/history-heads")); }

 private:
  QTemporaryDir dir_;
  bool had_;
  QByteArray old_;
};

// The text of a workbook's sheets and shared strings (its parts unpacked).
std::string workbookText(const QString& path) {
  int err = 0;
  zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
  if (!z) return {};
  std::string text;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0) continue;
    const std::string name = st.name;
    if (name != "xl/sharedStrings.xml" && name.rfind("xl/worksheets/", 0) != 0) continue;
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    std::string part(static_cast<size_t>(st.size), '\0');
    if (f && zip_fread(f, part.data(), st.size) == static_cast<zip_int64_t>(st.size)) text += part;
    if (f) zip_fclose(f);
  }
  zip_close(z);
  return text;
}

// ---- Against the simulator, through the main window ---------------------------------------------

class HistoryOnSimulator : public Workstation {
 protected:
  MainWindow& makeRecordingWindow() {
    MainWindow::Options o;
    o.model = 1;
    o.programDir = dir.path();
    o.watchTimer = false;
    o.watchDevices = false;
    o.portProbe = [](const QString&) { return true; };
    o.historyPath = historyPath();
    window = std::make_unique<MainWindow>(o);
    EXPECT_EQ(window->create(), 0);
    window->show();
    window->TimerLoadTimer();
    return *window;
  }

  QString historyPath() const { return dir.filePath(QStringLiteral("history.db")); }
  SettingsFolder settings;

  // Two 0..600 kPa transmitters with serials A-101 and B-202.
  static data::Project project(data::ProtocolKind kind) {
    data::Project p;
    const char* serials[] = {"A-101", "B-202"};
    for (int c = 0; c < 2; ++c) {
      data::ChannelParams& ch = p.channels[c];
      ch.enabled = true;
      ch.name = "Метран-150";
      ch.sn = serials[c];
      ch.Min = 0;
      ch.Max = 600;
      ch.errOk = 0.5f;
    }
    p.header.kind = kind;
    p.readiness.holdTimeS = std::string("2");
    p.readiness.bandPrc = "0.05";
    p.readiness.vrCoeff = "0.7";
    return p;
  }

  // Applies the project, starts task 21 with the points and runs until the recorder has dealt with
  // the finished run; the operator brings the pressure to every target. True when the run ended.
  bool runVerification(data::ProtocolKind kind, const std::vector<float>& points) {
    data::ApplyOptions apply;
    apply.calibratorLine = data::calibratorLine(dev());
    const data::ParamsCheck check = data::applyProjectToDev(project(kind), dev(), apply);
    EXPECT_TRUE(check.valid) << check.message;
    data::PointSet set{};
    for (size_t i = 0; i < points.size(); ++i) set[i] = {true, points[i], 0};
    const data::Result<data::RunStart> start = data::prepareRun(dev(), set, false, false);
    EXPECT_TRUE(start.ok()) << start.why();
    dev().refUpper = dev().calInfo.pLimitMax;
    RunRecorder* recorder = window->runRecorder();
    const int64_t before = recorder->lastRunId();
    const QString errorBefore = recorder->lastError();
    window->context().startTask(TASK_CHECK);
    float target = NAN;
    return runUntil(
        [&] {
          if (dev().pTarget != target && !std::isnan(dev().pTarget)) {
            target = dev().pTarget;
            bench->operatorSetsPressure(target);
          }
          QCoreApplication::processEvents();
          return recorder->lastRunId() != before || recorder->lastError() != errorBefore;
        },
        600000);
  }
};

TEST_F(HistoryOnSimulator, AFinishedVerificationIsStoredOnceWithTheRecordsValues) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeRecordingWindow();
  connectTo("COM7");
  ASSERT_TRUE(runUntil([this] { return dev().kestoDataValid != 0; }));
  ASSERT_TRUE(runVerification(data::ProtocolKind::Periodic, {0, 50, 100}));
  ASSERT_EQ(w.runRecorder()->lastRunId(), 1) << w.runRecorder()->lastError().toStdString();

  // The values as the record held them when the run finished (the record is measuring again, but
  // its result table stays until the next run).
  auto store = openStore(historyPath());
  ASSERT_TRUE(store);
  const auto shown = store->show(1);
  ASSERT_TRUE(shown.ok()) << shown.error().message;
  const history::RunRecord& r = shown->record;
  EXPECT_EQ(r.kind, history::RunKind::Verification);
  EXPECT_EQ(r.tag, history::RunTag::AsFound);
  EXPECT_LE(r.startedAtMs, r.finishedAtMs);
  EXPECT_GT(r.startedAtMs, 0);
  ASSERT_EQ(r.devices.size(), 2u);
  for (const history::DeviceResult& d : r.devices) {
    SCOPED_TRACE(d.serial);
    const int c = d.channel - 1;
    EXPECT_EQ(d.serial, c == 0 ? "A-101" : "B-202");
    const std::optional<bool> suitable = data::channelSuitable(dev(), c);
    ASSERT_TRUE(suitable.has_value());
    EXPECT_EQ(d.verdict, *suitable ? history::Verdict::Suitable : history::Verdict::Unsuitable);
    ASSERT_EQ(d.points.size(), 3u);
    const float targets[] = {0, 50, 100};
    for (size_t k = 0; k < 3; ++k) {
      const history::PointResult& p = d.points[k];
      const TPovResult& res = dev().results[k];
      EXPECT_EQ(p.targetPrc, targets[k]);
      EXPECT_EQ(p.pRef, res.pRef);
      EXPECT_EQ(p.current, res.ch[c].current);
      EXPECT_EQ(p.pFromI, res.ch[c].pFromI);
      EXPECT_EQ(p.reducedError, res.ch[c].reducedError);
      EXPECT_EQ(p.uncertainty, res.ch[c].uncertainty);
      EXPECT_TRUE(std::isfinite(p.reducedError));
    }
  }
  EXPECT_NEAR(r.devices[0].points[1].pRef, 300, 5);

  // Later notifications (measuring goes on) store nothing more.
  runFor(3000);
  QCoreApplication::processEvents();
  EXPECT_EQ(storedRuns(historyPath()).size(), 1u);

  // File -> "История поверок" lists it from the window's history.
  QAction* item = w.menuBar()->findChild<QAction*>(QStringLiteral("N_History"));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), QStringLiteral("История поверок"));
  item->trigger();
  auto* dialog = w.findChild<HistoryDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->listedRuns(), std::vector<int64_t>{1});
  EXPECT_EQ(dialog->pointTable()->rowCount(), 6);
  dialog->close();
}

TEST_F(HistoryOnSimulator, AVerificationAfterACalibrationOfTheSameSerialIsOfferedAsAsLeft) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeRecordingWindow();
  connectTo("COM7");
  ASSERT_TRUE(runUntil([this] { return dev().kestoDataValid != 0; }));
  QStringList questions;
  Prompts::messageWindow = [&](const QString& text, bool question, const QString&) {
    if (question) questions << text;
    return 1;  // "Да"
  };
  ASSERT_TRUE(runVerification(data::ProtocolKind::Periodic, {0, 100}));
  ASSERT_TRUE(runVerification(data::ProtocolKind::Calibration, {0, 100}));
  EXPECT_TRUE(questions.isEmpty()) << questions.join('\n').toStdString();
  ASSERT_TRUE(runVerification(data::ProtocolKind::Periodic, {0, 100}));
  ASSERT_EQ(w.runRecorder()->lastRunId(), 3) << w.runRecorder()->lastError().toStdString();
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].contains(QStringLiteral("A-101"))) << questions[0].toStdString();
  EXPECT_TRUE(questions[0].contains(QStringLiteral("B-202")));

  const auto runs = storedRuns(historyPath());
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].tag, history::RunTag::AsFound);
  EXPECT_EQ(runs[1].kind, history::RunKind::Calibration);
  EXPECT_EQ(runs[1].tag, history::RunTag::AsFound);
  EXPECT_EQ(runs[2].tag, history::RunTag::AsLeft);
  auto store = openStore(historyPath());
  const auto pair = store->pair("A-101");
  ASSERT_TRUE(pair.ok());
  ASSERT_TRUE(pair->asFound && pair->asLeft);
  EXPECT_EQ(pair->asFound->runId, 2);
  EXPECT_EQ(pair->asLeft->runId, 3);
  EXPECT_EQ(pair->points.size(), 2u);
}

// A current trim through the HART screen against the simulator's transmitter on channel 1: kept as an
// adjustment of the grid's serial when it succeeds, not when the transmitter has fallen silent.
TEST_F(HistoryOnSimulator, AHartCurrentTrimIsKeptAsAnAdjustmentOnlyWhenItSucceeds) {
  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent transmitter" : "trim done");
    if (window) {
      Prompts::saveQuestion = [](const QString&) { return QMessageBox::No; };
      window->close();
      window.reset();
    }
    for (uint32_t port : ports) g_lib.unregister(port);
    ports.clear();
    QFile::remove(historyPath());
    quarnsim::Scenario scenario;
    ASSERT_EQ(quarnsim::applyScenarioText(scenario, "channels = 1\n"), "");
    plugSimulator(scenario);
    MainWindow& w = makeRecordingWindow();
    connectTo("COM7");
    w.SelectMode(kModeHart);
    auto control = [&](QWidget* in, const char* name) { return in->findChild<LabelPanel*>(name); };
    LabelPanel* search = control(&w, "pnHartSearch");
    ASSERT_TRUE(runUntil([&] { return search->isEnabled(); }));
    pressMouse(search, true);
    ASSERT_TRUE(runUntil([&] { return dev().task == TASK_MEASURE && !search->isHidden(); }, 60000));
    runFor(1000);
    ASSERT_NE(dev().hart[0].found, 0u);
    std::strcpy(dev().devCh[0].sn, "H-1");
    if (silent) bench->transmitter(0).config().faults.silent = true;
    LabelPanel* tune = control(w.screen<HartScreen>()->currentPanel(), "pnTune");
    ASSERT_TRUE(tune->isEnabled());
    pressMouse(tune, true);
    runFor(500);
    ASSERT_TRUE(runUntil([&] { return dev().task == TASK_MEASURE; }, 90000));
    runFor(1000);
    QCoreApplication::processEvents();

    int adjustments = -1;
    if (QFile::exists(historyPath())) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open_v2(historyPath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr),
                SQLITE_OK);
      sqlite3_stmt* st = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(
                    db, "SELECT count(*) FROM adjustment WHERE serial = 'H-1' AND action = 'current_trim'",
                    -1, &st, nullptr),
                SQLITE_OK);
      if (sqlite3_step(st) == SQLITE_ROW) adjustments = sqlite3_column_int(st, 0);
      sqlite3_finalize(st);
      sqlite3_close(db);
    } else {
      adjustments = 0;
    }
    EXPECT_EQ(adjustments, silent ? 0 : 1);
  }
}

// ---- The recorder, from a record the test prepares -------------------------------------------------

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prompts::reset();
    ASSERT_TRUE(dir.isValid());
    fillRun(bench.dev());
  }
  void TearDown() override { Prompts::reset(); }

  QString path(const char* name = "history.db") const { return dir.filePath(QString::fromLatin1(name)); }

  // A finished verification of one device, serial S-7, three points.
  static void fillRun(TDev& d) {
    d.povMode = 0;
    d.devCh[0].enabled = 1;
    std::strcpy(d.devCh[0].sn, "S-7");
    std::strcpy(d.devCh[0].name, "DD-1");
    d.devCh[0].Min = 0;
    d.devCh[0].Max = 100;
    d.devCh[0].MinKpa = 0;
    d.devCh[0].MaxKpa = 100;
    d.devCh[0].toKpaMul = 1;
    d.devCh[0].errOk = 0.5f;
    d.povHeader.vrCoeff = 1;
    d.pointCount = 3;
    for (int k = 0; k < 3; ++k) {
      d.points[k].prc = 50.0f * static_cast<float>(k);
      d.results[k].valid = 1;
      d.results[k].pRef = 50.0f * static_cast<float>(k);
      d.results[k].ch[0].current = 4 + 8.0f * static_cast<float>(k);
      d.results[k].ch[0].reducedError = 0.1f * static_cast<float>(k);
    }
  }

  // One notification with the task and result code.
  void notify(RunRecorder& r, uint32_t task, uint32_t retCode) {
    bench.dev().task = task;
    bench.dev().retCode = retCode;
    r.notify(bench.dev());
    bench.context.takeSnapshot();
  }
  void finish(RunRecorder& r, uint32_t code = 14) {
    notify(r, TASK_CHECK, 0);
    notify(r, TASK_CHECK, code);
    notify(r, TASK_MEASURE, 1);
    QCoreApplication::processEvents();
  }

  QTemporaryDir dir;
  SettingsFolder settings;
  ScreenBench bench;
};

TEST_F(RecorderTest, EachRunThatReachesItsEndIsStoredOnce) {
  using Seq = std::vector<std::pair<uint32_t, uint32_t>>;  // (task, result code) per notification
  const struct {
    const char* name;
    uint32_t povMode;
    Seq notifications;
    std::vector<history::RunKind> stored;
  } cases[] = {
      {"abandoned", 0, {{21, 0}, {4, 1}}, {}},
      {"finished", 0, {{21, 0}, {21, 14}, {4, 1}}, {history::RunKind::Verification}},
      {"end code twice", 0, {{21, 0}, {21, 14}, {21, 14}, {4, 1}}, {history::RunKind::Verification}},
      // Until the host starts measuring again, the measuring cycles end in the run's last step.
      {"end code repeated while measuring",
       0,
       {{21, 0}, {21, 14}, {4, 1}, {4, 14}, {4, 1}, {4, 14}},
       {history::RunKind::Verification}},
      {"relay check", 1, {{21, 0}, {21, 15}, {4, 1}}, {history::RunKind::RelayCheck}},
      {"HART check sequence", 0, {{20, 3}, {20, 14}, {20, 13}, {4, 1}}, {history::RunKind::Verification}},
      {"two runs before the event loop runs",
       0,
       {{21, 14}, {4, 1}, {21, 14}, {4, 1}},
       {history::RunKind::Verification, history::RunKind::Verification}},
      {"end code without a start", 0, {{4, 1}, {4, 14}, {4, 1}}, {}},
      {"stopped, then an end code", 0, {{21, 0}, {4, 1}, {4, 14}}, {}},
      {"stopped and started again",
       0,
       {{21, 0}, {4, 1}, {21, 0}, {21, 14}, {4, 1}},
       {history::RunKind::Verification}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString file = dir.filePath(QString::fromLatin1(c.name) + ".db");
    bench.dev().povMode = c.povMode;
    bench.dev().relayOn[0] = 1;
    RunRecorder recorder(bench.context, file);
    for (const auto& [task, code] : c.notifications) notify(recorder, task, code);
    QCoreApplication::processEvents();
    std::vector<history::RunKind> kinds;
    if (QFile::exists(file))
      for (const history::RunSummary& r : storedRuns(file)) kinds.push_back(r.kind);
    EXPECT_EQ(kinds, c.stored);
  }
}

TEST_F(RecorderTest, RunsEndingBeforeTheEventLoopRunsKeepTheirOwnValues) {
  RunRecorder recorder(bench.context, path());
  notify(recorder, TASK_CHECK, 14);
  bench.dev().results[1].ch[0].reducedError = 0.4f;
  notify(recorder, TASK_MEASURE, 1);
  notify(recorder, TASK_CHECK, 14);
  QCoreApplication::processEvents();
  const auto runs = storedRuns(path());
  ASSERT_EQ(runs.size(), 2u);
  auto store = openStore(path());
  EXPECT_FLOAT_EQ(store->show(runs[0].runId)->record.devices[0].points[1].reducedError, 0.1f);
  EXPECT_FLOAT_EQ(store->show(runs[1].runId)->record.devices[0].points[1].reducedError, 0.4f);
  EXPECT_EQ(recorder.lastRunId(), runs[1].runId);
}

TEST_F(RecorderTest, TheOperatorChoosesWhetherTheOfferedRunIsAsLeft) {
  const struct {
    int answer;
    history::RunTag tag;
  } cases[] = {{ZDialog::kResultOk, history::RunTag::AsLeft},
               {ZDialog::kResultCancel, history::RunTag::AsFound}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    const QString file = dir.filePath(QStringLiteral("h%1.db").arg(c.answer));
    {
      // This morning: an as-found calibration of S-7, so a new run of it is offered as its as-left.
      auto store = openStore(file, false);
      history::HostContext host;
      host.startedAtMs = history::nowUtcMs() - 1000;
      host.finishedAtMs = host.startedAtMs + 1000;
      host.utcOffsetMin = history::utcOffsetMinutes(host.startedAtMs);
      bench.dev().povHeader.isCalib = 1;
      ASSERT_TRUE(store->addRun(history::buildRunRecord(bench.dev(), host)).ok());
      bench.dev().povHeader.isCalib = 0;
    }
    int asked = 0;
    Prompts::messageWindow = [&](const QString& text, bool question, const QString&) {
      ++asked;
      EXPECT_TRUE(question);
      EXPECT_TRUE(text.contains(QStringLiteral("S-7"))) << text.toStdString();
      return c.answer;
    };
    RunRecorder recorder(bench.context, file);
    finish(recorder);
    EXPECT_EQ(asked, 1);
    const auto runs = storedRuns(file);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].tag, c.tag);
    EXPECT_EQ(runs[1].kind, history::RunKind::Verification);
  }
}

TEST_F(RecorderTest, AHartTrimSinceTheAsFoundRunOffersTheNextRunAsAsLeft) {
  const struct {
    const char* name;
    uint32_t task;
    int channel;  // the channel switched on or chosen for the trim (S-7 is on channel 0)
    uint32_t errCode;
    bool offered;
  } cases[] = {
      {"current trim", TASK_HART_TUNE_I, 0, 0, true},
      {"current trim that failed", TASK_HART_TUNE_I, 0, 3, false},
      {"current trim of another channel", TASK_HART_TUNE_I, 1, 0, false},
      {"sensor trim", TASK_HART_TUNE_TRIM, 0, 0, true},
      {"sensor trim of another device", TASK_HART_TUNE_TRIM, 1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString file = dir.filePath(QString::fromLatin1(c.name) + ".db");
    {
      // A minute ago: the as-found verification of S-7.
      auto store = openStore(file, false);
      history::HostContext host;
      host.startedAtMs = history::nowUtcMs() - 60000;
      host.finishedAtMs = host.startedAtMs + 1000;
      host.utcOffsetMin = history::utcOffsetMinutes(host.startedAtMs);
      ASSERT_TRUE(store->addRun(history::buildRunRecord(bench.dev(), host)).ok());
    }
    TDev& d = bench.dev();
    for (int k = 0; k < 4; ++k) {
      d.hart[k].found = 1;
      d.hartChk[k].active = k == c.channel && c.task == TASK_HART_TUNE_I;
      d.trimOn[k] = k == c.channel && c.task == TASK_HART_TUNE_TRIM;
    }
    d.errCode = c.errCode;
    int asked = 0;
    Prompts::messageWindow = [&](const QString&, bool, const QString&) {
      ++asked;
      return ZDialog::kResultOk;
    };
    RunRecorder recorder(bench.context, file);
    notify(recorder, c.task, 0);
    notify(recorder, c.task, 1);
    notify(recorder, c.task, 1);
    d.errCode = 0;
    notify(recorder, TASK_MEASURE, 1);
    finish(recorder);
    EXPECT_EQ(asked, c.offered ? 1 : 0);
    const auto runs = storedRuns(file);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].tag, c.offered ? history::RunTag::AsLeft : history::RunTag::AsFound);
  }
}

// Makes `file` a history of a newer version of the program.
void makeNewerSchema(const QString& file) {
  { openStore(file, false); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "UPDATE history_meta SET value = '3' WHERE name = 'schema_version'", nullptr,
                         nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(RecorderTest, EachStoredRunIsRememberedOutsideTheFileAndItsProtocolNamesIt) {
  RunRecorder recorder(bench.context, path());
  // Before a run is stored, a protocol says it was not.
  EXPECT_EQ(recorder.protocolFooter(bench.dev()), history::protocolFooterUnstored());
  finish(recorder);
  ASSERT_EQ(recorder.lastRunId(), 1) << recorder.lastError().toStdString();
  std::string hash;
  {
    auto store = openStore(path());
    const auto shown = store->show(1);
    ASSERT_TRUE(shown.ok()) << shown.error().message;
    hash = shown->hash;
  }
  EXPECT_EQ(recorder.protocolFooter(bench.dev()), history::protocolFooter(1, hash));
  // The head is remembered in the settings folder, apart from the file.
  const history::AnchorBook book(QFileInfo(settings.headsFile()).absolutePath().toStdString());
  const auto head = book.headOf(history::anchorPathOf(path().toStdString()));
  ASSERT_TRUE(head);
  EXPECT_EQ(head->seq, 1);
  EXPECT_EQ(head->hash, hash);
  // Results changed after the run are not the stored run's: their protocol says so.
  bench.dev().results[1].ch[0].reducedError = 0.3f;
  EXPECT_EQ(recorder.protocolFooter(bench.dev()), history::protocolFooterUnstored());
  bench.dev().results[1].ch[0].reducedError = 0.1f;

  // Another history put in the file's place: the next run is refused and the file left as it is.
  {
    auto other = openStore(path("other.db"), false);
    ASSERT_TRUE(other);
    for (int k = 0; k < 2; ++k) ASSERT_TRUE(other->addRun(history::buildRunRecord(bench.dev(), {})).ok());
  }
  for (const char* tail : {"", "-wal", "-shm"}) QFile::remove(path() + QLatin1String(tail));
  ASSERT_TRUE(QFile::copy(path("other.db"), path()));
  const QByteArray replaced = fileBytes(path());
  QString failure;
  QObject::connect(&recorder, &RunRecorder::storeFailed, [&](const QString& m) { failure = m; });
  finish(recorder);
  EXPECT_EQ(recorder.lastRunId(), 1);
  EXPECT_TRUE(failure.startsWith(QStringLiteral("Запуск не сохранён в истории поверок.")))
      << failure.toStdString();
  EXPECT_TRUE(failure.contains(QStringLiteral("не та, что записывала эта программа")))
      << failure.toStdString();
  EXPECT_TRUE(failure.contains(QStringLiteral("заменён другой историей"))) << failure.toStdString();
  EXPECT_EQ(fileBytes(path()), replaced);
}

TEST_F(RecorderTest, AHistoryThatCannotBeWrittenIsToldAndTheResultsStay) {
  const bool root = geteuid() == 0;
  const struct {
    const char* name;
    std::function<QString(const QString& folder)> make;  // returns the history path
    const char* reason;                                  // part of the message
  } cases[] = {
      {"not a database",
       [](const QString& folder) {
         const QString f = folder + "/notes.db";
         QFile file(f);
         EXPECT_TRUE(file.open(QIODevice::WriteOnly));
         file.write(QByteArray("these are an operator's notes, not a database\n").repeated(200));
         return f;
       },
       "это не база SQLite"},
      {"newer schema",
       [](const QString& folder) {
         const QString f = folder + "/newer.db";
         makeNewerSchema(f);
         return f;
       },
       "более новой версией"},
      {"a folder", [](const QString& folder) { return folder; }, "папка, а не файл"},
      {"a missing folder", [](const QString& folder) { return folder + "/gone/history.db"; },
       "не существует"},
      // Read-only: a root process writes any file, so it gives up its rights for the write.
      {"read-only",
       [](const QString& folder) {
         const QString f = folder + "/ro.db";
         { openStore(f, false); }
         EXPECT_EQ(chmod(QFile::encodeName(f).constData(), 0444), 0);
         EXPECT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
         return f;
       },
       "только для чтения"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString file = c.make(folder.path());
    const QByteArray before = QFileInfo(file).isFile() ? fileBytes(file) : QByteArray();
    const auto recordBefore = std::make_unique<TDev>(bench.dev());
    RunRecorder recorder(bench.context, file);
    QString failure;
    QObject::connect(&recorder, &RunRecorder::storeFailed, [&](const QString& m) { failure = m; });
    const bool dropRights = root && std::strcmp(c.name, "read-only") == 0;
    if (dropRights) {
      ASSERT_EQ(seteuid(65534), 0);
    }
    finish(recorder);
    if (dropRights) {
      ASSERT_EQ(seteuid(0), 0);
    }
    chmod(QFile::encodeName(folder.path()).constData(), 0700);

    EXPECT_EQ(recorder.lastRunId(), 0);
    ZDialog& window = bench.context.messageWindow();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.text(), failure);
    EXPECT_TRUE(failure.startsWith(QStringLiteral("Запуск не сохранён в истории поверок.")))
        << failure.toStdString();
    EXPECT_TRUE(failure.contains(QString::fromUtf8(c.reason))) << failure.toStdString();
    EXPECT_TRUE(failure.contains(QStringLiteral("Результаты остаются на экране")));
    window.hide();
    // Told after the end of the run when the message window still shows it.
    if (std::strcmp(c.name, "not a database") == 0) {
      window.showMessage(QStringLiteral("Поверка завершена."), false, QStringLiteral("Поверка"));
      finish(recorder);
      EXPECT_EQ(window.text(), QStringLiteral("Поверка завершена.\n\n") + failure);
      EXPECT_EQ(window.windowTitle(), QStringLiteral("Поверка"));
      window.hide();
    }
    // The results are the record's as they were; a file that was there is untouched.
    EXPECT_EQ(std::memcmp(&recordBefore->results, &bench.dev().results, sizeof recordBefore->results), 0);
    if (!before.isEmpty()) {
      EXPECT_EQ(fileBytes(file), before);
    }
  }
}

// ---- The dialog ------------------------------------------------------------------------------------

// Milliseconds of a local date and time.
int64_t localMs(int year, int month, int day, int hour) {
  return QDateTime(QDate(year, month, day), QTime(hour, 0)).toMSecsSinceEpoch();
}

history::RunRecord storedRun(const std::string& serial, const std::string& name, int64_t startedAt,
                             history::RunTag tag, std::vector<float> errors) {
  history::RunRecord r;
  r.startedAtMs = startedAt;
  r.finishedAtMs = startedAt + 20 * 60000;
  r.utcOffsetMin = history::utcOffsetMinutes(startedAt);
  r.workstation = "стенд-1";
  r.tag = tag;
  r.calibrator = {"Quarn-610", "Q77", "2.07"};
  r.protocol.decimals = 2;
  r.protocol.fields = {{"amp_CD_VERIF", "Петров П. П."}};
  history::DeviceResult d;
  d.channel = 1;
  d.name = name;
  d.serial = serial;
  d.rangeMin = 0;
  d.rangeMax = 1000;
  d.units = "кПа";
  d.maxKpa = 1000;
  d.signalUnits = "мА";
  d.errOk = 0.25f;
  d.vrCoeff = 1;
  bool ok = true;
  for (size_t k = 0; k < errors.size(); ++k) {
    history::PointResult p;
    p.index = static_cast<int>(k);
    p.targetPrc = 50.0f * static_cast<float>(k);
    p.pRef = 10.0f * p.targetPrc;
    p.current = 4 + 0.16f * p.targetPrc;
    p.iExpected = p.current;
    p.pFromI = p.pRef;
    p.reducedError = errors[k];
    p.uncertainty = 0.5f;
    ok = ok && std::fabs(errors[k]) <= d.errOk;
    d.points.push_back(p);
  }
  d.verdict = ok ? history::Verdict::Suitable : history::Verdict::Unsuitable;
  r.devices.push_back(d);
  return r;
}

class HistoryDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prompts::reset();
    ASSERT_TRUE(dir.isValid());
    auto store = openStore(path(), false);
    ASSERT_TRUE(store);
    using history::RunTag;
    // 1: an old run of another device; 2, 3: S1 before and after its adjustment; 4: S2 the same day.
    add(*store, storedRun("S2", "АИР-20", localMs(2026, 3, 2, 10), RunTag::AsFound, {0.1f, -0.0004f, -0.1f}));
    add(*store,
        storedRun("S1", "Метран-150", localMs(2026, 3, 5, 9), RunTag::AsFound, {0.30f, -0.20f, 0.10f}));
    add(*store,
        storedRun("S1", "Метран-150", localMs(2026, 3, 5, 11), RunTag::AsLeft, {0.05f, -0.05f, 0.02f}));
    add(*store, storedRun("S2", "АИР-20", localMs(2026, 3, 5, 12), RunTag::AsFound, {0.2f, 0.1f, 0.0f}));
  }
  void TearDown() override { Prompts::reset(); }

  static void add(history::HistoryStore& store, const history::RunRecord& r) {
    const auto id = store.addRun(r);
    ASSERT_TRUE(id.ok()) << id.error().message;
  }
  QString path() const { return dir.filePath(QStringLiteral("history.db")); }
  static QString cell(QTableWidget* t, int row, int column) {
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
  }

  QTemporaryDir dir;
  SettingsFolder settings;
};

TEST_F(HistoryDialogTest, FiltersListTheMatchingRunsNewestFirst) {
  HistoryDialog dialog(path(), dir.path());
  const struct {
    const char* serial;
    const char* device;
    QDate since;  // invalid: no date filter
    std::vector<int64_t> runs;
  } cases[] = {
      {"", "", {}, {4, 3, 2, 1}},
      {"S1", "", {}, {3, 2}},
      {"S", "", {}, {}},  // a serial is matched whole
      {"", "етран", {}, {3, 2}},
      {"", "АИР", {}, {4, 1}},
      {"", "", QDate(2026, 3, 3), {4, 3, 2}},
      {"S2", "", QDate(2026, 3, 3), {4}},
      {"S2", "Метран", {}, {}},
      {"", "", QDate(2026, 3, 6), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.serial) + " / " + c.device + " / " + c.since.toString().toStdString());
    dialog.serialFilter()->setText(QString::fromUtf8(c.serial));
    dialog.deviceFilter()->setText(QString::fromUtf8(c.device));
    if (c.since.isValid()) dialog.sinceDate()->setDate(c.since);
    dialog.sinceFilter()->setChecked(c.since.isValid());
    EXPECT_EQ(dialog.listedRuns(), c.runs);
    EXPECT_EQ(dialog.runTable()->rowCount(), static_cast<int>(c.runs.size()));
    EXPECT_EQ(dialog.selectedRun(), c.runs.empty() ? 0 : c.runs.front());
  }
}

TEST_F(HistoryDialogTest, ShowsARunsPointsAndVerdictsAndThePairSideBySide) {
  HistoryDialog dialog(path(), dir.path());
  ASSERT_TRUE(dialog.selectRun(2));
  EXPECT_EQ(cell(dialog.runTable(), 2, 0), QStringLiteral("2"));
  EXPECT_EQ(cell(dialog.runTable(), 2, 1), QStringLiteral("05.03.2026 09:00:00"));
  EXPECT_EQ(cell(dialog.runTable(), 2, 3), QStringLiteral("до настройки"));
  EXPECT_EQ(cell(dialog.runTable(), 2, 5), QStringLiteral("не годен"));
  EXPECT_EQ(cell(dialog.runTable(), 2, 6), QStringLiteral("Метран-150: S1"));
  EXPECT_EQ(cell(dialog.runTable(), 1, 3), QStringLiteral("после настройки"));
  EXPECT_EQ(cell(dialog.runTable(), 1, 5), QStringLiteral("годен"));

  // The run's points: target, reference, signal, error with its decimals.
  QTableWidget* points = dialog.pointTable();
  ASSERT_EQ(points->rowCount(), 3);
  EXPECT_EQ(cell(points, 1, 1), QStringLiteral("S1"));
  EXPECT_EQ(cell(points, 1, 2), QStringLiteral("50.0"));
  EXPECT_EQ(cell(points, 1, 3), QStringLiteral("500.00"));
  EXPECT_EQ(cell(points, 1, 4), QStringLiteral("12.000 мА"));
  EXPECT_EQ(cell(points, 1, 7), QStringLiteral("-0.200"));
  EXPECT_TRUE(dialog.verdictLabel()->text().contains(QStringLiteral("Метран-150 № S1")))
      << dialog.verdictLabel()->text().toStdString();
  EXPECT_TRUE(dialog.verdictLabel()->text().contains(QStringLiteral("не годен")));

  // The pair of S1: the as-found run 2 beside the as-left run 3, whichever of them is chosen.
  for (int64_t run : {2, 3}) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(dialog.selectRun(run));
    EXPECT_EQ(dialog.pairSerial()->currentData().toString(), QStringLiteral("S1"));
    EXPECT_TRUE(dialog.asFoundLabel()->text().startsWith(QStringLiteral("запуск 2 от 05.03.2026 09:00:00")))
        << dialog.asFoundLabel()->text().toStdString();
    EXPECT_TRUE(dialog.asFoundLabel()->text().endsWith(QStringLiteral("не годен")));
    EXPECT_TRUE(dialog.asLeftLabel()->text().startsWith(QStringLiteral("запуск 3 от 05.03.2026 11:00:00")));
    QTableWidget* pair = dialog.pairTable();
    ASSERT_EQ(pair->rowCount(), 3);
    const char* rows[][6] = {{"0.0", "0.00", "0.300", "0.00", "0.050", "-0.250"},
                             {"50.0", "500.00", "-0.200", "500.00", "-0.050", "+0.150"},
                             {"100.0", "1000.00", "0.100", "1000.00", "0.020", "-0.080"}};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 6; ++c)
        EXPECT_EQ(cell(pair, r, c), QString::fromLatin1(rows[r][c])) << r << "," << c;
  }
  // An error that rounds to zero is shown without a sign.
  ASSERT_TRUE(dialog.selectRun(1));
  EXPECT_EQ(cell(points, 1, 7), QStringLiteral("0.000"));
  EXPECT_EQ(cell(points, 2, 7), QStringLiteral("-0.100"));
  // A device without an as-left run: its as-found run alone.
  ASSERT_TRUE(dialog.selectRun(4));
  EXPECT_TRUE(dialog.asFoundLabel()->text().startsWith(QStringLiteral("запуск 4 ")));
  EXPECT_EQ(dialog.asLeftLabel()->text(), QStringLiteral("нет запуска"));
  EXPECT_EQ(cell(dialog.pairTable(), 0, 4), QStringLiteral("—"));
}

// The pair tab follows the "Зав. №" filter: a run of devices 101 and 102 listed for 102 shows 102's
// pair, not the run's first device; cleared, the pair stays where it is.
TEST_F(HistoryDialogTest, ThePairFollowsTheSerialFilter) {
  {
    auto store = openStore(path(), false);
    ASSERT_TRUE(store);
    history::RunRecord both =
        storedRun("101", "Метран-150", localMs(2026, 3, 6, 9), history::RunTag::AsFound, {0.1f, 0.2f});
    history::DeviceResult second =
        storedRun("102", "Метран-150", localMs(2026, 3, 6, 9), history::RunTag::AsFound, {0.3f, 0.4f})
            .devices[0];
    second.channel = 2;
    both.devices.push_back(second);
    add(*store, both);
  }
  HistoryDialog dialog(path(), dir.path());
  for (const char* serial : {"102", "101", "102"}) {
    SCOPED_TRACE(serial);
    dialog.serialFilter()->setText(QString::fromLatin1(serial));
    ASSERT_EQ(dialog.listedRuns(), std::vector<int64_t>{5});
    EXPECT_EQ(dialog.pairSerial()->currentData().toString(), QString::fromLatin1(serial));
    EXPECT_TRUE(dialog.asFoundLabel()->text().startsWith(QStringLiteral("запуск 5 ")))
        << dialog.asFoundLabel()->text().toStdString();
    // The device's own first error as found: 0.1 % for 101, 0.3 % for 102.
    EXPECT_EQ(cell(dialog.pairTable(), 0, 2),
              std::string(serial) == "101" ? QStringLiteral("0.100") : QStringLiteral("0.300"));
  }
  dialog.serialFilter()->clear();
  EXPECT_EQ(dialog.selectedRun(), 5);
  EXPECT_EQ(dialog.pairSerial()->currentData().toString(), QStringLiteral("102"));
}

TEST_F(HistoryDialogTest, RebuildsTheProtocolOfAStoredRun) {
  // The standard template where the program keeps it.
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("template_xml")));
  ASSERT_TRUE(QFile::copy(QString::fromStdString(quarn::test::path("QUARN_CATALOGUE_DIR") +
                                                 "/../../template_xml/Протокол поверки.xlsx"),
                          dir.filePath(QStringLiteral("template_xml/Протокол поверки.xlsx"))));
  HistoryDialog dialog(path(), dir.path());
  ASSERT_TRUE(dialog.selectRun(3));
  QString asked;
  Prompts::fileName = [&](const QString& title, bool save) {
    EXPECT_TRUE(save);
    asked = title;
    return dir.filePath(QStringLiteral("again.xlsx"));
  };
  const QString written = dialog.rebuildProtocol();
  EXPECT_EQ(asked, QStringLiteral("Протокол запуска 3"));
  ASSERT_EQ(written, dir.filePath(QStringLiteral("again.xlsx"))) << dialog.statusText().toStdString();
  EXPECT_TRUE(fileBytes(written).startsWith("PK"));
  EXPECT_TRUE(dialog.statusText().contains(written));
  // Its sheets name the run's entry and the first digits of its hash, as the first protocol did.
  const std::vector<history::Anchor> named = history::footerAnchors(workbookText(written), "протокол");
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].seq, 3);
  EXPECT_EQ(named[0].hash, openStore(path())->show(3)->hash.substr(0, 12));

  // Cancelled: nothing written. A template that is not there: the reason, nothing written.
  Prompts::fileName = [](const QString&, bool) { return QString(); };
  EXPECT_TRUE(dialog.rebuildProtocol().isEmpty());
  ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("template_xml/Протокол поверки.xlsx"))));
  EXPECT_TRUE(dialog.rebuildProtocol(dir.filePath(QStringLiteral("none.xlsx"))).isEmpty());
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.xlsx"))));
  EXPECT_TRUE(dialog.statusText().startsWith(QStringLiteral("Протокол не сформирован")))
      << dialog.statusText().toStdString();
}

TEST_F(HistoryDialogTest, ShowsTheChecksResultAndFindsARunEditedBehindItsBack) {
  HistoryDialog dialog(path(), dir.path());
  EXPECT_TRUE(dialog.checkLabel()->text().startsWith(QStringLiteral("Цепочка записей цела: 4 записей")))
      << dialog.checkLabel()->text().toStdString();
  dialog.checkButton()->click();
  EXPECT_EQ(dialog.checkLabel()->text(),
            QStringLiteral("Полная проверка: файл и цепочка из 4 записей целы."));

  // Run 2's errors made smaller by someone who took the guards away and put them back.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path()).constData(), &db), SQLITE_OK);
    std::string guards;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master WHERE type = 'trigger'", -1, &st, nullptr);
    std::string drop;
    while (sqlite3_step(st) == SQLITE_ROW) {
      drop += std::string("DROP TRIGGER ") + reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) + ";";
      guards += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) + ";";
    }
    sqlite3_finalize(st);
    const std::string edit = drop + "UPDATE run_point SET reduced_error = 0.05 WHERE entry_seq = 2;" + guards;
    ASSERT_EQ(sqlite3_exec(db, edit.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  ASSERT_TRUE(dialog.selectRun(4));
  EXPECT_EQ(dialog.pointTable()->rowCount(), 3);
  ASSERT_TRUE(dialog.selectRun(2));
  EXPECT_EQ(dialog.pointTable()->rowCount(), 0);
  EXPECT_TRUE(dialog.checkLabel()->text().contains(QStringLiteral("запись 2")))
      << dialog.checkLabel()->text().toStdString();
  EXPECT_TRUE(dialog.checkLabel()->styleSheet().contains(QStringLiteral("#b00000")));
  EXPECT_FALSE(dialog.runFullCheck());
  EXPECT_TRUE(dialog.checkLabel()->text().startsWith(
      QStringLiteral("Полная проверка: история изменена вне программы — запись 2")))
      << dialog.checkLabel()->text().toStdString();
}

TEST_F(HistoryDialogTest, AHistoryThatCannotBeReadIsToldInTheDialog) {
  const QString notes = dir.filePath(QStringLiteral("notes.db"));
  {
    QFile f(notes);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("not a database at all\n").repeated(100));
  }
  const struct {
    QString file;
    QString says;
  } cases[] = {
      {notes, QStringLiteral("это не база SQLite")},
      {dir.filePath(QStringLiteral("none.db")), QStringLiteral("ещё нет запусков")},
  };
  for (const auto& c : cases) {
    HistoryDialog dialog(c.file, dir.path());
    EXPECT_TRUE(dialog.listedRuns().empty());
    EXPECT_TRUE(dialog.statusText().contains(c.says)) << dialog.statusText().toStdString();
    EXPECT_TRUE(dialog.rebuildProtocol(dir.filePath(QStringLiteral("x.xlsx"))).isEmpty());
  }
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.db"))));
}

}  // namespace
