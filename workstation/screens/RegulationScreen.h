// The regulation screen (mode "Измерение давления"): the reference pressure, its type, unit and speed, the
// barometer, the gauges of the pressure modules and, for the Brenk, the regulation panel.
#pragma once

#include "Screen.h"

namespace arm {

class RegulationScreen : public Screen {
  Q_OBJECT
 public:
  explicit RegulationScreen(WorkstationContext& context, QWidget* parent = nullptr);
};

}  // namespace arm
