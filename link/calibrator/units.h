// The calibrator's display units: index of the settings, the unit's name and its factor from kPa.
#pragma once

#include <cstdint>

namespace quarn::cal {

struct DisplayUnit {
  const char* name;  // Windows-1251
  float factor;      // kPa -> unit
};

inline constexpr int32_t kDisplayUnitCount = 8;

// The unit of a settings index, null outside 0..7.
const DisplayUnit* displayUnit(int32_t index);

}  // namespace quarn::cal
