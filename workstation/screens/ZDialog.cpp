#include "ZDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "PanelButton.h"
#include "Prompts.h"

namespace arm {

ZDialog::ZDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ZDialog"));
  setWindowFlags(windowFlags() | Qt::WindowSystemMenuHint | Qt::WindowContextHelpButtonHint);
  setMinimumWidth(420);
  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("Label1"));
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignCenter);
  exit_ = new PanelButton(QStringLiteral("pn_Exit"), QStringLiteral("Ok"), 0, this);
  yes_ = new PanelButton(QStringLiteral("pn_Yes"), QStringLiteral("Да"), 0, this);
  no_ = new PanelButton(QStringLiteral("pn_No"), QStringLiteral("Нет"), 0, this);
  for (PanelButton* b : {exit_, yes_, no_}) {
    b->setFixedSize(110, 34);
    b->setColours(QColor(73, 86, 119), Qt::white);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(yes_);
  buttons->addWidget(no_);
  buttons->addWidget(exit_);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_, 1);
  layout->addLayout(buttons);

  connect(yes_, &PanelButton::mouseDown, this, [this] {
    modalResult_ = kResultOk;
    done(kResultOk);
    hide();
  });
  connect(no_, &PanelButton::mouseDown, this, [this] {
    modalResult_ = kResultCancel;
    done(kResultCancel);
    close();
  });
  connect(exit_, &PanelButton::mouseDown, this, [this] {
    done(kResultOk);
    hide();
  });
}

QString ZDialog::text() const { return label_->text(); }

void ZDialog::prepare(const QString& text, bool question, const QString& caption) {
  setWindowTitle(caption);
  label_->setText(text);
  yes_->setVisible(question);
  no_->setVisible(question);
  exit_->setVisible(!question);
  modalResult_ = 0;
  adjustSize();
  centreOnParent();
}

void ZDialog::centreOnParent() {
  if (QWidget* p = parentWidget()) {
    const QRect area = p->frameGeometry();
    move(area.center() - rect().center());
  }
}

void ZDialog::showMessage(const QString& text, bool question, const QString& caption) {
  prepare(text, question, caption);
  setModal(false);
  show();
  raise();
}

int ZDialog::showAndWait(const QString& text, bool question, const QString& caption) {
  prepare(text, question, caption);
  if (Prompts::messageWindow) {
    modalResult_ = Prompts::messageWindow(text, question, caption);
    return 0;
  }
  exec();
  return 0;
}

}  // namespace arm
