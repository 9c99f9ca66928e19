#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ChannelRules.h"
#include "IniValues.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "quarn/cp1251.h"
#include "temp_folder_test.h"
#include "test_paths.h"

using namespace quarn::data;
namespace fs = std::filesystem;

namespace {

// A file operation that must succeed, with its reason in the failure message.
::testing::AssertionResult done(const Outcome& o) {
  if (o.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << o.why();
}

class ProjectFileTest : public TempFolderTest {
 protected:
  ProjectFileTest() : TempFolderTest("quarn_data_project_") {}
};

// Everything the project keeps, written into a fresh document: two projects are the same when these
// texts are.
std::string canonical(const Project& p) {
  IniDocument ini;
  projectToIni(p, ini);
  return ini.serialize();
}

Project richProject() {
  Project p;
  ChannelParams& a = p.channels[0];
  a.enabled = true;
  a.name = "Метран-150";
  a.model = "150TG";
  a.sn = "12345";
  a.invNo = "ИН-7";
  a.owner = "ООО «Ромашка»";
  a.Min = 0.1f;
  a.Max = 1.6f;
  a.unit = "МПа";
  a.tDamp = 0.5f;
  a.fnCode = 1;
  a.errOk = 0.25f;
  a.elTypeSignal = 1;
  ChannelParams& b = p.channels[2];
  b.enabled = true;
  b.Max = 10;
  b.unit = "бар";
  b.elTypeSignal = 4;  // voltage keeps its own limits
  b.elMin = 0;
  b.elMax = 10;
  p.channels[3].name = "отключён, но записан";
  p.channels[3].Max = 250;
  p.pointSets[0] = {};
  p.pointSets[3][0] = {true, 10, 0};
  p.pointSets[3][199] = {true, 90.5f, 3};
  p.selectedSet = 3;
  p.header.protocolNo = "П-17/2026";
  p.header.temp = "21";
  p.header.hum = "45";
  p.header.pres = "752";
  p.header.organisation = "ЦСМ";
  p.header.address = {"г. Тверь,", "ул. Вторая, 2"};
  p.header.auxEquipment = {"Барометр БАММ-1 №77"};
  p.header.verifier = "Иванов И.И.";
  p.header.kind = ProtocolKind::Periodic;
  p.header.resultDecimals = 4;
  p.readiness = {"12", "0.1", "0.8", true};
  p.relay.enabled = {true, false};
  p.relay.setpointKpa = {"100", "200"};
  p.relay.hysteresisKpa = {"5", "7.5"};
  p.reportTemplate = {"/opt/quarn/template_xml/", "Мой шаблон.xlsx"};
  return p;
}

TEST(ProjectDefaults, AnEmptyFileGivesTheFormatsDefaults) {
  const Project p = projectFromIni(IniDocument{});
  for (const ChannelParams& ch : p.channels) {
    EXPECT_FALSE(ch.enabled);
    EXPECT_EQ(ch.name, "кПа");
    EXPECT_EQ(ch.unit, "кПа");
    EXPECT_EQ(ch.Max, 600.0f);
    EXPECT_EQ(ch.Min, 0.0f);
    EXPECT_EQ(ch.errOk, 0.2f);
    EXPECT_EQ(ch.toKpaMul, 1.0f);
    EXPECT_EQ(ch.elMin, 4.0f);
    EXPECT_EQ(ch.elMax, 20.0f);
    EXPECT_EQ(ch.elUnit, "мА");
  }
  for (const PointSet& set : p.pointSets) EXPECT_TRUE(switchedOnPoints(set).empty());
  EXPECT_EQ(p.reportTemplate.name, "Протокол поверки.xls");
  EXPECT_EQ(p.reportTemplate.folder, "");
  EXPECT_EQ(p.header.resultDecimals, 0);  // a combo box without its key selects its first item
  EXPECT_EQ(p.header.kind, ProtocolKind::Primary);
  EXPECT_EQ(p.readiness.holdTimeS, "5");  // edit boxes keep their text

  // Before any project is loaded the first set holds the standard points.
  EXPECT_EQ(switchedOnPoints(Project{}.pointSets[0]),
            (std::vector<float>{0, 25, 50, 75, 100, 75, 50, 20, 0}));
}

// A point's section is found by its name as every lookup finds a name (letter case and blanks
// around it aside, the first of two sections of a name); names that only look alike are other
// sections, and a point without its section is off.
TEST(ProjectDefaults, PointSectionsAreFoundAsEveryNameIs) {
  struct Case {
    const char* header;
    int set;
    int point;  // 1..200; 0: the section is no point's
  };
  const Case cases[] = {
      {"[Points_set_1_point_3]", 1, 3},     {"[POINTS_SET_2_POINT_200]", 2, 200},
      {"[ Points_set_4_point_1 ]", 4, 1},   {"[Points_set_0_point_17]", 0, 17},
      {"[Points_set_01_point_3]", 0, 0},    {"[Points_set_1_point_03]", 0, 0},
      {"[Points_set_5_point_1]", 0, 0},     {"[Points_set_1_point_0]", 0, 0},
      {"[Points_set_1_point_201]", 0, 0},   {"[Points_set_1_point_3x]", 0, 0},
      {"[Points_set__point_3]", 0, 0},      {"[Points_set_1_point_]", 0, 0},
      {"[Points_set_1_point_99999]", 0, 0}, {"[Points_set_-1_point_3]", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string file = std::string(c.header) + "\r\nexist=1\r\nvaluePrc=42.5\r\ntimeSec=3\r\n";
    const Project p = projectFromIni(IniDocument::parse(file));
    int on = 0;
    for (int s = 0; s < kPointSetCount; ++s)
      for (int k = 0; k < kPointsPerSet; ++k) {
        const PointDef& pt = p.pointSets[static_cast<std::size_t>(s)][static_cast<std::size_t>(k)];
        if (!pt.exist) {
          EXPECT_EQ(pt.valuePrc, 0.0f);
          continue;
        }
        ++on;
        EXPECT_EQ(s, c.set);
        EXPECT_EQ(k + 1, c.point);
        EXPECT_EQ(pt.valuePrc, 42.5f);
        EXPECT_EQ(pt.timeSec, 3.0f);
      }
    EXPECT_EQ(on, c.point ? 1 : 0);
  }

  // Of two sections with one name only the first is read, as for any other section.
  const Project twice =
      projectFromIni(IniDocument::parse("[Points_set_3_point_9]\r\nexist=1\r\nvaluePrc=10\r\n[points_set_3_"
                                        "point_9]\r\nexist=1\r\nvaluePrc=20\r\n"));
  EXPECT_EQ(twice.pointSets[3][8].valuePrc, 10.0f);
}

TEST(ProjectDefaults, MissingAndUnreadableKeysOfOneChannel) {
  const Project p = projectFromIni(IniDocument::parse(
      "[Device_ch_1]\r\nenabled=1\r\nMax=abc\r\nerrOk=\r\nelTypeSignal=0x1\r\nMin=1e999\r\n"
      "[Device_ch_2]\r\nenabled=yes\r\nname=x\r\n"));
  const ChannelParams& ch = p.channels[1];
  EXPECT_TRUE(ch.enabled);
  EXPECT_EQ(ch.name, "кПа");
  EXPECT_EQ(ch.Max, 600.0f);
  EXPECT_EQ(ch.Min, 0.0f);
  EXPECT_EQ(ch.errOk, 0.2f);
  EXPECT_EQ(ch.elTypeSignal, 1);
  EXPECT_EQ(ch.elMin, 20.0f);  // 20..4 mA
  EXPECT_EQ(ch.elMax, 4.0f);
  EXPECT_FALSE(p.channels[2].enabled);
}

TEST(ProjectDefaults, EnabledChannelsGetTheirDerivedFields) {
  struct Case {
    const char* unit;
    float toKpaFile;
    float min, max;
    float minKpa, maxKpa;
  } cases[] = {
      {"МПа", 1, 0.1f, 1.6f, 100, 1600},                   // the factor follows the unit, not the file
      {"мм рт. ст.", 1, 0, 750, 0.0f, 750 * 0.13332267f},  // a HART unit form finds "мм рт.ст."
      {"Па", 0.001f, 0, 60000, 0, 60},                     // an unlisted unit keeps the file's factor
      {"Па", -3, 0, 600, 0, 600},                          // ... unless that is no factor at all
  };
  for (const Case& c : cases) {
    IniDocument ini;
    writeBool(ini, "Device_ch_0", "enabled", true);
    writeTextUtf8(ini, "Device_ch_0", "Unit", c.unit);
    writeFloat(ini, "Device_ch_0", "toKpaMul", c.toKpaFile);
    writeFloat(ini, "Device_ch_0", "Min", c.min);
    writeFloat(ini, "Device_ch_0", "Max", c.max);
    const ChannelParams ch = projectFromIni(ini).channels[0];
    EXPECT_FLOAT_EQ(ch.minKpa(), c.minKpa) << c.unit;
    EXPECT_FLOAT_EQ(ch.maxKpa(), c.maxKpa) << c.unit;
    TDevChannel rec{};
    channelToDev(ch, rec);
    EXPECT_FLOAT_EQ(rec.MaxKpa, c.maxKpa) << c.unit;
  }
}

TEST(ProjectDefaults, TextsAreCutToTheirFields) {
  const std::string name(60, 'N'), owner(200, 'O'), unit(30, 'U');
  std::string cyr;
  for (int i = 0; i < 45; ++i) cyr += "Щ";
  IniDocument ini;
  writeTextUtf8(ini, "Device_ch_0", "name", name);
  writeTextUtf8(ini, "Device_ch_0", "model", cyr);
  writeTextUtf8(ini, "Device_ch_0", "owner", owner);
  writeTextUtf8(ini, "Device_ch_0", "Unit", unit);
  writeTextUtf8(ini, "Device_ch_0", "el_Unit", unit);
  const ChannelParams ch = projectFromIni(ini).channels[0];
  EXPECT_EQ(ch.name, name.substr(0, 39));
  EXPECT_EQ(ch.model.size(), 39u * 2u);
  EXPECT_EQ(ch.owner, owner.substr(0, 119));
  EXPECT_EQ(ch.unit, unit.substr(0, 19));
  EXPECT_EQ(ch.elUnit, unit.substr(0, 19));
}

TEST(ProjectDefaults, RadioButtonsAndComboBoxes) {
  struct Case {
    const char* keys;
    ProtocolKind kind;
  } kinds[] = {
      {"RadioButton1=0\r\nrb_IsPeriodic=1\r\nrb_IsCalib=0\r\n", ProtocolKind::Periodic},
      {"RadioButton1=1\r\nrb_IsPeriodic=0\r\nrb_IsCalib=1\r\n",
       ProtocolKind::Calibration},  // the later one wins
      {"rb_IsCalib=0\r\n", ProtocolKind::Primary},
      {"RadioButton1=0\r\n", ProtocolKind::Primary},
  };
  for (const Case& c : kinds) {
    const Project p =
        projectFromIni(IniDocument::parse(std::string("[") + kParamsSection + "]\r\n" + c.keys));
    EXPECT_EQ(p.header.kind, c.kind) << c.keys;
  }
  const std::string points = std::string("[") + kPointListSection + "]\r\n";
  EXPECT_EQ(projectFromIni(IniDocument::parse(points + "rb_1=0\r\nrb_4=1\r\nrb_5=0\r\n")).selectedSet, 3);
  EXPECT_EQ(projectFromIni(IniDocument::parse(points + "rb_1=0\r\nrb_2=0\r\n")).selectedSet, 0);
  const std::string params = std::string("[") + kParamsSection + "]\r\n";
  EXPECT_EQ(projectFromIni(IniDocument::parse(params + "cb_cDigits=5\r\n")).header.resultDecimals, 5);
  EXPECT_EQ(projectFromIni(IniDocument::parse(params + "cb_cDigits=9\r\n")).header.resultDecimals, 0);
  EXPECT_EQ(projectFromIni(IniDocument::parse(params + "cb_cDigits=-1\r\n")).header.resultDecimals, 0);
}

// A stored index is kept up to the last entry of its list; one past it (or below the first) is an
// entry the control does not have and reads as the format's default, the first entry.
TEST(ProjectDefaults, IndexesAtAndJustPastTheEndsOfTheirLists) {
  struct Case {
    const char* section;
    const char* key;
    int value;
    int (*read)(const Project&);
    int expected;
  };
  const auto decimals = [](const Project& p) { return p.header.resultDecimals; };
  const auto brenkClass = [](const Project& p) { return p.header.brenkClass; };
  const auto function = [](const Project& p) { return p.channels[0].fnCode; };
  const auto signal = [](const Project& p) { return p.channels[0].elTypeSignal; };
  const Case cases[] = {
      {kParamsSection, "cb_cDigits", 6, decimals, 6},  // "0" .. "6"
      {kParamsSection, "cb_cDigits", 7, decimals, 0},
      {kParamsSection, "cb_cDigits", -1, decimals, 0},
      {kParamsSection, "cb_Class_Brenk", 2, brenkClass, 2},  // three classes
      {kParamsSection, "cb_Class_Brenk", 3, brenkClass, 0},
      {kParamsSection, "cb_Class_Brenk", -1, brenkClass, 0},
      {"Device_ch_0", "fnCode", 1, function, 1},  // linear, square root
      {"Device_ch_0", "fnCode", 2, function, 0},
      {"Device_ch_0", "elTypeSignal", kSignalTypeCount - 1, signal, kSignalTypeCount - 1},
      {"Device_ch_0", "elTypeSignal", kSignalTypeCount, signal, kSignal4to20},
      {"Device_ch_0", "elTypeSignal", -1, signal, kSignal4to20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + std::to_string(c.value));
    IniDocument ini;
    writeBool(ini, "Device_ch_0", "enabled", true);
    writeInteger(ini, c.section, c.key, c.value);
    EXPECT_EQ(c.read(projectFromIni(ini)), c.expected);
  }
}

TEST_F(ProjectFileTest, AFileWrittenReadsBackIdentically) {
  Project p = richProject();
  ASSERT_TRUE(done(saveProject(path("p.aip"), p)));
  Project back;
  const Result<LoadedProject> r = loadProject(path("p.aip"), back);
  ASSERT_TRUE(r.ok()) << r.why();
  EXPECT_EQ(canonical(back), canonical(p));
  EXPECT_EQ(back.channels[0].name, "Метран-150");
  EXPECT_EQ(back.channels[0].owner, "ООО «Ромашка»");
  EXPECT_EQ(back.channels[0].toKpaMul, 1000.0f);
  EXPECT_EQ(back.channels[2].elUnit, "В");
  EXPECT_EQ(back.channels[2].elMax, 10.0f);
  EXPECT_EQ(back.channels[3].name, "отключён, но записан");
  EXPECT_EQ(back.selectedSet, 3);
  EXPECT_EQ(switchedOnPoints(back.pointSets[3]), (std::vector<float>{10, 90.5f}));
  EXPECT_EQ(back.pointSets[3][199].timeSec, 3.0f);
  EXPECT_EQ(back.header.address, p.header.address);
  EXPECT_EQ(back.header.kind, ProtocolKind::Periodic);
  EXPECT_EQ(back.readiness.holdTimeS, "12");
  EXPECT_TRUE(back.readiness.hardMode);
  EXPECT_EQ(back.relay.hysteresisKpa[1], "7.5");
  EXPECT_EQ(back.reportTemplate.name, "Мой шаблон.xlsx");

  // Saving what was read writes the same bytes again.
  const std::string first = get(path("p.aip"));
  ASSERT_TRUE(done(saveProject(path("p.aip"), back)));
  EXPECT_EQ(get(path("p.aip")), first);
  EXPECT_EQ(first.find("\r\n\r\n\r\n"), std::string::npos);
  EXPECT_NE(first.find(std::string("name=") + CP1251("Метран-150") + "\r\n"), std::string::npos);
  EXPECT_NE(first.find("errOk=0.200000002980232\r\n"), std::string::npos);  // channel 1's default
  EXPECT_NE(first.find("[Points_set_4_point_200]\r\n"), std::string::npos);
}

TEST_F(ProjectFileTest, UnknownSectionsAndKeysSurviveARewrite) {
  const std::string original = std::string(
                                   "; project of line 2\r\n"
                                   "[_FormMain_Frame_Mode_3_Param1_Frame_ParamDevGrid1_lvDevGrid_]\r\n"
                                   "ListView_Edit=abc\r\n"
                                   "instComboBox=2\r\n"
                                   "\r\n"
                                   "[_FormMain_Frame_Mode_3_Param1_]\r\n"
                                   "amp_CD_DATE=01.01.2020\r\n"
                                   "futureSetting=keep me\r\n"
                                   "amp_D1_SH_NUM=old\r\n"
                                   "\r\n"
                                   "[Device_ch_0]\r\n"
                                   "enabled=0\r\n"
                                   "calibrationDue=") +
                               CP1251("через год") + "\r\n\r\n";
  put(path("p.aip"), original);
  Project p;
  ASSERT_TRUE(loadProject(path("p.aip"), p).ok());
  EXPECT_EQ(p.header.date, "");  // the protocol date is never taken from the file
  p.header.protocolNo = "new";
  ASSERT_TRUE(done(saveProject(path("p.aip"), p)));
  const std::string saved = get(path("p.aip"));
  EXPECT_EQ(saved.rfind("; project of line 2\r\n"
                        "[_FormMain_Frame_Mode_3_Param1_Frame_ParamDevGrid1_lvDevGrid_]\r\n"
                        "ListView_Edit=abc\r\n"
                        "instComboBox=2\r\n"
                        "\r\n"
                        "[_FormMain_Frame_Mode_3_Param1_]\r\n"
                        "amp_CD_DATE=01.01.2020\r\n"
                        "futureSetting=keep me\r\n"
                        "amp_D1_SH_NUM=new\r\n",
                        0),
            0u);
  const IniDocument ini = IniDocument::parse(saved);
  EXPECT_EQ(readTextUtf8(ini, "Device_ch_0", "calibrationDue", ""), "через год");
  EXPECT_TRUE(ini.hasKey("Device_ch_0", "el_Unit"));
}

TEST_F(ProjectFileTest, AMemosStaleLinesComeBackAfterSavingAShorterText) {
  Project p;
  p.header.address = {"строка 1", "строка 2", "строка 3"};
  ASSERT_TRUE(done(saveProject(path("p.aip"), p)));
  p.header.address = {"новая 1", "новая 2"};
  ASSERT_TRUE(done(saveProject(path("p.aip"), p)));
  Project back;
  ASSERT_TRUE(loadProject(path("p.aip"), back).ok());
  EXPECT_EQ(back.header.address, (std::vector<std::string>{"новая 1", "новая 2", "строка 3"}));
}

TEST_F(ProjectFileTest, ABrokenFileIsRefusedAndThePreviousProjectStays) {
  Project full = richProject();
  ASSERT_TRUE(done(saveProject(path("full.aip"), full)));
  const std::string bytes = get(path("full.aip"));
  const std::size_t mid = bytes.find("[Points_set_2_point_17]") + 10;
  put(path("cut_header.aip"), bytes.substr(0, mid));
  const std::size_t key = bytes.find("valuePrc=", bytes.find("[Points_set_2_point_17]"));
  put(path("cut_section.aip"), bytes.substr(0, key + 9));  // "valuePrc=" without its value, no line end
  put(path("cut_key.aip"), bytes.substr(0, key + 5));
  put(path("zeros.aip"), bytes.substr(0, 5000) + std::string(4096, '\0'));
  fs::create_directories(path("folder.aip"));

  struct Case {
    const char* name;
    Fault fault;
  } cases[] = {
      {"cut_header.aip", Fault::Damaged}, {"cut_section.aip", Fault::Damaged},
      {"cut_key.aip", Fault::Damaged},    {"zeros.aip", Fault::Damaged},
      {"folder.aip", Fault::Unreadable},  {"absent.aip", Fault::NotFound},
  };
  for (const Case& c : cases) {
    Project current = full;
    const Result<LoadedProject> r = loadProject(path(c.name), current);
    EXPECT_FALSE(r.ok()) << c.name;
    EXPECT_EQ(r.error().fault(), c.fault) << c.name;
    EXPECT_NE(r.why().find(path(c.name)), std::string::npos) << r.why();
    EXPECT_EQ(canonical(current), canonical(full)) << c.name;
  }

  // A file that merely lacks the final line end, as some editors save it, is fine.
  put(path("no_final_newline.aip"), bytes.substr(0, bytes.size() - 2));
  Project p;
  EXPECT_TRUE(loadProject(path("no_final_newline.aip"), p).ok());
  EXPECT_EQ(canonical(p), canonical(full));
}

TEST_F(ProjectFileTest, AProjectSavedAsUtf8StillReads) {
  put(path("u.aip"),
      "[Device_ch_0]\r\nenabled=1\r\nname=Датчик\r\nUnit=МПа\r\nMax=1\r\n[XmlTemplate]\r\nXmlTemplateName="
      "Шаблон.xls\r\n");
  Project p;
  const Result<LoadedProject> r = loadProject(path("u.aip"), p);
  ASSERT_TRUE(r.ok()) << r.why();
  EXPECT_EQ(r->encoding, FileEncoding::Utf8);
  EXPECT_EQ(p.channels[0].name, "Датчик");
  EXPECT_EQ(p.channels[0].maxKpa(), 1000.0f);
  EXPECT_EQ(p.reportTemplate.name, "Шаблон.xls");
}

TEST_F(ProjectFileTest, TheReportTemplateFallsBackToTheStandardOne) {
  fs::create_directories(path("own"));
  fs::create_directories(path("prog/template_xml"));
  put(path("own/Мой.xlsx"), "x");
  put(path("prog/template_xml/Протокол поверки.xlsx"), "x");

  ReportTemplate own{path("own"), "Мой.xls"};
  EXPECT_TRUE(resolveReportTemplate(own, path("prog")));
  EXPECT_EQ(own.folder, path("own") + "/");
  EXPECT_EQ(own.name, "Мой.xlsx");

  ReportTemplate gone{path("own") + "/", "Нет такого.xls"};
  EXPECT_FALSE(resolveReportTemplate(gone, path("prog")));
  EXPECT_EQ(gone.folder, path("prog") + "/template_xml/");
  EXPECT_EQ(gone.name, "Протокол поверки.xlsx");

  EXPECT_EQ(effectiveProjectPath(path("own/Мой.xlsx")), path("own/Мой.xlsx"));
  EXPECT_EQ(effectiveProjectPath(path("missing.aip")), "default.aip");
}

// The demo project describes the demonstration bench (examples/demo_bench.scenario): four 0..600 kPa
// transmitters, the one on channel 4 with a falling 20..4 mA output.
TEST(DemoProject, IsAWorkstationFileForTheDemoBench) {
  const std::string file = quarn::test::path("QUARN_EXAMPLES_DIR") + "/demo.aip";
  Project p;
  p.channels[0].name = "sentinel";
  const Result<LoadedProject> r = loadProject(file, p);
  ASSERT_TRUE(r.ok()) << r.why();
  EXPECT_EQ(r->encoding, FileEncoding::Cp1251);
  EXPECT_EQ(r->checksum, ProjectChecksum::Matches);  // saved by this program, unchanged since
  for (std::size_t c = 0; c < p.channels.size(); ++c) {
    const ChannelParams& ch = p.channels[c];
    EXPECT_TRUE(ch.enabled);
    EXPECT_EQ(ch.minKpa(), 0.0f);
    EXPECT_EQ(ch.maxKpa(), 600.0f);
    EXPECT_EQ(ch.elTypeSignal, c == 3 ? kSignal20to4 : kSignal4to20) << c;
    EXPECT_EQ(ch.fnCode, 0);
    EXPECT_EQ(ch.errOk, 0.5f);
  }
  EXPECT_EQ(switchedOnPoints(p.pointSets[static_cast<std::size_t>(p.selectedSet)]),
            (std::vector<float>{0, 25, 50, 75, 100}));
  EXPECT_EQ(p.readiness.holdTimeS, "2");

  // Written as the workstation writes: CRLF only, every point section present.
  std::ifstream f(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(f)), {});
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
    }
  const IniDocument ini = IniDocument::parse(bytes);
  for (int s = 0; s < kPointSetCount; ++s)
    for (int k = 1; k <= kPointsPerSet; ++k) ASSERT_TRUE(ini.hasKey(pointSection(s, k), "exist"));

  TDev dev{};
  const ParamsCheck check = applyProjectToDev(p, dev);
  EXPECT_TRUE(check.valid) << check.message;
  EXPECT_EQ(dev.povSpan, 600.0f);
}

}  // namespace

namespace {

// A project as the workstation writes it, composed here line by line (not by the codec): its own
// order of the screen's keys, an editor section of the device grid, float forms with 15 digits.
std::string workstationFile() {
  std::string f;
  auto line = [&f](const std::string& s) { f += s + "\r\n"; };
  auto cp = [](const char* utf8) { return quarn::text::utf8ToCp1251(utf8); };
  line("[_FormMain_Frame_Mode_3_Param1_Frame_ParamDevGrid1_lvDevGrid_]");
  line("ListView_Edit=");
  line("instComboBox=0");
  line("");
  line("[_FormMain_Frame_Mode_3_Param1_]");
  for (const char* kv : {"cbDoSetToAll=0",
                         "amp_D1_SH_NUM=15/2",
                         "amp_CD_TEMP=21",
                         "amp_CD_HUM=40",
                         "amp_CD_PRES=749",
                         "ed_IVTM_SN=1234",
                         "amp_CD_ORG=ФБУ «ЦСМ»",
                         "amp_CD_CRT_NUM=RA.RU.311",
                         "amp_CD_ADDRESS_str0=г. Тула,",
                         "amp_CD_ADDRESS_str1=ул. Ленина, 1",
                         "amp_CD_ADDRESS_str2=корп. 2",
                         "CD_ET_AUX_LST_str0=Термометр ТЛ-4",
                         "amp_CD_VERIF_POS=инженер",
                         "amp_CD_VERIF=Сидоров С.С.",
                         "amp_CD_CHEF_POS=начальник",
                         "amp_CD_CHEF=Орлов О.О.",
                         "RadioButton1=0",
                         "rb_IsPeriodic=1",
                         "rb_IsCalib=0",
                         "cb_cDigits=3",
                         "cb_Class_Brenk=1",
                         "edTemplateName=Протокол поверки.xls",
                         "cbHardMode=1",
                         "ed_d_Rdy=0.05",
                         "ed_tRdy=10",
                         "amp_CD_VRCOEFF=0.7",
                         "cbRelay_1=0",
                         "edRelay1_P=0",
                         "edRelay1_Hyst=0",
                         "cbRelay_2=0",
                         "edRelay2_P=0",
                         "edRelay2_Hyst=0",
                         "edRelay_speed=0.5"})
    line(cp(kv));
  line("");
  line("[_FormMain_Frame_Mode_3_Param1_Frame_Points1_]");
  for (const char* kv : {"rb_1=0", "rb_2=1", "rb_3=0", "rb_4=0", "rb_5=0"}) line(kv);
  line("");
  for (int n = 0; n < 4; ++n) {
    line("[Device_ch_" + std::to_string(n) + "]");
    const bool on = n < 2;
    line(std::string("enabled=") + (on ? "1" : "0"));
    line(cp(on ? "name=Метран-150" : "name=кПа"));
    line(cp(on ? "model=150TG2" : "model="));
    line(on ? "sn=" + std::to_string(5550 + n) : "sn=");
    line("invNo=");
    line(cp(on ? "owner=АО «Завод»" : "owner="));
    line(on ? "Min=0" : "Min=0");
    line(on ? "Max=1.60000002384186" : "Max=600");
    line(cp(on ? "Unit=МПа" : "Unit=кПа"));
    line("tDamp=0");
    line("fnCode=0");
    line(on ? "errOk=0.25" : "errOk=0.200000002980232");
    line("elTypeSignal=0");
    line(on ? "toKpaMul=1000" : "toKpaMul=1");
    line("el_Min=4");
    line("el_Max=20");
    line(cp("el_Unit=мА"));
    line("");
  }
  for (int s = 0; s < 5; ++s)
    for (int k = 1; k <= 200; ++k) {
      line("[Points_set_" + std::to_string(s) + "_point_" + std::to_string(k) + "]");
      const bool on = s == 1 && k <= 3;
      line(std::string("exist=") + (on ? "1" : "0"));
      line(on ? (k == 1   ? "valuePrc=0"
                 : k == 2 ? "valuePrc=33.2999992370605"
                          : "valuePrc=100")
              : "valuePrc=0");
      line("timeSec=0");
      line("");
    }
  line("[XmlTemplate]");
  line("XmlTemplatePath=C:\\Program Files\\ARM_Quarn\\template_xml\\");
  line(cp("XmlTemplateName=Протокол поверки.xls"));
  line("");
  return f;
}

TEST_F(ProjectFileTest, AWorkstationFileReadsAndIsWrittenBackByteForByte) {
  const std::string original = workstationFile();
  put(path("ws.aip"), original);
  Project p;
  const Result<LoadedProject> r = loadProject(path("ws.aip"), p);
  ASSERT_TRUE(r.ok()) << r.why();
  EXPECT_EQ(p.channels[0].name, "Метран-150");
  EXPECT_EQ(p.channels[1].maxKpa(), 1600.0f);
  EXPECT_EQ(p.channels[1].errOk, 0.25f);
  EXPECT_FALSE(p.channels[2].enabled);
  EXPECT_EQ(p.selectedSet, 1);
  EXPECT_EQ(switchedOnPoints(p.pointSets[1]), (std::vector<float>{0, 33.3f, 100}));
  EXPECT_EQ(p.header.kind, ProtocolKind::Periodic);
  EXPECT_EQ(p.header.address.size(), 3u);
  EXPECT_EQ(p.header.organisation, "ФБУ «ЦСМ»");
  EXPECT_EQ(p.readiness.holdTimeS, "10");
  EXPECT_EQ(p.reportTemplate.folder, "C:\\Program Files\\ARM_Quarn\\template_xml\\");

  // Written back byte for byte, with this program's checksum section after everything else.
  ASSERT_TRUE(done(saveProject(path("again.aip"), p)));
  const std::string again = get(path("again.aip"));
  ASSERT_GE(again.size(), original.size());
  EXPECT_TRUE(again.compare(0, original.size(), original) == 0);
  EXPECT_EQ(again.substr(original.size()).rfind("[ProjectChecksum]\r\ncrc32=", 0), 0u)
      << again.substr(original.size());
  EXPECT_EQ(r->checksum, ProjectChecksum::Absent);  // the original program's file has none
  EXPECT_NE(r->note.find(path("ws.aip")), std::string::npos) << r->note;
}

// Where a file stops being a project this program can trust: a program's file (this program's, with
// its checksum, or the original program's, without) cut at any line end after its first section is
// refused; what a person writes by hand (any section or key left out) loads as it always did.
TEST_F(ProjectFileTest, AFileCutOffAtALineEndIsRefusedAHandMadeOneIsNot) {
  const std::string ours = [&] {
    Project p = richProject();
    p.pointSets[0] = {};
    for (int k = 0; k < 5; ++k) p.pointSets[0][static_cast<std::size_t>(k)] = {true, 25.0f * k, 0};
    p.selectedSet = 0;
    EXPECT_TRUE(done(saveProject(path("ours.aip"), p)));
    return get(path("ours.aip"));
  }();
  const std::string theirs = workstationFile();
  // The text up to (not including) `marker`, or up to the end of the line that holds it.
  const auto before = [](const std::string& f, const std::string& marker) {
    return f.substr(0, f.find(marker));
  };
  const auto through = [](const std::string& f, const std::string& marker) {
    return f.substr(0, f.find("\r\n", f.find(marker) + marker.size()) + 2);
  };
  const std::string point5 = "[Points_set_0_point_5]";
  struct Case {
    const char* what;
    std::string bytes;
    const char* missing;  // nullptr: accepted
  } cases[] = {
      {"after the fourth point (four points instead of five)", before(ours, point5), point5.c_str()},
      {"after a point's header line", through(ours, point5), "exist"},
      {"after a point's first key", through(ours, point5 + "\r\nexist=1"), "valuePrc"},
      {"before the template section", before(ours, "[XmlTemplate]"), "[XmlTemplate]"},
      {"after the template's first key", through(ours, "XmlTemplatePath="), "XmlTemplateName"},
      {"inside a channel section", through(ours, "[Device_ch_2]\r\nenabled"), "[Device_ch_2]"},
      {"right after the screen's section", before(ours, "[_FormMain_Frame_Mode_3_Param1_Frame_Points1_]"),
       "[Device_ch_0]"},
      {"the original program's file after a point", before(theirs, "[Points_set_1_point_3]"),
       "[Points_set_1_point_3]"},
      {"the original program's file inside a channel", through(theirs, "[Device_ch_1]\r\nenabled"),
       "[Device_ch_1]"},
      // Only the checksum was lost: everything the project holds is there.
      {"only the checksum section lost", before(ours, "[ProjectChecksum]"), nullptr},
      {"by hand: a last channel section without most keys", "[Device_ch_1]\r\nenabled=1\r\nMax=100\r\n",
       nullptr},
      {"by hand: a few points and a channel",
       "[Device_ch_0]\r\nenabled=1\r\n[Points_set_0_point_3]\r\nexist=1\r\n"
       "valuePrc=40\r\n",
       nullptr},
      // The boundary: every key of all four channels is what a program writes, not a person.
      {"four full channel sections and nothing else",
       before(theirs, "[Points_set_0_point_1]").substr(theirs.find("[Device_ch_0]")),
       "[Points_set_0_point_1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put(path("cut.aip"), c.bytes);
    Project current = richProject();
    const Result<LoadedProject> r = loadProject(path("cut.aip"), current);
    if (!c.missing) {
      EXPECT_TRUE(r.ok()) << r.why();
      continue;
    }
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.error().fault(), Fault::Damaged);
    EXPECT_NE(r.why().find("обрезан"), std::string::npos) << r.why();
    EXPECT_NE(r.why().find(path("cut.aip")), std::string::npos) << r.why();
    EXPECT_NE(r.why().find(c.missing), std::string::npos) << r.why();
    EXPECT_EQ(canonical(current), canonical(richProject()));
  }
}

// A file this program saved carries a checksum of its content; one changed since opens only when
// the change is accepted, and one without the checksum (another program's, an earlier version's, a
// hand-made one) loads with a note.
TEST_F(ProjectFileTest, AFileChangedOutsideTheProgramNeedsConfirmation) {
  Project saved;
  saved.channels[0].enabled = true;
  saved.channels[0].errOk = 0.5f;
  saved.header.protocolNo = "Протокол 7";
  ASSERT_TRUE(done(saveProject(path("p.aip"), saved)));
  const std::string bytes = get(path("p.aip"));
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string b = bytes;
    const std::size_t at = b.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return b.replace(at, from.size(), to);
  };
  const auto toLf = [&] {
    std::string b;
    for (char c : bytes)
      if (c != '\r') b += c;
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
    ProjectChecksum checksum;
    float errOk;  // channel 1's tolerance once loaded
  } cases[] = {
      {"as saved", bytes, ProjectChecksum::Matches, 0.5f},
      {"a flipped digit in a tolerance", replaced("errOk=0.5", "errOk=5.5"), ProjectChecksum::Differs, 5.5f},
      {"a changed text the program does not read", replaced("[Device_ch_0]", "; note\r\n[Device_ch_0]"),
       ProjectChecksum::Differs, 0.5f},
      {"a damaged checksum", replaced("crc32=", "crc32=0"), ProjectChecksum::Differs, 0.5f},
      {"a checksum section without its key", replaced("crc32=", "crc="), ProjectChecksum::Differs, 0.5f},
      {"line ends of another editor", toLf(), ProjectChecksum::Matches, 0.5f},
      {"kept as UTF-8 by another editor", quarn::text::cp1251ToUtf8(bytes), ProjectChecksum::Matches, 0.5f},
      {"the checksum section removed", bytes.substr(0, bytes.find("[ProjectChecksum]")),
       ProjectChecksum::Absent, 0.5f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    put(path("e.aip"), c.bytes);
    Project current = richProject();
    const Result<LoadedProject> r = loadProject(path("e.aip"), current);
    if (c.checksum == ProjectChecksum::Differs) {
      EXPECT_FALSE(r.ok());
      EXPECT_EQ(r.error().fault(), Fault::Edited);
      EXPECT_NE(r.why().find("Файл проекта изменён вне программы"), std::string::npos) << r.why();
      EXPECT_NE(r.why().find(path("e.aip")), std::string::npos) << r.why();
      EXPECT_EQ(canonical(current), canonical(richProject()));  // nothing taken without the answer
      const Result<LoadedProject> accepted = loadProject(path("e.aip"), current, true);
      ASSERT_TRUE(accepted.ok()) << accepted.why();
      EXPECT_EQ(accepted->checksum, ProjectChecksum::Differs);
      EXPECT_NE(accepted->note.find("изменён вне программы"), std::string::npos) << accepted->note;
      // Saved again, it is this program's file once more.
      ASSERT_TRUE(done(saveProject(path("e.aip"), current)));
      Project again;
      const Result<LoadedProject> resaved = loadProject(path("e.aip"), again);
      ASSERT_TRUE(resaved.ok()) << resaved.why();
      EXPECT_EQ(resaved->checksum, ProjectChecksum::Matches);
    } else {
      ASSERT_TRUE(r.ok()) << r.why();
      EXPECT_EQ(r->checksum, c.checksum);
      EXPECT_EQ(r->note.empty(), c.checksum == ProjectChecksum::Matches) << r->note;
    }
    EXPECT_EQ(current.channels[0].errOk, c.errOk);
  }

  // The checksum is the common CRC-32 of the content before its section, so any tool can make one.
  EXPECT_EQ(projectChecksum(IniDocument::parse("[A]\r\nk=v\r\n\r\n[ProjectChecksum]\r\ncrc32=e0dedb7e\r\n")),
            ProjectChecksum::Matches);
}

// A save that cannot be written says why and leaves the project's document as it was, so a later
// save still keeps the file's unknown content.
TEST_F(ProjectFileTest, ASaveThatFailsSaysWhyAndKeepsTheDocument) {
  Project p = richProject();
  p.file = IniDocument::parse("[Unknown]\r\nkeep=1\r\n");
  const std::string before = p.file.serialize();
  fs::create_directories(path("taken.aip"));  // a folder where the file should go
  for (const std::string& target : {path("no such folder/p.aip"), path("taken.aip")}) {
    SCOPED_TRACE(target);
    const Outcome saved = saveProject(target, p);
    EXPECT_FALSE(saved.ok());
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.why().empty());
    EXPECT_EQ(p.file.serialize(), before);
  }
  EXPECT_TRUE(fs::is_directory(path("taken.aip")));
  const Outcome saved = saveProject(path("p.aip"), p);
  ASSERT_TRUE(done(saved));
  EXPECT_TRUE(saved.why().empty());
  EXPECT_NE(p.file.serialize(), before);
  EXPECT_NE(get(path("p.aip")).find("[Unknown]\r\nkeep=1\r\n"), std::string::npos);
}

}  // namespace
