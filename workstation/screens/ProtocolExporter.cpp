#include "ProtocolExporter.h"

#include <unistd.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QUrl>
#include <string>
#include <utility>
#include <vector>

#include "ProjectController.h"
#include "RunSnapshot.h"
#include "TDev.h"
#include "WorkstationContext.h"
#include "ZDialog.h"
#include "calibration_report.h"
#include "make_report.h"
#include "protocol_pdf.h"
#include "report_exchange.h"

namespace arm {

namespace {

const QString kCaption = QStringLiteral("Сообщение");

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

// A folder the program may write into (a symbolic link to one counts).
bool writableFolder(const QString& folder) {
  const QFileInfo info(folder);
  return info.isDir() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// The library's timer stays stopped while the workbook is made (the record is read meanwhile) and
// runs again however the export ends.
class TimerPause {
 public:
  explicit TimerPause(const WorkstationContext& context) : context_(context) {
    context_.startTask(TASK_TIMER_STOP);
  }
  ~TimerPause() { context_.startTask(TASK_TIMER_START); }
  TimerPause(const TimerPause&) = delete;
  TimerPause& operator=(const TimerPause&) = delete;

 private:
  const WorkstationContext& context_;
};

// The report assembly's messages (ordering of placeholders, library missing, the report library's
// reason) are gathered while it runs and shown together afterwards.
struct GatheredMessages {
  GatheredMessages() {
    quarn::report::setMessageSink([this](const std::string& itsCaption, const std::string& message) {
      if (caption.isEmpty()) caption = text(itsCaption).trimmed();
      texts.push_back(text(message).trimmed());
    });
  }
  ~GatheredMessages() { quarn::report::setMessageSink(nullptr); }
  GatheredMessages(const GatheredMessages&) = delete;
  GatheredMessages& operator=(const GatheredMessages&) = delete;

  QString caption;
  QStringList texts;
};

bool openWithDesktop(const QString& path) {
  // Nobody looks at an offscreen session: tests and pictures open nothing.
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace

ProtocolExporter::ProtocolExporter(WorkstationContext& context, QObject* parent)
    : QObject(parent), context_(context), opener_(openWithDesktop) {}

QString ProtocolExporter::reportsFolder(const QString& programDir, const QString& dataDir, QString* why) {
  QStringList tried;
  for (const QString& base : {programDir, dataDir}) {
    if (base.isEmpty()) continue;
    const QString folder = QDir(base).filePath(QStringLiteral("reports"));
    if (!QFileInfo::exists(folder)) QDir().mkpath(folder);
    if (writableFolder(folder)) return folder;
    tried << QDir::toNativeSeparators(folder);
  }
  if (why)
    *why = QStringLiteral("Протокол не сформирован: нет папки для протоколов, доступной для записи (") +
           tried.join(QStringLiteral(", ")) + QStringLiteral(").");
  return {};
}

bool ProtocolExporter::pdfAvailable() { return quarn::report::pdfAvailable(); }

QCheckBox* ProtocolExporter::createPdfCheckBox(QWidget* parent) {
  auto* box = new QCheckBox(QStringLiteral("PDF"), parent);
  box->setObjectName(QStringLiteral("cbPdf"));
  const bool available = pdfAvailable();
  box->setEnabled(available);
  box->setChecked(available && writePdf_);
  box->setToolTip(available
                      ? QStringLiteral("Сохранить протокол также в PDF (LibreOffice)")
                      : QStringLiteral("Для протокола в PDF нужен LibreOffice (soffice), он не установлен"));
  connect(box, &QCheckBox::toggled, this, [this](bool on) { writePdf_ = on; });
  return box;
}

void ProtocolExporter::fail(const QString& caption, const QString& message) {
  context_.messageWindow().showMessage(message, false, caption);
  Q_EMIT failed(message);
}

void ProtocolExporter::exportProtocol() {
  if (!context_.dev()) {
    fail(kCaption, QStringLiteral("Библиотека не подключена: протокол не сформирован."));
    return;
  }
  // The protocol is the run's: its devices, points, results and protocol texts as the run took them,
  // whatever the parameters say now.
  const quarn::data::RunSnapshot* run = context_.run();
  if (!run) {
    fail(kCaption, QStringLiteral("Поверка не проводилась: протокол не сформирован."));
    return;
  }
  if (!run->anyChannelEnabled()) {
    fail(kCaption, QStringLiteral("Канал не выбран: протокол не сформирован."));
    return;
  }

  const QString dataDir =
      dataDir_.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) : dataDir_;
  QString why;
  const QString folder = reportsFolder(context_.programDir(), dataDir, &why);
  if (folder.isEmpty()) {
    fail(kCaption, why);
    return;
  }

  // The template is the form the run is written into: the project's choice now, so a template that
  // has gone can be replaced before the export is tried again.
  const quarn::data::ReportTemplate& form = context_.project().model().reportTemplate;
  quarn::report::ReportRequest request;
  request.templateFolder = form.folder;
  request.templateName = form.name;
  request.reportsFolder = folder.toStdString();
  request.historyEntry = context_.historyFooter(run->record());

  const std::optional<quarn::data::CalibrationRuns> calibration =
      calibration_ ? calibration_() : std::optional<quarn::data::CalibrationRuns>();
  int result = 0;
  GatheredMessages messages;
  {
    const TimerPause pause(context_);
    result = calibration ? quarn::report::makeCalibrationReport(*calibration, request)
                         : quarn::report::makeRunReport(*run, request);
  }
  if (result != 0) {
    if (messages.texts.isEmpty())
      messages.texts << QStringLiteral("Протокол не сформирован (код %1).").arg(result);
    fail(messages.caption.isEmpty() ? kCaption : messages.caption,
         messages.texts.join(QStringLiteral("\n\n")));
    return;
  }

  lastWorkbook_ = text(quarn::report::LastReportOutput());
  lastPdf_.clear();
  QStringList shown = messages.texts;
  shown << QStringLiteral("Протокол сохранён:\n") + QDir::toNativeSeparators(lastWorkbook_);
  if (writePdf_) {
    const quarn::data::Result<std::string> pdf = quarn::report::writeProtocolPdf(lastWorkbook_.toStdString());
    if (pdf) {
      lastPdf_ = text(*pdf);
      shown << QStringLiteral("PDF:\n") + QDir::toNativeSeparators(lastPdf_);
    } else {
      shown << text(pdf.why());
    }
  }
  Q_EMIT exported(lastWorkbook_);
  offerToOpen(shown.join(QStringLiteral("\n\n")));
}

void ProtocolExporter::offerToOpen(const QString& message) {
  ZDialog& window = context_.messageWindow();
  window.showAndWait(message + QStringLiteral("\n\nОткрыть протокол?"), true, kCaption);
  if (window.modalResult() != ZDialog::kResultOk || !opener_) return;
  // Without a handler for workbooks the folder is shown instead.
  if (!opener_(lastWorkbook_)) opener_(QFileInfo(lastWorkbook_).absolutePath());
}

}  // namespace arm
