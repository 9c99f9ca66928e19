// The upper limit of the reference in use (refUpper of the shared record), which the library's
// uncertainty takes as the reference's full scale. Both hosts write it with this rule, so a run gives
// the same uncertainty whichever program drove it.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "CalibratorCatalogue.h"
#include "TDev.h"

namespace quarn::data {

enum class ReferenceLimitSource {
  ExternalTransducer,  // the external reference transducer's range
  Catalogue,           // the calibrator's module in use, from its catalogue entry
  ReportedLimit,       // the calibrator's own working limits: the catalogue lacks the model or module
  Unknown,             // nothing known: no uncertainty rather than one without the reference's share
};

struct ReferenceLimit {
  float kPa = 0;
  ReferenceLimitSource source = ReferenceLimitSource::Unknown;
  // Why the catalogue's limit was not taken, for the operator (UTF-8); empty when it was, or when
  // there is nothing to tell.
  std::string note;
};

// The limit for the reference in use:
// - the external transducer, while it is the reference (settings.refSource 3) and present: its
//   range, rangeHigh less rangeLow when it measures from its lower limit (dorv.pressType 3);
// - otherwise the calibrator's module in use (module 2 while sensorState is 1, else module 1): the
//   first sub-range of the model's catalogue entry, absolute limits for absolute pressure
//   (settings.pressType 0), gauge limits otherwise;
// - when the catalogue has no such module (no entry for the model, `model` null, `whyNoModel` says
//   why; or the module's first limit is not a positive number): the calibrator's reported working
//   range, the larger of |pLimitMax| and |pLimitMin|, with a note;
// - never 0: NaN when none of these is known (the external transducer selected but absent, or no
//   working range reported), so the uncertainty is missing instead of understated.
ReferenceLimit referenceUpperLimit(const TDev& dev, const TModelRec* model, std::string_view whyNoModel);

// referenceUpperLimit into dev.refUpper. Returns its note when `told` does not hold it yet (and adds
// it), else an empty text: a host tells the operator each particular reason once.
std::string applyReferenceLimit(TDev& dev, const TModelRec* model, std::string_view whyNoModel,
                                std::set<std::string>& told);

}  // namespace quarn::data
