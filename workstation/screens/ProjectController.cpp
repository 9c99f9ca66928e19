#include "ProjectController.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <cstdio>

#include "ProjectFile.h"
#include "Prompts.h"

namespace arm {

ProjectController::ProjectController(QObject* parent) : QObject(parent) {}

void ProjectController::tell(const QString& text, const QString& caption) const {
  // The window for the operator; stderr for whoever started the program (a script, a screenshot
  // run, which then ends with a failure status).
  if (messenger_) messenger_(text, caption);
  if (!messenger_ || Prompts::unattended)
    Prompts::showError(caption, text);
  else
    std::fprintf(stderr, "ARM_Quarn: %s\n", qPrintable(text));
}

bool ProjectController::ask(const QString& text, const QString& caption) const {
  if (asker_) return asker_(text, caption);
  return QMessageBox::question(window_.data(), caption, text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

const quarn::data::ParamsCheck& ProjectController::applyToRecord(TDev& dev) {
  check_ = quarn::data::applyProjectToDev(project_, dev, options_);
  return check_;
}

void ProjectController::setModified(bool modified) {
  if (modified_ == modified) return;
  modified_ = modified;
  Q_EMIT modifiedChanged(modified);
}

void ProjectController::setFileName(const QString& name) {
  if (fileName_ == name) return;
  fileName_ = name;
  Q_EMIT fileNameChanged(name);
}

bool ProjectController::load(const QString& path) {
  QString name = path;
  if (!QFileInfo(name).exists()) {
    const QString fallback = QString::fromStdString(quarn::data::effectiveProjectPath(name.toStdString()));
    if (QFileInfo(fallback).isFile()) name = QFileInfo(fallback).absoluteFilePath();
  }
  if (!QFileInfo(name).exists()) {
    // No project yet: the parameters start from the defaults; a save creates the file.
    project_ = quarn::data::projectFromIni(quarn::data::IniDocument{});
  } else {
    // Read into a copy: a file that cannot be used leaves the current project as it is.
    quarn::data::Project read;
    quarn::data::Result<quarn::data::LoadedProject> r = quarn::data::loadProject(name.toStdString(), read);
    // A file changed since this program saved it is taken only when the operator says the change
    // was meant: a flipped digit would otherwise change a tolerance without anybody noticing.
    if (!r && r.error().fault() == quarn::data::Fault::Edited &&
        ask(QString::fromStdString(r.why()) + QStringLiteral("\n\nОткрыть его, если он изменён намеренно?"),
            QStringLiteral("Файл проекта изменён вне программы")))
      r = quarn::data::loadProject(name.toStdString(), read, true);
    if (!r) {
      tell(QStringLiteral("Проект ") + name + QStringLiteral(" не загружен:\n") +
               QString::fromStdString(r.why()),
           QStringLiteral("Ошибка"));
      return false;
    }
    // A file without the checksum (older, another program's, hand-made) loads as before.
    if (r->checksum == quarn::data::ProjectChecksum::Absent && !r->note.empty())
      std::fprintf(stderr, "ARM_Quarn: %s\n", r->note.c_str());
    project_ = std::move(read);
  }
  named_ = true;
  setFileName(name);
  Q_EMIT loaded();
  // Showing the project runs the screens' change handlers, which mark it modified.
  setModified(false);
  return true;
}

void ProjectController::startUnnamed(const QString& defaultPath) {
  project_ = quarn::data::projectFromIni(quarn::data::IniDocument{});
  named_ = false;
  setFileName(defaultPath);
  Q_EMIT loaded();
  setModified(false);
}

bool ProjectController::save(const QString& path) {
  // The screens show the name they are saving under. It stays the current name when the save fails,
  // so saving again (or the closing question's "Yes") tries the same file and fails visibly again.
  setFileName(path);
  Q_EMIT aboutToSave();
  const quarn::data::Outcome saved = quarn::data::saveProject(path.toStdString(), project_);
  if (!saved) {
    Prompts::showError(QStringLiteral("Ошибка"), QStringLiteral("Проект ") + path +
                                                     QStringLiteral(" не сохранён:\n") +
                                                     QString::fromStdString(saved.why()));
    return false;
  }
  named_ = true;
  setModified(false);
  return true;
}

void ProjectController::N_OpenProject_Click() {
  QString name;
  if (Prompts::fileName) {
    name = Prompts::fileName(QStringLiteral("Открыть проект"), false);
  } else {
    name = QFileDialog::getOpenFileName(window_.data(), QStringLiteral("Открыть проект"), programDir_,
                                        QStringLiteral("Файлы проектов (*.aip)"));
  }
  if (name.isEmpty()) return;
  if (!name.endsWith(QLatin1String(".aip"), Qt::CaseInsensitive) && !QFileInfo::exists(name)) name += ".aip";
  // Opening another project drops the changes of this one: the same question as at exit ("Отмена"
  // keeps this project open).
  if (!confirmClose()) return;
  load(name);
}

void ProjectController::N_SaveProject_Click() {
  if (named_)
    save(fileName_);
  else
    N_SaveProject_As_Click();
}

void ProjectController::N_SaveProject_As_Click() { saveAs(); }

bool ProjectController::saveAs() {
  QString name;
  if (Prompts::fileName) {
    name = Prompts::fileName(QStringLiteral("Сохранить проект как"), true);
  } else {
    QFileDialog dialog(window_.data(), QStringLiteral("Сохранить проект как"),
                       QFileInfo(fileName_).absolutePath(), QStringLiteral("Файлы проектов (*.aip)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("aip"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      name = dialog.selectedFiles().front();
  }
  if (name.isEmpty()) return false;
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".aip");
  return save(name);
}

bool ProjectController::confirmClose() {
  if (!modified_) return true;
  const QString text = QStringLiteral("Проект ") + fileName_ + QStringLiteral(" изменён. Сохранить?");
  const QMessageBox::StandardButton answer =
      Prompts::saveQuestion ? Prompts::saveQuestion(text)
                            : QMessageBox::question(window_.data(), QStringLiteral("Внимание"), text,
                                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer != QMessageBox::Yes && answer != QMessageBox::No) return false;
  // A project that could not be saved is not given up silently: the window stays open.
  if (answer == QMessageBox::Yes && !(named_ ? save(fileName_) : saveAs())) return false;
  setModified(false);
  return true;
}

}  // namespace arm
