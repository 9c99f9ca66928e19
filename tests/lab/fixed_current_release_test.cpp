// The exit from fixed-current mode on the connection after a lost link, against a host that plays
// the library: what it sends, and which channels stay on the list when it cannot finish.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FixedCurrentRelease.h"
#include "TDevValues.h"

namespace {

using quarn::data::CalibrationHost;
using quarn::data::FixedCurrentRelease;

class FakeLibrary : public CalibrationHost {
 public:
  FakeLibrary() : dev_(std::make_unique<TDev>()) {
    *dev_ = TDev{};
    dev_->task = TASK_MEASURE;
    dev_->linked = 1;
    dev_->linkState = LINK_STATE_LINKED;
    dev_->kestoDataValid = 1;
  }
  TDev& dev() override { return *dev_; }
  void startTask(uint32_t task) override {
    tasks.push_back(task);
    dev_->task = task;
  }
  std::unique_ptr<quarn::data::RunSnapshot> prepareRun(std::string&) override { return nullptr; }

  void notify(FixedCurrentRelease& r) {
    r.onNotify(*dev_);
    dev_->event = EVENT_NONE;
    dev_->errCode = 0;
    dev_->errText = nullptr;
    if (r.actionDue()) r.advance();
  }
  void endTask(FixedCurrentRelease& r) {
    dev_->task = TASK_MEASURE;
    notify(r);
  }

  std::vector<uint32_t> tasks;

 private:
  std::unique_ptr<TDev> dev_;
};

TEST(FixedCurrentRelease, SearchesThenExitsAndKeepsWhatItCouldNotReach) {
  const struct Case {
    const char* what;
    std::array<uint32_t, 4> found;  // what the search finds
    std::function<void(FakeLibrary&, FixedCurrentRelease&)> duringExit;
    bool searchCompletes;
    std::vector<uint32_t> tasks;
    bool succeeded;
    std::array<bool, 4> stillArmed;
    const char* text;
  } cases[] = {
      {"both devices found and answering",
       {1, 1, 1, 0},
       {},
       true,
       {TASK_HART_SEARCH, TASK_HART_EXIT_I_OUT},
       true,
       {false, false, false, false},
       "Приборы каналов 1, 2 выведены из режима фиксированного тока."},
      {"one device not found again",
       {1, 0, 0, 0},
       {},
       true,
       {TASK_HART_SEARCH, TASK_HART_EXIT_I_OUT},
       false,
       {false, true, false, false},
       "Прибор канала 1 выведен из режима фиксированного тока. Прибор канала 2 не найден поиском HART и "
       "может оставаться в режиме фиксированного тока."},
      {"no device found again",
       {0, 0, 1, 0},
       {},
       true,
       {TASK_HART_SEARCH},
       false,
       {true, true, false, false},
       "Приборы каналов 1, 2 могут оставаться в режиме фиксированного тока: приборы не найдены поиском "
       "HART."},
      {"a device does not answer the exit",
       {1, 1, 0, 0},
       [](FakeLibrary& lib, FixedCurrentRelease& r) {
         lib.dev().errCode = 4;
         lib.dev().errText = "x";
         lib.notify(r);
       },
       true,
       {TASK_HART_SEARCH, TASK_HART_EXIT_I_OUT},
       false,
       {true, true, false, false},
       "Приборы каналов 1, 2 могут оставаться в режиме фиксированного тока: не все приборы подтвердили выход "
       "из режима фиксированного тока."},
      {"the search stopped short",
       {1, 1, 0, 0},
       {},
       false,
       {TASK_HART_SEARCH},
       false,
       {true, true, false, false},
       "Приборы каналов 1, 2 могут оставаться в режиме фиксированного тока: поиск HART-устройств прерван."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    FakeLibrary lib;
    FixedCurrentRelease r(lib);
    EXPECT_FALSE(r.armed());
    r.start();
    EXPECT_TRUE(lib.tasks.empty()) << "nothing to release";
    r.arm({true, true, false, false});
    ASSERT_TRUE(FixedCurrentRelease::linkReady(lib.dev()));
    r.start();
    lib.notify(r);
    for (int c = 0; c < 4; ++c) lib.dev().hart[c].found = k.found[static_cast<size_t>(c)];
    if (k.searchCompletes) {
      lib.dev().event = EVENT_HART_SEARCH_DONE;
      lib.notify(r);
    }
    lib.endTask(r);
    if (r.running()) {
      ASSERT_EQ(lib.dev().task, uint32_t{TASK_HART_EXIT_I_OUT});
      lib.notify(r);
      if (k.duringExit) k.duringExit(lib, r);
      lib.endTask(r);
    }
    EXPECT_TRUE(r.finished());
    EXPECT_EQ(lib.tasks, k.tasks);
    EXPECT_EQ(r.succeeded(), k.succeeded);
    EXPECT_EQ(r.channels(), k.stillArmed);
    EXPECT_EQ(r.text(), k.text);
  }
}

// The link goes again during the release: nothing more is started, and the channels stay armed for
// the next connection, where the release starts from the search again.
TEST(FixedCurrentRelease, ALinkLostAgainKeepsEveryChannelForTheNextConnection) {
  FakeLibrary lib;
  FixedCurrentRelease r(lib);
  r.arm({false, true, true, false});
  r.start();
  lib.notify(r);
  lib.dev().hart[1].found = lib.dev().hart[2].found = 1;
  lib.dev().event = EVENT_HART_SEARCH_DONE;
  lib.notify(r);
  lib.endTask(r);
  ASSERT_EQ(lib.dev().task, uint32_t{TASK_HART_EXIT_I_OUT});
  lib.dev().errCode = 16;
  lib.dev().errText = "связь";
  lib.notify(r);
  lib.dev().linked = 0;
  lib.dev().task = TASK_MEASURE;
  lib.notify(r);
  EXPECT_TRUE(r.finished());
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.channels(), (std::array<bool, 4>{false, true, true, false}));
  EXPECT_EQ(lib.tasks, (std::vector<uint32_t>{TASK_HART_SEARCH, TASK_HART_EXIT_I_OUT}));
  EXPECT_FALSE(FixedCurrentRelease::linkReady(lib.dev()));

  lib.dev().linked = 1;
  r.start();
  EXPECT_EQ(lib.tasks.back(), uint32_t{TASK_HART_SEARCH});
  EXPECT_TRUE(r.running());
}

}  // namespace
