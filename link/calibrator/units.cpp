#include "calibrator/units.h"

#include "quarn/cp1251.h"

namespace quarn::cal {

namespace {
const DisplayUnit kUnits[kDisplayUnitCount] = {
    {CP1251("кПа"), 1.0f},           {CP1251("МПа"), 0.001f},
    {CP1251("бар"), 0.01f},          {CP1251("кгс/см2"), 0.01019716f},
    {CP1251("кгс/м2"), 101.9716f},   {CP1251("мм вод. ст."), 101.9716f},
    {CP1251("мм рт. ст."), 7.5006f}, {"psi", 0.145038f},
};
}  // namespace

const DisplayUnit* displayUnit(int32_t index) {
  return (index >= 0 && index < kDisplayUnitCount) ? &kUnits[index] : nullptr;
}

}  // namespace quarn::cal
