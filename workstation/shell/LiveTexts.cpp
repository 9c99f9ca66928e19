#include "LiveTexts.h"

#include <cmath>
#include <cstring>

#include "RecordTexts.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"

namespace arm {

namespace {

// The accuracy of the external transducer in percent, by its class and whether the pressure is in
// the lower part of its range.
double dorvAccuracy(int accuracyClass, bool low) {
  switch (accuracyClass) {
    case 0:
      return low ? 0.01 : 0.02;
    case 1:
      return low ? 0.01 : 0.03;
    case 2:
      return low ? 0.015 : 0.05;
    case 3:
      return low ? 0.03 : 0.1;
    default:
      return 0;
  }
}

QString accuracyText(double accuracy, double lower, double upper, const TDev& dev) {
  const float factor = dev.settings.unitFactor;
  return QStringLiteral("±") + formatGeneral(accuracy) + QStringLiteral("% [") +
         formatGeneral(lower * factor) + QStringLiteral("...") + formatGeneral(upper * factor) +
         QStringLiteral(" ") + unitName(dev.settings.units) + QStringLiteral("]");
}

}  // namespace

QString baseCaption(bool brenk, const QString& version) {
  return (brenk ? QStringLiteral("АРМ Brenk") : QStringLiteral("АРМ Quarn")) + QStringLiteral(" v") + version;
}

QString buildCaption(const TDev& dev, const QString& base, bool uiQuarn, bool uiBrenk) {
  if (!uiQuarn && !uiBrenk) return {};
  if (dev.linked == 0) return base;
  const QString blanks = QStringLiteral("    ");
  QString c = base + blanks + QStringLiteral("Модель:  ");
  const int32_t refSource = dev.settings.refSource;
  if (uiQuarn && refSource == REF_SOURCE_EXTERNAL) {
    c += recordText(dev.calInfo.modelName) + blanks + formatPlain(dev.dorv.rangeLow) +
         QStringLiteral(" ... ") + formatPlain(dev.dorv.rangeHigh);
  } else if (uiQuarn) {
    c += recordText(dev.calInfo.modelName) + blanks + formatPlain(dev.calInfo.pLimitMin) +
         QStringLiteral(" ... ") + formatPlain(dev.calInfo.pLimitMax);
  } else {
    const int32_t modelNo = dev.calInfo.modelNo;
    c += QString::number(modelNo / 10) + blanks + formatPlain(dev.calInfo.pLimitMin) +
         QStringLiteral(" ... ") + formatPlain(dev.calInfo.pLimitMax);
  }
  const uint32_t portNo = dev.portNo;
  c += QStringLiteral(" кПа   сер.№ ") + recordText(dev.calInfo.serial) + QStringLiteral("   (COM") +
       QString::number(portNo) + QStringLiteral(")");
  return c;
}

QString statusAccuracyText(const TDev& dev, const ModelTables& tables) {
  const float pRef = dev.pRef;
  const double absRef = std::fabs(static_cast<double>(pRef));
  if (dev.settings.refSource == REF_SOURCE_EXTERNAL) {
    if (dev.dorv.present == 0) return {};
    const double high = dev.dorv.rangeHigh;
    const int32_t accuracyClass = dev.dorv.accuracyClass;
    const double threshold = accuracyClass == 0 ? high / 2 : high / 3;
    const double accuracy = dorvAccuracy(accuracyClass, absRef <= threshold);
    const double low = dev.dorv.pressType == 3 ? static_cast<double>(dev.dorv.rangeLow) : 0.0;
    return accuracyText(accuracy, low, high, dev);
  }

  if (!tables.model || !tables.errors) return {};
  const int module = dev.sensorState == 1 ? 1 : 0;
  const TSensorLimits& sensor = tables.model->sens[module];
  const int32_t pressType = dev.settings.pressType;
  const auto& limits = pressType == 0 ? sensor.A : sensor.G;

  const int32_t subRange = dev.settings.subRange;
  int index = 0;
  if (subRange != 0) {
    // A sub-range the table does not have shows nothing rather than reading past the table.
    if (subRange < 1 || subRange > kSubRanges) return {};
    index = subRange - 1;
  } else {
    for (int i = kSubRanges - 1; i >= 1; --i) {
      if (limits[i] != 0 && limits[i] > absRef) {
        index = i;
        break;
      }
    }
  }
  const double upper = limits[index];
  if (upper == 0) return {};
  const double lower = pressType > 1 ? std::max(-upper, -100.0) : 0.0;
  const int accuracyCode = module == 1 ? dev.calInfo.module2Class : dev.calInfo.module1Class;
  if (accuracyCode < 0 || accuracyCode > 3) return {};
  return accuracyText(tables.errors->rows[accuracyCode][index], lower, upper, dev);
}

QString statusPressureText(const TDev& dev, const ModelTables& tables) {
  if (dev.settings.refSource == REF_SOURCE_EXTERNAL && dev.dorv.present == 0) return {};
  const QString pressure = QStringLiteral("P= ") + formatValue(dev.pRefUnits, dev.settings.decimals) +
                           QStringLiteral(" ") + unitName(dev.settings.units);
  // During a run with hand input the reference is what the operator typed: no instrument's accuracy.
  if (dev.handInput) return pressure + QStringLiteral(",  ручной ввод");
  // Without an accuracy (no catalogue entry for the model) the line ends with the unit.
  const QString accuracy = statusAccuracyText(dev, tables);
  return accuracy.isEmpty() ? pressure : pressure + QStringLiteral(",  ") + accuracy;
}

}  // namespace arm
