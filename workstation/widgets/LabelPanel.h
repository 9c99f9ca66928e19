// A panel used as a button that carries its caption in a label of its own (Panel_Read with
// Label_Read, Panel_SetOn_regul with Label_SetOn_regul): a click on either the panel or the label
// emits clicked() with the control that was clicked; while the mouse button is down the panel shows
// the pressed look.
#pragma once

#include <QFrame>

class QLabel;

namespace arm {

class LabelPanel : public QFrame {
  Q_OBJECT
 public:
  LabelPanel(const QString& panelName, const QString& labelName, const QString& caption,
             QWidget* parent = nullptr);

  QLabel* label() const { return label_; }
  // Background and caption colour.
  void setColours(const QColor& background, const QColor& text);
  QColor background() const { return background_; }
  QColor textColour() const { return text_; }

 Q_SIGNALS:
  // The panel or its label was clicked (mouse button pressed and released over it while enabled).
  void clicked(QWidget* control);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool press(QMouseEvent* event);
  bool release(QWidget* control, QMouseEvent* event);

  QLabel* label_;
  QColor background_;
  QColor text_;
  bool pressed_ = false;
};

}  // namespace arm
