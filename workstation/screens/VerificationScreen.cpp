#include "VerificationScreen.h"

namespace arm {

VerificationScreen::VerificationScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_4_Pov1"), parent) {
  showPlaceholder(QStringLiteral("Измерения и поверка ДД"));
}

}  // namespace arm
