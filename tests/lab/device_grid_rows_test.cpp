// The device grid's columns as texts: what a channel's record shows, and what an edited column makes
// of the record (the parameters screen's copy from its grid to the shared record).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "ChannelRules.h"
#include "DeviceGridRows.h"
#include "PointListRange.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "quarn/cp1251.h"

using namespace quarn::data;

namespace {

std::string field(const char* f) { return quarn::text::cp1251ToUtf8(f); }

// An enabled 0..1.6 MPa channel as the record holds it.
TDevChannel mpaChannel() {
  ChannelParams p;
  p.enabled = true;
  p.name = "КДИ-7";
  p.model = "120";
  p.sn = "4711";
  p.owner = "Лаборатория";
  p.Min = 0.1f;
  p.Max = 1.6f;
  p.unit = "МПа";
  p.tDamp = 0.25f;
  p.fnCode = 1;
  p.errOk = 0.25f;
  p.elTypeSignal = kSignal20to4;
  normalizeChannel(p);
  TDevChannel ch{};
  channelToDev(p, ch);
  return ch;
}

TEST(DeviceGridRows, AColumnShowsTheRecord) {
  const TDevChannel ch = mpaChannel();
  const DeviceGridColumn c = deviceGridColumn(ch);
  const DeviceGridColumn expected = {
      "Да",   "КДИ-7",           "120",  "4711",    "", "Лаборатория", "1.6", "0.1", "МПа",
      "0.25", "Корнеизвлекающ.", "0.25", "20..4 мА"};
  EXPECT_EQ(c, expected);

  // Switched off: "нет" and nothing else, whatever the record still holds.
  TDevChannel off = ch;
  off.enabled = 0;
  const DeviceGridColumn shown = deviceGridColumn(off);
  EXPECT_EQ(shown[kRowEnabled], "нет");
  for (int r = 1; r < kDeviceGridRows; ++r) EXPECT_EQ(shown[static_cast<std::size_t>(r)], "") << r;

  // Codes outside their lists and values beyond what the grid shows give empty cells.
  TDevChannel odd = ch;
  odd.fnCode = 7;
  odd.elTypeSignal = -1;
  odd.Max = 3e30f;
  const DeviceGridColumn oddShown = deviceGridColumn(odd);
  EXPECT_EQ(oddShown[kRowFunction], "");
  EXPECT_EQ(oddShown[kRowSignal], "");
  EXPECT_EQ(oddShown[kRowMax], "");
}

TEST(DeviceGridRows, AColumnGoesBackIntoTheRecordUnchanged) {
  TDevChannel ch = mpaChannel();
  const TDevChannel before = ch;
  deviceGridToChannel(deviceGridColumn(ch), ch);
  // Nothing changes by being shown and read back.
  EXPECT_EQ(ch.Min, before.Min);
  EXPECT_EQ(ch.Max, before.Max);
  EXPECT_EQ(ch.MinKpa, 100.0f);
  EXPECT_EQ(ch.MaxKpa, 1600.0f);
  EXPECT_EQ(ch.toKpaMul, 1000.0f);
  EXPECT_EQ(ch.fnCode, 1);
  EXPECT_EQ(ch.elTypeSignal, kSignal20to4);
  EXPECT_EQ(ch.el_Min, 20.0f);
  EXPECT_EQ(ch.el_Max, 4.0f);
  EXPECT_EQ(field(ch.name), "КДИ-7");
  EXPECT_EQ(field(ch.owner), "Лаборатория");
  EXPECT_EQ(ch.tDamp, 0.25f);  // shown as 0.25, not rounded to one decimal

  // A switched-off channel shows empty cells; copying them back must not empty its record, which
  // comes back when it is switched on again.
  ch.enabled = 0;
  deviceGridToChannel(deviceGridColumn(ch), ch);
  EXPECT_EQ(ch.enabled, 0);
  EXPECT_EQ(field(ch.name), "КДИ-7");
  EXPECT_EQ(ch.Max, before.Max);
  EXPECT_EQ(ch.MaxKpa, 1600.0f);
}

TEST(DeviceGridRows, EditedCellsChangeTheRecordAsTheGridRules) {
  struct Case {
    const char* what;
    int row;
    const char* text;
    std::function<void(const TDevChannel&)> check;
  };
  const Case cases[] = {
      {"comma as the point", kRowMax, "1,6",
       [](const TDevChannel& c) {
         EXPECT_FLOAT_EQ(c.Max, 1.6f);
         EXPECT_FLOAT_EQ(c.MaxKpa, 1600.0f);
       }},
      {"a letter makes the number 0", kRowErrOk, "1.5x3",
       [](const TDevChannel& c) { EXPECT_EQ(c.errOk, 0.0f); }},
      {"the exponent form", kRowMax, "1.5e3", [](const TDevChannel& c) { EXPECT_EQ(c.Max, 1500.0f); }},
      {"a small exponent", kRowMin, "5e-05", [](const TDevChannel& c) { EXPECT_EQ(c.Min, 5e-05f); }},
      {"an empty number is 0", kRowMin, "", [](const TDevChannel& c) { EXPECT_EQ(c.Min, 0.0f); }},
      {"a unit from the list sets its factor", kRowUnit, "кгс/см2",
       [](const TDevChannel& c) {
         EXPECT_EQ(c.toKpaMul, 98.06652f);
         EXPECT_FLOAT_EQ(c.MaxKpa, 1.6f * 98.06652f);
         EXPECT_EQ(field(c.Unit), "кгс/см2");
       }},
      {"the HART spelling finds its unit", kRowUnit, "мм рт. ст.",
       [](const TDevChannel& c) { EXPECT_EQ(c.toKpaMul, 0.13332267f); }},
      {"an unknown unit keeps the factor", kRowUnit, "дюйм",
       [](const TDevChannel& c) { EXPECT_EQ(c.toKpaMul, 1000.0f); }},
      {"a long unit is cut to its field", kRowUnit, "единица измерения давления",
       [](const TDevChannel& c) { EXPECT_EQ(field(c.Unit), "единица измерения д"); }},
      {"a long name is cut to 39 characters", kRowName, "Датчик давления с очень длинным названием типа",
       [](const TDevChannel& c) { EXPECT_EQ(field(c.name), "Датчик давления с очень длинным названи"); }},
      {"linear", kRowFunction, "Линейная", [](const TDevChannel& c) { EXPECT_EQ(c.fnCode, 0); }},
      {"0..5 mA", kRowSignal, "0..5 мА",
       [](const TDevChannel& c) {
         EXPECT_EQ(c.el_Min, 0.0f);
         EXPECT_EQ(c.el_Max, 5.0f);
         EXPECT_EQ(field(c.el_Unit), "мА");
       }},
      {"a voltage keeps its limits", kRowSignal, "напряжение",
       [](const TDevChannel& c) {
         EXPECT_EQ(c.elTypeSignal, kSignalVoltage);
         EXPECT_EQ(c.el_Min, 1.0f);
         EXPECT_EQ(c.el_Max, 9.0f);
         EXPECT_EQ(field(c.el_Unit), "В");
       }},
      {"a signal not in the list is 4..20", kRowSignal, "4-20",
       [](const TDevChannel& c) {
         EXPECT_EQ(c.elTypeSignal, kSignal4to20);
         EXPECT_EQ(c.el_Max, 20.0f);
       }},
      {"switched off: nothing else is copied", kRowEnabled, "нет",
       [](const TDevChannel& c) {
         EXPECT_EQ(c.enabled, 0);
         EXPECT_EQ(c.Max, 1.6f);
         EXPECT_EQ(c.el_Min, 1.0f);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TDevChannel ch = mpaChannel();
    ch.el_Min = 1;  // limits of a voltage the operator confirmed earlier
    ch.el_Max = 9;
    DeviceGridColumn cells = deviceGridColumn(ch);
    cells[static_cast<std::size_t>(c.row)] = c.text;
    deviceGridToChannel(cells, ch);
    c.check(ch);
  }
}

// No value changes by being shown and read back: the grid is read again at every click and before
// every save, so a shown text that rounds would change the record and the project on its own
// (101971.6 mm вод. ст. shown "1.0197e+05" used to read back as 0).
TEST(DeviceGridRows, EveryValueReadsBackAsItWasInEveryUnit) {
  const float values[] = {1e-6f,    5e-05f,    0.000123456f, 0.0123f, 0.2f,       0.25f,     1.6f,
                          9.80665f, 98.0665f,  101.9716f,    600,     1234.567f,  10197.16f, 101971.6f,
                          1e5f,     123456.7f, 1019716.f,    1e7f,    12345678.f, 1e8f,      0};
  for (const PressureUnit& unit : kPressureUnits) {
    for (const float v : values) {
      for (const float sign : {1.0f, -1.0f}) {
        const float x = sign * v;
        SCOPED_TRACE(std::string(unit.text) + " " + std::to_string(x));
        ChannelParams p;
        p.enabled = true;
        p.Min = x;
        p.Max = -x + 1;
        p.errOk = std::fabs(x);
        p.tDamp = std::fabs(x);
        p.unit = unit.text;
        normalizeChannel(p);
        TDevChannel ch{};
        channelToDev(p, ch);
        const TDevChannel before = ch;
        const DeviceGridColumn shown = deviceGridColumn(ch);
        deviceGridToChannel(shown, ch);
        EXPECT_EQ(ch.Min, before.Min) << shown[kRowMin];
        EXPECT_EQ(ch.Max, before.Max) << shown[kRowMax];
        EXPECT_EQ(ch.MinKpa, before.MinKpa);
        EXPECT_EQ(ch.MaxKpa, before.MaxKpa);
        EXPECT_EQ(ch.errOk, before.errOk) << shown[kRowErrOk];
        EXPECT_EQ(ch.tDamp, before.tDamp) << shown[kRowDamping];
        EXPECT_EQ(ch.toKpaMul, before.toKpaMul);
      }
    }
  }
  // Values the short forms hold keep them.
  EXPECT_EQ(gridNumberText(600), "600");
  EXPECT_EQ(gridNumberText(0.2f), "0.2");
  EXPECT_EQ(gridNumberText(101971.6f), "101971.6");
  EXPECT_EQ(gridNumberText(1e8f), "1e+08");
  EXPECT_EQ(dampingText(2), "2.0");
}

TEST(DeviceGridRows, ListPositionsIgnoreSurroundingBlanks) {
  EXPECT_EQ(listPosition(" Корнеизвлекающ. ", kTransferFunctionNames, kTransferFunctionCount), 1);
  EXPECT_EQ(listPosition("напряжение", kSignalTypeNames, kSignalTypeCount), 4);
  EXPECT_EQ(listPosition("", kSignalTypeNames, kSignalTypeCount), -1);
  EXPECT_EQ(listPosition("4..20", kSignalTypeNames, kSignalTypeCount), -1);
}

}  // namespace
