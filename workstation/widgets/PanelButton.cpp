#include "PanelButton.h"

#include <QMouseEvent>

namespace arm {

PanelButton::PanelButton(const QString& objectName, const QString& caption, int tag, QWidget* parent)
    : QLabel(caption, parent), tag_(tag) {
  setObjectName(objectName);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  setLineWidth(2);
  setAlignment(Qt::AlignCenter);
  setWordWrap(true);
  setAutoFillBackground(true);
  setCursor(Qt::PointingHandCursor);
  setProperty("tag", tag);
}

void PanelButton::setColours(const QColor& background, const QColor& text) {
  background_ = background;
  text_ = text;
  QPalette p = palette();
  p.setColor(QPalette::Window, background);
  p.setColor(QPalette::WindowText, text);
  // Disabled, the caption is grey, lighter on a dark panel than on a light one, so it is seen to be.
  p.setColor(QPalette::Disabled, QPalette::WindowText,
             background.lightness() > 128 ? QColor(150, 150, 150) : QColor(150, 160, 185));
  setPalette(p);
}

void PanelButton::setLowered(bool lowered) { setFrameShadow(lowered ? QFrame::Sunken : QFrame::Raised); }

void PanelButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled()) {
    event->accept();
    Q_EMIT mouseDown();
    return;
  }
  QLabel::mousePressEvent(event);
}

}  // namespace arm
