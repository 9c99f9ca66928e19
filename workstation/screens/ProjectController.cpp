#include "ProjectController.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "ProjectFile.h"
#include "Prompts.h"

namespace arm {

ProjectController::ProjectController(QObject* parent) : QObject(parent) {}

void ProjectController::tell(const QString& text, const QString& caption) const {
  if (messenger_)
    messenger_(text, caption);
  else
    Prompts::showError(caption, text);
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
    const quarn::data::Result<quarn::data::LoadedProject> r =
        quarn::data::loadProject(name.toStdString(), read);
    if (!r) {
      tell(QStringLiteral("Проект ") + name + QStringLiteral(" не загружен:\n") +
               QString::fromStdString(r.why()),
           QStringLiteral("Ошибка"));
      return false;
    }
    project_ = std::move(read);
  }
  setFileName(name);
  Q_EMIT loaded();
  // Showing the project runs the screens' change handlers, which mark it modified.
  setModified(false);
  return true;
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

void ProjectController::N_SaveProject_Click() { save(fileName_); }

void ProjectController::N_SaveProject_As_Click() {
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
  if (name.isEmpty()) return;
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".aip");
  save(name);
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
  if (answer == QMessageBox::Yes && !save(fileName_)) return false;
  setModified(false);
  return true;
}

}  // namespace arm
