#include "HartScreen.h"

namespace arm {

HartScreen::HartScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_2_HART1"), parent) {
  showPlaceholder(QStringLiteral("HART"));
}

}  // namespace arm
