// The verification screen's mode "Калибровка с подстройкой": runs the data layer's calibration
// sequence (as-found run, HART trims of the devices that need them, as-left run) and shows its stage
// and, per channel, the verdict as found, what was adjusted, the verdict as left and the reason.
#pragma once

#include <QFrame>
#include <memory>

#include "CalibrationSequence.h"

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
  // before the sequence ends.
  void stop();
  // Every notification of the library while the sequence runs (inside the callback: it only looks;
  // the next step is taken from the event loop).
  void notify(const TDev& dev);
  bool running() const { return sequence_ && !sequence_->finished(); }
  const quarn::data::CalibrationSequence* sequence() const { return sequence_.get(); }
  QTableWidget* table() const { return table_; }

 Q_SIGNALS:
  // The sequence ended (finished or stopped); `text` is what the message window shows.
  void finished(const QString& text);

 private:
  class Host;
  void advance();
  void showState();

  WorkstationContext& context_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<quarn::data::CalibrationSequence> sequence_;
  bool advanceQueued_ = false;
  bool endTold_ = false;
  QLabel* stage_ = nullptr;        // lbCalibStage
  QTableWidget* table_ = nullptr;  // lvCalib
};

}  // namespace arm
