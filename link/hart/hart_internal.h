// Internals of the HART master shared between its files and visible to its tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../core/TDev.h"

namespace quarn::hart {

// Zeroes the receive fields of a record, rxDelimiter through responseText.
void clearReceiveFields(THartDev* dev);

// Rows of the device-type catalogue, in ascending type order.
size_t deviceTypeCount();
uint16_t deviceTypeAt(size_t i);

}  // namespace quarn::hart
