// The verification parameters screen (mode "Параметры поверки"): the devices under test, the points, the
// protocol header; it shows and edits the project. Not built yet: a page with its title.
#pragma once

#include "Screen.h"

namespace arm {

class ParametersScreen : public Screen {
  Q_OBJECT
 public:
  explicit ParametersScreen(WorkstationContext& context, QWidget* parent = nullptr);
};

}  // namespace arm
