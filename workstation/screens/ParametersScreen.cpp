#include "ParametersScreen.h"

namespace arm {

ParametersScreen::ParametersScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_3_Param1"), parent) {
  showPlaceholder(QStringLiteral("Параметры поверки"));
}

}  // namespace arm
