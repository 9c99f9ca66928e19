#include "RegulationScreen.h"

namespace arm {

RegulationScreen::RegulationScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_1_Reg1"), parent) {
  showPlaceholder(QStringLiteral("Измерение давления"));
}

}  // namespace arm
