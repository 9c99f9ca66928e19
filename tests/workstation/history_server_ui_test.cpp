// The main window pushes the run history to the lab server of its settings file in the background:
// at start and after each stored run; a failure is told once per reason and the runs go later. The
// history dialog reads the lab server as its second source: every workstation's runs, a run, its pair
// and its protocol, in the background, and refuses a run edited on the server. Against the throw-away
// PostgreSQL cluster of the history server tests.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>

#include "HistoryDialog.h"
#include "HistoryServer.h"
#include "HistoryServerPusher.h"
#include "HistoryStore.h"
#include "RunRecorder.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "history_server_fixture.h"
#include "sample_run.h"
#include "test_paths.h"
#include "workbook_fixture.h"

namespace {

using namespace armtest;
namespace history = quarn::history;

// The first part in which two workbooks differ ("" when every part holds the same bytes): the
// report library stamps its parts with the time they were written, so the packages themselves differ
// between two protocols of the same run made seconds apart.
std::string firstDifferentPart(const std::string& a, const std::string& b) {
  const std::vector<std::string> names = xlsxtest::zipEntryNames(a);
  if (names.empty()) return "no parts in " + a;
  if (names != xlsxtest::zipEntryNames(b)) return "the list of parts";
  for (const std::string& name : names)
    if (xlsxtest::readZipEntry(a, name) != xlsxtest::readZipEntry(b, name)) return name;
  return {};
}

class HistoryServerPush : public Workstation {
 protected:
  void SetUp() override {
    Workstation::SetUp();
    qputenv("QUARN_TEST_PG_STATE", QByteArray::fromStdString(quarn::test::path("QUARN_TEST_PG_STATE_FILE")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qunsetenv("QUARN_HISTORY_SERVER");
    server.cluster = history::test::cluster();
    if (!server.cluster.skip.empty()) GTEST_SKIP() << server.cluster.skip;
    server.name =
        history::test::databaseForTest(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_EQ(server.create(), "");
  }
  void TearDown() override {
    Workstation::TearDown();  // the window closes: its pusher stops
    if (!server.name.empty()) {
      serverScript("start-again");
      server.drop();
    }
  }
  void serverScript(const char* what) {
    const std::string cmd = quarn::test::path("QUARN_PG_CLUSTER_SCRIPT") + " " + what + " '" +
                            server.cluster.state + "' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(cmd.c_str());
  }
  std::string historyFile() const { return dir.filePath(QStringLiteral("history.db")).toStdString(); }
  // Runs stored as the recorder stores them, then the recorder's signal that one was.
  void storeRuns(int n) {
    auto store = history::HistoryStore::open(historyFile());
    ASSERT_TRUE(store.ok()) << store.error().message;
    for (int i = 0; i < n; ++i) {
      const history::Result<int64_t> id = store.value()->addRun(history::test::sampleRun(
          "U" + std::to_string(stored_), history::test::kMorning + stored_ * 3600000));
      ASSERT_TRUE(id.ok()) << id.error().message;
      ++stored_;
    }
  }
  void runStored() {
    Q_EMIT window->runRecorder()->runStored(stored_);
    settle();
  }
  // The push done and its outcome taken by the window.
  void settle() {
    ASSERT_NE(window->serverPusher(), nullptr);
    window->serverPusher()->waitIdle();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  int serverRuns() {
    history::test::Admin admin(server.conninfo(server.name, server.cluster.superuser));
    return std::atoi(admin.value("SELECT count(*) FROM entry WHERE workstation_id = 'ws-ui'").c_str());
  }
  MainWindow& open() {
    MainWindow::Options o = windowOptions(dir.path());
    o.historyPath = dir.filePath(QStringLiteral("history.db"));
    window = std::make_unique<MainWindow>(o);
    EXPECT_EQ(window->create(), 0);
    window->show();
    window->TimerLoadTimer();
    return *window;
  }

  QTemporaryDir config;
  history::test::ServerDatabase server;
  int stored_ = 0;
};

TEST_F(HistoryServerPush, TheHistoryGoesToTheLabServerAtStartAndAfterEachStoredRun) {
  storeRuns(2);  // from before the server was set up
  writeSettings(QByteArray("[HistoryServer]\nUri=") + QByteArray::fromStdString(server.uri()) +
                "\nWorkstation=ws-ui\n");
  open();
  ZDialog* messages = window->messageWindow();
  const QString notPushed = QStringLiteral("не передана на сервер лаборатории");
  const auto told = [&] { return messages->isVisible() && messages->text().contains(notPushed); };
  settle();
  EXPECT_EQ(serverRuns(), 2);
  storeRuns(1);
  runStored();
  EXPECT_EQ(serverRuns(), 3);
  EXPECT_FALSE(told()) << messages->text().toStdString();
  EXPECT_TRUE(window->serverPushProblem().isEmpty());

  // The server down: told once, not again after the next run; the runs go when it is back.
  serverScript("stop");
  storeRuns(1);
  runStored();
  ASSERT_TRUE(told()) << messages->text().toStdString();
  EXPECT_TRUE(messages->text().contains(QStringLiteral("Не удалось подключиться")))
      << messages->text().toStdString();
  EXPECT_FALSE(messages->text().contains(QString::fromUtf8(history::test::kWriterPassword)));
  messages->hide();  // the operator closes it
  storeRuns(1);
  runStored();
  EXPECT_FALSE(told()) << "the same reason told again";
  serverScript("start-again");
  runStored();
  EXPECT_EQ(serverRuns(), 5);
  EXPECT_TRUE(window->serverPushProblem().isEmpty()) << window->serverPushProblem().toStdString();
}

TEST_F(HistoryServerPush, WithoutAServerNothingIsPushed) {
  storeRuns(1);
  open();
  EXPECT_EQ(window->serverPusher(), nullptr);
  EXPECT_EQ(serverRuns(), 0);
  // Nor is the lab server offered as the history dialog's source.
  HistoryDialog* dialog = window->openHistory();
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(dialog->sourceChoice()->isVisible());
  EXPECT_EQ(dialog->source(), HistoryDialog::Source::Workstation);
  EXPECT_EQ(dialog->listedRuns().size(), 1u);
}

// The history dialog on the lab server: two workstations' histories pushed there, this workstation's
// own history beside them.
class HistoryDialogLab : public HistoryServerPush {
 protected:
  void SetUp() override {
    HistoryServerPush::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The protocol's template beside the program.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("template_xml")));
    for (const QString& name :
         {QStringLiteral("Протокол поверки.xlsx"), QStringLiteral("Протокол калибровки.xlsx")})
      ASSERT_TRUE(QFile::copy(
          QString::fromStdString(quarn::test::path("QUARN_CATALOGUE_DIR") + "/../../template_xml/") + name,
          dir.filePath(QStringLiteral("template_xml/") + name)));
    using history::test::kHour;
    using history::test::kMorning;
    // ws-a: the devices L-1, L-2 as found, then calibrated (the as-left run ends the calibration);
    // ws-b: another device's run.
    history::RunRecord left = history::test::sampleRun("L", kMorning + kHour);
    left.kind = history::RunKind::Calibration;
    left.tag = history::RunTag::AsLeft;
    left.protocol.fields.push_back({"cal_D1_REASON", ""});
    left.protocol.fields.push_back({"cal_D2_REASON", ""});
    for (history::DeviceResult& d : left.devices)
      for (history::PointResult& p : d.points) p.reducedError /= 4;
    writeAndPush("a.db", "ws-a", {history::test::sampleRun("L", kMorning), left});
    writeAndPush("b.db", "ws-b", {history::test::sampleRun("M", kMorning + 2 * kHour)});
    storeRuns(1);  // this workstation's own
  }
  std::string labFile(const char* name) const {
    return dir.filePath(QString::fromLatin1(name)).toStdString();
  }
  void writeAndPush(const char* file, const char* workstation, const std::vector<history::RunRecord>& runs) {
    auto store = history::HistoryStore::open(labFile(file));
    ASSERT_TRUE(store.ok()) << store.error().message;
    for (const history::RunRecord& r : runs) ASSERT_TRUE(store.value()->addRun(r).ok());
    history::ServerOptions o;
    o.uri = server.uri();
    o.workstationId = workstation;
    const auto pushed = history::syncToServer(*store.value(), o);
    ASSERT_TRUE(pushed.ok()) << pushed.error().message;
  }
  // Until every read of the lab server the dialog started (and those their results started) is done.
  static bool settled(HistoryDialog& d) {
    QElapsedTimer t;
    t.start();
    while (d.labBusy() && t.elapsed() < 20000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return !d.labBusy();
  }
  static QString cell(QTableWidget* t, int row, int column) {
    QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
  }
  static QString header(QTableWidget* t, int column) {
    QTableWidgetItem* item = t->horizontalHeaderItem(column);
    return item ? item->text() : QString();
  }
  // The reader role's connection string (what a lab's quality manager's workstation would hold).
  std::string reader() const { return server.uri("quarn_quality", "read"); }
};

TEST_F(HistoryDialogLab, TheLabSourceListsEveryWorkstationShowsARunItsPairAndItsProtocol) {
  HistoryDialog dialog(dir.filePath(QStringLiteral("history.db")), dir.path());
  dialog.show();
  EXPECT_FALSE(dialog.sourceChoice()->isVisible()) << "offered without a server";
  dialog.setLabServer(reader());
  ASSERT_TRUE(dialog.sourceChoice()->isVisible());
  ASSERT_EQ(dialog.listedRuns().size(), 1u);  // this workstation's own

  // The list is read in the background: the call returns at once and the dialog says so.
  dialog.sourceChoice()->setCurrentIndex(1);
  EXPECT_EQ(dialog.source(), HistoryDialog::Source::Lab);
  EXPECT_TRUE(dialog.labBusy());
  EXPECT_TRUE(dialog.statusText().startsWith(QStringLiteral("Загрузка")))
      << dialog.statusText().toStdString();
  ASSERT_TRUE(settled(dialog));
  QTableWidget* runs = dialog.runTable();
  ASSERT_EQ(runs->rowCount(), 3) << dialog.statusText().toStdString();
  EXPECT_EQ(header(runs, 0), QStringLiteral("Станция"));
  // Newest first: ws-b's run, then ws-a's as-left and as-found runs.
  const std::vector<std::string> stations{"ws-b", "ws-a", "ws-a"};
  const std::vector<int64_t> ids{1, 2, 1};
  EXPECT_EQ(dialog.listedWorkstations(), stations);
  EXPECT_EQ(dialog.listedRuns(), ids);
  EXPECT_EQ(cell(runs, 1, 0), QStringLiteral("ws-a"));
  EXPECT_EQ(cell(runs, 1, 1), QStringLiteral("2"));
  EXPECT_EQ(cell(runs, 1, 4), QStringLiteral("после настройки"));
  EXPECT_TRUE(cell(runs, 1, 7).contains(QStringLiteral("L-1, L-2"))) << cell(runs, 1, 7).toStdString();
  // The workstation filter offers both and lists one.
  QComboBox* station = dialog.workstationFilter();
  ASSERT_TRUE(station->isVisible());
  ASSERT_EQ(station->count(), 3);
  station->setCurrentIndex(station->findData(QStringLiteral("ws-b")));
  ASSERT_TRUE(settled(dialog));
  EXPECT_EQ(dialog.listedWorkstations(), std::vector<std::string>{"ws-b"});
  station->setCurrentIndex(0);
  ASSERT_TRUE(settled(dialog));
  ASSERT_EQ(runs->rowCount(), 3);

  // ws-a's as-left run: its points, its pair with the as-found run, checked on the server.
  ASSERT_TRUE(dialog.selectRun(2, QStringLiteral("ws-a")));
  EXPECT_TRUE(dialog.labBusy());
  ASSERT_TRUE(settled(dialog));
  EXPECT_TRUE(dialog.verdictLabel()->text().startsWith(QStringLiteral("Запуск 2:")))
      << dialog.verdictLabel()->text().toStdString();
  EXPECT_EQ(dialog.pointTable()->rowCount(), 10);  // two devices, five points each
  EXPECT_TRUE(dialog.checkLabel()->text().contains(QStringLiteral("станции «ws-a» проверен")))
      << dialog.checkLabel()->text().toStdString();
  EXPECT_TRUE(dialog.asFoundLabel()->text().startsWith(QStringLiteral("запуск 1 от")))
      << dialog.asFoundLabel()->text().toStdString();
  EXPECT_TRUE(dialog.asLeftLabel()->text().startsWith(QStringLiteral("запуск 2 от")))
      << dialog.asLeftLabel()->text().toStdString();
  EXPECT_EQ(dialog.pairTable()->rowCount(), 5);

  // The protocol from the server is the one the workstation's own history makes of the same run: the
  // calibration's, of both its runs.
  const QString fromLab = dialog.rebuildProtocol(dir.filePath(QStringLiteral("lab.xlsx")));
  ASSERT_FALSE(fromLab.isEmpty()) << dialog.statusText().toStdString();
  HistoryDialog own(QString::fromStdString(labFile("a.db")), dir.path());
  ASSERT_TRUE(own.selectRun(2));
  const QString fromFile = own.rebuildProtocol(dir.filePath(QStringLiteral("own.xlsx")));
  ASSERT_FALSE(fromFile.isEmpty()) << own.statusText().toStdString();
  EXPECT_EQ(firstDifferentPart(fromLab.toStdString(), fromFile.toStdString()), "");
  std::string sheets;
  for (const std::string& part : xlsxtest::zipEntryNames(fromLab.toStdString()))
    if (part.rfind("xl/worksheets/", 0) == 0) sheets += xlsxtest::readZipEntry(fromLab.toStdString(), part);
  EXPECT_NE(sheets.find("Результаты до подстройки"), std::string::npos) << "not the calibration's protocol";

  // The full check of the server, and back to this workstation's own history.
  EXPECT_TRUE(dialog.runFullCheck());
  ASSERT_TRUE(settled(dialog));
  EXPECT_TRUE(dialog.checkLabel()->text().contains(QStringLiteral("2 станций (3 записей) целы")))
      << dialog.checkLabel()->text().toStdString();
  dialog.sourceChoice()->setCurrentIndex(0);
  EXPECT_FALSE(dialog.labBusy());
  EXPECT_EQ(dialog.listedRuns().size(), 1u);
  EXPECT_FALSE(dialog.workstationFilter()->isVisible());
  EXPECT_EQ(runs->columnCount(), 7);
}

TEST_F(HistoryDialogLab, AServerThatCannotBeReadOrWasEditedIsToldAndTheOwnHistoryStillWorks) {
  HistoryDialog dialog(dir.filePath(QStringLiteral("history.db")), dir.path());
  // No server at that address: told in the dialog, without the password.
  dialog.setLabServer("postgresql://quarn_ws:" + std::string(history::test::kWriterPassword) + "@/lab?host=" +
                      dir.filePath(QStringLiteral("no-such-socket")).toStdString() + "&port=5");
  dialog.setSource(HistoryDialog::Source::Lab);
  ASSERT_TRUE(settled(dialog));
  EXPECT_TRUE(
      dialog.statusText().contains(QStringLiteral("Не удалось подключиться к серверу истории поверок")))
      << dialog.statusText().toStdString();
  EXPECT_FALSE(dialog.statusText().contains(QString::fromUtf8(history::test::kWriterPassword)));
  EXPECT_EQ(dialog.runTable()->rowCount(), 0);
  dialog.setSource(HistoryDialog::Source::Workstation);
  EXPECT_EQ(dialog.listedRuns().size(), 1u);

  // The server's copy of ws-a's as-found run edited by its superuser: the list still names the run
  // (its columns are as they were), showing it is refused naming the entry.
  history::test::Admin su(server.conninfo(server.name, server.cluster.superuser));
  ASSERT_EQ(su.exec("BEGIN; SET LOCAL session_replication_role = replica; ALTER TABLE entry DROP CONSTRAINT "
                    "entry_hash_of_content; UPDATE entry SET canonical = "
                    "convert_to(replace(convert_from(canonical, 'UTF8'), 'Q1234', 'Q9999'), 'UTF8') WHERE "
                    "workstation_id = 'ws-a' AND seq = 1; COMMIT"),
            "");
  dialog.setLabServer(reader());
  dialog.setSource(HistoryDialog::Source::Lab);
  ASSERT_TRUE(settled(dialog));
  ASSERT_TRUE(dialog.selectRun(1, QStringLiteral("ws-a")));
  ASSERT_TRUE(settled(dialog));
  EXPECT_TRUE(dialog.checkLabel()->text().contains(QStringLiteral("«ws-a»")))
      << dialog.checkLabel()->text().toStdString();
  EXPECT_TRUE(
      dialog.checkLabel()->text().contains(QStringLiteral("запись 1: содержимое записи на сервере изменено")))
      << dialog.checkLabel()->text().toStdString();
  EXPECT_EQ(dialog.pointTable()->rowCount(), 0);
  EXPECT_TRUE(dialog.rebuildProtocol(dir.filePath(QStringLiteral("edited.xlsx"))).isEmpty());
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("edited.xlsx"))));
  // ws-b's run is intact and shown.
  ASSERT_TRUE(dialog.selectRun(1, QStringLiteral("ws-b")));
  ASSERT_TRUE(settled(dialog));
  EXPECT_EQ(dialog.pointTable()->rowCount(), 10);
}

// The main window offers the lab server of its settings file as the dialog's source, also to a dialog
// opened before the settings were read (ARM_Quarn --history-dialog … --history-source lab at start).
TEST_F(HistoryDialogLab, TheMainWindowOffersTheServerOfItsSettings) {
  writeSettings(QByteArray("[HistoryServer]\nUri=") + QByteArray::fromStdString(reader()) +
                "\nWorkstation=ws-ui\n");
  MainWindow::Options o = windowOptions(dir.path());
  o.historyPath = dir.filePath(QStringLiteral("history.db"));
  window = std::make_unique<MainWindow>(o);
  ASSERT_EQ(window->create(), 0);
  window->show();
  HistoryDialog* dialog = window->openHistory();
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(dialog->sourceChoice()->isVisible()) << "offered before the settings were read";
  dialog->setSource(HistoryDialog::Source::Lab);
  EXPECT_EQ(dialog->source(), HistoryDialog::Source::Workstation);
  window->TimerLoadTimer();  // the settings are read
  EXPECT_TRUE(dialog->sourceChoice()->isVisible());
  EXPECT_EQ(dialog->source(), HistoryDialog::Source::Lab);
  ASSERT_TRUE(settled(*dialog));
  EXPECT_EQ(dialog->listedRuns().size(), 3u) << dialog->statusText().toStdString();
}

}  // namespace
