// What a calibration leaves for its protocol: the as-found run, the trims made between the runs, the
// as-left run and the reason the sequence gave for each channel. Both hosts make it from the sequence
// they ran (calibrationRunsOf); the run history makes it again from what it stored, so a protocol made
// later holds the same.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "RunSnapshot.h"

namespace quarn::data {

class CalibrationSequence;

enum class TrimKind { Sensor, Current };

// "подстройка сенсора", "подстройка тока".
const char* trimKindText(TrimKind kind);

// One trim the sequence made to a device.
struct CalibrationAdjustment {
  int channel = 0;  // 1..4
  std::string serial;
  std::string deviceName;
  TrimKind kind = TrimKind::Sensor;
  // The points and the values before and after ("Pmin 0.000 кПа (эталон 0.012 кПа), Pmax ..."); the
  // run history keeps it as the adjustment's note. UTF-8.
  std::string note;
};

// The trims of a sequence that has an as-found run, channel by channel, each device's sensor trim
// before its current trim. A device without a serial number is left out: the history could not pair it.
std::vector<CalibrationAdjustment> calibrationAdjustments(const CalibrationSequence& sequence);

struct CalibrationRuns {
  std::optional<RunSnapshot> asFound;
  std::vector<CalibrationAdjustment> adjustments;
  // None when nothing was adjusted: the as-found run is then the protocol's run.
  std::optional<RunSnapshot> asLeft;
  // The sequence's reason of each channel (index 0 = channel 1): why it was not adjusted or why it
  // still fails; empty when all is well. UTF-8.
  std::array<std::string, kChannelCount> reasons;
};

// The runs of a sequence that ran to its end; nullopt while it runs, after a stop or without an
// as-found run.
std::optional<CalibrationRuns> calibrationRunsOf(const CalibrationSequence& sequence);

// The run that ends a calibration (the as-left run, or the as-found run when nothing was adjusted) is
// stored with the channels' reasons among its protocol fields, "cal_D<n>_REASON" for every enabled
// channel (empty text when all is well), so the protocol made again from the history states them.
// Fields whose control name begins with the prefix are no placeholder controls of the protocol page.
inline constexpr const char* kCalibrationFieldPrefix = "cal_";
ProtocolFields calibrationReasonFields(const CalibrationRuns& runs);
// The reasons stored so; nullopt when the fields hold none (a run that did not end a calibration).
std::optional<std::array<std::string, kChannelCount>> calibrationReasonsOf(const ProtocolFields& fields);

}  // namespace quarn::data
