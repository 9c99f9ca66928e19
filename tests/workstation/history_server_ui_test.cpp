// The main window pushes the run history to the lab server of its settings file in the background:
// at start and after each stored run; a failure is told once per reason and the runs go later.
// Against the throw-away PostgreSQL cluster of the history server tests.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "HistoryServerPusher.h"
#include "HistoryStore.h"
#include "RunRecorder.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "history_server_fixture.h"
#include "sample_run.h"

namespace {

using namespace armtest;
namespace history = quarn::history;

class HistoryServerPush : public Workstation {
 protected:
  void SetUp() override {
    Workstation::SetUp();
    qputenv("QUARN_TEST_PG_STATE", QUARN_TEST_PG_STATE_FILE);
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
    const std::string cmd =
        std::string(QUARN_PG_CLUSTER_SCRIPT) + " " + what + " '" + server.cluster.state + "' >/dev/null 2>&1";
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
}

}  // namespace
