// The reference's upper limit for the uncertainty (refUpper), the rule both hosts apply on every
// measurement: the external transducer's range, the catalogue's module in use, else the calibrator's
// reported working range with a note told once; never 0.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "CalibratorCatalogue.h"
#include "ReferenceLimit.h"
#include "test_paths.h"

namespace {

using namespace quarn::data;

std::unique_ptr<TDev> calibratorRecord() {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  dev->calInfo.pLimitMin = -95;
  dev->calInfo.pLimitMax = 2500;
  dev->settings.pressType = 1;
  return dev;
}

TEST(ReferenceLimit, FromTheExternalTransducerTheCatalogueOrTheCalibratorsReportedRange) {
  const std::string dir = quarn::test::path("QUARN_CATALOGUE_DIR") + "/";
  const Result<TModelRec> qc2500 = readModelCatalogue(dir + kQuarnCatalogue, "QC-2500");
  const Result<TModelRec> qc60m = readModelCatalogue(dir + kQuarnCatalogue, "QC-60M");  // module 1 only
  ASSERT_TRUE(qc2500.ok() && qc60m.ok());
  TModelRec broken = *qc2500;
  broken.sens[0].G[0] = NAN;
  const std::string notListed = "в каталоге Models_Quarn.xml нет модели «QC-9»";
  const struct Case {
    const char* what;
    const TModelRec* model;
    const char* whyNoModel;
    uint32_t sensorState;
    int32_t pressType;
    float pLimitMin, pLimitMax;
    float kPa;  // NaN: unknown
    ReferenceLimitSource source;
    const char* note;  // a part of the note; "" for none
  } cases[] = {
      {"module 1, gauge", &*qc2500, "", 0, 1, -95, 2500, 2500, ReferenceLimitSource::Catalogue, ""},
      {"module 2 near zero", &*qc2500, "", 1, 1, -95, 2500, 250, ReferenceLimitSource::Catalogue, ""},
      {"module 2, absolute", &*qc2500, "", 1, 0, -95, 2500, 350, ReferenceLimitSource::Catalogue, ""},
      {"gauge-vacuum uses the gauge limits", &*qc2500, "", 0, 2, -95, 2500, 2500,
       ReferenceLimitSource::Catalogue, ""},
      {"model not in the catalogue", nullptr, notListed.c_str(), 1, 1, -95, 2500, 2500,
       ReferenceLimitSource::ReportedLimit, "QC-9"},
      {"no catalogue read yet", nullptr, "", 0, 1, -95, 2500, 2500, ReferenceLimitSource::ReportedLimit, ""},
      {"module 2 not in the catalogue", &*qc60m, "", 1, 1, -100, 60000, 60000,
       ReferenceLimitSource::ReportedLimit, "модуля 2"},
      {"no absolute range of module 1", &*qc60m, "", 0, 0, -100, 60000, 60000,
       ReferenceLimitSource::ReportedLimit, "абсолютного диапазона модуля 1"},
      {"a limit that is not a number", &broken, "", 0, 1, -95, 2500, 2500,
       ReferenceLimitSource::ReportedLimit, "модуля 1"},
      {"a vacuum calibrator", nullptr, notListed.c_str(), 0, 2, -100, 0, 100,
       ReferenceLimitSource::ReportedLimit, "100 кПа"},
      {"no range reported either", nullptr, notListed.c_str(), 0, 1, 0, 0, NAN, ReferenceLimitSource::Unknown,
       "не рассчитывается"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto dev = calibratorRecord();
    dev->sensorState = c.sensorState;
    dev->settings.pressType = c.pressType;
    dev->calInfo.pLimitMin = c.pLimitMin;
    dev->calInfo.pLimitMax = c.pLimitMax;
    const ReferenceLimit r = referenceUpperLimit(*dev, c.model, c.whyNoModel);
    if (std::isnan(c.kPa))
      EXPECT_TRUE(std::isnan(r.kPa)) << r.kPa;
    else
      EXPECT_FLOAT_EQ(r.kPa, c.kPa);
    EXPECT_NE(r.kPa, 0) << "the reference's share never drops out";
    EXPECT_EQ(r.source, c.source);
    if (*c.note) {
      EXPECT_NE(r.note.find(c.note), std::string::npos) << r.note;
    } else {
      EXPECT_EQ(r.note, "");
    }
  }
}

TEST(ReferenceLimit, TheExternalTransducerGivesItsRangeOnceItHasAnswered) {
  auto dev = calibratorRecord();
  dev->settings.refSource = 3;
  dev->dorv.rangeLow = -100;
  dev->dorv.rangeHigh = 1000;
  // Selected but not identified yet: nothing is measured against it, nothing to tell.
  ReferenceLimit r = referenceUpperLimit(*dev, nullptr, "в каталоге нет модели");
  EXPECT_TRUE(std::isnan(r.kPa));
  EXPECT_EQ(r.note, "");
  dev->dorv.present = 1;
  dev->dorv.pressType = 1;
  r = referenceUpperLimit(*dev, nullptr, "в каталоге нет модели");
  EXPECT_FLOAT_EQ(r.kPa, 1000);
  EXPECT_EQ(r.source, ReferenceLimitSource::ExternalTransducer);
  EXPECT_EQ(r.note, "") << "the calibrator's catalogue does not matter for the transducer";
  dev->dorv.pressType = 3;  // measures from its lower limit
  EXPECT_FLOAT_EQ(referenceUpperLimit(*dev, nullptr, "").kPa, 1100);
  dev->dorv.rangeHigh = dev->dorv.rangeLow;
  r = referenceUpperLimit(*dev, nullptr, "");
  EXPECT_TRUE(std::isnan(r.kPa));
  EXPECT_NE(r.note, "");
}

TEST(ReferenceLimit, AppliedToTheRecordWithEachReasonToldOnce) {
  auto dev = calibratorRecord();
  std::set<std::string> told;
  const std::string why = "в каталоге Models_Quarn.xml нет модели «QC-9»";
  const std::string first = applyReferenceLimit(*dev, nullptr, why, told);
  EXPECT_FLOAT_EQ(dev->refUpper, 2500);
  EXPECT_NE(first.find("QC-9"), std::string::npos) << first;
  EXPECT_NE(first.find("2500 кПа"), std::string::npos) << first;
  dev->refUpper = 0;
  EXPECT_EQ(applyReferenceLimit(*dev, nullptr, why, told), "") << "told already";
  EXPECT_FLOAT_EQ(dev->refUpper, 2500) << "written every time";
  const Result<TModelRec> qc60m =
      readModelCatalogue(quarn::test::path("QUARN_CATALOGUE_DIR") + "/Models_Quarn.xml", "QC-60M");
  ASSERT_TRUE(qc60m.ok());
  dev->sensorState = 1;
  EXPECT_NE(applyReferenceLimit(*dev, &*qc60m, "", told), "") << "another reason is told";
  dev->sensorState = 0;
  EXPECT_EQ(applyReferenceLimit(*dev, &*qc60m, "", told), "");
  EXPECT_FLOAT_EQ(dev->refUpper, 60000);
}

}  // namespace
