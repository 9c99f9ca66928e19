// "в Excel" of the verification screen: the parameters screen applies its values to the record, the
// library's timer is stopped, the protocol workbook is made from the record and the main window's
// placeholder controls ("amp_..."), and the timer runs again. The finished workbook is offered to
// open with the system's default application; a report error goes to the message window. When
// LibreOffice is installed, a PDF of the protocol can be written beside the workbook.
#pragma once

#include <QObject>
#include <QString>

namespace arm {

class WorkstationContext;

class ProtocolExporter : public QObject {
  Q_OBJECT
 public:
  ProtocolExporter(WorkstationContext& context, QObject* parent = nullptr);

  // The workbook of the last successful export; empty before one.
  QString lastWorkbook() const { return lastWorkbook_; }

 public Q_SLOTS:
  // The whole "в Excel" sequence. Never throws; a failure is told in the message window.
  void exportProtocol();

 Q_SIGNALS:
  // A workbook was written (and, when asked for, its PDF beside it).
  void exported(const QString& workbookPath);
  // The export failed; `message` is what the message window shows.
  void failed(const QString& message);

 private:
  WorkstationContext& context_;
  QString lastWorkbook_;
};

}  // namespace arm
