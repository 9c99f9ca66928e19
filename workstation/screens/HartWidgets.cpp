#include "HartWidgets.h"

#include <QLabel>
#include <cstring>
#include <string_view>

#include "LabelPanel.h"
#include "UiHelpers.h"
#include "quarn/cp1251.h"

namespace arm::hart {

QString libraryText(const char* text) {
  if (!text) return {};
  QString shown =
      QString::fromStdString(quarn::text::cp1251ToUtf8(std::string_view(text, std::strlen(text))));
  shown.replace(QLatin1Char('\t'), QLatin1Char(' '));
  return shown;
}

LabelPanel* makeButton(const QString& panelName, const QString& labelName, const QString& caption,
                       QWidget* parent) {
  auto* button = new LabelPanel(panelName, labelName, caption, parent);
  paintButton(button, darkPanel(), Qt::white);
  button->setMinimumHeight(34);
  QFont f = button->label()->font();
  f.setBold(true);
  button->label()->setFont(f);
  return button;
}

void paintButton(LabelPanel* button, const QColor& background, const QColor& text) {
  button->setColours(background, text);
  const QColor greyed = background.lightness() > 128 ? QColor(150, 150, 150) : QColor(150, 160, 185);
  for (QWidget* w : {static_cast<QWidget*>(button), static_cast<QWidget*>(button->label())}) {
    QPalette p = w->palette();
    p.setColor(QPalette::Disabled, QPalette::WindowText, greyed);
    w->setPalette(p);
  }
}

void enableJob(LabelPanel* button, bool usable, const QString& runReason) {
  enableTree(button, usable && runReason.isEmpty());
  if (button->toolTip() != runReason) button->setToolTip(runReason);
}

QLabel* makeCell(const QString& name, const QString& text, const QColor& background, QWidget* parent) {
  auto* cell = new QLabel(text, parent);
  cell->setObjectName(name);
  cell->setFrameShape(QFrame::Panel);
  cell->setFrameShadow(QFrame::Sunken);
  cell->setAlignment(Qt::AlignCenter);
  cell->setAutoFillBackground(true);
  cell->setMinimumSize(72, 28);
  setCellColour(cell, background);
  return cell;
}

void setCellColour(QLabel* cell, const QColor& background) {
  QPalette p = cell->palette();
  p.setColor(QPalette::Window, background);
  p.setColor(QPalette::WindowText, Qt::black);
  cell->setPalette(p);
}

QColor cellColour(const QLabel* cell) { return cell->palette().color(QPalette::Window); }

}  // namespace arm::hart
