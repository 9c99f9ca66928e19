// Keeps every finished verification, calibration and relay check in the run history. It watches the
// library's notifications (the main window passes each one on, as to the screens): a run starts when
// the record's task becomes the verification (21) or the HART check sequence (20), and ends with
// the first notification after that, while the task is still the run's, whose result code is 14
// (verification finished) or 15 (relay check finished).
// The run is taken from the record at that notification and stored once control is back in the
// event loop, never from inside the library's callback: the operator may be asked whether the run
// is the as-left run of the same day's as-found run, and a failure is told in the message window.
// A history that cannot be opened or written loses only the history entry: the results stay in the
// record and on the screens, and the protocol can be made as usual.
// A HART current trim (task 15) or sensor trim (16) that ends without an error is kept too, as an
// adjustment of each device it worked on (by the serial of its channel in the device grid): a run of
// such a device later that day is offered as the as-left run of its as-found run.
// During a calibration the sequence's trims are kept instead, with their points and values as notes,
// once the sequence has taken the step that ends each; and a run of the calibration is stored once the
// sequence has taken the step after its end, the run that ends the calibration with the channels'
// reasons among its protocol fields. So the history makes the calibration's protocol again as the
// workstation wrote it.
// Every write remembers the history's new head in the user's settings folder (shared with quarn-cli,
// which writes the same default history), so a history changed or replaced behind the program's back
// is refused instead of written on.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <variant>

#include "HistoryRecord.h"

struct TDev;

namespace quarn::data {
class CalibrationSequence;
class RunSnapshot;
}  // namespace quarn::data

namespace arm {

class WorkstationContext;

class RunRecorder : public QObject {
  Q_OBJECT
 public:
  // `historyPath` empty: defaultHistoryPath().
  RunRecorder(WorkstationContext& context, QString historyPath = {}, QObject* parent = nullptr);
  ~RunRecorder() override;

  // The history file: given, else the user's data folder ("…/quarn/history.db", shared with
  // quarn-cli).
  static QString defaultHistoryPath();
  QString historyPath() const { return path_; }

  // One notification of the library, after the screens have refreshed and before the snapshot is
  // taken.
  void notify(const TDev& dev);

  // Stores the runs taken so far now instead of at the next pass of the event loop.
  void storePending();

  // The last run stored (its id in the history; 0 before one) and the last failure of a run's entry
  // (empty after a success).
  int64_t lastRunId() const { return lastRunId_; }
  QString lastError() const { return lastError_; }

  // The line a protocol of a run's record carries about its entry in the history (UTF-8): the run
  // stored last while the record (the run's snapshot) still holds that run's devices and results,
  // else that it was not stored.
  std::string protocolFooter(const TDev& dev) const;

 Q_SIGNALS:
  void runStored(qint64 runId);
  // A run or an adjustment was not stored; `message` is what the message window shows.
  void storeFailed(const QString& message);

 private:
  // A run taken at its end, with a fingerprint of its snapshot's record then (what its protocol is
  // made from).
  struct TakenRun {
    quarn::history::RunRecord run;
    uint64_t results = 0;
    bool tagDecided = false;  // a calibration's run: its tag is set, the operator is not asked
  };
  TakenRun takeRun(const TDev& dev) const;
  void takeAdjustments(const TDev& dev);
  // After every step of a calibration sequence (WorkstationContext::calibrationStepped).
  void calibrationStepped(const quarn::data::CalibrationSequence& sequence);
  void queue(std::variant<TakenRun, quarn::history::Adjustment> entry);
  void store(TakenRun taken);
  void store(const quarn::history::Adjustment& adjustment);
  void fail(const QString& what, const QString& reason);

  WorkstationContext& context_;
  QString path_;
  int64_t startedAtMs_ = 0;                        // when the record's task became the run's
  bool armed_ = false;                             // a run is under way and has not been taken yet
  std::unique_ptr<quarn::data::RunSnapshot> run_;  // the armed run's own snapshot
  uint32_t lastTask_ = 0;
  uint32_t lastRetCode_ = 0;
  std::deque<std::variant<TakenRun, quarn::history::Adjustment>> pending_;
  // A calibration's run taken at its end, waiting for the sequence's next step.
  std::optional<TakenRun> heldRun_;
  // The trims of the calibration sequence `calibration_` queued so far: (channel, sensor trim).
  const quarn::data::CalibrationSequence* calibration_ = nullptr;
  std::set<std::pair<int, bool>> trimsTaken_;
  bool storeQueued_ = false;
  int64_t lastRunId_ = 0;
  std::string lastHash_;      // of the last run's entry
  uint64_t lastResults_ = 0;  // fingerprint of the record's results the last run was taken from
  QString lastError_;
};

}  // namespace arm
