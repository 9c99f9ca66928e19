// The screen framework without a library: the base's hooks, the context a screen works with, and the
// project controller the screens and the menus share.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTemporaryDir>

#include "ProjectController.h"
#include "ZDialog.h"
#include "screen_fixture.h"

namespace {

using namespace arm;
using namespace armtest;

// Logs which hooks ran, in order.
class RecordingScreen : public Screen {
 public:
  explicit RecordingScreen(WorkstationContext& context) : Screen(context, QStringLiteral("Frame_Test1")) {}
  void refresh(TDev& dev) override { log << QStringLiteral("refresh %1").arg(dev.event); }
  void libraryEvent(TDev& dev) override {
    log << QStringLiteral("event %1/%2").arg(dev.event).arg(dev.retCode);
  }
  void onShown() override { log << QStringLiteral("shown"); }
  void onHidden() override { log << QStringLiteral("hidden"); }
  void projectLoaded(quarn::data::Project& project) override {
    log << QStringLiteral("loaded ") + QString::fromStdString(project.channels[2].name);
    // Showing a project runs change handlers that mark it modified; the load clears the mark after.
    context().setProjectModified(true);
  }
  void commitEdits(quarn::data::Project& project) override {
    log << QStringLiteral("commit");
    project.channels[2].name = pendingName;
  }
  QStringList take() {
    QStringList l = log;
    log.clear();
    return l;
  }
  QStringList log;
  std::string pendingName = "КДИ-7";
};

TEST(ScreenFramework, NotificationsAndModeSwitchesReachTheHooks) {
  ScreenBench bench;
  RecordingScreen screen(bench.context);
  bench.notify(screen, 0);
  EXPECT_EQ(screen.take(), QStringList{"refresh 0"});
  // An event or a result code also goes to libraryEvent, after the refresh.
  bench.notify(screen, 3);
  EXPECT_EQ(screen.take(), (QStringList{"refresh 3", "event 3/0"}));
  bench.dev().retCode = 14;
  bench.notify(screen, 0);
  EXPECT_EQ(screen.take(), (QStringList{"refresh 0", "event 0/14"}));

  screen.showFrame();
  screen.hideFrame();
  screen.hideFrame();  // already hidden: no second onHidden
  EXPECT_EQ(screen.take(), (QStringList{"shown", "hidden"}));
}

TEST(ScreenFramework, TheProjectGoesThroughTheScreensOnLoadAndSave) {
  ScreenBench bench;
  RecordingScreen screen(bench.context);
  QTemporaryDir dir;
  ProjectController& project = bench.context.project();
  int modifiedChanges = 0;
  QObject::connect(&project, &ProjectController::modifiedChanged, [&] { ++modifiedChanges; });

  // No file yet: the defaults are shown, and the project is not modified afterwards.
  const QString path = dir.filePath("job.aip");
  EXPECT_TRUE(project.load(path));
  EXPECT_EQ(screen.take(), QStringList{"loaded кПа"});
  EXPECT_FALSE(bench.context.projectModified());
  EXPECT_EQ(project.fileName(), path);

  // Saving takes the screen's pending edit; loading the file again shows it.
  bench.context.setProjectModified(true);
  ASSERT_TRUE(project.save(path));
  EXPECT_EQ(screen.take(), QStringList{"commit"});
  EXPECT_FALSE(bench.context.projectModified());
  project.model().channels[2].name = "changed in memory";
  EXPECT_TRUE(project.load(path));
  EXPECT_EQ(screen.take(), QStringList{"loaded КДИ-7"});
  EXPECT_GE(modifiedChanges, 2);

  // A file that cannot be read: the operator is told (under the caller's caption) and the project
  // keeps what it had.
  QFile garbage(dir.filePath("bad.aip"));
  ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
  garbage.write("[Device_ch_2]\r\nname=half a li");  // cut off in the middle of its last line
  garbage.close();
  EXPECT_FALSE(project.load(garbage.fileName()));
  EXPECT_EQ(project.model().channels[2].name, "КДИ-7");
  EXPECT_TRUE(bench.context.messageWindow().isVisible());
  EXPECT_EQ(bench.context.messageWindow().windowTitle(), QStringLiteral("Ошибка"));
  EXPECT_TRUE(bench.context.messageWindow().text().contains(QStringLiteral("bad.aip")));
  bench.context.messageWindow().hide();
}

TEST(ScreenFramework, TheContextStartsTasksOnlyWithARecordAndKeepsThePreviousSnapshot) {
  WorkstationContext context;
  std::vector<std::pair<uint32_t, void*>> started;
  context.setTaskStarter([&](uint32_t task, void* argument) {
    started.emplace_back(task, argument);
    return 7;
  });
  EXPECT_EQ(context.startTask(TASK_SETTINGS_READ), -1);  // no library bound: nothing starts
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(context.snapshot().pRef, 0);

  ScreenBench bench;
  context.bindRecord(&bench.dev());
  int selected = 2;
  EXPECT_EQ(context.startTask(TASK_HART_SET_0, &selected), 7);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].first, static_cast<uint32_t>(TASK_HART_SET_0));
  EXPECT_EQ(started[0].second, &selected);

  bench.dev().pRef = 5;
  context.takeSnapshot();
  bench.dev().pRef = 6;
  EXPECT_EQ(context.snapshot().pRef, 5);  // what the previous notification saw

  // Model flags: exactly one for a known model, none otherwise.
  for (uint32_t model : {0u, 1u, 7u}) {
    context.setModel(model);
    EXPECT_EQ(context.uiBrenk(), model == 0);
    EXPECT_EQ(context.uiQuarn(), model == 1);
  }

  int buttonChanges = 0;
  QObject::connect(&context, &WorkstationContext::modeButtonsEnabledChanged, [&] { ++buttonChanges; });
  context.setModeButtonsEnabled(false);
  context.setModeButtonsEnabled(false);
  context.setModeButtonsEnabled(true);
  EXPECT_EQ(buttonChanges, 2);

  // The model tables: the range record goes with the link, the accuracy table stays.
  context.setModelTables(std::make_unique<TModelRec>(), std::make_unique<TErrorRec>());
  context.dropModelRecord();
  EXPECT_EQ(context.modelRecord(), nullptr);
  EXPECT_NE(context.errorRecord(), nullptr);
}

TEST(ScreenFramework, ProjectSectionsFollowTheOwnersNotTheLayoutWidgets) {
  QWidget window;
  window.setObjectName("FormMain");
  Screen::markOwner(&window);
  auto* layoutPanel = new QWidget(&window);
  layoutPanel->setObjectName("Panel_Frames");
  ScreenBench bench;
  auto* screen = new RecordingScreen(bench.context);
  screen->setParent(layoutPanel);
  auto* frame = new QWidget(screen);
  frame->setObjectName("Frame_Points1");
  Screen::markOwner(frame);
  auto* group = new QWidget(frame);
  auto* edit = new QLabel(group);
  auto* direct = new QLabel(screen);
  EXPECT_EQ(Screen::projectSection(direct), QStringLiteral("_FormMain_Frame_Test1_"));
  EXPECT_EQ(Screen::projectSection(edit), QStringLiteral("_FormMain_Frame_Test1_Frame_Points1_"));
  EXPECT_EQ(Screen::projectSection(frame), QStringLiteral("_FormMain_Frame_Test1_"));
  delete screen;  // before the bench's context goes
}

}  // namespace
