// "в Excel" of the verification screen: the protocol workbook of the last run, made from the run's own
// snapshot (its devices, points, results and protocol texts as the run took them) in the project's
// template, while the library's timer is stopped. The finished workbook is offered to open with the
// system's default application; a report error goes to the message window. When LibreOffice is
// installed, a PDF of the protocol can be written beside the workbook.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "CalibrationRuns.h"

class QCheckBox;
class QWidget;

namespace arm {

class WorkstationContext;

class ProtocolExporter : public QObject {
  Q_OBJECT
 public:
  // Opens a file with the system's default application; false when nothing could open it.
  using Opener = std::function<bool(const QString& path)>;

  ProtocolExporter(WorkstationContext& context, QObject* parent = nullptr);

  // The folder the workbooks go into: "reports" in the program's folder, or "reports" in the user's
  // data folder when the first cannot be made or written; made when missing. Empty, with the
  // operator's message in `why`, when neither can be written.
  static QString reportsFolder(const QString& programDir, const QString& dataDir, QString* why = nullptr);

  // Also write a PDF beside the workbook (needs LibreOffice; without it the export says so).
  void setWritePdf(bool on) { writePdf_ = on; }
  bool writePdf() const { return writePdf_; }
  static bool pdfAvailable();
  // A check box "PDF" (cbPdf) for the screen to put beside "в Excel", bound to setWritePdf. Without
  // LibreOffice it is disabled and its tool tip says that LibreOffice is needed.
  QCheckBox* createPdfCheckBox(QWidget* parent);

  // The user's data folder (the fallback for the reports); the system's by default.
  void setUserDataDir(const QString& dir) { dataDir_ = dir; }
  // How a finished workbook is opened; by default the desktop's handler, and nothing under the
  // offscreen platform (tests, pictures).
  void setOpener(Opener opener) { opener_ = std::move(opener); }

  // The calibration whose runs the last run ended, when it did: the export then writes the
  // calibration's protocol (both runs and the trims between them, report::makeCalibrationReport), the
  // one quarn-cli calibrate --report writes. The verification screen sets it.
  using CalibrationSource = std::function<std::optional<quarn::data::CalibrationRuns>()>;
  void setCalibrationSource(CalibrationSource source) { calibration_ = std::move(source); }

  // The workbook and the PDF of the last successful export; empty before one.
  QString lastWorkbook() const { return lastWorkbook_; }
  QString lastPdf() const { return lastPdf_; }

 public Q_SLOTS:
  // The whole "в Excel" sequence. Never throws; a failure is told in the message window and the
  // run's results stay as they are.
  void exportProtocol();

 Q_SIGNALS:
  // A workbook was written (and, when asked for and possible, its PDF beside it).
  void exported(const QString& workbookPath);
  // No workbook was written; `message` is what the message window shows.
  void failed(const QString& message);

 private:
  void fail(const QString& caption, const QString& message);
  void offerToOpen(const QString& text);

  WorkstationContext& context_;
  bool writePdf_ = false;
  QString dataDir_;
  Opener opener_;
  CalibrationSource calibration_;
  QString lastWorkbook_;
  QString lastPdf_;
};

}  // namespace arm
