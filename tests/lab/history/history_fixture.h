// Shared pieces of the history tests: a folder per test (and the sample run of sample_run.h), a
// field-by-field comparison of two records, and direct access to the database file with the sqlite3
// library (as an editor outside the program would use it).
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../temp_folder_test.h"
#include "HistoryStore.h"
#include "sample_run.h"

namespace quarn::history::test {

// A list filter (the fields in their order).
inline ListFilter filter(std::string serial, std::optional<int64_t> since = {}, std::string deviceName = {},
                         bool includeCancelled = false, int limit = 0) {
  ListFilter f;
  f.serial = std::move(serial);
  f.since = since;
  f.deviceName = std::move(deviceName);
  f.includeCancelled = includeCancelled;
  f.limit = limit;
  return f;
}

// Who makes the corrections and cancellations of the tests.
inline const Actor kSupervisor{"стенд-2", "Петров П. П."};

inline OpenOptions readOnlyOptions() {
  OpenOptions o;
  o.readOnly = true;
  return o;
}

// Equal floats, or both missing.
inline void expectSameFloat(float a, float b, const char* what) {
  if (std::isnan(a) || std::isnan(b))
    EXPECT_TRUE(std::isnan(a) && std::isnan(b)) << what << ": " << a << " vs " << b;
  else
    EXPECT_EQ(a, b) << what;
}

inline void expectSameRecord(const RunRecord& a, const RunRecord& b) {
  EXPECT_EQ(a.startedAtMs, b.startedAtMs);
  EXPECT_EQ(a.finishedAtMs, b.finishedAtMs);
  EXPECT_EQ(a.utcOffsetMin, b.utcOffsetMin);
  EXPECT_EQ(a.workstation, b.workstation);
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.tag, b.tag);
  EXPECT_EQ(a.calibrator.model, b.calibrator.model);
  EXPECT_EQ(a.calibrator.serial, b.calibrator.serial);
  EXPECT_EQ(a.calibrator.version, b.calibrator.version);
  EXPECT_EQ(a.reference.kind, b.reference.kind);
  EXPECT_EQ(a.reference.serial, b.reference.serial);
  EXPECT_EQ(a.reference.module, b.reference.module);
  expectSameFloat(a.reference.upperKpa, b.reference.upperKpa, "reference.upperKpa");
  EXPECT_EQ(a.conditions.temperature, b.conditions.temperature);
  EXPECT_EQ(a.conditions.humidity, b.conditions.humidity);
  EXPECT_EQ(a.conditions.pressure, b.conditions.pressure);
  EXPECT_EQ(a.method, b.method);
  EXPECT_EQ(a.pointSet, b.pointSet);
  EXPECT_EQ(a.pointCount, b.pointCount);
  EXPECT_EQ(a.handInput, b.handInput);
  EXPECT_EQ(a.readiness.holdS, b.readiness.holdS);
  expectSameFloat(a.readiness.bandPrc, b.readiness.bandPrc, "readiness.bandPrc");
  EXPECT_EQ(a.readiness.hardMode, b.readiness.hardMode);
  EXPECT_EQ(a.protocol.number, b.protocol.number);
  EXPECT_EQ(a.protocol.date, b.protocol.date);
  EXPECT_EQ(a.protocol.periodic, b.protocol.periodic);
  EXPECT_EQ(a.protocol.decimals, b.protocol.decimals);
  EXPECT_EQ(a.protocol.displayUnit, b.protocol.displayUnit);
  expectSameFloat(a.protocol.unitFactor, b.protocol.unitFactor, "protocol.unitFactor");
  EXPECT_EQ(a.protocol.referenceList, b.protocol.referenceList);
  EXPECT_EQ(a.protocol.fields, b.protocol.fields);
  ASSERT_EQ(a.devices.size(), b.devices.size());
  for (std::size_t i = 0; i < a.devices.size(); ++i) {
    const DeviceResult &x = a.devices[i], &y = b.devices[i];
    SCOPED_TRACE("device " + std::to_string(x.channel));
    EXPECT_EQ(x.channel, y.channel);
    EXPECT_EQ(x.name, y.name);
    EXPECT_EQ(x.model, y.model);
    EXPECT_EQ(x.serial, y.serial);
    EXPECT_EQ(x.inventoryNo, y.inventoryNo);
    EXPECT_EQ(x.owner, y.owner);
    expectSameFloat(x.rangeMin, y.rangeMin, "rangeMin");
    expectSameFloat(x.rangeMax, y.rangeMax, "rangeMax");
    EXPECT_EQ(x.units, y.units);
    expectSameFloat(x.minKpa, y.minKpa, "minKpa");
    expectSameFloat(x.maxKpa, y.maxKpa, "maxKpa");
    expectSameFloat(x.toKpaMul, y.toKpaMul, "toKpaMul");
    expectSameFloat(x.signalMin, y.signalMin, "signalMin");
    expectSameFloat(x.signalMax, y.signalMax, "signalMax");
    EXPECT_EQ(x.signalUnits, y.signalUnits);
    EXPECT_EQ(x.signalType, y.signalType);
    EXPECT_EQ(x.transferFunction, y.transferFunction);
    expectSameFloat(x.errOk, y.errOk, "errOk");
    expectSameFloat(x.vrCoeff, y.vrCoeff, "vrCoeff");
    EXPECT_EQ(x.method, y.method);
    EXPECT_EQ(x.verdict, y.verdict);
    ASSERT_EQ(x.points.size(), y.points.size());
    for (std::size_t k = 0; k < x.points.size(); ++k) {
      const PointResult &p = x.points[k], &q = y.points[k];
      SCOPED_TRACE("point " + std::to_string(p.index));
      EXPECT_EQ(p.index, q.index);
      expectSameFloat(p.targetPrc, q.targetPrc, "targetPrc");
      expectSameFloat(p.pRef, q.pRef, "pRef");
      expectSameFloat(p.current, q.current, "current");
      expectSameFloat(p.iExpected, q.iExpected, "iExpected");
      expectSameFloat(p.pFromI, q.pFromI, "pFromI");
      expectSameFloat(p.pFromIKPa, q.pFromIKPa, "pFromIKPa");
      expectSameFloat(p.reducedError, q.reducedError, "reducedError");
      expectSameFloat(p.uncertainty, q.uncertainty, "uncertainty");
    }
  }
  ASSERT_EQ(a.relays.size(), b.relays.size());
  for (std::size_t i = 0; i < a.relays.size(); ++i) {
    const RelayResult &x = a.relays[i], &y = b.relays[i];
    SCOPED_TRACE("relay " + std::to_string(x.channel) + "." + std::to_string(x.relay));
    EXPECT_EQ(x.channel, y.channel);
    EXPECT_EQ(x.relay, y.relay);
    EXPECT_EQ(x.selected, y.selected);
    expectSameFloat(x.setpointKpa, y.setpointKpa, "setpointKpa");
    expectSameFloat(x.hysteresisKpa, y.hysteresisKpa, "hysteresisKpa");
    EXPECT_EQ(x.state, y.state);
    expectSameFloat(x.pOnKpa, y.pOnKpa, "pOnKpa");
    expectSameFloat(x.pOffKpa, y.pOffKpa, "pOffKpa");
  }
}

// The database file opened with the sqlite3 library itself, as an outside editor would.
class RawDb {
 public:
  explicit RawDb(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~RawDb() { sqlite3_close(db_); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;
  // Runs SQL; returns SQLite's message, empty on success.
  std::string exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    std::string out = rc == SQLITE_OK ? "" : (message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return out;
  }
  int64_t number(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    int64_t v = -1;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
      v = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return v;
  }
  // An editor who takes the guards away, makes the change and puts them back as they were, so
  // nothing but the change itself gives him away. Returns SQLite's message, empty on success.
  std::string editCoveringTracks(const std::string& sql) {
    std::vector<std::string> guards;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db_, "SELECT sql FROM sqlite_master WHERE type = 'trigger'", -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
      guards.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    dropGuards();
    std::string failed = exec(sql);
    for (const std::string& g : guards)
      if (const std::string e = exec(g); failed.empty()) failed = e;
    return failed;
  }
  // The editor takes away the database's own guard against UPDATE and DELETE first.
  void dropGuards() {
    for (const char* t : {"entry", "run", "run_field", "run_channel", "run_point", "run_relay", "adjustment"})
      for (const char* op : {"update", "delete"})
        exec(std::string("DROP TRIGGER IF EXISTS ") + t + "_no_" + op);
  }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class HistoryTest : public TempFolderTest {
 protected:
  HistoryTest() : TempFolderTest("quarn_history_") {}
  std::unique_ptr<HistoryStore> openStore(const std::string& file, OpenOptions options = {}) {
    Result<std::unique_ptr<HistoryStore>> r = HistoryStore::open(path(file.c_str()), std::move(options));
    EXPECT_TRUE(r.ok()) << r.error().message;
    return r.ok() ? std::move(r.value()) : nullptr;
  }
  int64_t add(HistoryStore& store, const RunRecord& run) {
    const Result<int64_t> id = store.addRun(run);
    EXPECT_TRUE(id.ok()) << id.error().message;
    return id.ok() ? *id : 0;
  }
};

}  // namespace quarn::history::test
