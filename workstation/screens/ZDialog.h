// The workstation's message window: a wrapping text with either "Ok" or the question buttons
// "Да" / "Нет", under a caption the caller gives. Shown without waiting (the caller goes on) or shown
// and waited for, after which the caller reads the modal result (1 after "Да", 2 after "Нет").
#pragma once

#include <QDialog>

class QLabel;

namespace arm {

class PanelButton;

class ZDialog : public QDialog {
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;

  explicit ZDialog(QWidget* parent = nullptr);

  // Sets the caption, text and buttons and shows the window; the caller goes on. Showing it again
  // while it is visible replaces the text.
  void showMessage(const QString& text, bool question, const QString& caption);
  // The same, modal: returns when a button ended it. Returns 0; the answer is modalResult().
  int showAndWait(const QString& text, bool question, const QString& caption);
  int modalResult() const { return modalResult_; }
  QString text() const;

 private:
  void prepare(const QString& text, bool question, const QString& caption);
  void centreOnParent();

  QLabel* label_;
  PanelButton* exit_;
  PanelButton* yes_;
  PanelButton* no_;
  int modalResult_ = 0;
};

}  // namespace arm
