// Texts the screens and the main window derive from fields of the shared record: the display unit's
// name, the pressure type's name and the record's fixed Windows-1251 text fields.
#pragma once

#include <QString>
#include <cstddef>
#include <cstring>
#include <string>

#include "quarn/cp1251.h"

namespace arm {

// Name of display unit 0..7 ("кПа" .. "psi"), in the order of the settings' unit factors; empty for
// an index outside the table.
QString unitName(int units);

// Name of pressure type 0..3: "Абсолютное", "Избыточное", "Избыточное-разрежение" (3 repeats 2);
// empty for an index outside the table.
QString pressureTypeName(int pressType);

// A fixed text field of the record (Windows-1251, maybe without terminator).
template <std::size_t N>
QString recordText(const char (&field)[N]) {
  return QString::fromStdString(quarn::text::cp1251ToUtf8(std::string(field, strnlen(field, N))));
}

}  // namespace arm
