// The live verification project and its file: the one owner of the project model. The parameters
// screen edits the model as the operator types and applies it to the record; a run starts from it;
// the main window's "Файл" menu loads and saves it. Loading tells the screens to show the project
// (loaded()); saving first lets them write their pending edits into it (aboutToSave()).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "ParamsCheck.h"
#include "ProjectModel.h"
#include "ProjectToDev.h"

class QWidget;
struct TDev;

namespace arm {

class ProjectController : public QObject {
  Q_OBJECT
 public:
  // Where the controller tells the operator about a file it could not read (text, caption).
  using Messenger = std::function<void(const QString& text, const QString& caption)>;
  // Where the controller asks the operator a yes/no question (text, caption); true for "Да".
  using Asker = std::function<bool(const QString& text, const QString& caption)>;

  explicit ProjectController(QObject* parent = nullptr);
  void setMessenger(Messenger messenger) { messenger_ = std::move(messenger); }
  void setAsker(Asker asker) { asker_ = std::move(asker); }
  // The parent of the file dialogs; the folder "Открыть проект" starts in.
  void setWindow(QWidget* window) { window_ = window; }
  void setProgramDir(const QString& dir) { programDir_ = dir; }

  quarn::data::Project& model() { return project_; }
  const quarn::data::Project& model() const { return project_; }

  // Full name of the current project file.
  QString fileName() const { return fileName_; }
  void setFileName(const QString& name);
  // False while the project has no file of its own (the one asked for at start could not be
  // loaded): "Сохранить" then asks for a name instead of writing over that file.
  bool named() const { return named_; }

  // ProjectModified: the operator changed something since the last load or save.
  bool modified() const { return modified_; }
  void setModified(bool modified);

  // Makes `path` the current project and loads it. A path where no file is falls back to
  // "default.aip" in the working folder when that file exists; otherwise the path stays the current
  // name and the project takes the defaults of an empty file. The screens show the result; the
  // modified flag is cleared. A file that cannot be read (damaged, cut off, not a file) is reported
  // in the message window and changes nothing: the previous project, its name and its modified
  // flag stay. Returns false on such a failure; the reason goes to stderr too (and counts as an
  // error of an unattended run). A file changed outside the program since it was saved (its checksum
  // differs) is loaded only when the operator answers that the change was meant.
  bool load(const QString& path);
  // The project the program starts with when the file asked for could not be loaded: the defaults
  // of an empty project under the name `defaultPath`, without a file of its own (named() false).
  void startUnnamed(const QString& defaultPath);
  // Lets the screens write their edits into the project, then saves it atomically under `path`,
  // which becomes the current name. A failure is shown to the operator and keeps the modified flag.
  bool save(const QString& path);

  // ---- The project in the record ----------------------------------------------------------------
  // The calibrator line of the protocol page ("Quarn №…", after a settings read), the first entry of
  // the reference list; it is not kept in the file.
  void setCalibratorLine(const std::string& line) { options_.calibratorLine = line; }
  const quarn::data::ApplyOptions& applyOptions() const { return options_; }
  // The project into the record and checked, as quarn-cli applies it before a run. The check is
  // kept: a run may start while paramsValid().
  const quarn::data::ParamsCheck& applyToRecord(TDev& dev);
  bool paramsValid() const { return check_.valid; }
  const quarn::data::ParamsCheck& lastCheck() const { return check_; }

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
  void tell(const QString& text, const QString& caption) const;
  bool ask(const QString& text, const QString& caption) const;
  // "Сохранить проект как": asks for a name and saves; false when cancelled or not saved.
  bool saveAs();

  Messenger messenger_;
  Asker asker_;
  QPointer<QWidget> window_;
  QString programDir_;
  quarn::data::Project project_;
  quarn::data::ApplyOptions options_;
  quarn::data::ParamsCheck check_;
  QString fileName_;
  bool modified_ = false;
  bool named_ = true;
};

}  // namespace arm
