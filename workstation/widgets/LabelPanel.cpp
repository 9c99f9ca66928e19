#include "LabelPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>

#include "UiHelpers.h"

namespace arm {

LabelPanel::LabelPanel(const QString& panelName, const QString& labelName, const QString& caption,
                       QWidget* parent)
    : QFrame(parent), label_(new QLabel(caption, this)) {
  setObjectName(panelName);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setLineWidth(2);
  setAutoFillBackground(true);
  setCursor(Qt::PointingHandCursor);
  label_->setObjectName(labelName);
  label_->setAlignment(Qt::AlignCenter);
  label_->setWordWrap(true);
  label_->installEventFilter(this);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(label_);
}

void LabelPanel::setColours(const QColor& background, const QColor& text) {
  background_ = background;
  text_ = text;
  QPalette p = palette();
  p.setColor(QPalette::Window, background);
  p.setColor(QPalette::WindowText, text);
  setPalette(p);
  label_->setPalette(p);
}

bool LabelPanel::press(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) return false;
  pressed_ = true;
  togglePressedLook(this);
  return true;
}

bool LabelPanel::release(QWidget* control, QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return false;
  pressed_ = false;
  togglePressedLook(this);
  // Released outside the control: no click, as with any button.
  if (isEnabled() && control->rect().contains(event->position().toPoint())) Q_EMIT clicked(control);
  return true;
}

void LabelPanel::mousePressEvent(QMouseEvent* event) {
  if (press(event)) return event->accept();
  QFrame::mousePressEvent(event);
}

void LabelPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (release(this, event)) return event->accept();
  QFrame::mouseReleaseEvent(event);
}

bool LabelPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == label_) {
    if (event->type() == QEvent::MouseButtonPress) return press(static_cast<QMouseEvent*>(event));
    if (event->type() == QEvent::MouseButtonRelease) return release(label_, static_cast<QMouseEvent*>(event));
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace arm
