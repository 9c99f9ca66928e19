// The Quarn calibrator's settings screen (mode "Настройки" of the Quarn workstation): identification,
// reference and range choices, read, write, zero adjustment. Not built yet: a page with its title.
#pragma once

#include "Screen.h"

namespace arm {

class QuarnSettingsScreen : public Screen {
  Q_OBJECT
 public:
  explicit QuarnSettingsScreen(WorkstationContext& context, QWidget* parent = nullptr);
};

}  // namespace arm
