// The project the workstation starts with: one that cannot be loaded (damaged, or changed outside the
// program and not confirmed) is said and never becomes the current file, so "Сохранить" cannot write
// the defaults over it; one that is missing is said too.
#include <QFile>
#include <QLabel>

#include "ProjectFile.h"
#include "ZDialog.h"
#include "bench_fixture.h"

namespace {

using namespace armtest;
namespace data = quarn::data;

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

TEST_F(Workstation, AProjectThatCannotBeLoadedAtStartIsNotTheCurrentFile) {
  // A project this program saved: channel 1 on, tolerance 0.5, five points.
  data::Project saved;
  saved.channels[0].enabled = true;
  saved.channels[0].errOk = 0.5f;
  for (int k = 0; k < 5; ++k) saved.pointSets[0][static_cast<std::size_t>(k)] = {true, 25.0f * k, 0};
  const QString job = dir.filePath("job.aip");
  ASSERT_TRUE(data::saveProject(job.toStdString(), saved).ok());
  const QByteArray good = readAll(job);
  QByteArray edited = good;
  edited.replace("errOk=0.5", "errOk=5.5");
  const QByteArray cut = good.left(good.indexOf("[Points_set_0_point_5]"));
  const QString defaultProject = dir.filePath("default.aip");

  struct Case {
    const char* what;
    QByteArray bytes;     // the project's content; empty: no file
    int answer;           // to the question about a changed file: 1 "Да", 2 "Нет"
    bool loads;           // it becomes the current project
    const char* message;  // in the message window
  } cases[] = {
      {"cut off after its fourth point", cut, 2, false, "обрезан"},
      {"changed outside, not confirmed", edited, 2, false, "изменён вне программы"},
      {"changed outside, confirmed", edited, 1, true, nullptr},
      {"missing", QByteArray(), 2, false, "не найден"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(job);
    if (!c.bytes.isEmpty()) writeAll(job, c.bytes);
    writeSettings("[Path]\r\nProjectFileName=" + job.toUtf8() + "\r\n");
    QStringList questions;
    Prompts::messageWindow = [&](const QString& text, bool question, const QString&) {
      if (question) questions << text;
      return c.answer;
    };
    MainWindow& w = makeWindow();
    w.TimerLoadTimer();
    ProjectController& project = w.projectController();
    EXPECT_EQ(questions.size(), c.bytes == edited ? 1 : 0);
    if (c.loads) {
      EXPECT_EQ(w.projectFileName(), job);
      EXPECT_TRUE(project.named());
      EXPECT_FLOAT_EQ(project.model().channels[0].errOk, 5.5f);
      window.reset();
      continue;
    }
    // The default project, without a file: the operator is told, and "Сохранить" asks for a name.
    const ZDialog& message = w.context().messageWindow();
    EXPECT_TRUE(message.isVisible());
    EXPECT_TRUE(message.text().contains(QString::fromUtf8(c.message))) << message.text().toStdString();
    EXPECT_TRUE(message.text().contains(job)) << message.text().toStdString();
    EXPECT_EQ(w.projectFileName(), defaultProject);
    EXPECT_FALSE(project.model().channels[0].enabled);
    if (c.bytes.isEmpty()) {  // nothing to protect: the default project is the current file
      EXPECT_TRUE(project.named());
      window.reset();
      continue;
    }
    EXPECT_FALSE(project.named());
    QStringList asked;
    Prompts::fileName = [&](const QString& title, bool) {
      asked << title;
      return QString();  // cancelled
    };
    project.N_SaveProject_Click();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Сохранить проект как")});
    EXPECT_EQ(readAll(job), c.bytes);
    EXPECT_FALSE(QFile::exists(defaultProject));
    // The project asked for is not what a run would use either: the title names the default.
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("lab_prjName"))->text(),
              QStringLiteral("Файл проекта: ") + defaultProject);
    // Closing keeps the settings naming the project asked for, so the next start says so again.
    w.setProjectModified(false);
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(readAll(dir.filePath("arm_quarn.ini")).contains("ProjectFileName=" + job.toUtf8()));
    EXPECT_EQ(readAll(job), c.bytes);
    window.reset();
    Prompts::fileName = nullptr;
  }
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

}  // namespace
