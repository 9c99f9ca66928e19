// A stand-in for quarn-sim: a shell script that writes its arguments into "<script>.args", names its
// calibrator terminal at once and its Dorv terminal a moment later (as the real one may), then waits.
#pragma once

#include <QFile>
#include <QString>

namespace armtest {

inline bool writeStandInSimulator(const QString& script, const QString& calibrator, const QString& dorv) {
  QFile f(script);
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(QStringLiteral("#!/bin/sh\necho \"$@\" > \"$0.args\"\necho calibrator %1\nsleep 0.3\n"
                         "echo dorv %2\nexec sleep 30\n")
              .arg(calibrator, dorv)
              .toLocal8Bit());
  f.close();
  return f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

}  // namespace armtest
