// A panel used as a button: a raised label panel that reacts when the mouse button goes down (not on
// release), carries a number in its tag, and can show a pressed (lowered) look.
#pragma once

#include <QLabel>

namespace arm {

class PanelButton : public QLabel {
  Q_OBJECT
 public:
  PanelButton(const QString& objectName, const QString& caption, int tag = 0, QWidget* parent = nullptr);

  int tag() const { return tag_; }
  // Background and text colour of the panel; disabled, its text is grey.
  void setColours(const QColor& background, const QColor& text);
  QColor background() const { return background_; }
  QColor textColour() const { return text_; }
  // Raised or lowered bevel.
  void setLowered(bool lowered);
  bool lowered() const { return frameShadow() == QFrame::Sunken; }

 Q_SIGNALS:
  void mouseDown();

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int tag_;
  QColor background_;
  QColor text_;
};

}  // namespace arm
