// A picture of a window as the documentation shows it: its content with the caption drawn above it
// (a bare X server has no window manager to draw the title bar). ARM_Quarn --screenshot and the
// tests that keep a picture of a screen both make it here, so every picture looks alike.
#pragma once

#include <QPixmap>

class QWidget;

namespace arm {

QPixmap windowPicture(QWidget& window);

}  // namespace arm
