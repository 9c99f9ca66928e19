#include "GraphScreen.h"

namespace arm {

GraphScreen::GraphScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_6_Graph1"), parent) {
  showPlaceholder(QStringLiteral("График"));
}

}  // namespace arm
