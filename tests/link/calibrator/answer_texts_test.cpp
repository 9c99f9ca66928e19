// Conversion of the calibrator's settings, identification and Dorv state texts.
#include <cmath>
#include <cstring>
#include <string>

#include "calibrator/calibrator.h"
#include "quarn_core.h"
#include "virtual_clock.h"

namespace {

using quarn::test::QuarnTest;

class AnswerTexts : public QuarnTest {
 protected:
  void useModel(bool quarn) {
    isQuarn = quarn ? 1 : 0;
    isBrenk = quarn ? 0 : 1;
  }
  void TearDown() override {
    isQuarn = isBrenk = 0;
    QuarnTest::TearDown();
  }
};

TEST_F(AnswerTexts, QuarnSettingsReadAndWrittenBack) {
  useModel(true);
  TSettings s = Dev.settings;
  ASSERT_EQ(settings_Str2Bin(&s, "0;0;1;1;3;5;0000A040;"), 0);
  EXPECT_EQ(s.refSource, 0);
  EXPECT_EQ(s.subRange, 0);
  EXPECT_EQ(s.pressType, 1);
  EXPECT_EQ(s.units, 1);
  EXPECT_FLOAT_EQ(s.unitFactor, 0.001f);
  EXPECT_FLOAT_EQ(s.unitFactorInv, 1000.0f);
  EXPECT_EQ(s.decimals, 3);
  EXPECT_EQ(s.averaging, 5);
  EXPECT_FLOAT_EQ(s.readyBand1, 5.0f);

  char text[SETTINGS_TEXT_MAX];
  ASSERT_EQ(settings_Bin2Str(text, &s), 0);
  EXPECT_STREQ(text, "0;0;1;1;3;5;0000A040;0000A040");  // the corridor twice
}

TEST_F(AnswerTexts, BrenkSettingsCarrySetpointAndModeIntoTheRecord) {
  useModel(false);
  TSettings s = Dev.settings;
  // 250 kPa stored setpoint, corridors 0.05 % and 0.1 %; units 0 (kPa), 2 decimals.
  ASSERT_EQ(settings_Str2Bin(&s, "1;0;2;1;7;1;00007A43;CDCC4C3D;CDCCCC3D"), 0);
  EXPECT_EQ(s.pressType, 1);
  EXPECT_EQ(s.decimals, 2);
  EXPECT_EQ(s.autoRange, 1);
  EXPECT_EQ(s.averaging, 7);
  EXPECT_EQ(s.regMode, 1);
  EXPECT_FLOAT_EQ(s.pTargetStored, 250.0f);
  EXPECT_FLOAT_EQ(s.readyBand1, 0.05f);
  EXPECT_FLOAT_EQ(s.readyBand2, 0.1f);
  EXPECT_FLOAT_EQ(Dev.pTarget, 250.0f);
  EXPECT_STREQ(Dev.pTargetText, "250.00");

  Dev.pTarget = 100.0f;  // the setpoint in force is what the device stores
  char text[SETTINGS_TEXT_MAX];
  ASSERT_EQ(settings_Bin2Str(text, &s), 0);
  EXPECT_STREQ(text, "1;0;2;1;7;1;0000C842;CDCC4C3D;CDCCCC3D");
  EXPECT_FLOAT_EQ(s.pTargetStored, 100.0f);
}

TEST_F(AnswerTexts, BadSettingsTextsLeaveTheRecordAlone) {
  useModel(true);
  TSettings s = Dev.settings;
  s.units = 0;
  s.unitFactor = 1.0f;
  const TSettings before = s;
  const char* bad[] = {
      "0;0;1;1;3;5;0000A040",                        // 20 characters
      "0;0;1;1;3;5;0000A040;0000A040;0000A040;00;",  // 42 characters
      "0;0;1;1;3;x;0000A040;",                       // a number that is none
      "0;0;1;1;3;5;0000a040;",                       // lower-case hexadecimal
      "0;0;1;1;3;5;0000A0;;;",                       // short hexadecimal field
      "0;0;1;1;3;5;;;;;;;;;;",                       // fields missing
  };
  for (const char* text : bad) EXPECT_EQ(settings_Str2Bin(&s, text), -2) << text;
  EXPECT_EQ(settings_Str2Bin(nullptr, "0;0;1;1;3;5;0000A040;"), -1);
  EXPECT_EQ(settings_Str2Bin(&s, nullptr), -1);
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);

  // Units outside the table keep the previous factors; so does a negative index.
  for (const char* text : {"0;0;1;9;3;5;0000A040;", "0;0;1;-1;3;5;0000A040;"}) {
    ASSERT_EQ(settings_Str2Bin(&s, text), 0) << text;
    EXPECT_FLOAT_EQ(s.unitFactor, 1.0f);
  }
}

TEST_F(AnswerTexts, UnitTableFactors) {
  useModel(true);
  // kPa to kPa, MPa, bar, kgf/cm2 (1 / 98.0665), kgf/m2, mm H2O, mm Hg, psi, each written with more
  // digits than a 32-bit float holds: a factor a few millionths off fails here.
  const double factors[] = {1.0, 0.001, 0.01, 0.01019716, 101.97160, 101.97160, 7.5005999, 0.14503799};
  for (int u = 0; u < 8; ++u) {
    TSettings s = Dev.settings;
    const std::string text = "0;0;1;" + std::to_string(u) + ";3;5;0000A040;";
    ASSERT_EQ(settings_Str2Bin(&s, text.c_str()), 0);
    EXPECT_FLOAT_EQ(s.unitFactor, static_cast<float>(factors[u])) << u;
    EXPECT_FLOAT_EQ(s.unitFactorInv, static_cast<float>(1.0 / factors[u])) << u;
  }
}

TEST_F(AnswerTexts, IdentificationTexts) {
  useModel(true);
  Dev.settings.unitFactor = 0.01f;
  TCalInfo info = Dev.calInfo;
  // -95 kPa .. 2500 kPa
  ASSERT_EQ(info_sn_Str2Bin(&info, "Q1-004711;15.03.2024;0000BEC2;00401C45;"), 0);
  EXPECT_STREQ(info.serial, "Q1-004711");
  EXPECT_STREQ(info.madeDate, "15.03.2024");
  EXPECT_FLOAT_EQ(info.pLimitMin, -95.0f);
  EXPECT_FLOAT_EQ(info.pLimitMax, 2500.0f);
  EXPECT_FLOAT_EQ(info.span, 2595.0f);
  EXPECT_FLOAT_EQ(info.spanUnits, 25.95f);

  // Rejections keep what was converted before them.
  TCalInfo r = Dev.calInfo;
  r.pLimitMin = 1;
  EXPECT_EQ(info_sn_Str2Bin(&r, "123;01.02.2020;00000000"), -6);
  EXPECT_STREQ(r.serial, "123");
  EXPECT_STREQ(r.madeDate, "01.02.2020");
  EXPECT_FLOAT_EQ(r.pLimitMin, 0.0f);
  EXPECT_FLOAT_EQ(r.pLimitMax, 6000.0f);
  EXPECT_EQ(info_sn_Str2Bin(&r, "123456789"), -2);
  EXPECT_EQ(info_sn_Str2Bin(&r, "1234567890"), -4);
  EXPECT_EQ(info_sn_Str2Bin(&r, "1;2;00000G00;00000000;"), -5);
  EXPECT_EQ(info_sn_Str2Bin(&r, "1;2;00000000;0000C07F;"), -6) << "a NaN working limit";
  EXPECT_EQ(info_sn_Str2Bin(&r, "1;2;00000000;;"), -6) << "an empty field";
  EXPECT_EQ(info_sn_Str2Bin(nullptr, "x"), -1);

  // Over-long text fields are cut to the record's fields.
  const std::string longSerial(100, 'S');
  ASSERT_EQ(info_sn_Str2Bin(&r, (longSerial + ";d;00000000;0000C842;").c_str()), 0);
  EXPECT_EQ(std::string(r.serial), std::string(39, 'S'));
}

TEST_F(AnswerTexts, VersionTextsOfBothModels) {
  TCalInfo info = Dev.calInfo;
  useModel(true);
  ASSERT_EQ(info_ver_Str2Bin(&info, "2;15;QC-2500-VERY-LONG-NAME;1;3;"), 0);
  EXPECT_EQ(info.version, 215);
  EXPECT_STREQ(info.modelName, "QC-2500-VER");
  EXPECT_EQ(info.module1Class, 1);
  EXPECT_EQ(info.module2Class, 3);
  EXPECT_EQ(info_ver_Str2Bin(&info, "2;15;"), -2);
  // Only a short text is refused: a version that does not read (or does not fit) keeps the previous
  // one, and the rest of the answer is still taken.
  struct Case {
    const char* text;
    const char* model;
    uint8_t class1, class2;
  } quarnCases[] = {
      {"V2;15;QC;0;2;", "QC", 0, 2},
      {"2;1x;QD;1;1;", "QD", 1, 1},
      {"x;y;QE;2;3;", "QE", 2, 3},
      {"2147483647;99;QF;3;0;", "QF", 3, 0},
  };
  for (const Case& c : quarnCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(info_ver_Str2Bin(&info, c.text), 0);
    EXPECT_EQ(info.version, 215);
    EXPECT_STREQ(info.modelName, c.model);
    EXPECT_EQ(info.module1Class, c.class1);
    EXPECT_EQ(info.module2Class, c.class2);
  }

  useModel(false);
  ASSERT_EQ(info_ver_Str2Bin(&info, "3;7;250;"), 0);
  EXPECT_EQ(info.version, 307);
  EXPECT_EQ(info.modelNo, 250);
  EXPECT_EQ(info_ver_Str2Bin(&info, "3;7;abc;"), -6);
  EXPECT_EQ(info_ver_Str2Bin(&info, "V3;7;251;"), -6) << "the Brenk's three numbers must read";
  EXPECT_EQ(info.modelNo, 250);
  EXPECT_EQ(info.version, 307);
}

TEST_F(AnswerTexts, DorvStateText) {
  Dev.onUpdate = countUpdates;
  TDorv d{};
  d.serialNo = 99;
  ASSERT_EQ(ExtDorv_info_Str2Bin(&d, "1;2;-100.5;2500000.0;52311;"), 0);
  EXPECT_EQ(d.present, 1u);
  EXPECT_EQ(d.pressType, 2);
  EXPECT_FLOAT_EQ(d.rangeLow, -100.5f);
  EXPECT_FLOAT_EQ(d.rangeHigh, 2500.0f);  // above a million: given in Pa
  EXPECT_EQ(d.serialNo, 52311u);
  EXPECT_EQ(Dev.settings.pressType, 2);
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(Dev.event, 0u);

  // Fields that do not read keep their values; five characters are too few.
  ASSERT_EQ(ExtDorv_info_Str2Bin(&d, "0;x;nan;;;"), 0);
  EXPECT_EQ(d.present, 0u);
  EXPECT_EQ(d.pressType, 2);
  EXPECT_FLOAT_EQ(d.rangeLow, -100.5f);
  const TDorv before = d;
  EXPECT_EQ(ExtDorv_info_Str2Bin(&d, "1;1;0"), -2);
  EXPECT_EQ(std::memcmp(&before, &d, sizeof d), 0);
  EXPECT_EQ(ExtDorv_info_Str2Bin(nullptr, "1;1;0;100;"), -1);
}

}  // namespace
