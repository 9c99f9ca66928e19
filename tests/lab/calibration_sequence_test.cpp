// The calibration sequence's decisions against a host that plays the library: which devices are
// trimmed and at which pressures, what is refused before a trim, and the exit from fixed-current
// mode after an operator's stop or a failed current trim. The whole sequence against the library and
// the simulator is in tests/cli (calibrate_cli_end_to_end).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "CalibrationSequence.h"
#include "TDevValues.h"
#include "quarn/cp1251.h"

namespace {

using quarn::data::CalibrationHost;
using quarn::data::CalibrationSequence;
using quarn::data::CalibrationStage;
using quarn::data::RunSnapshot;

// Plays the library: records the tasks started, and notifies as the library would.
class FakeLibrary : public CalibrationHost {
 public:
  FakeLibrary() : dev_(std::make_unique<TDev>()) {
    *dev_ = TDev{};
    dev_->task = TASK_MEASURE;
    dev_->linked = 1;
    dev_->calInfo.pLimitMin = -100;
    dev_->calInfo.pLimitMax = 700;
    dev_->povHeader.vrCoeff = 0.7f;
    for (int c = 0; c < 4; ++c) {
      dev_->devCh[c].enabled = 1;
      dev_->devCh[c].errOk = 0.5f;
      dev_->devCh[c].MinKpa = 0;
      dev_->devCh[c].MaxKpa = 600;
      dev_->hart[c].found = 1;
    }
  }
  TDev& dev() override { return *dev_; }
  void startTask(uint32_t task) override {
    tasks.push_back(task);
    dev_->task = task;
    dev_->retCode = RETCODE_CLEARED;
  }
  std::unique_ptr<RunSnapshot> prepareRun(std::string&) override {
    dev_->pointIdx = 0;
    return std::make_unique<RunSnapshot>(*dev_, quarn::data::Project{}, quarn::data::ProtocolFields{});
  }

  void notify(CalibrationSequence& seq) {
    seq.onNotify(*dev_);
    dev_->event = EVENT_NONE;
    if (seq.actionDue()) seq.advance();
  }
  // The task in progress ends as the common end step ends it.
  void endTask(CalibrationSequence& seq) {
    dev_->task = TASK_MEASURE;
    notify(seq);
  }
  void endSearch(CalibrationSequence& seq) {
    dev_->event = EVENT_HART_SEARCH_DONE;
    notify(seq);
    endTask(seq);
  }
  // A verification whose one point has these reduced errors.
  void endRun(CalibrationSequence& seq, std::array<float, 4> errors) {
    dev_->pointIdx = 1;
    dev_->results[0].valid = 1;
    for (int c = 0; c < 4; ++c) dev_->results[0].ch[c].reducedError = errors[static_cast<size_t>(c)];
    dev_->retCode = RETCODE_VERIFICATION_DONE;
    notify(seq);
  }
  void endSensorTrim(CalibrationSequence& seq) {
    dev_->retCode = RETCODE_FINISHED;
    dev_->event = EVENT_SENSOR_TRIM_DONE;
    notify(seq);
    endTask(seq);
  }
  // A device refuses command 82 while the trim works on its channel.
  void refuse82(CalibrationSequence& seq, int ch, const char* text) {
    dev_->hartCh = ch;
    dev_->errCode = 2;
    dev_->errText = text;
    notify(seq);
    dev_->errCode = 0;
    dev_->errText = nullptr;
  }

  std::vector<uint32_t> tasks;

 private:
  std::unique_ptr<TDev> dev_;
};

constexpr std::array<float, 4> kAllGood{0.1f, 0.1f, 0.1f, 0.1f};

TEST(CalibrationSequence, TrimsOnlyWhatItMayAtTheRangeEnds) {
  const struct {
    const char* what;
    void (*setUp)(TDev&);
    bool trimmed;
    const char* reason;
    float pmin, pmax;
  } cases[] = {
      {"a HART device out of tolerance", [](TDev&) {}, true, "", 0, 600},
      {"no HART device", [](TDev& d) { d.hart[0].found = 0; }, false, "подстройка невозможна: нет HART", NAN,
       NAN},
      {"a device at polling address 3", [](TDev& d) { d.hart[0].pollingAddress = 3; }, false,
       "подстройка невозможна: HART-адрес прибора не 0", NAN, NAN},
      // The calibrator reaches 680 kPa: 700 is held to it, 20 kPa off the end, within 12 % of the span.
      {"a range a little beyond the calibrator",
       [](TDev& d) {
         d.devCh[0].MinKpa = 100;
         d.devCh[0].MaxKpa = 700;
         d.calInfo.pLimitMax = 680;
       },
       true, "", 100, 680},
      {"a range far beyond the calibrator", [](TDev& d) { d.devCh[0].MaxKpa = 1600; }, false,
       "подстройка невозможна: диапазон прибора вне пределов калибратора", NAN, NAN},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    FakeLibrary lib;
    k.setUp(lib.dev());
    CalibrationSequence seq(lib, {});
    seq.start();
    lib.endSearch(seq);
    lib.endRun(seq, {0.6f, 0.1f, 0.1f, 0.1f});
    const auto& ch = seq.channels()[0];
    EXPECT_EQ(ch.asFound, false);
    EXPECT_EQ(ch.toAdjust, k.trimmed);
    EXPECT_EQ(ch.reason, k.reason);
    for (int c = 1; c < 4; ++c) EXPECT_FALSE(seq.channels()[static_cast<size_t>(c)].toAdjust) << c;
    if (k.trimmed) {
      ASSERT_EQ(seq.stage(), CalibrationStage::SensorTrim);
      EXPECT_EQ(lib.dev().trimPmin, k.pmin);
      EXPECT_EQ(lib.dev().trimPmax, k.pmax);
      EXPECT_EQ(lib.dev().trimOn[0], 1u);
      EXPECT_EQ(lib.dev().trimOn[1], 0u);
    } else {
      // Nothing to trim: no as-left run either, and none claimed.
      EXPECT_EQ(seq.stage(), CalibrationStage::Finished);
      EXPECT_EQ(lib.tasks, (std::vector<uint32_t>{TASK_HART_SEARCH, TASK_CHECK}));
      EXPECT_FALSE(ch.asLeft.has_value());
      EXPECT_FALSE(seq.succeeded());
    }
  }
}

// Devices of different ranges are trimmed one range at a time; a device that refused the sensor trim
// gets no current trim, and its refusal is its reason.
TEST(CalibrationSequence, GroupsByRangeAndLeavesARefusingDeviceOutOfTheCurrentTrim) {
  FakeLibrary lib;
  lib.dev().devCh[2].MaxKpa = 250;
  CalibrationSequence seq(lib, {});
  seq.start();
  lib.endSearch(seq);
  lib.endRun(seq, {0.6f, 0.6f, 0.6f, 0.1f});
  ASSERT_EQ(seq.stage(), CalibrationStage::SensorTrim);
  EXPECT_EQ(lib.dev().trimPmax, 600);
  EXPECT_EQ(lib.dev().trimOn[0] + lib.dev().trimOn[1] + lib.dev().trimOn[2], 2u);
  // The record's texts are Windows-1251, as the library writes them.
  const std::string refusal = quarn::text::utf8ToCp1251("Ошибка прибора:\tАктивен режим защиты от записи.");
  lib.refuse82(seq, 1, refusal.c_str());
  lib.endSensorTrim(seq);
  ASSERT_EQ(seq.stage(), CalibrationStage::SensorTrim);
  EXPECT_EQ(lib.dev().trimPmax, 250);
  EXPECT_EQ(lib.dev().trimOn[2], 1u);
  lib.endSensorTrim(seq);
  ASSERT_EQ(seq.stage(), CalibrationStage::CurrentTrim);
  EXPECT_EQ(lib.dev().hartChk[0].active, 1u);
  EXPECT_EQ(lib.dev().hartChk[1].active, 0u) << "the refusing device";
  EXPECT_EQ(lib.dev().hartChk[2].active, 1u);
  EXPECT_EQ(lib.dev().hartChk[3].active, 0u);
  EXPECT_EQ(seq.channels()[1].reason, "прибор отказал: Ошибка прибора: Активен режим защиты от записи.");

  lib.dev().retCode = RETCODE_FINISHED;
  lib.notify(seq);
  lib.endTask(seq);
  ASSERT_EQ(seq.stage(), CalibrationStage::AsLeft);
  lib.endRun(seq, {0.01f, 0.6f, 0.01f, 0.1f});
  EXPECT_EQ(seq.stage(), CalibrationStage::Finished);
  EXPECT_TRUE(seq.channels()[0].adjustedAndPassing());
  EXPECT_FALSE(seq.channels()[1].adjustedAndPassing());
  EXPECT_TRUE(seq.channels()[2].adjustedAndPassing());
  EXPECT_FALSE(seq.succeeded()) << "the refusing device needed adjusting";
}

// "СТОП" during the current trim stops the task and takes the devices out of fixed-current mode;
// only then is the sequence over. Stopped elsewhere, nothing more is sent.
TEST(CalibrationSequence, StopDuringTheCurrentTrimLeavesNoDeviceFixed) {
  FakeLibrary lib;
  CalibrationSequence seq(lib, {});
  seq.start();
  lib.endSearch(seq);
  lib.endRun(seq, {0.6f, 0.1f, 0.1f, 0.1f});
  lib.endSensorTrim(seq);
  ASSERT_EQ(seq.stage(), CalibrationStage::CurrentTrim);
  EXPECT_TRUE(seq.pendingExitFixed()[0]);
  lib.tasks.clear();
  seq.stop();
  EXPECT_EQ(lib.tasks, (std::vector<uint32_t>{TASK_MEASURE, TASK_HART_EXIT_I_OUT}));
  EXPECT_EQ(seq.stage(), CalibrationStage::ExitFixed);
  lib.endTask(seq);
  EXPECT_EQ(seq.stage(), CalibrationStage::Stopped);
  EXPECT_FALSE(seq.pendingExitFixed()[0]);
  EXPECT_EQ(seq.stopReason(), "остановлено оператором");
  EXPECT_EQ(seq.channels()[0].reason, "после подстройки не измерен: калибровка остановлена");
  EXPECT_FALSE(seq.succeeded());

  FakeLibrary other;
  CalibrationSequence early(other, {});
  early.start();
  other.endSearch(early);
  other.tasks.clear();
  early.stop();
  EXPECT_EQ(other.tasks, (std::vector<uint32_t>{TASK_MEASURE}));
  EXPECT_EQ(early.stage(), CalibrationStage::Stopped);
  EXPECT_FALSE(early.asFound());
}

// A current trim that fails on a device: that device refused, the ones before it were trimmed, the
// exit follows; an exit a device did not answer keeps it on the list for the next connection.
TEST(CalibrationSequence, FailedCurrentTrimIsFollowedByTheExit) {
  FakeLibrary lib;
  CalibrationSequence seq(lib, {});
  seq.start();
  lib.endSearch(seq);
  lib.endRun(seq, {0.6f, 0.6f, 0.6f, 0.1f});
  lib.endSensorTrim(seq);
  ASSERT_EQ(seq.stage(), CalibrationStage::CurrentTrim);
  const std::string step = quarn::text::utf8ToCp1251("Подстройка тока");
  lib.dev().dsc[1] = step.c_str();
  lib.dev().hartCh = 1;
  lib.notify(seq);
  lib.endTask(seq);  // no retCode 1: the trim failed on channel 2
  EXPECT_TRUE(seq.channels()[0].currentTrimmed);
  EXPECT_TRUE(seq.channels()[1].refused);
  EXPECT_EQ(seq.channels()[1].reason, "прибор отказал: подстройка тока не подтверждена");
  EXPECT_FALSE(seq.channels()[2].currentTrimmed);
  EXPECT_EQ(seq.channels()[2].reason, "подстройка тока не выполнена: прервана на другом приборе");
  ASSERT_EQ(seq.stage(), CalibrationStage::ExitFixed);
  lib.dev().errCode = 4;
  lib.dev().errText = "no answer";
  lib.notify(seq);
  lib.dev().errCode = 0;
  lib.dev().errText = nullptr;
  lib.endTask(seq);
  EXPECT_TRUE(seq.pendingExitFixed()[1]) << "an unanswered exit is not taken as done";
  EXPECT_EQ(seq.stage(), CalibrationStage::AsLeft);

  // The link goes during the as-left run: the sequence stops and says so.
  lib.dev().event = EVENT_LINK_CHANGED;
  lib.dev().linked = 0;
  lib.notify(seq);
  EXPECT_EQ(seq.stage(), CalibrationStage::Stopped);
  EXPECT_TRUE(seq.linkLost());
  EXPECT_EQ(seq.stopReason(), "связь с калибратором потеряна");
}

}  // namespace
