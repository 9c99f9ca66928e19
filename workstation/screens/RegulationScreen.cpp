#include "RegulationScreen.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

#include "BarGauge.h"
#include "BrenkRegulationPanel.h"
#include "RecordTexts.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"

namespace arm {

namespace {

constexpr int kExternalReference = REF_SOURCE_EXTERNAL;
constexpr int kSecondModuleOnly = REF_SOURCE_MODULE_2;
const QString kNoValue = QStringLiteral(" - - - - - - ");

// Gauge geometry inside the gauge panel.
constexpr int kGaugeMargin = 28;
constexpr int kHighTop = 14;
constexpr int kHighHeight = 34;
constexpr int kLowTop = 88;
constexpr int kLowHeight = 24;
// lab_gMinLow needs this much room right of gHi's left end, or it would cover lab_gMin.
constexpr int kMinLowLabelRoom = 20;

// The upper limits of a module for the pressure type: absolute limits for absolute pressure, gauge
// limits otherwise.
const std::array<float, kSubRanges>& moduleLimits(const TModelRec& model, int module, int32_t pressType) {
  return pressType == 0 ? model.sens[module].A : model.sens[module].G;
}

// The lower end of a module's range: gauge-vacuum pressure reaches down to -up, but not below -100 kPa.
double lowerEnd(double up, int32_t pressType) {
  if (pressType < 2) return 0;
  return up > 100 ? -100.0 : -up;
}

int gaugeScale(double lo, double up) { return std::fabs(up - lo) > 10 ? 1 : 100; }

void setShown(std::initializer_list<QWidget*> widgets, bool shown) {
  for (QWidget* w : widgets) w->setVisible(shown);
}

}  // namespace

RegulationScreen::RegulationScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_1_Reg1"), parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 10, 12, 10);
  layout->setSpacing(10);

  // Pressure type on the left, unit on the right, above the large display.
  pressMode_ = makeLabel(QStringLiteral("Label_PressMode"), QString(), this, 8, true);
  pressUnit_ = makeLabel(QStringLiteral("Label_Press_Unit"), QString(), this, 12, true);
  pressUnit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* heading = new QHBoxLayout;
  heading->addWidget(pressMode_, 1);
  heading->addWidget(pressUnit_);
  layout->addLayout(heading);

  pEtl_ = makeLabel(QStringLiteral("Label_P_etl"), kNoValue, this, 0, true);
  QFont digits = pEtl_->font();
  digits.setPointSize(84);
  digits.setFamily(QStringLiteral("DejaVu Sans Mono"));
  pEtl_->setFont(digits);
  pEtl_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  pEtl_->setAutoFillBackground(true);
  pEtl_->setMinimumHeight(150);
  pEtl_->setContentsMargins(12, 0, 24, 0);
  setDisplayColour(inCorridorColour());
  layout->addWidget(pEtl_);

  speedBox_ = new QGroupBox(QStringLiteral(" Скорость, кПа/сек "), this);
  speedBox_->setObjectName(QStringLiteral("GroupBox_Speed"));
  speed_ = makeLabel(QStringLiteral("lab_SpeedEtl"), QStringLiteral("0"), speedBox_, 12, true);
  speed_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  (new QVBoxLayout(speedBox_))->addWidget(speed_);
  baroBox_ = new QGroupBox(QStringLiteral(" Барометр, кПа"), this);
  baroBox_->setObjectName(QStringLiteral("gbBarom"));
  baro_ = makeLabel(QStringLiteral("Label_P_atm"), QStringLiteral("0"), baroBox_, 12, true);
  baro_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  (new QVBoxLayout(baroBox_))->addWidget(baro_);
  baroBox_->hide();
  auto* values = new QHBoxLayout;
  values->addWidget(speedBox_, 1);
  values->addWidget(baroBox_, 1);
  layout->addLayout(values);

  // The gauges are placed by hand: gLow sits under the part of gHi that module 2 covers.
  gaugePanel_ = new QWidget(this);
  gaugePanel_->setObjectName(QStringLiteral("Panel_Gauge"));
  gaugePanel_->setMinimumHeight(kLowTop + kLowHeight + 30);
  gaugePanel_->installEventFilter(this);
  gHi_ = new BarGauge(QStringLiteral("gHi"), gaugePanel_);
  gLow_ = new BarGauge(QStringLiteral("gLow"), gaugePanel_);
  // The module numbers at the left of the gauges.
  markHi_ = makeLabel(QStringLiteral("lab_gMark1"), QStringLiteral("1"), gaugePanel_, 3, true);
  markLow_ = makeLabel(QStringLiteral("lab_gMark2"), QStringLiteral("2"), gaugePanel_, 3, true);
  markLow_->hide();
  gLow_->hide();
  gHi_->setRange(0, 600);
  gLow_->setRange(0, 20);
  labMin_ = makeLabel(QStringLiteral("lab_gMin"), QStringLiteral("0"), gaugePanel_, 1);
  labHi_ = makeLabel(QStringLiteral("lab_gHi"), QStringLiteral("600"), gaugePanel_, 1);
  labMinLow_ = makeLabel(QStringLiteral("lab_gMinLow"), QStringLiteral("0"), gaugePanel_, 1);
  labLow_ = makeLabel(QStringLiteral("lab_gLow"), QStringLiteral("20"), gaugePanel_, 1);
  labMinLow_->hide();
  labLow_->hide();
  arrLow_ = makeLabel(QStringLiteral("arrLow"), QStringLiteral("|"), gaugePanel_, 2, true);
  arrHi_ = makeLabel(QStringLiteral("arrHi"), QStringLiteral("|"), gaugePanel_, 2, true);
  layout->addWidget(gaugePanel_);

  brenk_ = new BrenkRegulationPanel(context, this);
  brenk_->hide();
  layout->addWidget(brenk_);
  layout->addStretch(1);
  layoutGauges();
  // Back to the calibrator's own modules: the display and the gauges show them again.
  connect(&context, &WorkstationContext::externalReferenceSwitchedOff, this, [this] {
    if (TDev* dev = this->context().dev()) {
      refresh(*dev);
      setupGauges(*dev);
    }
  });
}

namespace {
// The pressure-type line while there is no link.
QString noLinkText() { return QStringLiteral("- нет связи -"); }
}  // namespace

void RegulationScreen::setDisplayColour(const QColor& colour) {
  QPalette p = pEtl_->palette();
  p.setColor(QPalette::Window, Qt::black);
  p.setColor(QPalette::WindowText, colour);
  pEtl_->setPalette(p);
}

void RegulationScreen::afterBinding(TDev&) {
  // The regulation panel belongs to the Brenk workstation only.
  brenk_->setVisible(context().uiBrenk());
}

void RegulationScreen::refresh(TDev& dev) {
  gaugePanel_->setVisible(dev.linked != 0);
  if (!brenk_->isHidden()) brenk_->refresh(dev);
  const uint32_t event = dev.event;
  if (event == EVENT_SETTINGS_READ || event == EVENT_TRANSDUCER_IDENTIFIED) setupGauges(dev);
  const QString unit = unitName(dev.settings.units);
  if (event == EVENT_MEASUREMENT) {
    updateGauges(dev);
    const float pRefUnits = dev.pRefUnits;
    const bool absent =
        std::isnan(pRefUnits) || (dev.settings.refSource == kExternalReference && dev.dorv.present == 0);
    pEtl_->setText(absent ? kNoValue : formatValue(pRefUnits, dev.settings.decimals));
    if (context().uiBrenk()) {
      const float speed = dev.refStat.speed;
      const float factor = dev.settings.unitFactor;
      speed_->setText(formatValue(static_cast<double>(speed) * factor, dev.settings.decimals));
    } else {
      speed_->setText(recordText(dev.speedText));
    }
    const QString baro = recordText(dev.baroText);
    baroBox_->setVisible(!baro.contains(QStringLiteral("-1")));
    baro_->setText(baro);
    pressMode_->setText(pressureTypeName(dev.settings.pressType));
    pressUnit_->setText(unit);
    const float span = dev.calInfo.span;
    const float spanUnits = dev.calInfo.spanUnits;
    if (context().uiBrenk() && spanUnits > 0) {
      // Distance from the setpoint in percent of the working range, against the two ready bands.
      const float pRef = dev.pRef;
      const float pTarget = dev.pTarget;
      const double h = std::fabs(static_cast<double>(pRef) - pTarget) * 100.0 / span;
      const float band2 = dev.settings.readyBand2;
      const float band1 = dev.settings.readyBand1;
      if (h < band2)
        setDisplayColour(inCorridorColour());
      else if (h < band1)
        setDisplayColour(nearColour());
      else
        setDisplayColour(outsideColour());
    }
  }
  if (event == EVENT_SETTINGS_READ) {
    speedBox_->setTitle(QStringLiteral("Скорость, ") + unit + QStringLiteral("/сек"));
    baroBox_->setTitle(QStringLiteral("Барометр, ") + unit);
  }
  if (dev.linkState == 0) {
    pressMode_->setText(noLinkText());
    for (QLabel* l : {pressUnit_, pEtl_, speed_, baro_}) l->clear();
  } else if (pressMode_->text() == noLinkText()) {
    // Linked, as the status line says from now on, but nothing measured yet (the connection still
    // reads the settings): the first measurement names the pressure type.
    pressMode_->clear();
  }
}

void RegulationScreen::setupGauges(const TDev& dev) {
  const TModelRec* model = context().modelRecord();
  const double unitFactor = dev.settings.unitFactor;
  const int32_t refSource = dev.settings.refSource;
  // Without the calibrator's model in the catalogue (no record, or one without modules) the gauge
  // spans the working range the calibrator reports, rather than 0...0.
  const bool catalogued = model && model->sensCount > 0 && model->sens[0].G[0] > 0;
  const bool reported = !catalogued && dev.calInfo.pLimitMax > dev.calInfo.pLimitMin;
  if (!model && !reported) return;

  if (refSource == kExternalReference || reported) {
    // One gauge over the external transducer's range, or over the reported range.
    setShown({gLow_, labMinLow_, labLow_, markLow_}, false);
    setShown({gHi_, labMin_, labHi_, arrLow_, arrHi_, markHi_}, true);
    const bool dorv = refSource == kExternalReference;
    const double lo = dorv ? dev.dorv.rangeLow : dev.calInfo.pLimitMin;
    const double hi = dorv ? dev.dorv.rangeHigh : dev.calInfo.pLimitMax;
    const int scale = gaugeScale(lo, hi);
    gHi_->setScale(scale);
    gHi_->setRange(gaugeLimit(lo, scale), gaugeLimit(hi, scale));
    labMin_->setText(formatGeneral(lo * unitFactor));
    labHi_->setText(formatGeneral(hi * unitFactor));
    layoutGauges();
    return;
  }
  if (!catalogued) return;  // nothing to draw the modules from: the gauges stay as they were

  // A sub-range the catalogue does not have counts as the whole range (sub-range 1).
  const int32_t subRange = dev.settings.subRange;
  const int i = subRange > 0 && subRange <= kSubRanges ? subRange - 1 : 0;
  const int32_t pressType = dev.settings.pressType;
  const double up1 = moduleLimits(*model, 0, pressType)[i];
  const double up2 = moduleLimits(*model, 1, pressType)[i];
  const double lo1 = lowerEnd(up1, pressType);
  const double lo2 = lowerEnd(up2, pressType);

  const bool highShown = refSource != kSecondModuleOnly;
  const bool lowShown = model->sensCount == 2 && (refSource == 0 || refSource == kSecondModuleOnly);
  setShown({gHi_, labMin_, labHi_, arrLow_, arrHi_, markHi_}, highShown);
  setShown({gLow_, labLow_, markLow_}, lowShown);

  const bool secondInUse = dev.sensorState == 1;
  gLow_->setBackground(secondInUse ? activeGauge() : idleGauge());
  gHi_->setBackground(secondInUse ? idleGauge() : activeGauge());

  lowOnly_ = refSource == kSecondModuleOnly;
  lowUnderHigh_ = highShown && up1 - lo1 > 0;
  if (lowUnderHigh_) {
    lowLeft_ = (lo2 - lo1) / (up1 - lo1);
    lowWidth_ = (up2 - lo2) / (up1 - lo1);
  }
  labMinLow_->setText(formatGeneral(lo2 * unitFactor));
  labLow_->setText(formatGeneral(up2 * unitFactor));
  labMin_->setText(formatGeneral(lo1 * unitFactor));
  labHi_->setText(formatGeneral(up1 * unitFactor));

  const int scaleHi = gaugeScale(lo1, up1);
  const int scaleLow = gaugeScale(lo2, up2);
  gHi_->setScale(scaleHi);
  gHi_->setRange(gaugeLimit(lo1, scaleHi), gaugeLimit(up1, scaleHi));
  gLow_->setScale(scaleLow);
  gLow_->setRange(gaugeLimit(lo2, scaleLow), gaugeLimit(up2, scaleLow));
  layoutGauges();
}

void RegulationScreen::updateGauges(const TDev& dev) {
  const float pRef = dev.pRef;
  if (std::isnan(pRef)) {
    for (BarGauge* g : {gHi_, gLow_}) {
      g->setValue(g->minimum());
      g->setBackground(idleGauge());
    }
    return;
  }
  BarGauge* active = gHi_;
  if (context().uiBrenk()) {
    // Automatic range choice: module 2 while the pressure lies within its first range. A model
    // without module 2 always measures with module 1.
    const TModelRec* model = context().modelRecord();
    if (dev.settings.autoRange != 1 && model && model->sensCount == 2) {
      const double limit2 = moduleLimits(*model, 1, dev.settings.pressType)[0];
      if (std::fabs(pRef) <= limit2) active = gLow_;
    }
  } else if (dev.sensorState == 1) {
    active = gLow_;
  }
  BarGauge* other = active == gHi_ ? gLow_ : gHi_;
  active->setBackground(activeGauge());
  other->setBackground(idleGauge());
  other->setValue(other->minimum());
  active->setValue(active->gaugeValue(pRef));
}

void RegulationScreen::layoutGauges() {
  const int width = std::max(gaugePanel_->width() - 2 * kGaugeMargin, 40);
  const QRect high(kGaugeMargin, kHighTop, width, kHighHeight);
  gHi_->setGeometry(high);
  const int labelTop = high.bottom() + 14;
  arrLow_->adjustSize();
  arrHi_->adjustSize();
  arrLow_->move(high.left() - arrLow_->width() / 2, high.bottom() - 2);
  arrHi_->move(high.right() - arrHi_->width() / 2, high.bottom() - 2);
  labMin_->adjustSize();
  labMin_->move(high.left(), labelTop);
  labHi_->adjustSize();
  labHi_->move(high.right() - labHi_->width(), labelTop);

  QRect low(high.left(), kLowTop, high.width(), kLowHeight);
  if (lowUnderHigh_) {
    low.setLeft(high.left() + static_cast<int>(std::lround(high.width() * lowLeft_)));
    low.setWidth(std::max(2, static_cast<int>(std::lround(high.width() * lowWidth_))));
  } else {
    low.moveTop(high.top());  // module 2 alone takes module 1's place
  }
  gLow_->setGeometry(low);
  for (auto [mark, gauge] : {std::pair{markHi_, high}, std::pair{markLow_, low}}) {
    mark->adjustSize();
    mark->move(gauge.left() - mark->width() - 6, gauge.center().y() - mark->height() / 2);
  }
  labMinLow_->adjustSize();
  labMinLow_->move(low.left(), low.bottom() + 2);
  labLow_->adjustSize();
  labLow_->move(low.right() - labLow_->width(), low.bottom() + 2);
  const bool roomLeft = low.left() - high.left() > kMinLowLabelRoom;
  labMinLow_->setVisible(!gLow_->isHidden() && (roomLeft || lowOnly_));
}

void RegulationScreen::resizeEvent(QResizeEvent* event) {
  Screen::resizeEvent(event);
  layoutGauges();
}

bool RegulationScreen::eventFilter(QObject* watched, QEvent* event) {
  if (watched == gaugePanel_ && event->type() == QEvent::Resize) layoutGauges();
  return Screen::eventFilter(watched, event);
}

}  // namespace arm
