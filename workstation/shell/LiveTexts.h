// The texts the main window derives from the shared record at each notification: the caption with
// the calibrator's identity and the status line with the accuracy of the reference in use.
#pragma once

#include <QString>

#include "CalibratorCatalogue.h"
#include "RecordTexts.h"

struct TDev;

namespace arm {

using quarn::data::kSubRanges;
using quarn::data::TErrorRec;
using quarn::data::TModelRec;
using quarn::data::TSensorLimits;

// "АРМ Quarn v1.4" / "АРМ Brenk v1.4".
QString baseCaption(bool brenk, const QString& version);

// The window caption: the base caption alone while unlinked, else with the model, the pressure
// limits, the serial number and the port. Empty with neither model flag set.
QString buildCaption(const TDev& dev, const QString& base, bool uiQuarn, bool uiBrenk);

// The model tables the accuracy comes from (null pointers: not loaded).
struct ModelTables {
  const TModelRec* model = nullptr;
  const TErrorRec* errors = nullptr;
};

// "±0.02% [0...2500 кПа]" for the reference in use, or an empty text when it cannot be told. The
// reference's upper limit for the uncertainty (refUpper) is the data layer's rule
// (ReferenceLimit.h), which the main window applies on every measurement.
QString statusAccuracyText(const TDev& dev, const ModelTables& tables);

// The whole status line of a new measurement: "P= <value> <unit>,  <accuracy>"; empty while the
// external reference is selected but absent.
QString statusPressureText(const TDev& dev, const ModelTables& tables);

}  // namespace arm
