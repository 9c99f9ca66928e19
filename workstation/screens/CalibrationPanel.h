// The verification screen's mode "Калибровка с подстройкой": runs the data layer's calibration
// sequence (as-found run, HART trims of the devices that need them, as-left run) and shows its stage
// and, per channel, the verdict as found, what was adjusted, the verdict as left and the reason.
// A sequence that lost the link while devices were fixed at a current takes them out of that mode
// once the calibrator is linked again (a HART search, then the exit), and tells the operator.
#pragma once

#include <QFrame>
#include <memory>

#include "CalibrationSequence.h"
#include "FixedCurrentRelease.h"

class QLabel;
class QTableWidget;

namespace arm {

class WorkstationContext;

class CalibrationPanel : public QFrame {
  Q_OBJECT
 public:
  explicit CalibrationPanel(WorkstationContext& context, QWidget* parent = nullptr);
  ~CalibrationPanel() override;

  // Starts the sequence (the HART search first). False while one runs or without a record.
  bool start(bool always = false);
  // "СТОП": the task in progress is stopped; devices in fixed-current mode are taken out of it
  // before the sequence ends. During the exit after a reconnect: that is stopped, and the devices
  // stay on the list.
  void stop();
  // Every notification of the library while the sequence runs (inside the callback: it only looks;
  // the next step is taken from the event loop).
  void notify(const TDev& dev);
  // Every notification of the library, running or not (inside the callback: it only looks). After a
  // lost link it starts the exit from fixed-current mode once the calibrator is linked again and
  // nothing else runs.
  void watch(const TDev& dev);
  bool running() const { return sequence_ && !sequence_->finished(); }
  // The exit from fixed-current mode after a reconnect is under way.
  bool releasing() const { return release_.running(); }
  // Channels whose devices may still be fixed at a current, waiting for the next connection.
  const quarn::data::FixedCurrentRelease& release() const { return release_; }
  const quarn::data::CalibrationSequence* sequence() const { return sequence_.get(); }
  QTableWidget* table() const { return table_; }

 Q_SIGNALS:
  // The sequence ended (finished or stopped); `text` is what the message window shows.
  void finished(const QString& text);
  // The exit from fixed-current mode after a reconnect started / ended (`text` for the message
  // window).
  void releaseStarted();
  void releaseFinished(const QString& text);

 private:
  class Host;
  void advance();
  // The sequence has ended: the message window is told once, and a lost link arms the release.
  void tellEnd();
  void startRelease();
  void advanceRelease();
  void showState();

  WorkstationContext& context_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<quarn::data::CalibrationSequence> sequence_;
  quarn::data::FixedCurrentRelease release_;
  bool advanceQueued_ = false;
  bool endTold_ = false;
  bool releaseQueued_ = false;
  bool releaseTried_ = false;      // on this connection: a failed release is not repeated until the next
  QLabel* stage_ = nullptr;        // lbCalibStage
  QTableWidget* table_ = nullptr;  // lvCalib
};

}  // namespace arm
