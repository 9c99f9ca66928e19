// Device-type catalogue: expanded device type → model and manufacturer.
#include <algorithm>
#include <array>

#include "hart/hart_internal.h"
#include "hart/hart_master.h"

namespace {

struct DeviceTypeRow {
  uint16_t type;
  const char* model;
  const char* manufacturer;
};

constexpr DeviceTypeRow kDeviceTypes[] = {
#define HART_DEVICE_TYPE(type, model, manufacturer) {type, model, manufacturer},
#include "hart/hart_catalog.inc"
#undef HART_DEVICE_TYPE
};

constexpr bool strictlySorted() {
  for (size_t i = 1; i < std::size(kDeviceTypes); ++i)
    if (kDeviceTypes[i - 1].type >= kDeviceTypes[i].type) return false;
  return true;
}
static_assert(strictlySorted(), "device-type rows must be sorted by type, each type once");

constexpr char kNotAvailable[] = "n/a";

}  // namespace

extern "C" {

QUARN_API const char* man = "";
QUARN_API const char* desc = "";

QUARN_API void t01_ExpandedDeviceTypeCodes(uint16_t type) {
  const auto* end = std::end(kDeviceTypes);
  const auto* row = std::lower_bound(std::begin(kDeviceTypes), end, type,
                                     [](const DeviceTypeRow& r, uint16_t t) { return r.type < t; });
  if (row != end && row->type == type) {
    desc = row->model;
    man = row->manufacturer;
  } else {
    desc = kNotAvailable;
    man = kNotAvailable;
  }
}

QUARN_API const char* GetDescription(uint16_t type) {
  t01_ExpandedDeviceTypeCodes(type);
  return desc;
}

QUARN_API const char* GetCompanyName(uint16_t type) {
  t01_ExpandedDeviceTypeCodes(type);
  return man;
}

}  // extern "C"

namespace quarn::hart {

// Number of catalogue rows (tests and the benchmark walk them).
size_t deviceTypeCount() { return std::size(kDeviceTypes); }
uint16_t deviceTypeAt(size_t i) { return i < std::size(kDeviceTypes) ? kDeviceTypes[i].type : 0; }

}  // namespace quarn::hart
