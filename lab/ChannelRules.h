// Rules that tie a device channel's fields together: the pressure units of the device grid with their
// factors to kPa, the output-signal types with their limits, the derived kPa range and the
// calibrator's current-input sensor type for a signal type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TDev.h"

namespace quarn::data {

struct PressureUnit {
  const char* text;  // UTF-8, as the device grid lists it
  float toKpa;       // kPa = value x toKpa
};
inline constexpr int kUnitCount = 8;
// Index = the grid's stored selection.
extern const PressureUnit kPressureUnits[kUnitCount];

// Index of a unit text in the list, or nothing. Blanks are ignored in the comparison, so the forms
// "мм вод. ст." / "мм рт. ст." that HART devices report find "мм вод.ст." / "мм рт.ст.".
std::optional<int> unitIndex(std::string_view unitUtf8);

// Asked before a range whose lower limit lies above its upper one is taken (the device grid, the HART
// write): a downward range is verified as such, but is more often a slip.
inline constexpr const char* kDescendingRangeQuestion = "Диапазон убывающий: продолжить?";

enum SignalType { kSignal4to20 = 0, kSignal20to4 = 1, kSignal0to5 = 2, kSignal5to0 = 3, kSignalVoltage = 4 };
inline constexpr int kSignalTypeCount = 5;
extern const char* const kSignalTypeNames[kSignalTypeCount];  // UTF-8: "4..20 мА", ..., "напряжение"
inline constexpr const char* kCurrentUnit = "мА";
inline constexpr const char* kVoltageUnit = "В";

struct SignalLimits {
  float elMin;       // signal at the lower range limit
  float elMax;       // signal at the upper range limit
  const char* unit;  // UTF-8
  bool fixed;        // false for the voltage type: its limits come from the operator
};
// Limits of a signal type; an unknown type is treated as 4..20 mA.
SignalLimits signalLimits(int type);

// The calibrator's current-input sensor type for a channel signal type: 8 for the milliampere
// 4..20 / 20..4 types, 6 for 0..5 / 5..0 mA and voltage.
uint32_t sensorTypeForSignal(int type);
// The sensor type that must be set (task 9) when the channels change to `type`: only while the
// calibrator is linked, its Kesto module works and has valid data, and the code differs from the
// current one.
std::optional<uint32_t> sensorTypeChange(const TDev& dev, int type);

// Unit text (UTF-8) of a HART range-units code as the workstation takes it over after a search;
// nothing for codes it does not know (the unit then stays as it was).
std::optional<std::string> unitOfHartCode(unsigned code);

// MinKpa and MaxKpa from Min, Max and toKpaMul (single precision).
void updateKpaRange(TDevChannel& ch);

// After a HART search: a found transmitter's type name, range and range unit (when its code is known)
// go into its channel, which is switched on; the factor to kPa and the kPa range follow the unit.
// The serial number is the one the operator entered (`enteredSerial`, UTF-8, the grid's before the
// search); only an empty one is filled with the device id.
void takeOverHartDevice(TDevChannel& ch, const THartDev& hart, std::string_view enteredSerial = {});

// The library writes a found device's id into its channel's serial number (after a search, a write
// or an information read). The serial the operator entered (UTF-8) is put back unless it is empty:
// the device id is not the factory serial a protocol and the run history name the device by.
// True when the entered serial was put back over a different one.
bool keepEnteredSerial(TDevChannel& ch, std::string_view enteredSerial);

// The channels share one output signal: the type chosen for one goes to all four, with the type's
// limits and unit, or for the voltage type the limits confirmed by the operator and "В".
void setSignalTypeForAll(TDev& dev, int type, float voltMin, float voltMax);

}  // namespace quarn::data
