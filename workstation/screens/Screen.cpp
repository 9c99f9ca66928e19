#include "Screen.h"

#include <QLabel>
#include <QVBoxLayout>

#include "FormPersistence.h"
#include "ProjectController.h"
#include "TDev.h"
#include "TDevValues.h"

namespace arm {

Screen::Screen(WorkstationContext& context, const QString& objectName, QWidget* parent)
    : QFrame(parent), context_(context) {
  setObjectName(objectName);
  markOwner(this);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, background());
  p.setColor(QPalette::WindowText, Qt::black);
  // Captions of disabled controls (a page locked during a run) are grey, so they are seen to be.
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
  setPalette(p);
  ProjectController& project = context.project();
  connect(&project, &ProjectController::loaded, this, [this, &project] { projectLoaded(project.model()); });
  connect(&project, &ProjectController::aboutToSave, this,
          [this, &project] { commitEdits(project.model()); });
}

void Screen::notify(TDev& dev) {
  refresh(dev);
  if (dev.event != EVENT_NONE || dev.retCode != RETCODE_CLEARED) libraryEvent(dev);
}

void Screen::showFrame() {
  show();
  raise();
  onShown();
}

void Screen::hideFrame() {
  const bool wasShown = !isHidden();
  hide();
  if (wasShown) onHidden();
}

void Screen::showPlaceholder(const QString& title) {
  auto* layout = new QVBoxLayout(this);
  auto* caption = new QLabel(title, this);
  caption->setObjectName(objectName() + QStringLiteral("_title"));
  QFont f = caption->font();
  f.setPointSize(f.pointSize() + 4);
  f.setBold(true);
  caption->setFont(f);
  caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  layout->addWidget(caption);
  layout->addStretch(1);
}

}  // namespace arm
