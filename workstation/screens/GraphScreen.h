// The graph screen (mode "График", Frame_Mode_6_Graph1): once a second while linked it samples the
// reference pressure and each channel's pressure, current and reduced error, and plots the chosen
// quantity and channels against time. Tool buttons move and zoom the axes, print the chart, clear
// it, and save it as a picture with a tab-separated table beside it. The samples live in
// GraphSamples; this class draws them and owns the controls.
#pragma once

#include <QColor>
#include <array>
#include <functional>
#include <vector>

#include "GraphSamples.h"
#include "Screen.h"

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QPrinter;
class QTimer;
class QToolButton;
class QValueAxis;

namespace arm {

class PanelButton;

class GraphScreen : public Screen {
  Q_OBJECT
 public:
  explicit GraphScreen(WorkstationContext& context, QWidget* parent = nullptr);
  ~GraphScreen() override;

  // The no-Kesto view: without a usable Kesto module only the reference is plotted (the channel
  // curves, value labels and curve selectors hide). Showing them again restores the operator's choice.
  void setChannelsVisible(bool visible);
  bool channelsVisible() const { return channelsVisible_; }

  void onShown() override;

  // Timer1 (1000 ms): one sampling of the record, only while linked.
  void Timer1Timer();
  // A switch panel ("Давление", "Ток", "Погрешность") or a channel panel (pn_1 .. pn_4, pn_E) clicked.
  void pn_sw_PClick(PanelButton* panel);
  void pn_ch_Click(PanelButton* panel);
  // A tool button clicked (recognised by its name: MGLeft, MGZoomXIn, MGSave ...).
  void btn_ToolBtnGraph_Click(QWidget* button);
  // Removes every point of every series (also after a settings write).
  void clearSeries();
  // The devices' output signal type (4: voltage): the caption of the current switch.
  void setSignalType(int signalType);

  // Saves the chart as a picture (BMP for a name ending in ".bmp", PNG otherwise) and the table
  // under the same name with ".txt". Each file that cannot be written is named in one message.
  // True when both were written.
  bool saveChart(const QString& pictureName);
  // Draws the chart on a printer's page (landscape, scaled to the page). False when the printer
  // cannot be started.
  bool printChart(QPrinter& printer);

  // The file names a chosen name gives: the picture (".png" added to a name without a suffix, or to
  // one ending in ".txt" so the table cannot replace the picture), its format, and the table.
  struct SaveNames {
    QString picture;
    const char* format;
    QString table;
  };
  static SaveNames saveNames(const QString& chosen);

  // Print set-up instead of the system's print dialog (tests, unattended runs): returns false to
  // cancel.
  static inline std::function<bool(QPrinter&)> printSetup;

  const GraphSamples& samples() const { return samples_; }
  GraphQuantity quantity() const { return quantity_; }
  bool seriesActive(int series) const { return active_[series]; }
  // The points drawn for a series, and in how many unbroken pieces (a gap starts a new one).
  int drawnPoints(int series) const;
  int drawnPieces(int series) const;
  QChartView* chartView() const { return view_; }
  QChart* chart() const { return chart_; }
  QValueAxis* timeAxis() const { return timeAxis_; }
  QValueAxis* valueAxis() const { return valueAxis_; }

  // Series colours: red reference; channels 1-4 green, yellow, blue, maroon.
  static QColor seriesColour(int series);

 private:
  // One plotted series: the line pieces between gaps (the first one carries the legend entry).
  struct Curve {
    std::vector<QLineSeries*> pieces;
  };

  PanelButton* makePanel(const QString& name, const QString& caption, int tag, bool channel);
  QToolButton* makeToolButton(const QString& name, const QString& glyph, const QString& hint);
  void paintPanel(PanelButton* panel, bool on);
  // Activates the series the switch and channel panels choose, and shows the value labels of the
  // active series.
  void applyChoice();
  void setActive(int series, bool active);
  QLineSeries* addPiece(int series);
  void redrawCurve(int series);
  void redrawActive();
  void emptyCurve(int series);
  void updateValueTitle();
  // Automatic scaling of the axes that the tool buttons have not taken over.
  void autoScale();
  void setAxis(QValueAxis* axis, double min, double max, bool extendToTicks);
  void moveAxes(bool time, AxisMove move);
  void saveWithDialog();
  void printWithDialog();

  GraphSamples samples_;
  std::array<Curve, kGraphSeries> curves_;
  std::array<bool, kGraphSeries> active_{};
  GraphQuantity quantity_ = kGraphPressure;
  std::array<bool, 5> panelOn_{true, true, true, true, true};
  bool channelsVisible_ = true;
  bool timeManual_ = false;
  bool valueManual_ = false;
  bool redrawPending_ = false;
  int signalType_ = 0;
  int units_ = -1;
  QString lastFolder_;

  QChart* chart_;
  QChartView* view_;
  QValueAxis* timeAxis_;
  QValueAxis* valueAxis_;
  std::array<PanelButton*, 3> switches_{};
  std::array<PanelButton*, 5> channelPanels_{};
  QLabel* labEtl_;
  std::array<QLabel*, kGraphChannels> labP_{};
  QTimer* timer_;
};

}  // namespace arm
