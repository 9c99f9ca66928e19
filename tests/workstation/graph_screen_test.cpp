// The graph screen: the sample store and its saved table (exact bytes), point labels, gaps, which
// series the panels show, the tool buttons, saving and printing, and sampling the in-process simulator.
#include <gtest/gtest.h>

#include <QChartView>
#include <QDir>
#include <QFile>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>
#include <cmath>
#include <limits>
#include <set>

#include "GraphSamples.h"
#include "GraphScreen.h"
#include "PanelButton.h"
#include "Prompts.h"
#include "bench_fixture.h"
#include "screen_fixture.h"

namespace {

using namespace arm;
using namespace armtest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The header line and the empty line, byte for byte (" Время" and " Эталон" in Windows-1251).
const std::string kHeader =
    "\x20\xC2\xF0\xE5\xEC\xFF\t\x20\xDD\xF2\xE0\xEB\xEE\xED\t P1\t P2\t P3\t P4\t I1\t I2\t I3\t I4\t"
    " Err1\t Err2\t Err3\t Err4\r\n\r\n";

GraphSample sampleOf(double reference, double channelBase) {
  GraphSample s;
  s[0] = reference;
  for (int i = 1; i < kGraphSeries; ++i) s[i] = channelBase + i;
  return s;
}

TEST(GraphSamples, PointLabelsAreMinutesAndHundredths) {
  const std::pair<std::size_t, const char*> cases[] = {
      {0, "0.00"},  {1, "0.01"},     {59, "0.98"},    {60, "1.00"},
      {90, "1.50"}, {3599, "59.98"}, {3600, "60.00"}, {6001, "100.01"},
  };
  for (const auto& [index, label] : cases) {
    SCOPED_TRACE(index);
    EXPECT_EQ(GraphSamples::label(index), label);
  }
}

TEST(GraphSamples, TableHoldsHeaderEmptyLineAndOneRowPerPoint) {
  GraphSamples s;
  s.append(sampleOf(12.3456, 0));
  GraphSample second = sampleOf(-0.0001, 10);
  second[2] = 9e25;     // the record's "no value": a gap
  second[7] = -9.5e25;  // also a gap
  second[12] = -3.25;
  s.append(second);
  GraphSample third = sampleOf(kNaN, 100);  // lost reference
  third[5] = 2.5;
  s.append(third);

  const std::string expected =
      kHeader +
      "0.00\t12.346\t1.000\t2.000\t3.000\t4.000\t5.000\t6.000\t7.000\t8.000\t9.000\t10.000\t11.000\t12."
      "000\t\r\n"
      "0.01\t0.000\t11.000\t \t13.000\t14.000\t15.000\t16.000\t "
      "\t18.000\t19.000\t20.000\t21.000\t-3.250\t\r\n"
      "0.03\t "
      "\t101.000\t102.000\t103.000\t104.000\t2.500\t106.000\t107.000\t108.000\t109.000\t110.000\t111.000\t"
      "112.000\t\r\n";
  EXPECT_EQ(s.table(), expected);

  // Each row: 14 cells, every one followed by a TAB.
  for (const char* row : {"0.00\t", "0.01\t", "0.03\t"}) {
    const std::string t = s.table();
    const std::size_t at = t.find(row);
    ASSERT_NE(at, std::string::npos);
    const std::string line = t.substr(at, t.find("\r\n", at) - at);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 14) << line;
    EXPECT_EQ(line.back(), '\t');
  }

  s.clear();
  EXPECT_EQ(s.table(), kHeader);
  double lo = 0, hi = 0;
  EXPECT_FALSE(s.valueRange(0, lo, hi));
}

TEST(GraphSamples, ChannelsWithoutValidDataStayAlignedWithTheReference) {
  TDev dev{};
  dev.settings.unitFactor = 0.001f;  // kPa -> MPa
  dev.pRefUnits = 1.5f;
  dev.kestoDataValid = 1;
  dev.ch[0].pFromIKPa = 250;
  dev.ch[0].current = 12;
  dev.ch[0].reducedError = 0.125f;
  GraphSamples s;
  s.append(GraphSamples::fromRecord(dev));
  dev.kestoDataValid = 0;  // only the reference is sampled
  s.append(GraphSamples::fromRecord(dev));
  dev.kestoDataValid = 1;
  dev.ch[0].pFromIKPa = 500;
  s.append(GraphSamples::fromRecord(dev));

  ASSERT_EQ(s.size(), 3u);
  EXPECT_DOUBLE_EQ(s.value(graphSeries(kGraphPressure, 0), 0), 250 * double(0.001f));
  EXPECT_TRUE(std::isnan(s.value(graphSeries(kGraphPressure, 0), 1)));
  // The third sampling's pressure is in the third row, at its own time.
  EXPECT_DOUBLE_EQ(s.value(graphSeries(kGraphPressure, 0), 2), 500 * double(0.001f));
  EXPECT_DOUBLE_EQ(s.value(graphSeries(kGraphCurrent, 0), 2), 12);
  EXPECT_DOUBLE_EQ(s.value(graphSeries(kGraphError, 0), 2), double(0.125f));
  const std::string t = s.table();
  EXPECT_NE(t.find("\r\n0.01\t1.500\t \t \t \t \t \t \t \t \t \t \t \t \t\r\n"), std::string::npos) << t;
  EXPECT_NE(t.find("\r\n0.03\t1.500\t0.500\t"), std::string::npos) << t;
}

TEST(GraphSamples, LongSeriesAreThinnedForDrawingButKeepSpikesAndLongGaps) {
  GraphSamples s;
  for (int i = 0; i < 3600; ++i) {
    GraphSample v = sampleOf(i % 10, 0);
    if (i == 1234) v[0] = 500;               // a one-second spike
    if (i >= 2048 && i < 2112) v[0] = kNaN;  // a minute without a reference: one bucket and more
    if (i == 3000) v[0] = kNaN;              // a single lost sample inside a bucket
    s.append(v);
  }
  // Few points: drawn as they are, each at its own time.
  auto few = s.drawnRuns(0, 100, 199, 512);
  ASSERT_EQ(few.size(), 1u);
  ASSERT_EQ(few[0].size(), 100u);
  EXPECT_DOUBLE_EQ(few[0][0].minutes, 100 / 60.0);
  EXPECT_DOUBLE_EQ(few[0][99].value, 199 % 10);

  // The hour: buckets of 8 (3600 / 8 = 450 <= 512), two points each at most.
  const auto hour = s.drawnRuns(0, 0, 3599, 512);
  ASSERT_EQ(hour.size(), 2u);  // broken by the long gap only
  std::size_t points = 0;
  double highest = 0;
  for (const auto& run : hour) {
    points += run.size();
    for (std::size_t p = 1; p < run.size(); ++p) EXPECT_LT(run[p - 1].minutes, run[p].minutes);
    for (const auto& p : run) highest = std::max(highest, p.value);
  }
  EXPECT_LE(points, 900u);
  EXPECT_GE(points, 800u);
  EXPECT_EQ(highest, 500);
  EXPECT_LE(hour[0].back().minutes, 2047 / 60.0);
  EXPECT_GE(hour[1].front().minutes, 2112 / 60.0);
  // Nothing of the stored samples is lost.
  EXPECT_EQ(s.size(), 3600u);
  EXPECT_EQ(s.value(0, 1234), 500);

  // Outside the series: nothing.
  EXPECT_TRUE(s.drawnRuns(0, 4000, 5000, 512).empty());
}

TEST(GraphSamples, AxisButtonsMoveByATenthOfTheRange) {
  // The second limit is computed after the first has moved.
  struct Case {
    AxisMove move;
    double min, max;
  } cases[] = {
      {AxisMove::Back, -1, 8.9},     // 10 - 0.1 * (10 - -1)
      {AxisMove::Forward, 1, 10.9},  // 10 + 0.1 * (10 - 1)
      {AxisMove::ZoomIn, 1, 9.1},
      {AxisMove::ZoomOut, -1, 11.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.move));
    const AxisLimits a = moveAxis(AxisLimits{0, 10}, c.move);
    EXPECT_DOUBLE_EQ(a.min, c.min);
    EXPECT_DOUBLE_EQ(a.max, c.max);
  }
}

// ---- The screen on a record the test prepares -------------------------------------------------------

class GraphScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prompts::reset();
    Prompts::error = [this](const QString&, const QString& text) { errors << text; };
    screen.resize(1000, 700);
    screen.show();
    // The tests sample by hand; the screen's own timer must not add samples in between.
    screen.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    TDev& d = bench.dev();
    d.linked = 1;
    d.kestoDataValid = 1;
    d.pRefUnits = 100;
    for (int k = 0; k < 4; ++k) {
      d.ch[k].pFromIKPa = 10.0f * (k + 1);
      d.ch[k].pFromI = 0.01f * (k + 1);
      d.ch[k].current = 4.0f + k;
      d.ch[k].reducedError = 0.1f * (k + 1);
    }
  }
  void TearDown() override {
    Prompts::reset();
    GraphScreen::printSetup = nullptr;
  }

  std::set<int> activeSeries() const {
    std::set<int> s;
    for (int i = 0; i < kGraphSeries; ++i)
      if (screen.seriesActive(i)) s.insert(i);
    return s;
  }
  PanelButton* panel(const char* name) { return screen.findChild<PanelButton*>(name); }
  QLabel* label(const char* name) { return screen.findChild<QLabel*>(name); }
  QToolButton* tool(const char* name) { return screen.findChild<QToolButton*>(name); }
  void sample(int n) {
    for (int i = 0; i < n; ++i) screen.Timer1Timer();
  }
  static QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  ScreenBench bench;
  GraphScreen screen{bench.context};
  QStringList errors;
  QTemporaryDir dir;
};

TEST_F(GraphScreenTest, SamplesOnlyWhileLinkedAndShowsTheValues) {
  bench.dev().linked = 0;
  sample(3);
  EXPECT_EQ(screen.samples().size(), 0u);
  EXPECT_EQ(label("labEtl")->text(), QStringLiteral(" Pэт.="));

  bench.dev().linked = 1;
  bench.dev().pRefUnits = 101.23456f;
  sample(1);
  EXPECT_EQ(screen.samples().size(), 1u);
  EXPECT_EQ(label("labEtl")->text(), QStringLiteral(" Pэт.=101.23"));
  EXPECT_EQ(label("labP2")->text(), QStringLiteral("P2=0.02"));
  // Pressures are drawn at the start; currents and errors are not.
  EXPECT_EQ(screen.drawnPoints(0), 1);
  EXPECT_EQ(screen.drawnPoints(graphSeries(kGraphPressure, 3)), 1);
  EXPECT_EQ(screen.drawnPoints(graphSeries(kGraphCurrent, 0)), 0);

  // Without valid channel data only the reference grows (the channels get gaps); labels still change.
  bench.dev().kestoDataValid = 0;
  bench.dev().ch[0].pFromI = 7;
  sample(1);
  EXPECT_EQ(screen.samples().size(), 2u);
  EXPECT_EQ(screen.drawnPoints(0), 2);
  EXPECT_EQ(screen.drawnPoints(graphSeries(kGraphPressure, 0)), 1);
  EXPECT_EQ(label("labP1")->text(), QStringLiteral("P1=7"));
}

// While a run takes its reference by hand the graph says so: the reference's legend entry and its
// value line; afterwards the calibrator's reference is "Эталон" again.
TEST_F(GraphScreenTest, AHandInputReferenceIsNamedSo) {
  auto referenceNames = [&] {
    QStringList names;
    for (QAbstractSeries* s : screen.chart()->series())
      if (s->name().startsWith(QStringLiteral("Эталон"))) names << s->name();
    names.removeDuplicates();
    return names;
  };
  bench.dev().linked = 1;
  bench.dev().pRefUnits = 250;
  sample(1);
  EXPECT_EQ(referenceNames(), QStringList{QStringLiteral("Эталон")});
  bench.dev().handInput = 1;
  sample(1);
  EXPECT_EQ(label("labEtl")->text(), QStringLiteral(" Pэт. (ручной ввод)=250"));
  EXPECT_EQ(referenceNames(), QStringList{QStringLiteral("Эталон (ручной ввод)")});
  bench.dev().handInput = 0;
  sample(1);
  EXPECT_EQ(label("labEtl")->text(), QStringLiteral(" Pэт.=250"));
  EXPECT_EQ(referenceNames(), QStringList{QStringLiteral("Эталон")});
}

TEST_F(GraphScreenTest, AfterNinetySamplesTheNextPointIsAtOneAndAHalfMinutes) {
  sample(91);
  ASSERT_EQ(screen.samples().size(), 91u);
  EXPECT_EQ(GraphSamples::label(90), "1.50");
  // The reference's curve ends at 1.5 minutes.
  const QLineSeries* reference = nullptr;
  for (QAbstractSeries* a : screen.chart()->series()) {
    auto* line = qobject_cast<QLineSeries*>(a);
    if (line && line->name() == QStringLiteral("Эталон") && line->count() > 0) reference = line;
  }
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->count(), 91);
  EXPECT_DOUBLE_EQ(reference->at(90).x(), 1.5);
  const std::string table = screen.samples().table();
  EXPECT_NE(table.find("\r\n1.50\t100.000\t"), std::string::npos);
  // The time axis reaches the newest point.
  EXPECT_GE(screen.timeAxis()->max(), 1.5);
  EXPECT_LE(screen.timeAxis()->min(), 0);
}

TEST_F(GraphScreenTest, ANaNReferenceIsAGapThatBreaksTheCurve) {
  sample(3);
  bench.dev().pRefUnits = std::numeric_limits<float>::quiet_NaN();
  sample(1);
  bench.dev().pRefUnits = 9.5e25f;  // the record's "no value" mark
  sample(1);
  bench.dev().pRefUnits = 100;
  sample(2);
  EXPECT_EQ(screen.samples().size(), 7u);
  EXPECT_EQ(screen.drawnPoints(0), 5);
  EXPECT_EQ(screen.drawnPieces(0), 2);
  // Redrawn from the samples (hidden and shown again): the same two pieces.
  pressMouse(panel("pn_E"));
  EXPECT_EQ(screen.drawnPoints(0), 0);
  pressMouse(panel("pn_E"));
  EXPECT_EQ(screen.drawnPoints(0), 5);
  EXPECT_EQ(screen.drawnPieces(0), 2);
  EXPECT_NE(screen.samples().table().find("\r\n0.05\t \t"), std::string::npos);
}

TEST_F(GraphScreenTest, SwitchAndChannelPanelsChooseTheSeries) {
  sample(4);
  auto on = [](PanelButton* p) { return p->background() == QColor(0, 128, 0); };
  EXPECT_EQ(activeSeries(), (std::set<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(on(panel("pn_sw_P")));
  EXPECT_FALSE(on(panel("pn_sw_I")));

  struct Step {
    const char* click;
    std::set<int> active;
    bool referencePanelShown;
    bool referenceLabelShown;
    bool label2Shown;
  } steps[] = {
      {"pn_sw_I", {5, 6, 7, 8}, false, false, false},
      {"pn_2", {5, 7, 8}, false, false, false},     // channel 2's current hidden ...
      {"pn_2", {5, 6, 7, 8}, false, false, false},  // ... and shown again
      {"pn_3", {5, 6, 8}, false, false, false},
      {"pn_sw_E", {9, 10, 12}, false, false, false},  // channel 3 stays off for every quantity
      {"pn_sw_P", {0, 1, 2, 4}, true, true, true},
      {"pn_E", {1, 2, 4}, true, false, true},
      {"pn_E", {0, 1, 2, 4}, true, true, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.click);
    pressMouse(panel(s.click));
    EXPECT_EQ(activeSeries(), s.active);
    EXPECT_EQ(!panel("pn_E")->isHidden(), s.referencePanelShown);
    EXPECT_EQ(!label("labEtl")->isHidden(), s.referenceLabelShown);
    EXPECT_EQ(!label("labP2")->isHidden(), s.label2Shown);
    // An active series shows every sample since the last clear, an inactive one nothing; the
    // legend names the active ones.
    for (int i = 0; i < kGraphSeries; ++i) EXPECT_EQ(screen.drawnPoints(i), s.active.count(i) ? 4 : 0) << i;
    std::size_t entries = 0;
    for (QLegendMarker* m : screen.chart()->legend()->markers()) entries += m->isVisible() ? 1 : 0;
    EXPECT_EQ(entries, s.active.size());
  }
  EXPECT_FALSE(on(panel("pn_3")));
  EXPECT_TRUE(on(panel("pn_sw_P")));
}

TEST_F(GraphScreenTest, WithoutKestoOnlyTheReferenceIsPlottedUntilItComesBack) {
  sample(2);
  pressMouse(panel("pn_sw_I"));
  screen.setChannelsVisible(false);
  EXPECT_EQ(activeSeries(), std::set<int>{0});
  for (const char* name : {"pn_1", "pn_4", "pn_E", "pn_sw_P", "pn_sw_I", "pn_sw_E"})
    EXPECT_TRUE(panel(name)->isHidden()) << name;
  for (const char* name : {"labP1", "labP4"}) EXPECT_TRUE(label(name)->isHidden()) << name;
  EXPECT_FALSE(label("labEtl")->isHidden());
  EXPECT_EQ(screen.drawnPoints(0), 2);

  // The module is back: the operator's choice (currents) returns.
  screen.setChannelsVisible(true);
  EXPECT_EQ(activeSeries(), (std::set<int>{5, 6, 7, 8}));
  EXPECT_FALSE(panel("pn_sw_I")->isHidden());
  EXPECT_EQ(screen.drawnPoints(6), 2);
}

TEST_F(GraphScreenTest, SignalTypeAndSettingsWriteComeThroughTheContext) {
  Q_EMIT bench.context.signalTypeChanged(4);
  EXPECT_EQ(panel("pn_sw_I")->text(), QStringLiteral("Напряжение"));
  Q_EMIT bench.context.signalTypeChanged(1);
  EXPECT_EQ(panel("pn_sw_I")->text(), QStringLiteral("Ток"));

  sample(5);
  Q_EMIT bench.context.settingsWritten();
  EXPECT_EQ(screen.samples().size(), 0u);
  EXPECT_EQ(screen.drawnPoints(0), 0);
  sample(1);
  EXPECT_EQ(screen.drawnPoints(0), 1);
  EXPECT_EQ(screen.samples().table().substr(kHeader.size(), 5), "0.00\t");
}

TEST_F(GraphScreenTest, ToolButtonsTakeOverTheAxesUntilNoZoom) {
  sample(120);
  const double autoMax = screen.timeAxis()->max();
  EXPECT_GE(autoMax, GraphSamples::minutes(119));
  tool("MGZoomXIn")->click();
  const double zoomedMin = screen.timeAxis()->min();
  const double zoomedMax = screen.timeAxis()->max();
  EXPECT_GT(zoomedMin, 0);
  EXPECT_LT(zoomedMax, autoMax);
  // New samples no longer move a manual axis ...
  sample(120);
  EXPECT_DOUBLE_EQ(screen.timeAxis()->min(), zoomedMin);
  EXPECT_DOUBLE_EQ(screen.timeAxis()->max(), zoomedMax);
  const double valueMin = screen.valueAxis()->min();
  tool("MGUp")->click();
  EXPECT_GT(screen.valueAxis()->min(), valueMin);
  // ... until "Масштаб по умолчанию" gives both axes back to automatic scaling.
  tool("MGNoZoom")->click();
  EXPECT_DOUBLE_EQ(screen.timeAxis()->min(), 0);
  EXPECT_GE(screen.timeAxis()->max(), GraphSamples::minutes(239));
  EXPECT_DOUBLE_EQ(screen.valueAxis()->min(), valueMin);

  tool("MGClear")->click();
  EXPECT_EQ(screen.samples().size(), 0u);
  EXPECT_EQ(screen.drawnPoints(1), 0);
}

TEST_F(GraphScreenTest, SaveWritesThePictureAndTheExactTable) {
  bench.dev().pRefUnits = 0.5f;
  sample(2);
  bench.dev().kestoDataValid = 0;
  sample(1);
  const QString chosen = dir.filePath(QStringLiteral("graph.png"));
  QStringList titles;
  Prompts::fileName = [&](const QString& title, bool save) {
    titles << title;
    EXPECT_TRUE(save);
    return chosen;
  };
  tool("MGSave")->click();
  EXPECT_EQ(titles, QStringList{QStringLiteral("Сохранение графика")});
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(fileBytes(chosen).startsWith("\x89PNG\r\n"));
  const std::string row =
      "0.500\t10.000\t20.000\t30.000\t40.000\t4.000\t5.000\t6.000\t7.000\t0.100\t0.200\t0.300\t0.400\t\r\n";
  const std::string expected =
      kHeader + "0.00\t" + row + "0.01\t" + row + "0.03\t0.500\t \t \t \t \t \t \t \t \t \t \t \t \t\r\n";
  EXPECT_EQ(fileBytes(dir.filePath(QStringLiteral("graph.txt"))).toStdString(), expected);

  // A BMP on request; an older table of the same name is replaced.
  EXPECT_TRUE(screen.saveChart(dir.filePath(QStringLiteral("graph.bmp"))));
  EXPECT_TRUE(fileBytes(dir.filePath(QStringLiteral("graph.bmp"))).startsWith("BM"));
  EXPECT_EQ(fileBytes(dir.filePath(QStringLiteral("graph.txt"))).toStdString(), expected);

  // Cancelled dialog: nothing written, nothing said.
  Prompts::fileName = [](const QString&, bool) { return QString(); };
  QFile::remove(chosen);
  tool("MGSave")->click();
  EXPECT_FALSE(QFile::exists(chosen));
  EXPECT_TRUE(errors.isEmpty());
}

TEST_F(GraphScreenTest, SaveNamesKeepPictureAndTableApart) {
  struct Case {
    const char* chosen;
    const char* picture;
    const char* format;
    const char* table;
  } cases[] = {
      {"/d/g.png", "/d/g.png", "PNG", "/d/g.txt"},
      {"/d/g.BMP", "/d/g.BMP", "BMP", "/d/g.txt"},
      {"/d/g", "/d/g.png", "PNG", "/d/g.txt"},
      // The operator named the table: the picture must not be the same file.
      {"/d/g.txt", "/d/g.png", "PNG", "/d/g.txt"},
      // A point inside the name is not a suffix to replace.
      {"/d/run 1.5 bar", "/d/run 1.5 bar.png", "PNG", "/d/run 1.5 bar.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    const GraphScreen::SaveNames n = GraphScreen::saveNames(QString::fromUtf8(c.chosen));
    EXPECT_EQ(n.picture, QString::fromUtf8(c.picture));
    EXPECT_STREQ(n.format, c.format);
    EXPECT_EQ(n.table, QString::fromUtf8(c.table));
  }
}

TEST_F(GraphScreenTest, FilesThatCannotBeWrittenAreNamedInAMessage) {
  sample(2);
  // No such folder: neither file can be written.
  const QString missing = dir.filePath(QStringLiteral("no/such/folder/g.png"));
  EXPECT_FALSE(screen.saveChart(missing));
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(missing)) << errors[0].toStdString();
  EXPECT_TRUE(errors[0].contains(dir.filePath(QStringLiteral("no/such/folder/g.txt"))));

  // The table's name is taken by a folder: the picture is written, the table is reported.
  errors.clear();
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("t.txt")));
  EXPECT_FALSE(screen.saveChart(dir.filePath(QStringLiteral("t.png"))));
  EXPECT_TRUE(fileBytes(dir.filePath(QStringLiteral("t.png"))).startsWith("\x89PNG"));
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("таблицу"))) << errors[0].toStdString();
  EXPECT_FALSE(errors[0].contains(QStringLiteral("рисунок")));
}

TEST_F(GraphScreenTest, PrintDrawsTheChartOnThePrintersPage) {
  sample(30);
  const QString pdf = dir.filePath(QStringLiteral("print.pdf"));
  int asked = 0;
  GraphScreen::printSetup = [&](QPrinter& printer) {
    ++asked;
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    return true;
  };
  tool("MGPrint")->click();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(errors.isEmpty());
  const QByteArray bytes = fileBytes(pdf);
  EXPECT_TRUE(bytes.startsWith("%PDF"));
  EXPECT_GT(bytes.size(), 2000);

  // Cancelled: nothing printed.
  QFile::remove(pdf);
  GraphScreen::printSetup = [](QPrinter&) { return false; };
  tool("MGPrint")->click();
  EXPECT_FALSE(QFile::exists(pdf));
}

// ---- Against the simulator ----------------------------------------------------------------------------

using GraphOnSimulator = Workstation;

TEST_F(GraphOnSimulator, SamplesTheReferenceAndTheChannels) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  GraphScreen* graph = w.screen<GraphScreen>();
  ASSERT_NE(graph, nullptr);
  graph->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
  ASSERT_TRUE(runUntil([this] { return dev().kestoDataValid != 0; }));
  runFor(1000);
  // Sampled while another screen is shown: kept, and drawn when the graph is shown.
  graph->Timer1Timer();
  EXPECT_EQ(graph->drawnPoints(0), 0);
  w.SelectMode(kModeGraph);
  EXPECT_EQ(graph->drawnPoints(0), 1);
  graph->clearSeries();
  for (int i = 0; i < 3; ++i) {
    graph->Timer1Timer();
    EXPECT_FLOAT_EQ(static_cast<float>(graph->samples().value(0, i)), dev().pRefUnits);
    for (int k = 0; k < 4; ++k)
      EXPECT_FLOAT_EQ(static_cast<float>(graph->samples().value(graphSeries(kGraphCurrent, k), i)),
                      dev().ch[k].current);
    runFor(1000);
  }
  EXPECT_TRUE(graph->channelsVisible());
  ASSERT_EQ(graph->samples().size(), 3u);
  // The transmitters' loop currents (no device described yet, so no pressures from them).
  for (int k = 0; k < 4; ++k) {
    const double current = graph->samples().value(graphSeries(kGraphCurrent, k), 2);
    EXPECT_GE(current, 3.5) << k;
    EXPECT_LE(current, 20.5) << k;
  }
  EXPECT_EQ(graph->drawnPoints(0), 3);
  pressMouse(graph->findChild<PanelButton*>(QStringLiteral("pn_sw_I")));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(graph->drawnPoints(graphSeries(kGraphCurrent, k)), 3) << k;
}

TEST_F(GraphOnSimulator, WithoutAKestoModuleOnlyTheReferenceIsSampled) {
  quarnsim::Scenario s;
  s.kestoFitted = false;
  plugSimulator(s);
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  GraphScreen* graph = w.screen<GraphScreen>();
  graph->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
  w.SelectMode(kModeGraph);
  ASSERT_TRUE(runUntil([graph] { return !graph->channelsVisible(); }));
  graph->Timer1Timer();
  runFor(1000);
  graph->Timer1Timer();
  EXPECT_EQ(graph->drawnPoints(0), 2);
  for (int i = 1; i < kGraphSeries; ++i) {
    EXPECT_FALSE(graph->seriesActive(i)) << i;
    EXPECT_TRUE(std::isnan(graph->samples().value(i, 1))) << i;
  }
  EXPECT_TRUE(graph->findChild<PanelButton*>(QStringLiteral("pn_sw_P"))->isHidden());
}

}  // namespace
