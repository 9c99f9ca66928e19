#include "DialogUDiap.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "PanelButton.h"
#include "UiHelpers.h"

namespace arm {

DialogUDiap::DialogUDiap(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Dialog_u_diap"));
  setWindowTitle(QStringLiteral(" Диапазон входного сигнала"));
  min_ = new QLineEdit(QStringLiteral("0"), this);
  min_->setObjectName(QStringLiteral("ed_min"));
  max_ = new QLineEdit(QStringLiteral("10"), this);
  max_->setObjectName(QStringLiteral("ed_max"));
  NumericKeyFilter::install(min_);
  NumericKeyFilter::install(max_);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Нижний предел, В"), min_);
  form->addRow(QStringLiteral("Верхний предел, В"), max_);

  auto* yes = new PanelButton(QStringLiteral("pn_Yes"), QStringLiteral("Применить"), 0, this);
  auto* no = new PanelButton(QStringLiteral("pn_No"), QStringLiteral("Отмена"), 0, this);
  for (PanelButton* b : {yes, no}) {
    b->setFixedSize(120, 34);
    b->setColours(QColor(73, 86, 119), Qt::white);
  }
  connect(yes, &PanelButton::mouseDown, this, &DialogUDiap::apply);
  connect(no, &PanelButton::mouseDown, this, &DialogUDiap::cancel);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(yes);
  buttons->addWidget(no);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
}

void DialogUDiap::apply() {
  lower_ = static_cast<float>(textToValue(min_->text()));
  upper_ = static_cast<float>(textToValue(max_->text()));
  done(QDialog::Accepted);
}

void DialogUDiap::cancel() { done(2); }

}  // namespace arm
