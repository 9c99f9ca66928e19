// Compiled with -m32 only: the record as a 32-bit host lays it out.
#include <stddef.h>

#include "TDev.h"

static_assert(sizeof(void*) == 4, "compile with -m32");
static_assert(sizeof(TDev) == 48428, "TDev");
static_assert(sizeof(THartDev) == 711, "THartDev");
static_assert(sizeof(TStatValue) == 1873, "TStatValue");
static_assert(offsetof(TDev, dsc) == 56, "dsc");
static_assert(offsetof(TDev, errCode) == 68, "errCode");
static_assert(offsetof(TDev, baroText) == 92, "baroText");
static_assert(offsetof(TDev, refStat) == 168, "refStat");
static_assert(offsetof(TDev, ch) == 2044, "ch");
static_assert(offsetof(TDev, inputOn) == 17100, "inputOn");
static_assert(offsetof(TDev, settings) == 17188, "settings");
static_assert(offsetof(TDev, hart) == 17436, "hart");
static_assert(offsetof(TDev, povHeader) == 20444, "povHeader");
static_assert(offsetof(TDev, results) == 24796, "results");
static_assert(offsetof(TDev, onUpdate) == 45724, "onUpdate");
static_assert(offsetof(TDev, stepHist) == 47620, "stepHist");
static_assert(offsetof(TDev, kestoRepeats) == 48424, "kestoRepeats");
