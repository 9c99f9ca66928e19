#include "ReferenceLimit.h"

#include <cmath>
#include <cstdio>

#include "TDevValues.h"

namespace quarn::data {

namespace {

constexpr int32_t kDorvFromLowerLimit = 3;
constexpr int32_t kAbsolutePressure = 0;

bool positive(float v) { return std::isfinite(v) && v > 0; }

std::string kpaText(float v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", static_cast<double>(v));
  return b;
}

}  // namespace

ReferenceLimit referenceUpperLimit(const TDev& dev, const TModelRec* model, std::string_view whyNoModel) {
  ReferenceLimit r;
  r.kPa = NAN;
  if (dev.settings.refSource == REF_SOURCE_EXTERNAL) {
    // Until the transducer has answered nothing is measured against it: there is nothing to tell.
    if (!dev.dorv.present) return r;
    const float low = dev.dorv.pressType == kDorvFromLowerLimit ? dev.dorv.rangeLow : 0.0f;
    const float range = dev.dorv.rangeHigh - low;
    if (positive(range)) {
      r.kPa = range;
      r.source = ReferenceLimitSource::ExternalTransducer;
    } else {
      r.note = "Диапазон внешнего эталона не определён: неопределённость не рассчитывается.";
    }
    return r;
  }

  const int module = dev.sensorState == 1 ? 1 : 0;
  if (model) {
    const TSensorLimits& sensor = model->sens[static_cast<std::size_t>(module)];
    const float first = dev.settings.pressType == kAbsolutePressure ? sensor.A[0] : sensor.G[0];
    if (positive(first)) {
      r.kPa = first;
      r.source = ReferenceLimitSource::Catalogue;
      return r;
    }
  }

  // The catalogue cannot say: the calibrator's own working range stands in for the module's.
  std::string why;
  if (model) {
    why = "В каталоге калибраторов нет " +
          std::string(dev.settings.pressType == kAbsolutePressure ? "абсолютного" : "избыточного") +
          " диапазона модуля " + std::to_string(module + 1) + " этого калибратора";
  } else if (!whyNoModel.empty()) {
    why = "Каталог калибраторов: " + std::string(whyNoModel);
  }
  const float reported = std::fmax(std::fabs(dev.calInfo.pLimitMax), std::fabs(dev.calInfo.pLimitMin));
  if (positive(reported)) {
    r.kPa = reported;
    r.source = ReferenceLimitSource::ReportedLimit;
    if (!why.empty())
      r.note = why + ". Для неопределённости взят верхний предел калибратора " + kpaText(reported) + " кПа.";
    return r;
  }
  r.note = (why.empty() ? std::string("Верхний предел калибратора неизвестен")
                        : why + "; верхний предел калибратора неизвестен") +
           ": неопределённость не рассчитывается.";
  return r;
}

std::string applyReferenceLimit(TDev& dev, const TModelRec* model, std::string_view whyNoModel,
                                std::set<std::string>& told) {
  const ReferenceLimit limit = referenceUpperLimit(dev, model, whyNoModel);
  dev.refUpper = limit.kPa;
  if (limit.note.empty() || !told.insert(limit.note).second) return {};
  return limit.note;
}

}  // namespace quarn::data
