// The voltage-range dialog: asks for the lower and upper limit of a voltage output signal. After
// "Применить" it holds both limits; after "Отмена" the caller leaves its limits unchanged.
#pragma once

#include <QDialog>

class QLineEdit;

namespace arm {

class DialogUDiap : public QDialog {
 public:
  explicit DialogUDiap(QWidget* parent = nullptr);

  float lower() const { return lower_; }
  float upper() const { return upper_; }
  QLineEdit* minEdit() const { return min_; }
  QLineEdit* maxEdit() const { return max_; }
  // The button actions (also what a mouse-down on the panels does).
  void apply();
  void cancel();

 private:
  QLineEdit* min_;
  QLineEdit* max_;
  float lower_ = 0;
  float upper_ = 10;
};

}  // namespace arm
