// "в Excel": the protocol made from the parameters screen and the record, read back with openpyxl;
// the timer stopped and restarted around it; where the workbooks go; every failure told in the
// message window with the results left as they were; the PDF through LibreOffice (a stand-in
// office program on the search path shows the conversion, its failures and its time limit; the real
// one is tried where it is installed).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CalibrationRuns.h"
#include "HistoryStore.h"
#include "ParametersScreen.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "Prompts.h"
#include "ProtocolExporter.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "RunSnapshot.h"
#include "Suitability.h"
#include "VerificationScreen.h"
#include "ZDialog.h"
#include "limit_cases.h"
#include "make_report.h"
#include "openpyxl_reader.h"
#include "protocol_fields.h"
#include "protocol_pdf.h"
#include "report_exchange.h"
#include "screen_fixture.h"
#include "test_paths.h"
#include "workbook_fixture.h"

namespace {

using namespace arm;
namespace data = quarn::data;
using json = nlohmann::json;

void writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
  f.close();
  if (executable) f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The search path for the duration of a test.
class SearchPath {
 public:
  explicit SearchPath(const QString& path) : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    ::setenv("PATH", path.toLocal8Bit().constData(), 1);
  }
  ~SearchPath() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

// A stand-in "soffice": records its arguments, then behaves as `body` says (a shell fragment that
// sees the output folder in $out and the input's base name in $base).
QString standInOffice(const QString& folder, const QByteArray& body) {
  QDir().mkpath(folder);
  writeFile(folder + QStringLiteral("/soffice"),
            "#!/bin/sh\n"
            "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n"
            "while [ $# -gt 1 ]; do [ \"$1\" = --outdir ] && out=$2; shift; done\n"
            "base=$(basename \"$1\"); base=${base%.*}\n" +
                body + "\n",
            true);
  return folder;
}

// The texts a signal of the exporter carried, in order.
struct Emitted {
  Emitted(ProtocolExporter& exporter, void (ProtocolExporter::*signal)(const QString&)) {
    QObject::connect(&exporter, signal, &exporter, [this](const QString& text) { texts << text; });
  }
  QStringList texts;
};

int validRecords(const TDev& dev) {
  int n = 0;
  for (const TPovResult& r : dev.results) n += r.valid ? 1 : 0;
  return n;
}

// The parameters screen on a main window, a finished run of three points on channel 1 (its snapshot
// taken from the record and the project), the program's folder and the user's data folder in
// temporary directories, and the operator's answers to the message window recorded.
struct ExportBench {
  ExportBench() {
    Prompts::reset();
    Prompts::messageWindow = [this](const QString& text, bool question, const QString&) {
      questions << text;
      EXPECT_TRUE(question);
      return answer;
    };
    Prompts::fileName = [](const QString&, bool) {
      return QString::fromStdString(quarn::test::path("XLSXTEST_TEMPLATE"));
    };
    formMain.setObjectName(QStringLiteral("FormMain"));
    bench.context.setProgramDir(programDir.path());
    screen = new ParametersScreen(bench.context, &formMain);
    screen->pbTemplateOpenClick();

    data::ChannelParams p;
    p.enabled = true;
    p.name = "Преобразователь давления";
    p.model = "ПД-100";
    p.sn = "123";
    p.Max = 600;
    p.errOk = 0.5f;
    data::normalizeChannel(p);
    data::channelToDev(p, dev().devCh[0]);
    screen->DevToParams();

    text("amp_D1_SH_NUM", "П-7");
    text("amp_CD_DATE", "10.12.2026");
    text("amp_CD_ORG", "ФБУ \"Тест\"");
    text("amp_CD_VERIF", "Иванов И.И.");
    text("amp_CD_CHEF", "Петров П.П.");
    auto* methods = screen->findChild<QTableWidget*>(QStringLiteral("sg_MP"));
    methods->setItem(0, 0, new QTableWidgetItem(QStringLiteral(" Преобразователь давления ПД ")));
    methods->setItem(0, 1, new QTableWidgetItem(QStringLiteral("МИ 1997-89")));

    // Reference kPa, current mA, pressure, error %.
    const float run[3][4] = {
        {0, 4.001f, 0.06f, 0.01f}, {300, 12.003f, 300.2f, 0.033f}, {600, 19.996f, 599.7f, -0.05f}};
    for (int i = 0; i < 3; ++i) {
      TPovResult& r = dev().results[i];
      r.valid = 1;
      r.pRef = run[i][0];
      r.ch[0].current = run[i][1];
      r.ch[0].pFromI = run[i][2];
      r.ch[0].reducedError = run[i][3];
      r.ch[0].iExpected = 4 + 16 * run[i][0] / 600;
    }
    dev().pointIdx = 3;
    dev().pointCount = 3;
    takeRun();

    exporter.setUserDataDir(dataDir.path());
    exporter.setOpener([this](const QString& path) {
      opened << path;
      return openerWorks;
    });
  }
  ~ExportBench() {
    Prompts::reset();
    quarn::report::setReportLibraryPath({});
  }

  TDev& dev() { return bench.dev(); }
  // The run's own snapshot of the record and the project as they are now.
  void takeRun() {
    const data::Project& project = bench.context.project().model();
    bench.context.setRun(
        std::make_unique<data::RunSnapshot>(dev(), project, quarn::report::protocolPlaceholders(project)));
  }
  // The operator types a text on the protocol page.
  void text(const char* control, const char* value) {
    auto* edit = screen->findChild<QLineEdit*>(QString::fromLatin1(control));
    ASSERT_NE(edit, nullptr) << control;
    edit->setText(QString::fromUtf8(value));
    Q_EMIT edit->textEdited(edit->text());
  }
  QString message() { return bench.context.messageWindow().text(); }
  QString reports() const { return programDir.filePath(QStringLiteral("reports")); }

  armtest::ScreenBench bench;
  QTemporaryDir programDir;
  QTemporaryDir dataDir;
  QWidget formMain;
  ParametersScreen* screen = nullptr;
  ProtocolExporter exporter{bench.context};
  QStringList questions;
  int answer = ZDialog::kResultCancel;
  QStringList opened;
  bool openerWorks = true;
};

// The cell texts of a sheet, and the row of the results table where a column holds `marker`.
std::vector<std::string> texts(const json& sheet) {
  std::vector<std::string> out;
  for (const auto& [ref, value] : sheet["cells"].items())
    if (value.is_string()) out.push_back(value);
  return out;
}
bool holds(const std::vector<std::string>& cells, const std::string& part) {
  for (const std::string& c : cells)
    if (c.find(part) != std::string::npos) return true;
  return false;
}

TEST(ProtocolExport, TheWorkbookHoldsTheRunAndTheProtocolPageTexts) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  ExportBench b;
  // The protocol page edited after the run, and the device's serial number too: the protocol is the
  // run's, with the texts and the device it had.
  b.text("amp_CD_CHEF", "Сидоров С.С.");
  b.text("amp_CD_ORG", "Другая организация");
  data::copyTextField(b.dev().devCh[0].sn, sizeof b.dev().devCh[0].sn, "999");
  b.screen->DevToParams();
  ASSERT_FALSE(QFileInfo::exists(b.reports()));
  const Emitted exported(b.exporter, &ProtocolExporter::exported);

  b.exporter.exportProtocol();

  const QString workbook = b.reports() + QStringLiteral("/Протокол поверки ДД №123.xlsx");
  ASSERT_EQ(exported.texts, QStringList{workbook}) << b.message().toStdString();
  EXPECT_EQ(b.exporter.lastWorkbook(), workbook);
  EXPECT_EQ(b.bench.taskNumbers(), (std::vector<uint32_t>{TASK_TIMER_STOP, TASK_TIMER_START}));
  EXPECT_EQ(validRecords(b.dev()), 3);
  // Offered to open; "Нет" opens nothing.
  ASSERT_EQ(b.questions.size(), 1);
  EXPECT_TRUE(b.questions[0].contains(workbook)) << b.questions[0].toStdString();
  EXPECT_TRUE(b.opened.isEmpty());

  std::string error;
  const auto dump = xlsxtest::readWorkbook(workbook.toStdString(), &error);
  ASSERT_TRUE(dump) << error;
  const json& sheet = xlsxtest::sheetNamed(*dump, "Протокол 123  (к.1)");
  ASSERT_FALSE(sheet.is_null()) << (*dump)["sheets"];
  const std::vector<std::string> cells = texts(sheet);
  for (const char* expected : {"ПРОТОКОЛ ПОВЕРКИ № П-7", "ФБУ \"Тест\"", "Иванов И.И.", "Петров П.П.",
                               "10.12.2026", "ПД-100", "положительные"})
    EXPECT_TRUE(holds(cells, expected)) << expected;
  for (const char* later : {"Сидоров", "Другая организация", "999"})
    EXPECT_FALSE(holds(cells, later)) << later;
  // The method document of the list row that names the device.
  EXPECT_TRUE(holds(cells, "МИ 1997-89"));

  // The results table: interval, reference, expected current, current, pressure, error, permissible
  // error, one row per record, with the parameters screen's three decimals.
  int row = 0;
  for (const auto& [ref, value] : sheet["cells"].items())
    if (value == "0...600" && ref[0] == 'A' && (row == 0 || std::stoi(ref.substr(1)) < row))
      row = std::stoi(ref.substr(1));
  ASSERT_GT(row, 0) << sheet["cells"];
  const auto cell = [&](char column, int r) {
    const std::string ref = std::string(1, column) + std::to_string(r);
    return sheet["cells"].contains(ref) ? sheet["cells"][ref] : json();
  };
  const double expected[3][6] = {{0, 4, 4.001, 0.06, 0.01, 0.5},
                                 {300, 12, 12.003, 300.2, 0.033, 0.5},
                                 {600, 20, 19.996, 599.7, -0.05, 0.5}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(cell('A', row + i), "0...600");
    for (int k = 0; k < 6; ++k) {
      const json v = cell(static_cast<char>('B' + k), row + i);
      ASSERT_TRUE(v.is_number()) << v;
      EXPECT_NEAR(v.get<double>(), expected[i][k], 1e-9) << "column " << static_cast<char>('B' + k);
    }
  }
  EXPECT_NE(cell('A', row + 3), "0...600");
}

// "Да" opens the workbook with the desktop's handler, or its folder when no program takes it.
TEST(ProtocolExport, AnsweringYesOpensTheWorkbookElseItsFolder) {
  ExportBench b;
  b.answer = ZDialog::kResultOk;
  b.exporter.exportProtocol();
  ASSERT_FALSE(b.exporter.lastWorkbook().isEmpty()) << b.message().toStdString();
  EXPECT_EQ(b.opened, QStringList{b.exporter.lastWorkbook()});

  b.opened.clear();
  b.openerWorks = false;
  b.exporter.exportProtocol();
  // The second workbook gets a numbered name beside the first.
  EXPECT_TRUE(b.exporter.lastWorkbook().endsWith(QStringLiteral("№123(1).xlsx")))
      << b.exporter.lastWorkbook().toStdString();
  EXPECT_EQ(b.opened, (QStringList{b.exporter.lastWorkbook(), b.reports()}));
}

TEST(ProtocolExport, FailuresAreToldInTheMessageWindowAndTheResultsStay) {
  struct Case {
    const char* what;
    std::function<void(ExportBench&)> spoil;
    const char* caption;
    const char* message;
    bool timerPaused;  // the report was attempted between task 22 and task 23
  };
  const Case cases[] = {
      {"missing template",
       [](ExportBench& b) {
         Prompts::fileName = [&b](const QString&, bool) {
           return b.programDir.filePath(QStringLiteral("нет.xlsx"));
         };
         b.screen->pbTemplateOpenClick();
       },
       "Ошибка формирования протокола", "Файл шаблона не задан или недоступен!", true},
      {"report library not loadable",
       [](ExportBench&) { quarn::report::setReportLibraryPath("/nonexistent/libxlsxgen.so"); }, "Error",
       "Библиотека /nonexistent/libxlsxgen.so не найдена!", true},
      {"report library without MakeXLSX",
       [](ExportBench&) { quarn::report::setReportLibraryPath(quarn::test::path("QUARN_LIBRARY")); }, "Error",
       "Функция MakeXLSX не найдена!", true},
      {"no folder for the reports",
       [](ExportBench& b) {
         // A file where each reports folder would be: neither can be made or written.
         writeFile(b.reports(), "x");
         writeFile(b.dataDir.filePath(QStringLiteral("reports")), "x");
       },
       "Сообщение", "нет папки для протоколов, доступной для записи", false},
      {"no channel enabled",
       [](ExportBench& b) {
         b.dev().devCh[0].enabled = 0;
         b.screen->DevToParams();
         b.takeRun();
       },
       "Сообщение", "Канал не выбран", false},
      {"no run made yet", [](ExportBench& b) { b.bench.context.setRun(nullptr); }, "Сообщение",
       "Поверка не проводилась", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExportBench b;
    c.spoil(b);
    const Emitted failed(b.exporter, &ProtocolExporter::failed);
    const Emitted exported(b.exporter, &ProtocolExporter::exported);
    const TDev before = b.dev();

    b.exporter.exportProtocol();

    EXPECT_EQ(failed.texts, QStringList{b.message()});
    EXPECT_TRUE(exported.texts.isEmpty());
    EXPECT_TRUE(b.message().contains(QString::fromUtf8(c.message))) << b.message().toStdString();
    EXPECT_EQ(b.bench.context.messageWindow().windowTitle(), QString::fromUtf8(c.caption));
    EXPECT_TRUE(b.bench.context.messageWindow().isVisible());
    EXPECT_TRUE(b.questions.isEmpty());
    const std::vector<uint32_t> paused = {TASK_TIMER_STOP, TASK_TIMER_START};
    EXPECT_EQ(b.bench.taskNumbers(), c.timerPaused ? paused : std::vector<uint32_t>());
    EXPECT_EQ(std::memcmp(before.results, b.dev().results, sizeof before.results), 0);
    EXPECT_EQ(b.dev().pointIdx, before.pointIdx);
    EXPECT_TRUE(QDir(b.reports()).entryList(QDir::Files).isEmpty());
  }
}

TEST(ProtocolExport, TheReportsFolderIsBesideTheProgramElseInTheUsersDataFolder) {
  QTemporaryDir program, user;
  const QString besideProgram = program.filePath(QStringLiteral("reports"));
  const QString inUserData = user.filePath(QStringLiteral("ARM_Quarn/reports"));
  const QString userData = user.filePath(QStringLiteral("ARM_Quarn"));

  // Made when missing, beside the program.
  EXPECT_EQ(ProtocolExporter::reportsFolder(program.path(), userData), besideProgram);
  EXPECT_TRUE(QFileInfo(besideProgram).isDir());
  // Taken as it is when it is there.
  EXPECT_EQ(ProtocolExporter::reportsFolder(program.path(), userData), besideProgram);

  // The program's folder cannot take it: the user's data folder does, made with its parents.
  ASSERT_TRUE(QDir(besideProgram).removeRecursively());
  writeFile(besideProgram, "not a folder");
  EXPECT_EQ(ProtocolExporter::reportsFolder(program.path(), userData), inUserData);
  EXPECT_TRUE(QFileInfo(inUserData).isDir());
  EXPECT_EQ(ProtocolExporter::reportsFolder(QString(), userData), inUserData);

  // A program's folder without write permission (the permission does not bind the superuser).
  if (::geteuid() != 0) {
    QTemporaryDir locked;
    QFile::setPermissions(locked.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(ProtocolExporter::reportsFolder(locked.path(), userData), inUserData);
    QFile::setPermissions(locked.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }

  QString why;
  ASSERT_TRUE(QDir(inUserData).removeRecursively());
  writeFile(inUserData, "not a folder");
  EXPECT_EQ(ProtocolExporter::reportsFolder(program.path(), userData, &why), QString());
  EXPECT_TRUE(why.contains(besideProgram) && why.contains(inUserData)) << why.toStdString();
}

// ---- PDF --------------------------------------------------------------------------------------------

TEST(ProtocolPdf, TheOfficeProgramsOutcomesAsTheOperatorReadsThem) {
  struct Case {
    const char* what;
    const char* body;  // empty: no office program on the search path
    bool ok;
    const char* message;
  };
  const Case cases[] = {
      {"converted", "printf '%%PDF-1.4 stand-in' > \"$out/$base.pdf\"", true, ""},
      {"office fails", "exit 1", false, "LibreOffice не смог преобразовать протокол в PDF"},
      {"office ends well but writes nothing", "exit 0", false,
       "LibreOffice не смог преобразовать протокол в PDF"},
      {"no office program", nullptr, false, "нужен LibreOffice (soffice), он не установлен"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString workbook = dir.filePath(QStringLiteral("Протокол поверки ДД №123.xlsx"));
    writeFile(workbook, "workbook");
    const QString bin = dir.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    if (c.body) standInOffice(bin, c.body);
    // The stand-in needs the system's tools; without it the search path holds no office program.
    const SearchPath path(c.body ? bin + QStringLiteral(":/usr/bin:/bin") : bin);

    EXPECT_EQ(quarn::report::pdfAvailable(), c.body != nullptr);
    const quarn::data::Result<std::string> r = quarn::report::writeProtocolPdf(workbook.toStdString(), 20);

    EXPECT_EQ(r.ok(), c.ok) << r.why();
    EXPECT_NE(r.why().find(c.message), std::string::npos) << r.why();
    if (c.ok) {
      EXPECT_EQ(*r, dir.filePath(QStringLiteral("Протокол поверки ДД №123.pdf")).toStdString());
      EXPECT_EQ(readFile(QString::fromStdString(*r)), QByteArray("%PDF-1.4 stand-in"));
    }
    EXPECT_EQ(readFile(workbook), QByteArray("workbook"));
    if (c.body) {
      // Headless, a profile of its own (an office window already open must not take the request),
      // the PDF into the workbook's folder.
      const QStringList args =
          QString::fromUtf8(readFile(bin + QStringLiteral("/args"))).split(QLatin1Char('\n'));
      EXPECT_TRUE(args.contains(QStringLiteral("--headless")));
      EXPECT_EQ(args.indexOf(QStringLiteral("pdf")), args.indexOf(QStringLiteral("--convert-to")) + 1);
      EXPECT_EQ(args.indexOf(dir.path()), args.indexOf(QStringLiteral("--outdir")) + 1);
      EXPECT_FALSE(args.filter(QStringLiteral("-env:UserInstallation=file:///tmp/")).isEmpty())
          << args.join(' ').toStdString();
      EXPECT_TRUE(args.contains(workbook));
    }
  }
}

// An office program that hangs is ended at the time limit, together with the process it started
// (LibreOffice's launcher runs the office in a child of its own).
TEST(ProtocolPdf, AConversionThatOverrunsIsEndedWithItsChild) {
  QTemporaryDir dir;
  const QString workbook = dir.filePath(QStringLiteral("p.xlsx"));
  writeFile(workbook, "workbook");
  const QString bin = dir.filePath(QStringLiteral("bin"));
  standInOffice(bin, "sleep 120 & echo $! > \"$out/child\"; wait");
  const SearchPath path(bin + QStringLiteral(":/usr/bin:/bin"));

  const auto start = std::chrono::steady_clock::now();
  const quarn::data::Result<std::string> r = quarn::report::writeProtocolPdf(workbook.toStdString(), 1);
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.why().find("за 1 с; преобразование прервано"), std::string::npos) << r.why();
  EXPECT_LT(took, std::chrono::seconds(30));
  const pid_t child = readFile(dir.filePath(QStringLiteral("child"))).trimmed().toInt();
  ASSERT_GT(child, 0);
  // Gone, or a zombie waiting for its new parent.
  bool running = false;
  for (int i = 0; i < 50; ++i) {
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(child));
    running = !stat.isEmpty() && !stat.contains(") Z ");
    if (!running) break;
    ::usleep(20000);
  }
  EXPECT_FALSE(running) << "the office program's child still runs";
  if (running) ::kill(child, SIGKILL);
}

TEST(ProtocolExport, WithPdfTheStandInWritesItBesideTheWorkbook) {
  ExportBench b;
  const SearchPath path(
      standInOffice(b.dataDir.filePath(QStringLiteral("bin")), "printf '%%PDF-1.4' > \"$out/$base.pdf\"") +
      QStringLiteral(":/usr/bin:/bin"));
  b.exporter.setWritePdf(true);
  b.exporter.exportProtocol();
  ASSERT_FALSE(b.exporter.lastWorkbook().isEmpty()) << b.message().toStdString();
  EXPECT_EQ(b.exporter.lastPdf(), b.reports() + QStringLiteral("/Протокол поверки ДД №123.pdf"));
  EXPECT_TRUE(QFileInfo::exists(b.exporter.lastPdf()));
  ASSERT_EQ(b.questions.size(), 1);
  EXPECT_TRUE(b.questions[0].contains(b.exporter.lastPdf())) << b.questions[0].toStdString();
}

TEST(ProtocolExport, WithPdfButNoLibreOfficeTheWorkbookIsWrittenAndTheNeedIsSaid) {
  ExportBench b;
  QTemporaryDir emptyBin;
  const SearchPath path(emptyBin.path());
  b.exporter.setWritePdf(true);
  b.exporter.exportProtocol();
  EXPECT_TRUE(QFileInfo::exists(b.exporter.lastWorkbook())) << b.message().toStdString();
  EXPECT_TRUE(b.exporter.lastPdf().isEmpty());
  ASSERT_EQ(b.questions.size(), 1);
  EXPECT_TRUE(b.questions[0].contains(QStringLiteral("нужен LibreOffice"))) << b.questions[0].toStdString();
}

// The screen's "PDF" check box asks for the PDF, and cannot be checked without LibreOffice.
TEST(ProtocolExport, ThePdfCheckBoxFollowsLibreOffice) {
  ExportBench b;
  QTemporaryDir bin;
  {
    const SearchPath path(bin.path());
    QCheckBox* box = b.exporter.createPdfCheckBox(&b.formMain);
    EXPECT_FALSE(box->isEnabled());
    EXPECT_TRUE(box->toolTip().contains(QStringLiteral("нужен LibreOffice")));
  }
  const SearchPath path(standInOffice(bin.path(), "exit 0") + QStringLiteral(":/usr/bin:/bin"));
  QCheckBox* box = b.exporter.createPdfCheckBox(&b.formMain);
  EXPECT_EQ(box->objectName(), QStringLiteral("cbPdf"));
  ASSERT_TRUE(box->isEnabled());
  box->click();
  EXPECT_TRUE(b.exporter.writePdf());
  box->click();
  EXPECT_FALSE(b.exporter.writePdf());
}

// LibreOffice prints the sheets a workbook hides: the office program gets a copy without them, so
// the PDF holds no unfilled template page. The workbook itself keeps its hidden sheets.
TEST(ProtocolExport, ThePdfIsMadeOfTheSheetsTheWorkbookShows) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  ExportBench b;
  const SearchPath path(standInOffice(b.dataDir.filePath(QStringLiteral("bin")),
                                      "cp \"$1\" \"$(dirname \"$0\")/given.xlsx\"; printf '%%PDF-1.4' > "
                                      "\"$out/$base.pdf\"") +
                        QStringLiteral(":/usr/bin:/bin"));
  b.exporter.setWritePdf(true);
  b.exporter.exportProtocol();
  ASSERT_FALSE(b.exporter.lastPdf().isEmpty()) << b.questions.value(0).toStdString();
  EXPECT_EQ(b.exporter.lastPdf(), b.reports() + QStringLiteral("/Протокол поверки ДД №123.pdf"));

  std::string error;
  const auto workbook = xlsxtest::readWorkbook(b.exporter.lastWorkbook().toStdString(), &error);
  ASSERT_TRUE(workbook) << error;
  const auto given =
      xlsxtest::readWorkbook(b.dataDir.filePath(QStringLiteral("bin/given.xlsx")).toStdString(), &error);
  ASSERT_TRUE(given) << error;
  std::vector<std::string> shown, printed;
  for (const auto& s : (*workbook)["sheets"])
    if (s["state"] == "visible") shown.push_back(s["name"]);
  for (const auto& s : (*given)["sheets"]) {
    printed.push_back(s["name"]);
    EXPECT_EQ(s["state"], "visible") << s["name"];
    for (const std::string& cell : texts(s)) EXPECT_EQ(cell.find('&'), std::string::npos) << cell;
  }
  EXPECT_EQ((*workbook)["sheets"].size(), 16u);
  EXPECT_EQ(printed, shown);
  EXPECT_EQ(printed, std::vector<std::string>(
                         {"Протокол 123  (к.1)", "свидетельство 123 (к.1)", "сертификат 123 (к.1)"}));
  // The copy was made apart and is gone; the reports folder holds the workbook and its PDF.
  const QStringList args = QString::fromUtf8(readFile(b.dataDir.filePath(QStringLiteral("bin/args"))))
                               .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_FALSE(args.isEmpty());
  EXPECT_TRUE(args.last().startsWith(QStringLiteral("/tmp/"))) << args.last().toStdString();
  EXPECT_FALSE(QFileInfo::exists(args.last()));
  EXPECT_EQ(QDir(b.reports()).entryList(QDir::Files).size(), 2);
}

TEST(ProtocolExport, PdfWithLibreOfficeWhenInstalled) {
  if (!ProtocolExporter::pdfAvailable()) GTEST_SKIP() << "LibreOffice is not installed; no PDF was made";
  ExportBench b;
  b.exporter.setWritePdf(true);
  b.exporter.exportProtocol();
  ASSERT_FALSE(b.exporter.lastPdf().isEmpty()) << b.questions.value(0).toStdString();
  EXPECT_TRUE(readFile(b.exporter.lastPdf()).startsWith("%PDF"));
  // The PDF's text: no unfilled placeholder, and the uncertainty column's header in one piece.
  if (std::system("command -v pdftotext >/dev/null 2>&1") != 0) return;
  const QString textFile = b.dataDir.filePath(QStringLiteral("protocol.txt"));
  const std::string cmd =
      "pdftotext -layout '" + b.exporter.lastPdf().toStdString() + "' '" + textFile.toStdString() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const QString text = QString::fromUtf8(readFile(textFile));
  EXPECT_FALSE(text.contains(QLatin1Char('&'))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Неопределённость"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("ПРОТОКОЛ ПОВЕРКИ")));
}

// A run whose records were all deleted has nothing to put in a protocol: "в Excel" says so and
// writes nothing (the table would be empty and the verdict "not suitable" without a reason shown).
TEST(ProtocolExport, ARunWithoutResultsIsRefused) {
  ExportBench b;
  for (TPovResult& r : b.dev().results) r.valid = 0;
  b.takeRun();
  const Emitted failed(b.exporter, &ProtocolExporter::failed);
  b.exporter.exportProtocol();
  ASSERT_EQ(failed.texts.size(), 1);
  EXPECT_EQ(failed.texts[0], QStringLiteral("Нет результатов для протокола"));
  EXPECT_EQ(b.message(), QStringLiteral("Нет результатов для протокола"));
  EXPECT_TRUE(b.questions.isEmpty());
  EXPECT_TRUE(b.exporter.lastWorkbook().isEmpty());
  EXPECT_TRUE(QDir(b.reports()).entryList(QDir::Files).isEmpty());
}

// ---- Both hosts ---------------------------------------------------------------------------------

#ifdef QUARN_HAVE_CLI_PROGRAM
// One run, measured once: quarn-cli verifies a short version of the demo project against the
// simulator's demonstration bench and writes its protocol; the workstation's "в Excel" then writes
// the protocol of the same record (taken back from the run history) with the same project on the
// parameters screen. The two workbooks hold the same cells, sheet by sheet: uncertainty, verdict,
// placeholders and texts alike. Point 0 % is measured by the calibrator's low-range module, where
// the hosts' rules for the uncertainty used to differ. quarn-cli runs its simulator in virtual time.
TEST(BothHosts, OneRunExportedByTheWorkstationAndByQuarnCliGivesTheSameWorkbook) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::string examples = quarn::test::path("QUARN_EXAMPLES_DIR");
  data::Project project;
  ASSERT_TRUE(data::loadProject(examples + "/demo.aip", project).ok());
  project.pointSets[0] = {};
  project.pointSets[0][0] = {true, 0, 0};
  project.pointSets[0][1] = {true, 50, 0};
  project.selectedSet = 0;
  project.readiness.holdTimeS = "1";
  const std::string projectFile = folder + "/short.aip";
  ASSERT_EQ(data::saveProject(projectFile, project).why(), "");

  const std::string cliWorkbook = folder + "/cli.xlsx";
  const std::string history = folder + "/history.db";
  const std::string command = "'" + quarn::test::path("QUARN_CLI") +
                              "' --sim-virtual --timeout 20 --sim-arg --scenario --sim-arg '" + examples +
                              "/demo_bench.scenario' --sim-arg --set --sim-arg input_tau_s=0.3 verify '" +
                              projectFile + "' --run-timeout 120 --history '" + history + "' --report '" +
                              cliWorkbook + "' > '" + folder + "/out.json' 2> '" + folder + "/err.txt'";
  ASSERT_EQ(std::system(command.c_str()), 0)
      << readFile(dir.filePath(QStringLiteral("err.txt"))).toStdString();

  auto opened = quarn::history::HistoryStore::open(history);
  ASSERT_TRUE(opened.ok()) << opened.error().message;
  const auto stored = opened.value()->show(1);
  ASSERT_TRUE(stored.ok()) << stored.error().message;

  // The workstation: the project on the parameters screen, the run's record and date, "в Excel".
  armtest::ScreenBench bench;
  QWidget formMain;
  formMain.setObjectName(QStringLiteral("FormMain"));
  Screen::markOwner(&formMain);
  QTemporaryDir programDir;
  bench.context.setProgramDir(programDir.path());
  auto* screen = new ParametersScreen(bench.context, &formMain);
  ASSERT_TRUE(bench.context.project().load(QString::fromStdString(projectFile)));
  quarn::history::runRecordToDev(stored->record, bench.dev());
  // The calibrator's settings read, as after connecting: the screen names the calibrator among the
  // references.
  bench.dev().linked = 1;
  bench.notify(*screen, 3);
  auto* date = screen->findChild<QLineEdit*>(QStringLiteral("amp_CD_DATE"));
  ASSERT_NE(date, nullptr);
  date->setText(QString::fromStdString(stored->record.protocol.date));
  Prompts::fileName = [](const QString&, bool) {
    return QString::fromStdString(quarn::test::path("XLSXTEST_TEMPLATE"));
  };
  screen->pbTemplateOpenClick();
  Prompts::messageWindow = [](const QString&, bool, const QString&) { return ZDialog::kResultCancel; };
  // The run as the workstation keeps it: the record with the project's protocol texts.
  const data::Project& shown = bench.context.project().model();
  bench.context.setRun(
      std::make_unique<data::RunSnapshot>(bench.dev(), shown, quarn::report::protocolPlaceholders(shown)));
  // The workstation's protocol names the run's entry in the history, as its recorder would have
  // stored the run.
  bench.context.setHistoryFooter(
      [&stored](const TDev&) { return quarn::history::protocolFooter(stored->runId, stored->hash); });
  ProtocolExporter exporter(bench.context);
  exporter.setUserDataDir(programDir.path());
  exporter.exportProtocol();
  Prompts::reset();
  ASSERT_FALSE(exporter.lastWorkbook().isEmpty()) << bench.context.messageWindow().text().toStdString();

  std::string error;
  const auto fromCli = xlsxtest::readWorkbook(cliWorkbook, &error);
  ASSERT_TRUE(fromCli) << error;
  const auto fromWorkstation = xlsxtest::readWorkbook(exporter.lastWorkbook().toStdString(), &error);
  ASSERT_TRUE(fromWorkstation) << error;
  const json& a = (*fromCli)["sheets"];
  const json& b = (*fromWorkstation)["sheets"];
  ASSERT_EQ(a.size(), b.size());
  int compared = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(a[i]["name"].get<std::string>());
    EXPECT_EQ(a[i]["name"], b[i]["name"]);
    EXPECT_EQ(a[i]["state"], b[i]["state"]);
    for (const auto& [ref, value] : a[i]["cells"].items()) {
      EXPECT_EQ(b[i]["cells"].value(ref, json()), value) << ref;
      ++compared;
    }
    EXPECT_EQ(a[i]["cells"].size(), b[i]["cells"].size());
  }
  EXPECT_GT(compared, 500);
  // What the comparison covers: the uncertainty of point 0 by the low-range module (250 kPa: near
  // 0.015 %, against about 0.08 % with the calibrator's 2500 kPa), channel 3's notice of
  // unsuitability and the date of the protocol.
  const json& protocol1 = xlsxtest::sheetNamed(*fromCli, "Протокол 1001  (к.1)");
  ASSERT_FALSE(protocol1.is_null());
  EXPECT_FALSE(xlsxtest::sheetNamed(*fromCli, "извещение 1003 (к.3)").is_null());
  EXPECT_TRUE(holds(texts(protocol1), stored->record.protocol.date));
  EXPECT_FLOAT_EQ(stored->record.reference.upperKpa, 2500) << "the run ended at 300 kPa, module 1";
  const float uncertainty0 = stored->record.devices.at(0).points.at(0).uncertainty;
  EXPECT_LT(uncertainty0, 0.03f);
  EXPECT_GT(uncertainty0, 0.0f);
}

// One calibration: quarn-cli calibrates the calibration bench and writes its protocol; the
// workstation's "в Excel", given the same calibration (as-found run, trims, as-left run, taken back
// from the run history) and the project's default template, writes the same workbook, cell for cell.
TEST(BothHosts, OneCalibrationExportedByTheWorkstationAndByQuarnCliGivesTheSameWorkbook) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  const std::string cliWorkbook = folder + "/cli.xlsx";
  const std::string history = folder + "/history.db";
  const std::string examples = quarn::test::path("QUARN_EXAMPLES_DIR");
  const std::string command = "'" + quarn::test::path("QUARN_CLI") +
                              "' --sim-virtual --model brenk --timeout 20 --sim-arg --scenario --sim-arg '" +
                              examples + "/calibration_bench.scenario' calibrate '" + examples +
                              "/calibration.aip' --history '" + history + "' --report '" + cliWorkbook +
                              "' > '" + folder + "/out.json' 2> '" + folder + "/err.txt'";
  ASSERT_EQ(std::system(command.c_str()), 0)
      << readFile(dir.filePath(QStringLiteral("err.txt"))).toStdString();

  auto opened = quarn::history::HistoryStore::open(history);
  ASSERT_TRUE(opened.ok()) << opened.error().message;
  const auto runs = opened.value()->list();
  ASSERT_TRUE(runs.ok());
  int64_t asLeft = 0;
  for (const auto& r : *runs)
    if (r.tag == quarn::history::RunTag::AsLeft && !asLeft) asLeft = r.runId;
  const auto calibration = opened.value()->calibrationOf(asLeft);
  ASSERT_TRUE(calibration.ok()) << calibration.error().message;
  const data::CalibrationRuns calibrationRuns = quarn::history::calibrationRunsOfStored(*calibration);
  ASSERT_TRUE(calibrationRuns.asFound && calibrationRuns.asLeft);

  // The workstation: the project with the default template on the parameters screen, the as-left run
  // as its last run, the calibration for "в Excel".
  armtest::ScreenBench bench;
  QWidget formMain;
  formMain.setObjectName(QStringLiteral("FormMain"));
  Screen::markOwner(&formMain);
  QTemporaryDir programDir;
  bench.context.setProgramDir(programDir.path());
  auto* screen = new ParametersScreen(bench.context, &formMain);
  ASSERT_TRUE(bench.context.project().load(QString::fromStdString(examples + "/calibration.aip")));
  Prompts::fileName = [](const QString&, bool) {
    return QString::fromStdString(quarn::test::path("XLSXTEST_TEMPLATE"));
  };
  screen->pbTemplateOpenClick();
  Prompts::messageWindow = [](const QString&, bool, const QString&) { return ZDialog::kResultCancel; };
  bench.context.setRun(std::make_unique<data::RunSnapshot>(*calibrationRuns.asLeft));
  bench.context.setHistoryFooter([&calibration](const TDev&) {
    return quarn::history::protocolFooter(calibration->last.contentId, calibration->last.hash);
  });
  ProtocolExporter exporter(bench.context);
  exporter.setUserDataDir(programDir.path());
  exporter.setCalibrationSource(
      [&calibrationRuns] { return std::optional<data::CalibrationRuns>(calibrationRuns); });
  exporter.exportProtocol();
  Prompts::reset();
  ASSERT_FALSE(exporter.lastWorkbook().isEmpty()) << bench.context.messageWindow().text().toStdString();

  std::string error;
  const auto fromCli = xlsxtest::readWorkbook(cliWorkbook, &error);
  ASSERT_TRUE(fromCli) << error;
  const auto fromWorkstation = xlsxtest::readWorkbook(exporter.lastWorkbook().toStdString(), &error);
  ASSERT_TRUE(fromWorkstation) << error;
  const json& a = (*fromCli)["sheets"];
  const json& b = (*fromWorkstation)["sheets"];
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(a[i]["name"].get<std::string>());
    EXPECT_EQ(a[i]["name"], b[i]["name"]);
    EXPECT_EQ(a[i]["state"], b[i]["state"]);
    EXPECT_EQ(a[i]["cells"], b[i]["cells"]);
  }
  // Both are the calibration's protocol: the as-found result and the trims of the device on channel 1.
  EXPECT_TRUE(holds(texts(xlsxtest::sheetNamed(*fromCli, "Протокол 2001  (к.1)")),
                    "Результаты до подстройки: отрицательные."));
}
#endif

// ---- One verdict ------------------------------------------------------------------------------

// The hidden sheets of a protocol workbook (the certificate of an unsuitable device, the notice of
// unsuitability of a suitable one).
bool sheetHidden(const std::string& workbook, const std::string& placeholder) {
  const std::string xml = xlsxtest::readZipEntry(workbook, "xl/workbook.xml");
  const std::string name = "name=\"&amp;" + placeholder + "\"";
  const auto at = xml.find(name);
  if (at == std::string::npos) return false;
  const auto end = xml.find("/>", at);
  return xml.substr(at, end - at).find("state=\"hidden\"") != std::string::npos;
}

// An error at the limit and one step beside it is judged alike by the results table's colour, the
// channel's verdict, the protocol (which of certificate and notice it keeps) and the run history.
TEST(OneVerdict, TableColourVerdictProtocolAndHistoryAgreeAtTheLimit) {
  armtest::ScreenBench bench;
  QWidget formMain;
  auto* screen = new VerificationScreen(bench.context, &formMain);
  QTemporaryDir dir;
  TDev& dev = bench.dev();
  dev.linked = 1;
  dev.linkState = 2;
  dev.kestoDataValid = 1;
  dev.devCh[0].enabled = 1;
  dev.devCh[0].MaxKpa = dev.devCh[0].Max = 600;
  dev.devCh[0].toKpaMul = 1;
  std::strcpy(dev.devCh[0].sn, "7");
  dev.cDigits = 3;
  const std::vector<limitcases::Case> cases = limitcases::atTheLimit();
  ASSERT_GT(limitcases::judgedOtherwiseInDouble(cases), 0)
      << "the table must reach the cases a double rule got wrong";
  int n = 0;
  for (const limitcases::Case& c : cases) {
    SCOPED_TRACE(c.what);
    dev.devCh[0].errOk = c.errOk;
    dev.povHeader.vrCoeff = c.vrCoeff;
    std::memset(dev.results, 0, sizeof dev.results);
    dev.results[0].valid = 1;
    dev.results[0].pRef = 300;
    dev.results[0].ch[0].current = 12;
    dev.results[0].ch[0].reducedError = c.error;
    dev.ch[0].reducedError = c.error;
    dev.pointIdx = 1;
    dev.pointCount = 1;
    screen->results()->setRowCount(0);
    bench.notify(*screen, 2);
    ASSERT_EQ(screen->results()->rowCount(), 1);
    const bool tableRed =
        screen->results()->item(0, 4)->foreground().color() == VerificationScreen::badColour();
    const auto* live = formMain.findChild<QLabel*>(QStringLiteral("pn_Err_1"));
    ASSERT_NE(live, nullptr);
    const bool liveRed = live->palette().color(QPalette::WindowText) == VerificationScreen::badColour();

    EXPECT_EQ(data::channelSuitable(dev, 0), c.within);
    EXPECT_EQ(data::recordWithinLimit(dev, 0, 0), c.within);
    EXPECT_EQ(tableRed, !c.within);
    EXPECT_EQ(liveRed, !c.within);

    quarn::report::ReportRequest request;
    const QFileInfo templateFile(QString::fromStdString(quarn::test::path("XLSXTEST_TEMPLATE")));
    request.templateFolder = templateFile.absolutePath().toStdString();
    request.templateName = templateFile.fileName().toStdString();
    request.outputPath = dir.filePath(QStringLiteral("p%1.xlsx").arg(n++)).toStdString();
    ASSERT_EQ(quarn::report::MakeReport(dev, request), 0) << quarn::report::LastReportError();
    EXPECT_EQ(sheetHidden(request.outputPath, "DEV_VCR_1"), !c.within) << "the certificate";
    EXPECT_EQ(sheetHidden(request.outputPath, "DEV_VER_1"), c.within) << "the notice of unsuitability";

    const quarn::history::RunRecord run = quarn::history::buildRunRecord(dev, {});
    ASSERT_EQ(run.devices.size(), 1u);
    EXPECT_EQ(run.devices[0].verdict,
              c.within ? quarn::history::Verdict::Suitable : quarn::history::Verdict::Unsuitable);
  }
}

}  // namespace
