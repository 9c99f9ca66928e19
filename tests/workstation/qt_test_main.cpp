// The test program's main: the widgets need an application object, created once on the offscreen
// platform so no display is needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The user's data folder (the run history among it) is one of the program's own: a window made
  // without a history path would otherwise add the tests' runs to the user's history, and find
  // there the runs an earlier test run left (a repeated run's "после настройки" question then waits
  // for an answer nobody gives). The programs the tests start inherit it.
  QTemporaryDir data;
  if (!data.isValid()) return 2;
  setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
