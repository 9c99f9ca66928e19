#include "GraphScreen.h"

#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "PanelButton.h"
#include "Prompts.h"
#include "RecordTexts.h"
#include "TDev.h"
#include "UiHelpers.h"

namespace arm {

namespace {

constexpr int kVoltageSignal = 4;
constexpr int kReferencePanel = 4;  // pn_E's tag
const QColor kOnColour(0, 128, 0);
const QColor kOffColour(73, 86, 119);
const QString kSaveTitle = QStringLiteral("Сохранение графика");
// Buckets a curve is thinned out to (two points each): about two points per pixel column of the plot.
constexpr std::size_t kDrawnBuckets = 256;

// A tick step of 1, 2 or 5 times a power of ten that divides a span into at most about ten parts.
double niceStep(double span) {
  if (!(span > 0) || !std::isfinite(span)) return 1;
  const double raw = span / 10;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  return (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * magnitude;
}

// The reference of a run with hand input is what the operator typed, and says so.
QString referenceTitle(bool handInput) {
  return handInput ? QStringLiteral("Эталон (ручной ввод)") : QStringLiteral("Эталон");
}

QString seriesTitle(int series, bool handInput) {
  if (series == kGraphReference) return referenceTitle(handInput);
  return QStringLiteral("Канал %1").arg((series - 1) % kGraphChannels + 1);
}

}  // namespace

QColor GraphScreen::seriesColour(int series) {
  if (series == kGraphReference) return QColor(255, 0, 0);
  switch ((series - 1) % kGraphChannels) {
    case 0:
      return QColor(0, 128, 0);
    case 1:
      // A yellow dark enough to be seen on the white plot area.
      return QColor(215, 175, 0);
    case 2:
      return QColor(0, 0, 255);
    default:
      return QColor(128, 0, 0);
  }
}

GraphScreen::GraphScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_6_Graph1"), parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 6);
  layout->setSpacing(6);

  // First row: the switch and channel panels; second row: the tool buttons.
  auto* panels = new QHBoxLayout;
  panels->setSpacing(4);
  const QString switchCaptions[3] = {QStringLiteral("Давление"), QStringLiteral("Ток"),
                                     QStringLiteral("Погрешность")};
  const QString switchNames[3] = {QStringLiteral("pn_sw_P"), QStringLiteral("pn_sw_I"),
                                  QStringLiteral("pn_sw_E")};
  for (int q = 0; q < 3; ++q) {
    switches_[q] = makePanel(switchNames[q], switchCaptions[q], q, false);
    switches_[q]->setFixedSize(120, 34);
    panels->addWidget(switches_[q]);
  }
  panels->addSpacing(24);
  for (int k = 0; k < kGraphChannels; ++k) {
    channelPanels_[k] = makePanel(QStringLiteral("pn_%1").arg(k + 1), QString::number(k + 1), k, true);
    channelPanels_[k]->setFixedSize(40, 34);
    panels->addWidget(channelPanels_[k]);
  }
  // The caption's third letter is a Latin "a", as the program has always shown it.
  channelPanels_[kReferencePanel] =
      makePanel(QStringLiteral("pn_E"), QStringLiteral("Этaлон"), kReferencePanel, true);
  channelPanels_[kReferencePanel]->setFixedSize(84, 34);
  panels->addWidget(channelPanels_[kReferencePanel]);
  panels->addStretch(1);
  layout->addLayout(panels);

  struct Tool {
    const char* name;
    const char* glyph;
    const char* hint;
  };
  const Tool tools[] = {
      {"MGLeft", "◀", "Сдвиг влево"},
      {"MGRight", "▶", "Сдвиг вправо"},
      {"MGUp", "▲", "Сдвиг вверх"},
      {"MGDown", "▼", "Сдвиг вниз"},
      {"MGZoomXIn", "↔+", "Увеличить масштаб горизонтальной оси"},
      {"MGZoomXOut", "↔−", "Уменьшить масштаб горизонтальной оси"},
      {"MGZoomYIn", "↕+", "Увеличить масштаб вертикальной оси"},
      {"MGZoomYOut", "↕−", "Уменьшить масштаб вертикальной оси"},
      {"MGNoZoom", "100%", "Масштаб по умолчанию (100%)"},
      {"MGSave", "Сохранить", "Сохранить результаты измерения"},
      {"MGPrint", "Печать", "Распечатать график"},
      {"MGClear", "Очистить", "Очистить графики"},
  };
  auto* toolRow = new QHBoxLayout;
  toolRow->setSpacing(4);
  for (const Tool& t : tools) {
    const std::string_view name(t.name);
    if (name == "MGZoomXIn" || name == "MGNoZoom") toolRow->addSpacing(12);
    if (name == "MGSave") toolRow->addStretch(1);
    toolRow->addWidget(
        makeToolButton(QString::fromUtf8(t.name), QString::fromUtf8(t.glyph), QString::fromUtf8(t.hint)));
  }
  layout->addLayout(toolRow);

  // The chart: time in minutes along the bottom, the chosen quantity up the left.
  chart_ = new QChart;
  chart_->setObjectName(QStringLiteral("gr"));
  chart_->setBackgroundBrush(background());
  chart_->setBackgroundRoundness(0);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  chart_->setPlotAreaBackgroundBrush(Qt::white);
  chart_->setPlotAreaBackgroundVisible(true);
  chart_->legend()->setAlignment(Qt::AlignTop);
  timeAxis_ = new QValueAxis(chart_);
  timeAxis_->setObjectName(QStringLiteral("timeAxis"));
  timeAxis_->setTitleText(QStringLiteral("Время, мин"));
  timeAxis_->setLabelFormat(QStringLiteral("%.2f"));
  timeAxis_->setTickType(QValueAxis::TicksDynamic);
  timeAxis_->setTickAnchor(0);
  valueAxis_ = new QValueAxis(chart_);
  valueAxis_->setObjectName(QStringLiteral("valueAxis"));
  valueAxis_->setLabelFormat(QStringLiteral("%.6g"));
  valueAxis_->setTickType(QValueAxis::TicksDynamic);
  valueAxis_->setTickAnchor(0);
  chart_->addAxis(timeAxis_, Qt::AlignBottom);
  chart_->addAxis(valueAxis_, Qt::AlignLeft);
  for (int i = 0; i < kGraphSeries; ++i) addPiece(i);
  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("grView"));
  view_->setRenderHint(QPainter::Antialiasing, false);
  view_->setFrameShape(QFrame::NoFrame);
  layout->addWidget(view_, 1);

  // The values of the last sampling, in the colours of their curves.
  auto* values = new QHBoxLayout;
  values->setSpacing(24);
  auto valueLabel = [this, values](const QString& name, const QString& text, int series) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    QFont f = l->font();
    f.setPointSize(f.pointSize() + 3);
    f.setBold(true);
    l->setFont(f);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, seriesColour(series));
    l->setPalette(p);
    l->setMinimumWidth(150);
    values->addWidget(l);
    return l;
  };
  labEtl_ = valueLabel(QStringLiteral("labEtl"), QStringLiteral(" Pэт.="), kGraphReference);
  for (int k = 0; k < kGraphChannels; ++k)
    labP_[k] = valueLabel(QStringLiteral("labP%1").arg(k + 1), QStringLiteral("P%1=").arg(k + 1),
                          graphSeries(kGraphPressure, k));
  values->addStretch(1);
  layout->addLayout(values);

  for (int q = 0; q < 3; ++q) paintPanel(switches_[q], q == quantity_);
  for (PanelButton* p : channelPanels_) paintPanel(p, true);
  applyChoice();

  timer_ = new QTimer(this);
  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &GraphScreen::Timer1Timer);
  timer_->start();

  connect(&context, &WorkstationContext::settingsWritten, this, &GraphScreen::clearSeries);
  connect(&context, &WorkstationContext::signalTypeChanged, this, &GraphScreen::setSignalType);
  connect(&context, &WorkstationContext::kestoReported, this, &GraphScreen::setChannelsVisible);
}

GraphScreen::~GraphScreen() = default;

PanelButton* GraphScreen::makePanel(const QString& name, const QString& caption, int tag, bool channel) {
  auto* panel = new PanelButton(name, caption, tag, this);
  QFont f = panel->font();
  f.setBold(true);
  panel->setFont(f);
  connect(panel, &PanelButton::mouseDown, this, [this, panel, channel] {
    if (channel)
      pn_ch_Click(panel);
    else
      pn_sw_PClick(panel);
  });
  return panel;
}

QToolButton* GraphScreen::makeToolButton(const QString& name, const QString& glyph, const QString& hint) {
  auto* button = new QToolButton(this);
  button->setObjectName(name);
  button->setText(glyph);
  button->setToolTip(hint);
  button->setMinimumSize(36, 30);
  button->setAutoRaise(false);
  connect(button, &QToolButton::clicked, this, [this, button] { btn_ToolBtnGraph_Click(button); });
  return button;
}

void GraphScreen::paintPanel(PanelButton* panel, bool on) {
  panel->setColours(on ? kOnColour : kOffColour, Qt::white);
  panel->setLowered(on);
}

// ---- Sampling -------------------------------------------------------------------------------------

void GraphScreen::Timer1Timer() {
  TDev* dev = context().dev();
  if (!dev || dev->linked == 0) return;
  samples_.append(GraphSamples::fromRecord(*dev));

  const bool hand = dev->handInput != 0;
  labEtl_->setText((hand ? QStringLiteral(" Pэт. (ручной ввод)=") : QStringLiteral(" Pэт.=")) +
                   formatGeneral(dev->pRefUnits));
  for (QLineSeries* piece : curves_[kGraphReference].pieces)
    if (piece->name() != referenceTitle(hand)) piece->setName(referenceTitle(hand));
  for (int k = 0; k < kGraphChannels; ++k)
    labP_[k]->setText(QStringLiteral("P%1=").arg(k + 1) + formatGeneral(dev->ch[k].pFromI));
  if (dev->settings.units != units_) {
    units_ = dev->settings.units;
    updateValueTitle();
  }
  autoScale();
  // A hidden screen only keeps the samples; its curves are drawn when it is shown.
  if (isHidden())
    redrawPending_ = true;
  else
    redrawActive();
}

void GraphScreen::onShown() {
  if (!redrawPending_) return;
  redrawPending_ = false;
  redrawActive();
}

void GraphScreen::clearSeries() {
  samples_.clear();
  for (int i = 0; i < kGraphSeries; ++i) emptyCurve(i);
  autoScale();
}

void GraphScreen::redrawActive() {
  for (int i = 0; i < kGraphSeries; ++i)
    if (active_[i]) redrawCurve(i);
}

// ---- Drawing --------------------------------------------------------------------------------------

QLineSeries* GraphScreen::addPiece(int series) {
  Curve& curve = curves_[series];
  auto* piece = new QLineSeries;
  const TDev* dev = context().dev();
  piece->setName(seriesTitle(series, dev && dev->handInput));
  QPen pen(seriesColour(series));
  pen.setWidth(1);
  piece->setPen(pen);
  chart_->addSeries(piece);
  piece->attachAxis(timeAxis_);
  piece->attachAxis(valueAxis_);
  piece->setVisible(active_[series]);
  // Only the first piece has a legend entry, shown while the series is active.
  const bool first = curve.pieces.empty();
  for (QLegendMarker* m : chart_->legend()->markers(piece)) m->setVisible(first && active_[series]);
  curve.pieces.push_back(piece);
  return piece;
}

void GraphScreen::emptyCurve(int series) {
  Curve& curve = curves_[series];
  for (std::size_t p = 1; p < curve.pieces.size(); ++p) {
    chart_->removeSeries(curve.pieces[p]);
    delete curve.pieces[p];
  }
  curve.pieces.resize(1);
  curve.pieces[0]->clear();
}

// A curve is drawn anew from the samples at every sampling and axis change: only the points inside
// the time axis' range, thinned out to about two per pixel column, so the cost of a redraw does not
// grow with the hours recorded. Each unbroken run is one line piece; pieces left over from an earlier
// drawing are emptied and kept for the next one.
void GraphScreen::redrawCurve(int series) {
  Curve& curve = curves_[series];
  std::vector<std::vector<GraphSamples::Point>> runs;
  if (!samples_.empty()) {
    const double first = std::floor(timeAxis_->min() * 60) - 1;
    const double last = std::ceil(timeAxis_->max() * 60) + 1;
    if (last >= 0) {
      const auto from = static_cast<std::size_t>(std::max(first, 0.0));
      const auto to = static_cast<std::size_t>(std::min(last, static_cast<double>(samples_.size() - 1)));
      runs = samples_.drawnRuns(series, from, to, kDrawnBuckets);
    }
  }
  QList<QPointF> points;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    QLineSeries* piece = r < curve.pieces.size() ? curve.pieces[r] : addPiece(series);
    points.clear();
    points.reserve(static_cast<qsizetype>(runs[r].size()));
    for (const GraphSamples::Point& p : runs[r]) points.append(QPointF(p.minutes, p.value));
    piece->replace(points);
  }
  for (std::size_t r = runs.size(); r < curve.pieces.size(); ++r)
    if (curve.pieces[r]->count() > 0) curve.pieces[r]->clear();
}

void GraphScreen::setActive(int series, bool active) {
  if (active_[series] == active) return;
  active_[series] = active;
  // An inactive series draws nothing and costs nothing per sampling; it is drawn anew from the
  // samples when it becomes active.
  if (active)
    redrawCurve(series);
  else
    emptyCurve(series);
  const Curve& curve = curves_[series];
  for (QLineSeries* piece : curve.pieces) piece->setVisible(active);
  for (QLegendMarker* m : chart_->legend()->markers(curve.pieces[0])) m->setVisible(active);
}

int GraphScreen::drawnPoints(int series) const {
  int n = 0;
  for (const QLineSeries* piece : curves_[series].pieces) n += piece->count();
  return n;
}

int GraphScreen::drawnPieces(int series) const {
  int n = 0;
  for (const QLineSeries* piece : curves_[series].pieces) n += piece->count() > 0 ? 1 : 0;
  return n;
}

// ---- Choosing what is shown -------------------------------------------------------------------------

void GraphScreen::pn_sw_PClick(PanelButton* panel) {
  quantity_ = static_cast<GraphQuantity>(std::clamp(panel->tag(), 0, 2));
  for (int q = 0; q < 3; ++q) paintPanel(switches_[q], q == quantity_);
  applyChoice();
}

void GraphScreen::pn_ch_Click(PanelButton* panel) {
  const int tag = std::clamp(panel->tag(), 0, kReferencePanel);
  panelOn_[tag] = !panelOn_[tag];
  paintPanel(channelPanels_[tag], panelOn_[tag]);
  applyChoice();
}

void GraphScreen::applyChoice() {
  const bool pressure = quantity_ == kGraphPressure;
  // Without channel data only the reference is plotted, whatever the panels say.
  setActive(kGraphReference, !channelsVisible_ || (pressure && panelOn_[kReferencePanel]));
  for (int q = 0; q < 3; ++q)
    for (int k = 0; k < kGraphChannels; ++k)
      setActive(graphSeries(static_cast<GraphQuantity>(q), k),
                channelsVisible_ && q == quantity_ && panelOn_[k]);

  for (PanelButton* s : switches_) s->setVisible(channelsVisible_);
  for (int k = 0; k < kGraphChannels; ++k) channelPanels_[k]->setVisible(channelsVisible_);
  channelPanels_[kReferencePanel]->setVisible(channelsVisible_ && pressure);
  labEtl_->setVisible(active_[kGraphReference]);
  for (int k = 0; k < kGraphChannels; ++k) labP_[k]->setVisible(active_[graphSeries(kGraphPressure, k)]);
  updateValueTitle();
  autoScale();
}

void GraphScreen::setChannelsVisible(bool visible) {
  if (visible == channelsVisible_) return;
  channelsVisible_ = visible;
  applyChoice();
}

void GraphScreen::setSignalType(int signalType) {
  signalType_ = signalType;
  switches_[kGraphCurrent]->setText(signalType == kVoltageSignal ? QStringLiteral("Напряжение")
                                                                 : QStringLiteral("Ток"));
  updateValueTitle();
}

void GraphScreen::updateValueTitle() {
  QString title;
  if (!channelsVisible_ || quantity_ == kGraphPressure) {
    const QString unit = unitName(units_ < 0 ? 0 : units_);
    title = unit.isEmpty() ? QStringLiteral("Давление") : QStringLiteral("Давление, ") + unit;
  } else if (quantity_ == kGraphCurrent) {
    title = signalType_ == kVoltageSignal ? QStringLiteral("Напряжение, В") : QStringLiteral("Ток, мА");
  } else {
    title = QStringLiteral("Погрешность, %");
  }
  if (valueAxis_->titleText() != title) valueAxis_->setTitleText(title);
}

// ---- Axes -----------------------------------------------------------------------------------------

void GraphScreen::setAxis(QValueAxis* axis, double min, double max, bool extendToTicks) {
  if (!(max > min)) max = min + 1;
  const double step = niceStep(max - min);
  if (extendToTicks) {
    min = std::floor(min / step) * step;
    max = std::ceil(max / step) * step;
  }
  if (axis->tickInterval() != step) axis->setTickInterval(step);
  if (axis->min() != min || axis->max() != max) axis->setRange(min, max);
}

void GraphScreen::autoScale() {
  if (!timeManual_) {
    const double last = samples_.empty() ? 0 : GraphSamples::minutes(samples_.size() - 1);
    // The newest point near the right edge (the first minute is shown whole). The end moves in tenths
    // of a tick, not at every sampling: each move lays the axis out anew.
    const double grain = niceStep(std::max(last, 1.0)) / 10;
    setAxis(timeAxis_, 0, std::max(std::ceil(last / grain) * grain, 1.0), false);
  }
  if (!valueManual_) {
    bool any = false;
    double low = 0;
    double high = 0;
    for (int i = 0; i < kGraphSeries; ++i) {
      double lo;
      double hi;
      if (!active_[i] || !samples_.valueRange(i, lo, hi)) continue;
      low = any ? std::min(low, lo) : lo;
      high = any ? std::max(high, hi) : hi;
      any = true;
    }
    if (!any) {
      low = 0;
      high = 1;
    } else if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) {
      // A flat line sits in the middle of a small band instead of on the frame.
      const double pad = low == 0 ? 1 : std::fabs(low) * 0.05;
      low -= pad;
      high += pad;
    }
    setAxis(valueAxis_, low, high, true);
  }
}

void GraphScreen::moveAxes(bool time, AxisMove move) {
  QValueAxis* axis = time ? timeAxis_ : valueAxis_;
  const AxisLimits limits = moveAxis(AxisLimits{axis->min(), axis->max()}, move);
  setAxis(axis, limits.min, limits.max, false);
  (time ? timeManual_ : valueManual_) = true;
  if (time) redrawActive();
}

// ---- Tool buttons -----------------------------------------------------------------------------------

void GraphScreen::btn_ToolBtnGraph_Click(QWidget* button) {
  const QString name = button->objectName();
  auto has = [&name](const char* part) { return name.contains(QLatin1String(part)); };
  if (has("MGClear")) {
    clearSeries();
  } else if (has("Left")) {
    moveAxes(true, AxisMove::Back);
  } else if (has("Right")) {
    moveAxes(true, AxisMove::Forward);
  } else if (has("Up")) {
    moveAxes(false, AxisMove::Forward);
  } else if (has("Down")) {
    moveAxes(false, AxisMove::Back);
  } else if (has("ZoomXIn")) {
    moveAxes(true, AxisMove::ZoomIn);
  } else if (has("ZoomXOut")) {
    moveAxes(true, AxisMove::ZoomOut);
  } else if (has("ZoomYIn")) {
    moveAxes(false, AxisMove::ZoomIn);
  } else if (has("ZoomYOut")) {
    moveAxes(false, AxisMove::ZoomOut);
  } else if (has("NoZoom")) {
    timeManual_ = false;
    valueManual_ = false;
    autoScale();
    redrawActive();
  } else if (has("Print")) {
    printWithDialog();
  } else if (has("Save")) {
    saveWithDialog();
  }
}

// ---- Saving and printing --------------------------------------------------------------------------

GraphScreen::SaveNames GraphScreen::saveNames(const QString& chosen) {
  const QFileInfo info(chosen);
  const QString suffix = info.suffix().toLower();
  SaveNames names;
  names.format = suffix == QLatin1String("bmp") ? "BMP" : "PNG";
  if (suffix == QLatin1String("png") || suffix == QLatin1String("bmp")) {
    names.picture = chosen;
    names.table = chosen.left(chosen.size() - suffix.size()) + QStringLiteral("txt");
  } else if (suffix == QLatin1String("txt")) {
    // The operator named the table: the picture goes beside it instead of being replaced by it.
    names.picture = chosen.left(chosen.size() - suffix.size()) + QStringLiteral("png");
    names.table = chosen;
  } else {
    // No picture suffix (perhaps a point inside the name, "run 1.5"): the default one is added.
    names.picture = chosen + QStringLiteral(".png");
    names.table = chosen + QStringLiteral(".txt");
  }
  return names;
}

bool GraphScreen::saveChart(const QString& pictureName) {
  const SaveNames names = saveNames(pictureName);
  QStringList failures;

  const QImage image = view_->grab().toImage();
  QSaveFile picture(names.picture);
  if (!picture.open(QIODevice::WriteOnly) || !image.save(&picture, names.format) || !picture.commit())
    failures << QStringLiteral("рисунок графика: %1 (%2)").arg(names.picture, picture.errorString());

  // Written whole or not at all: an older table of that name is replaced only by a complete one.
  const std::string table = samples_.table();
  QSaveFile text(names.table);
  if (!text.open(QIODevice::WriteOnly) ||
      text.write(table.data(), static_cast<qint64>(table.size())) != static_cast<qint64>(table.size()) ||
      !text.commit())
    failures << QStringLiteral("таблицу графика: %1 (%2)").arg(names.table, text.errorString());

  if (failures.isEmpty()) return true;
  Prompts::showError(kSaveTitle, QStringLiteral("Не удалось записать ") +
                                     failures.join(QStringLiteral(";\nне удалось записать ")));
  return false;
}

void GraphScreen::saveWithDialog() {
  QString chosen;
  if (Prompts::fileName) {
    chosen = Prompts::fileName(kSaveTitle, true);
  } else {
    const QString png = QStringLiteral("Рисунок PNG (*.png)");
    const QString bmp = QStringLiteral("Рисунок BMP (*.bmp)");
    QFileDialog dialog(context().window(), kSaveTitle, lastFolder_, png + QStringLiteral(";;") + bmp);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, bmp](const QString& filter) {
      dialog.setDefaultSuffix(filter == bmp ? QStringLiteral("bmp") : QStringLiteral("png"));
    });
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      chosen = dialog.selectedFiles().first();
  }
  if (chosen.isEmpty()) return;
  lastFolder_ = QFileInfo(chosen).absolutePath();
  saveChart(chosen);
}

bool GraphScreen::printChart(QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const QRectF page(QPointF(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
  view_->render(&painter, page, QRect(), Qt::KeepAspectRatio);
  return painter.end();
}

void GraphScreen::printWithDialog() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  bool go = false;
  if (printSetup) {
    go = printSetup(printer);
  } else {
    QPrintDialog dialog(&printer, context().window());
    dialog.setWindowTitle(QStringLiteral("Распечатать график"));
    go = dialog.exec() == QDialog::Accepted;
  }
  if (go && !printChart(printer))
    Prompts::showError(QStringLiteral("Печать графика"), QStringLiteral("Не удалось начать печать графика."));
}

}  // namespace arm
