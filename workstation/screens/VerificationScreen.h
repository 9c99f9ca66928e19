// The verification screen (mode "Измерения и поверка ДД"): runs a verification or a relay check and lists the
// results. Not built yet: a page with its title.
#pragma once

#include "Screen.h"

namespace arm {

class VerificationScreen : public Screen {
  Q_OBJECT
 public:
  explicit VerificationScreen(WorkstationContext& context, QWidget* parent = nullptr);
};

}  // namespace arm
