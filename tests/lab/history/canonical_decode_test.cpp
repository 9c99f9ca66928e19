// The canonical content read back into the records it was written from (what a lab server's copy of
// a history is shown through): every value of a run with hand points, missing numbers, a Dorv
// reference, relays and texts with line feeds comes back in both hash formats, an adjustment and a
// cancellation too; and a text the program would not have written is refused, not read as
// something else.
#include "canonical_decode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "canonical.h"
#include "history_fixture.h"

namespace quarn::history::test {
namespace {

// A run with every kind of value the emitter writes.
RunRecord awkwardRun() {
  RunRecord r = sampleRun("D7", kMorning, 3, 9);
  r.kind = RunKind::Calibration;
  r.tag = RunTag::AsLeft;
  r.handInput = true;
  r.reference = {ReferenceKind::Dorv, "ДОРВ-7", 0, NAN};
  r.protocol.referenceList = "строка 1\nстрока 2 t3:abc\n";  // looks like canonical lines inside
  r.protocol.fields.push_back({"amp_EMPTY", ""});
  r.devices[1].points[2].targetPrc = NAN;  // entered by hand
  r.devices[1].points[4].uncertainty = NAN;
  r.devices[2].verdict = Verdict::Unsuitable;
  r.devices[2].transferFunction = 1;
  r.devices[0].name = std::string(300, 'x');  // longer than the emitter's short-text buffer
  r.relays.push_back({1, 1, true, 250.5f, 3.25f, 1, 251.0f, 247.75f});
  r.relays.push_back({2, 2, false, NAN, NAN, 0, NAN, NAN});
  normalizeRecord(r);
  return r;
}

EntryHeader header(const char* kind, int format) {
  EntryHeader h;
  h.seq = 17;
  h.kind = kind;
  h.recordedAtMs = kMorning + 5;
  h.workstation = "стенд-2";
  h.note = "причина\nв две строки";
  h.operatorName = format >= 2 ? "Петров П. П." : "";
  h.hashFormat = format;
  return h;
}

TEST(CanonicalDecode, EveryValueComesBackInBothFormats) {
  const RunRecord run = awkwardRun();
  for (int format : {kHashFormat1, kHashFormat}) {
    SCOPED_TRACE(format);
    EntryHeader h = header("correction", format);
    h.refersTo = 4;
    const Result<DecodedEntry> d = decodeCanonicalEntry(canonicalEntry(h, &run, nullptr));
    ASSERT_TRUE(d.ok()) << d.error().message;
    EXPECT_EQ(d->header.seq, 17);
    EXPECT_EQ(d->header.kind, "correction");
    EXPECT_EQ(d->header.refersTo, std::optional<int64_t>(4));
    EXPECT_EQ(d->header.recordedAtMs, h.recordedAtMs);
    EXPECT_EQ(d->header.note, h.note);
    EXPECT_EQ(d->header.operatorName, h.operatorName);
    EXPECT_EQ(d->header.hashFormat, format);
    ASSERT_TRUE(d->run.has_value());
    EXPECT_FALSE(d->adjustment.has_value());
    expectSameRecord(*d->run, run);
    EXPECT_EQ(d->run->protocol.fields, run.protocol.fields);
    ASSERT_EQ(d->run->relays.size(), 2u);
    EXPECT_EQ(d->run->relays[0].state, 1u);
    expectSameFloat(d->run->relays[0].pOffKpa, 247.75f, "pOff");
    expectSameFloat(d->run->relays[1].setpointKpa, NAN, "setpoint");
  }
}

TEST(CanonicalDecode, AdjustmentsAndCancellationsComeBack) {
  Adjustment a;
  a.atMs = kMorning + kHour;
  a.utcOffsetMin = kMoscow;
  a.workstation = "стенд-2";
  a.channel = 3;
  a.serial = "D7-3";
  a.deviceName = "Датчик";
  a.kind = AdjustmentKind::SensorTrim;
  a.note = "0 кПа: 0.012\n600 кПа: 599.97";
  const Result<DecodedEntry> adj = decodeCanonicalEntry(canonicalEntry(header("adjustment", 2), nullptr, &a));
  ASSERT_TRUE(adj.ok()) << adj.error().message;
  ASSERT_TRUE(adj->adjustment.has_value());
  EXPECT_FALSE(adj->run.has_value());
  EXPECT_EQ(adj->adjustment->atMs, a.atMs);
  EXPECT_EQ(adj->adjustment->channel, 3);
  EXPECT_EQ(adj->adjustment->serial, a.serial);
  EXPECT_EQ(adj->adjustment->kind, AdjustmentKind::SensorTrim);
  EXPECT_EQ(adj->adjustment->note, a.note);

  EntryHeader c = header("cancellation", 2);
  c.refersTo = 3;
  const Result<DecodedEntry> cancel = decodeCanonicalEntry(canonicalEntry(c, nullptr, nullptr));
  ASSERT_TRUE(cancel.ok()) << cancel.error().message;
  EXPECT_EQ(cancel->header.kind, "cancellation");
  EXPECT_EQ(cancel->header.note, c.note);
  EXPECT_FALSE(cancel->run || cancel->adjustment);
}

// Texts the emitter would never write: each is refused, whatever a lenient reading would make of it.
TEST(CanonicalDecode, ATextTheProgramWouldNotHaveWrittenIsRefused) {
  const RunRecord run = sampleRun("R", kMorning, 1, 3);
  const std::string good = canonicalEntry(header("run", 2), &run, nullptr);
  const auto replaced = [&good](const std::string& from, const std::string& to) {
    std::string s = good;
    const std::size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
  };
  // 0.1 as a double is no single-precision value: read as a float it would quietly become another.
  char tenth[17];
  std::snprintf(tenth, sizeof tenth, "%016llx", 0x3fb999999999999aULL);
  const std::string bandLine = "run.band_prc r";
  const std::size_t band = good.find(bandLine);
  ASSERT_NE(band, std::string::npos);
  std::string notAFloat = good;
  notAFloat.replace(band + bandLine.size(), 16, tenth);
  const std::size_t method = good.find("run.method ");
  const std::size_t pointSet = good.find("run.point_set ");
  ASSERT_TRUE(method != std::string::npos && pointSet != std::string::npos);
  // Two lines swapped: the same values in another order.
  const std::string methodLine = good.substr(method, pointSet - method);
  const std::size_t afterPointSet = good.find('\n', pointSet) + 1;
  std::string swapped = good;
  swapped.erase(method, methodLine.size());
  swapped.insert(afterPointSet - methodLine.size(), methodLine);

  std::string withoutOperator = good;
  const std::size_t op = good.find("entry.operator t");
  ASSERT_NE(op, std::string::npos);
  withoutOperator.erase(op, good.find('\n', op) + 1 - op);

  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"a double that is no float", notAFloat},
      {"two lines swapped", swapped},
      {"a text's length one short", replaced("entry.workstation t12:", "entry.workstation t11:")},
      {"a text running past the end", good.substr(0, good.size() - 3)},
      {"an unknown kind of run", replaced("run.kind t12:verification", "run.kind t12:verificatioX")},
      {"an unknown verdict", replaced("channel[1].verdict t8:suitable", "channel[1].verdict t8:unsuited")},
      {"a count that does not match", replaced("run.devices i1", "run.devices i2")},
      {"a line added at the end", good + "run.extra i1\n"},
      {"format 2 without its operator", withoutOperator},
      {"an integer with a sign it never has", replaced("run.point_set i1", "run.point_set i+1")},
      {"a run entry without its run", canonicalEntry(header("run", 2), nullptr, nullptr)},
      {"an adjustment entry holding a run", canonicalEntry(header("adjustment", 2), &run, nullptr)},
      {"an unknown entry kind", canonicalEntry(header("deletion", 2), nullptr, nullptr)},
      {"nothing at all", ""},
  };
  ASSERT_TRUE(decodeCanonicalEntry(good).ok());
  for (const Case& c : cases) {
    const Result<DecodedEntry> d = decodeCanonicalEntry(c.text);
    EXPECT_FALSE(d.ok()) << c.what;
    if (!d.ok()) {
      EXPECT_EQ(d.error().code, ErrorCode::Damaged) << c.what;
      EXPECT_NE(d.error().message.find("не читается"), std::string::npos)
          << c.what << ": " << d.error().message;
    }
  }
}

}  // namespace
}  // namespace quarn::history::test
