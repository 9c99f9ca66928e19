// The HART screen (mode "HART"): search, read, configure and trim the HART transmitters of the four channels.
// Not built yet: a page with its title.
#pragma once

#include "Screen.h"

namespace arm {

class HartScreen : public Screen {
  Q_OBJECT
 public:
  explicit HartScreen(WorkstationContext& context, QWidget* parent = nullptr);
};

}  // namespace arm
