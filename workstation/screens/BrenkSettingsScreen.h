// The Brenk calibrator's settings screen (mode "Настройки" of the Brenk workstation): identification, range
// and regulation settings, read, write, zero adjustment. Not built yet: a page with its title.
#pragma once

#include "Screen.h"

namespace arm {

class BrenkSettingsScreen : public Screen {
  Q_OBJECT
 public:
  explicit BrenkSettingsScreen(WorkstationContext& context, QWidget* parent = nullptr);
};

}  // namespace arm
