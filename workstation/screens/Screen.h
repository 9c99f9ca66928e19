// The base of every screen of the main window. A screen is a frame with the Part's name as its Qt
// object name (the project file's sections are built from the owner chain of object names), gets the
// workstation context, and overrides the hooks it needs:
//   refresh        every notification of the library (inside the library's callback),
//   libraryEvent   the same notification, when it carries an event or a result code,
//   onShown/onHidden  the mode buttons showed or hid it,
//   afterBinding   once, after the library is bound and the model flags are known,
//   projectLoaded / commitEdits  the project was loaded / is about to be saved.
// Screens never reach each other nor the main window: they share the context's project and run and
// tell each other what happened through the context's signals.
#pragma once

#include <QFrame>

#include "FormPersistence.h"
#include "ProjectModel.h"
#include "WorkstationContext.h"

struct TDev;

namespace arm {

class Screen : public QFrame {
  Q_OBJECT
 public:
  // The screens' background.
  static QColor background() { return QColor(189, 207, 233); }

  Screen(WorkstationContext& context, const QString& objectName, QWidget* parent = nullptr);

  WorkstationContext& context() const { return context_; }

  // Marks a widget as an owner of the controls inside it, for the project file's section names: the
  // main window, every screen, an embedded frame such as Frame_regul_brenk1.
  static void markOwner(QWidget* widget) { FormPersistence::markOwner(widget); }
  // The project-file section of a control: the names of its owners from the outermost, each
  // followed by "_", after a leading "_" (a control of the parameters screen:
  // "_FormMain_Frame_Mode_3_Param1_"). Widgets that only lay out others do not count.
  static QString projectSection(const QObject* control) { return FormPersistence::projectSection(control); }

  // One notification, as the main window passes it on: refresh(), then libraryEvent() when the
  // record carries an event or a result code.
  void notify(TDev& dev);
  // Shown or hidden by the mode buttons (bring to front / send to back); the hooks follow.
  void showFrame();
  void hideFrame();

  // ---- Hooks ------------------------------------------------------------------------------------
  // Refresh from the record. Runs inside the library's callback for every screen, shown or not:
  // keep it short, start no task and open no modal window here.
  virtual void refresh(TDev& /*dev*/) {}
  // The same notification when dev.event or dev.retCode is not 0 (a settings read, a procedure's end,
  // a HART search ...), after refresh().
  virtual void libraryEvent(TDev& /*dev*/) {}
  virtual void onShown() {}
  virtual void onHidden() {}
  // Once, after the library is bound, the model flags are set and every screen exists.
  virtual void afterBinding(TDev& /*dev*/) {}
  // The project was loaded (start-up, "Открыть проект"): show it.
  virtual void projectLoaded(quarn::data::Project& /*project*/) {}
  // The project is about to be saved: write pending edits into it.
  virtual void commitEdits(quarn::data::Project& /*project*/) {}

 protected:
  // A page that is not built yet: its title, centred at the top.
  void showPlaceholder(const QString& title);

 private:
  WorkstationContext& context_;
};

}  // namespace arm
