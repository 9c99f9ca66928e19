// The areas the library is made of, as link/library.cpp registers them with the core. Each area
// defines its own (in its *_area.cpp or lifecycle file): its procedures, one row each, and its hooks.
#pragma once

#include "core/registry.h"

namespace quarn::link {

// The UAIL link: receiver reset at start-up, remote operation off and ports closed at shut-down, the
// calibrator port purged at every task start.
extern const core::Area kUailArea;
// The calibrator procedures: connection, measuring cycle, control, settings, zero, Dorv, Kesto,
// verification run and relay check.
extern const core::Area kCalibratorArea;
// The HART procedures.
extern const core::Area kHartArea;

}  // namespace quarn::link
