// The calibrator catalogues read by both hosts: model entries (the later one wins, a second sensor
// only when it has limits), the accuracy table, files that are missing, damaged, oversized or hold a
// number that does not convert, Windows-1251 documents, the model text and the model-code table.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "CalibratorCatalogue.h"
#include "TDev.h"
#include "temp_folder_test.h"
#include "test_paths.h"

namespace {

using namespace quarn::data;

class Catalogues : public TempFolderTest {
 protected:
  Catalogues() : TempFolderTest("quarn_catalogue_test_") {}
  std::string write(const char* name, std::string_view content) {
    const std::string p = path(name);
    put(p, content);
    return p;
  }
  std::string errorsFile() {
    return write("Errors.xml",
                 "<?xml version=\"1.0\"?><E><A0><diap_1>0.01</diap_1></A0><A><diap_2>0.02</diap_2></A>"
                 "<B><diap_6>0.1</diap_6></B></E>");
  }
};

TEST_F(Catalogues, LaterModelWinsAndMissingSecondSensorGivesOneSensor) {
  const std::string models = write("Models.xml",
                                   "<?xml version=\"1.0\"?><Models>"
                                   "<Model><Model_name>QC-1</Model_name><VpCont>3</VpCont>"
                                   "<sens_1><G_1>100</G_1></sens_1><sens_2><A_1>50</A_1></sens_2></Model>"
                                   "<Other><Model_name>QC-1</Model_name><VpCont>9</VpCont></Other>"
                                   "<Model><Model_name>QC-1</Model_name><VpCont>4</VpCont>"
                                   "<sens_1><G_1>2500</G_1><G_6>400</G_6><A_3>1.5</A_3></sens_1></Model>"
                                   "<Model><Model_name>QC-10</Model_name><VpCont>7</VpCont></Model>"
                                   "</Models>");
  const Result<TModelRec> model = readModelCatalogue(models, "QC-1");
  ASSERT_TRUE(model.ok()) << model.why();
  EXPECT_EQ(model->VpCont, 4);
  EXPECT_FLOAT_EQ(model->sens[0].G[0], 2500);
  EXPECT_FLOAT_EQ(model->sens[0].G[5], 400);
  EXPECT_FLOAT_EQ(model->sens[0].A[2], 1.5f);
  EXPECT_FLOAT_EQ(model->sens[1].A[0], 0);  // nothing kept from the earlier entry
  EXPECT_EQ(model->sensCount, 1);
  // The error catalogue: rows by class, a missing class (C) and missing sub-ranges stay zero.
  const Result<TErrorRec> errors = readErrorCatalogue(errorsFile());
  ASSERT_TRUE(errors.ok()) << errors.why();
  EXPECT_FLOAT_EQ(errors->rows[0][0], 0.01f);
  EXPECT_FLOAT_EQ(errors->rows[1][1], 0.02f);
  EXPECT_FLOAT_EQ(errors->rows[2][5], 0.1f);
  for (float v : errors->rows[3]) EXPECT_EQ(v, 0);

  const Result<TModelRec> other = readModelCatalogue(models, "QC-10");
  ASSERT_TRUE(other.ok());
  EXPECT_EQ(other->VpCont, 7);
  // A model the catalogue does not list is a failure that names the file and the model, so a host
  // can tell the operator that its tables are missing instead of showing zeros.
  const Result<TModelRec> unknown = readModelCatalogue(models, "QC-2");
  EXPECT_FALSE(unknown.ok());
  EXPECT_NE(unknown.why().find("QC-2"), std::string::npos) << unknown.why();
  EXPECT_NE(unknown.why().find(models), std::string::npos) << unknown.why();
}

TEST_F(Catalogues, MissingDamagedOrForeignFilesAreRefusedWithTheirReason) {
  const std::string good = write("Good.xml",
                                 "<Models><Model><Model_name>X</Model_name><VpCont>1</VpCont>"
                                 "<sens_2><G_1>5</G_1></sens_2></Model></Models>");
  ASSERT_TRUE(readModelCatalogue(good, "X").ok());
  EXPECT_EQ(readModelCatalogue(good, "X")->sensCount, 2);
  std::filesystem::create_directories(dir_ / "folder.xml");
  const struct Case {
    const char* what;
    std::string file;
    const char* reason;  // a part of the operator's text
  } cases[] = {
      {"missing", path("missing.xml"), "не найден"},
      {"cut off", write("Broken.xml", "<Models><Model><Model_name>X</Model_name></Models>"), "строка 1"},
      {"binary", write("Binary.xml", std::string_view("\0\1\2<Models>", 12)), "нулевые байты"},
      {"empty", write("Empty.xml", ""), "Empty.xml"},
      {"no element", write("Comment.xml", "<?xml version=\"1.0\"?><!-- nothing -->"), "Comment.xml"},
      {"a folder", path("folder.xml"), "не файл"},
      {"oversized", write("Big.xml", std::string(kMaxCatalogueBytes + 1, ' ')), "слишком велик"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result<TModelRec> model = readModelCatalogue(c.file, "X");
    EXPECT_FALSE(model.ok());
    EXPECT_NE(model.why().find(c.reason), std::string::npos) << model.why();
    const Result<TErrorRec> errors = readErrorCatalogue(c.file);
    EXPECT_FALSE(errors.ok());
    EXPECT_EQ(errors.why(), model.why());
  }
}

TEST_F(Catalogues, ANumberThatDoesNotConvertStopsTheReadingWithAConversionMessage) {
  const struct Case {
    const char* what;
    const char* models;
    const char* errorsXml;
    const char* bad;  // the text the message quotes; "" when everything converts
  } cases[] = {
      {"comma in a limit",
       "<Models><Model><Model_name>X</Model_name><VpCont>1</VpCont>"
       "<sens_1><G_1>25,5</G_1><G_2>16</G_2></sens_1></Model></Models>",
       nullptr, "25,5"},
      {"text in the second sensor",
       "<Models><Model><Model_name>X</Model_name><sens_1><G_1>100</G_1></sens_1>"
       "<sens_2><A_4>abc</A_4></sens_2></Model></Models>",
       nullptr, "abc"},
      {"VpCont", "<Models><Model><Model_name>X</Model_name><VpCont>1.5</VpCont></Model></Models>", nullptr,
       "1.5"},
      // A limit beyond single precision or not a number at all would give an endless or missing
      // reference range.
      {"infinite limit",
       "<Models><Model><Model_name>X</Model_name><sens_1><G_1>inf</G_1></sens_1></Model></Models>", nullptr,
       "inf"},
      {"limit beyond a float",
       "<Models><Model><Model_name>X</Model_name><sens_1><G_1>1e39</G_1></sens_1></Model></Models>", nullptr,
       "1e39"},
      {"accuracy table", nullptr, "<E><A0><diap_1>0.01</diap_1></A0><B><diap_3>n/a</diap_3></B></E>", "n/a"},
      {"NaN accuracy", nullptr, "<E><A0><diap_1>nan</diap_1></A0></E>", "nan"},
      // What the writers of the files do put in: blanks around a number, a plus sign, an exponent.
      {"blanks, plus sign, exponent",
       "<Models><Model><Model_name>X</Model_name><VpCont> +2 </VpCont>"
       "<sens_1><G_1>\n 2.5e3 </G_1><A_1>+7</A_1></sens_1></Model></Models>",
       "<E><C><diap_6> .25 </diap_6></C></E>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool good = *c.bad == 0;
    if (c.models) {
      const Result<TModelRec> model = readModelCatalogue(write("Models.xml", c.models), "X");
      EXPECT_EQ(model.ok(), good) << model.why();
      if (!good) {
        EXPECT_NE(model.why().find(std::string("\"") + c.bad + "\""), std::string::npos) << model.why();
        EXPECT_NE(model.why().find("остановлено"), std::string::npos) << model.why();
      } else {
        EXPECT_EQ(model->VpCont, 2);
        EXPECT_FLOAT_EQ(model->sens[0].G[0], 2500);
        EXPECT_FLOAT_EQ(model->sens[0].A[0], 7);
      }
    }
    if (c.errorsXml) {
      const Result<TErrorRec> errors = readErrorCatalogue(write("Errors.xml", c.errorsXml));
      EXPECT_EQ(errors.ok(), good) << errors.why();
      if (!good) {
        EXPECT_NE(errors.why().find(c.bad), std::string::npos) << errors.why();
      } else {
        EXPECT_FLOAT_EQ(errors->rows[3][5], 0.25f);
      }
    }
  }
}

TEST_F(Catalogues, Windows1251DocumentsMatchCyrillicModelNames) {
  // "КД-100" in Windows-1251, in a document that says so.
  const std::string models = write("Models.xml",
                                   "<?xml version=\"1.0\" encoding=\"windows-1251\"?><Models><Model>"
                                   "<Model_name>\xCA\xC4-100</Model_name><VpCont>5</VpCont>"
                                   "</Model></Models>");
  const Result<TModelRec> model = readModelCatalogue(models, "КД-100");
  ASSERT_TRUE(model.ok()) << model.why();
  EXPECT_EQ(model->VpCont, 5);
  // The same bytes without the declaration are not UTF-8 "КД-100".
  EXPECT_FALSE(
      readModelCatalogue(
          write("Plain.xml", "<Models><Model><Model_name>\xCA\xC4-100</Model_name></Model></Models>"),
          "КД-100")
          .ok());
}

TEST_F(Catalogues, FoundInTheWorkingFolderFirstThenBesideTheProgram) {
  const std::string program = (dir_ / "bin").string();
  std::filesystem::create_directories(program);
  put(program + "/Only_Beside.xml", "<a/>");
  EXPECT_EQ(cataloguePath("Only_Beside.xml", program), program + "/Only_Beside.xml");
  EXPECT_EQ(cataloguePath("Nowhere.xml", program), "Nowhere.xml");
  EXPECT_EQ(cataloguePath("Nowhere.xml", ""), "Nowhere.xml");
}

TEST(ShippedCatalogues, DescribeTheSimulatedCalibrators) {
  const std::string dir = quarn::test::path("QUARN_CATALOGUE_DIR") + "/";
  const Result<TModelRec> quarn = readModelCatalogue(dir + kQuarnCatalogue, "QC-2500");
  ASSERT_TRUE(quarn.ok()) << quarn.why();
  EXPECT_EQ(quarn->sensCount, 2);
  EXPECT_FLOAT_EQ(quarn->sens[0].G[0], 2500);
  EXPECT_FLOAT_EQ(quarn->sens[1].G[0], 250);
  const Result<TErrorRec> errors = readErrorCatalogue(dir + kErrorCatalogue);
  ASSERT_TRUE(errors.ok()) << errors.why();
  for (const auto& row : errors->rows)
    for (float v : row) EXPECT_GT(v, 0);
  const Result<TModelRec> brenk = readModelCatalogue(dir + kBrenkCatalogue, "025");
  ASSERT_TRUE(brenk.ok()) << brenk.why();
  EXPECT_FLOAT_EQ(brenk->sens[0].G[0], 2500);
  EXPECT_STREQ(modelCatalogueName(true), kBrenkCatalogue);
  EXPECT_STREQ(modelCatalogueName(false), kQuarnCatalogue);
}

TEST(ModelText, QuarnNameAndBrenkNumberWithLeadingZero) {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  std::memcpy(dev->calInfo.modelName, "QC-2500", 8);
  EXPECT_EQ(catalogueModelText(*dev, false), "QC-2500");
  const struct {
    int32_t modelNo;
    const char* text;
  } cases[] = {{250, "025"}, {1000, "100"}, {1234, "123"}, {90, "09"}, {5, "00"}};
  for (const auto& c : cases) {
    dev->calInfo.modelNo = c.modelNo;
    EXPECT_EQ(catalogueModelText(*dev, true), c.text) << c.modelNo;
  }
  // A model name that fills its field without a terminator is still read within the field.
  std::memset(dev->calInfo.modelName, 'Q', sizeof dev->calInfo.modelName);
  EXPECT_EQ(catalogueModelText(*dev, false).size(), 12u);
  // The record's Windows-1251 name is matched as UTF-8.
  std::memset(dev->calInfo.modelName, 0, sizeof dev->calInfo.modelName);
  std::memcpy(dev->calInfo.modelName, "\xCA\xC4-1", 4);
  EXPECT_EQ(catalogueModelText(*dev, false), "КД-1");
}

TEST(ModelCodeTable, FirstFamilyWithAFittingLimitGivesTheCode) {
  EXPECT_EQ(modelByType("КДИ-1", 250), "130");
  EXPECT_EQ(modelByType("КДИ-1", 251), "140");
  EXPECT_EQ(modelByType("КДД", 0.1f), "020");
  // "КДИВ" also contains "КДИ": the longer family is matched first (a 40 kPa КДИВ was given КДИ's
  // code 120).
  const struct {
    const char* name;
    float upper;
    const char* code;
  } vacuum[] = {
      {"КДИВ-3", 40, "410"}, {"КДИВ", 250, "420"}, {"КДИВ 2400", 2400, "430"}, {"Датчик КДИВ", 39, "410"}};
  for (const auto& c : vacuum) EXPECT_EQ(modelByType(c.name, c.upper), c.code) << c.name;
  // The limit exceeds all of a family's entries: the next matching family is tried.
  EXPECT_EQ(modelByType("КДИВ", 5000), "150");
  EXPECT_EQ(modelByType("КДД/КДИ", 5000), "150");
  EXPECT_EQ(modelByType("КДА КДИВ", 200000), "");
  EXPECT_EQ(modelByType("Unknown", 10), "");
}

}  // namespace
