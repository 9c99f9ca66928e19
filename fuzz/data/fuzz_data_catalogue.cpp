// Any bytes as a calibrator catalogue: the input is "<model text>\n<document>". Both readers take the
// document; a model that is read has finite limits and one or two sensors, an accuracy table finite
// entries, and the reference's upper limit taken from the model is never 0 nor negative.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CalibratorCatalogue.h"
#include "ReferenceLimit.h"

using namespace quarn::data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string_view modelText =
      newline == std::string_view::npos ? std::string_view() : input.substr(0, newline);
  const std::string_view document = newline == std::string_view::npos ? input : input.substr(newline + 1);

  const Result<TModelRec> model = parseModelCatalogue(document, modelText, "fuzz.xml");
  if (model) {
    if (model->sensCount != 1 && model->sensCount != 2) std::abort();
    for (const TSensorLimits& s : model->sens)
      for (int i = 0; i < kSubRanges; ++i)
        if (!std::isfinite(s.G[static_cast<std::size_t>(i)]) ||
            !std::isfinite(s.A[static_cast<std::size_t>(i)]))
          std::abort();
    static TDev dev{};
    dev.calInfo.pLimitMax = 2500;
    for (uint32_t module = 0; module < 2; ++module)
      for (int32_t pressType = 0; pressType < 2; ++pressType) {
        dev.sensorState = module;
        dev.settings.pressType = pressType;
        const float limit = referenceUpperLimit(dev, &*model, "").kPa;
        if (!(limit > 0)) std::abort();
      }
  } else if (model.why().empty()) {
    std::abort();
  }
  const Result<TErrorRec> errors = parseErrorCatalogue(document, "fuzz.xml");
  if (errors) {
    for (const auto& row : errors->rows)
      for (float v : row)
        if (!std::isfinite(v)) std::abort();
  } else if (errors.why().empty()) {
    std::abort();
  }
  return 0;
}
