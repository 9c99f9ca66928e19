// Pieces the three HART panels share: library texts for display, the panels used as buttons, the
// cells of the deviation grids and the colours of the HART screens.
#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace arm {

class LabelPanel;

namespace hart {

// Dark panels (channel selectors, buttons) with white text; the selected channel white with black
// text; the header cell of the stage a procedure works on.
inline QColor darkPanel() { return QColor(73, 86, 119); }
inline QColor selectedPanel() { return QColor(255, 255, 255); }
inline QColor headerCell() { return QColor(189, 207, 233); }
inline QColor activeHeaderCell() { return QColor(192, 220, 192); }

// A text the library hands out (Windows-1251, may be null). The library separates some words with a
// TAB, which a label would draw as a wide gap: it is shown as a blank.
QString libraryText(const char* text);

// A panel used as a button, its caption in a label of its own; pressed look while the mouse is down.
LabelPanel* makeButton(const QString& panelName, const QString& labelName, const QString& caption,
                       QWidget* parent);
// Background and caption colour of such a button; disabled it shows a greyed caption.
void paintButton(LabelPanel* button, const QColor& background, const QColor& text);
// A button that starts a HART job: enabled when `usable`, but never while a verification runs (a
// job would abandon it); then `runReason` (empty when no run is active) is its tool tip.
void enableJob(LabelPanel* button, bool usable, const QString& runReason);

// A sunken cell of a deviation grid (value cells are white, header cells light blue).
QLabel* makeCell(const QString& name, const QString& text, const QColor& background, QWidget* parent);
void setCellColour(QLabel* cell, const QColor& background);
QColor cellColour(const QLabel* cell);

}  // namespace hart
}  // namespace arm
