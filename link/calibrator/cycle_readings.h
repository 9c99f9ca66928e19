// What the measuring cycle under way has read. The record keeps the last reference pressure and the
// last channel values when a cycle brings none (an error answer, a failed Kesto reading), so the
// record alone cannot tell a value of this cycle from an older one; a result taken from the record
// must come from a cycle that read all of them.
#pragma once

namespace quarn::cal {

struct CycleReadings {
  bool reference = false;  // a reference pressure sample was taken in this cycle
  bool kesto = false;      // the Kesto module's currents were read in this cycle
  bool currents = false;   // and converted into the channels' values against this cycle's record
};

inline CycleReadings cycleReadings;

}  // namespace quarn::cal
