// The device grid's columns as texts: what a channel's record shows, and what an edited column makes
// of the record (the parameters screen's copy from its grid to the shared record).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "ChannelRules.h"
#include "DeviceGridRows.h"
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
      "Да",  "КДИ-7",           "120",  "4711",    "", "Лаборатория", "1.6", "0.1", "МПа",
      "0.2", "Корнеизвлекающ.", "0.25", "20..4 мА"};
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
  // The grid shows Min/Max with 5 digits and the damping with one decimal, which these values survive.
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
  EXPECT_FLOAT_EQ(ch.tDamp, 0.2f);  // shown as 0.2: what the operator sees is what is kept

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
      {"a letter makes the number 0", kRowErrOk, "1.5e3",
       [](const TDevChannel& c) { EXPECT_EQ(c.errOk, 0.0f); }},
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

TEST(DeviceGridRows, ListPositionsIgnoreSurroundingBlanks) {
  EXPECT_EQ(listPosition(" Корнеизвлекающ. ", kTransferFunctionNames, kTransferFunctionCount), 1);
  EXPECT_EQ(listPosition("напряжение", kSignalTypeNames, kSignalTypeCount), 4);
  EXPECT_EQ(listPosition("", kSignalTypeNames, kSignalTypeCount), -1);
  EXPECT_EQ(listPosition("4..20", kSignalTypeNames, kSignalTypeCount), -1);
}

}  // namespace
