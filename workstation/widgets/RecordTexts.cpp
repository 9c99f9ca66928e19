#include "RecordTexts.h"

namespace arm {

QString unitName(int units) {
  static const char* const kNames[8] = {"кПа",    "МПа",         "бар",        "кгс/см2",
                                        "кгс/м2", "мм вод. ст.", "мм рт. ст.", "psi"};
  if (units < 0 || units >= 8) return {};
  return QString::fromUtf8(kNames[units]);
}

QString pressureTypeName(int pressType) {
  static const char* const kNames[4] = {"Абсолютное", "Избыточное", "Избыточное-разрежение",
                                        "Избыточное-разрежение"};
  if (pressType < 0 || pressType >= 4) return {};
  return QString::fromUtf8(kNames[pressType]);
}

}  // namespace arm
