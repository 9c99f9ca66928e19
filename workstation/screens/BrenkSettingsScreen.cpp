#include "BrenkSettingsScreen.h"

namespace arm {

BrenkSettingsScreen::BrenkSettingsScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_7_Setings_Brenk1"), parent) {
  showPlaceholder(QStringLiteral("Настройки"));
}

}  // namespace arm
