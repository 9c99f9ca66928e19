#include "QuarnSettingsScreen.h"

namespace arm {

QuarnSettingsScreen::QuarnSettingsScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_7_Setings_Quarn1"), parent) {
  showPlaceholder(QStringLiteral("Настройки"));
}

}  // namespace arm
