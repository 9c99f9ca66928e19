// The verification project and its file: the one owner of the project model, used by the main
// window's "Файл" menu and by the screens. Loading tells the screens to show the project (loaded());
// saving first lets them write their pending edits into it (aboutToSave()).
#pragma once

#include <QObject>
#include <QString>

#include "ProjectModel.h"

namespace arm {

class WorkstationContext;

class ProjectController : public QObject {
  Q_OBJECT
 public:
  explicit ProjectController(WorkstationContext& context);

  quarn::data::Project& model() { return project_; }
  const quarn::data::Project& model() const { return project_; }

  // Full name of the current project file.
  QString fileName() const { return fileName_; }
  void setFileName(const QString& name);

  // ProjectModified: the operator changed something since the last load or save.
  bool modified() const { return modified_; }
  void setModified(bool modified);

  // Makes `path` the current project and loads it. A path where no file is falls back to
  // "default.aip" in the working folder when that file exists; otherwise the path stays the current
  // name and the project takes the defaults of an empty file. The screens show the result; the
  // modified flag is cleared. A file that cannot be read (damaged, cut off, not a file) is reported
  // in the message window and changes nothing: the previous project, its name and its modified
  // flag stay. Returns false on such a failure.
  bool load(const QString& path);
  // Lets the screens write their edits into the project, then saves it atomically under `path`,
  // which becomes the current name. A failure is shown to the operator and keeps the modified flag.
  bool save(const QString& path);

  // The menu items "Открыть проект", "Сохранить проект", "Сохранить проект как".
  void N_OpenProject_Click();
  void N_SaveProject_Click();
  void N_SaveProject_As_Click();

  // The question when the program closes with unsaved changes. True when closing may go on (saved,
  // or the operator chose not to save); false for Cancel and for a project that could not be saved.
  bool confirmClose();

 Q_SIGNALS:
  // The project was (re)loaded: show it.
  void loaded();
  // The project is about to be saved: write pending edits into model().
  void aboutToSave();
  void modifiedChanged(bool modified);
  // The current project's name changed (load, save under a new name).
  void fileNameChanged(const QString& name);

 private:
  WorkstationContext& context_;
  quarn::data::Project project_;
  QString fileName_;
  bool modified_ = false;
};

}  // namespace arm
