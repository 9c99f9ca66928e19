// HART common tables (units, transfer functions, materials, alarm selection, write protection,
// manufacturers, variable classifications), the accessors by table number and the response texts.
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "hart/hart_master.h"
#include "quarn/cp1251.h"

namespace {

constexpr char kEmpty[] = "";
constexpr char kNotAvailable[] = "n/a";

struct CodeText {
  uint32_t code;
  const char* text;
};

// A dense table of `Size` texts indexed by code, filled from rows; missing codes read as "".
template <size_t Size, size_t Rows>
constexpr std::array<const char*, Size> denseTable(const CodeText (&rows)[Rows]) {
  std::array<const char*, Size> table{};
  std::array<bool, Size> given{};
  for (auto& t : table) t = kEmpty;
  for (const auto& row : rows) {
    if (row.code >= Size || given[row.code]) throw "code outside the table or given twice";
    given[row.code] = true;
    table[row.code] = row.text;
  }
  return table;
}

constexpr CodeText kUnitRows[] = {
#define HART_UNIT(code, text) {code, CP1251(text)},
#include "hart/hart_units.inc"
#undef HART_UNIT
};
constexpr auto kUnits = denseTable<240>(kUnitRows);

constexpr CodeText kMaterialRows[] = {
#define HART_MATERIAL(code, text) {code, text},
#include "hart/hart_materials.inc"
#undef HART_MATERIAL
};
constexpr auto kMaterials = denseTable<254>(kMaterialRows);

constexpr CodeText kManufacturerRows[] = {
#define HART_MANUFACTURER(code, name) {code, name},
#include "hart/hart_manufacturers.inc"
#undef HART_MANUFACTURER
};
constexpr auto kManufacturers = denseTable<183>(kManufacturerRows);

constexpr bool manufacturersComplete() {
  for (uint32_t code = 1; code <= 182; ++code)
    if (kManufacturers[code][0] == '\0') return false;
  return true;
}
static_assert(manufacturersComplete(), "every manufacturer code 1..182 needs a name");

constexpr CodeText kTransferFunctionRows[] = {
    {0, CP1251("Линейная")},
    {1, CP1251("Квадратичная")},
    {2, CP1251("Квадратичная 3-й степени")},
    {3, CP1251("Квадратичная 5-й степени")},
    {4, CP1251("Спец. кривая")},
    {5, CP1251("y=x^2")},
    {230, CP1251("Дискретная")},
    {231, CP1251("Квадратичная + Спец. кривая")},
    {232, CP1251("Квадратичная 3-й степени + Спец. кривая")},
    {233, CP1251("Квадратичная 5-й степени + Спец. кривая")},
    {250, CP1251("Не используется")},
    {251, CP1251("Нет")},
    {252, CP1251("Неизвестная")},
    {253, CP1251("Специальная")},
};
constexpr auto kTransferFunctions = [] {
  auto table = denseTable<256>(kTransferFunctionRows);
  for (uint32_t code = 240; code <= 249; ++code) table[code] = CP1251("Заводская");  // manufacturer's own
  return table;
}();

constexpr CodeText kAlarmSelectionRows[] = {
    {0, "High"},
    {1, "Low"},
    {239, "Hold Last Output Value"},
    {240, "Hold Last Output Value"},
    {250, "Not\tUsed"},
    {251, "None"},
    {252, "Unknown"},
    {253, "Special"},
};
constexpr auto kAlarmSelections = denseTable<256>(kAlarmSelectionRows);

constexpr CodeText kWriteProtectRows[] = {
    {0, "Not\tWrite Protected"},
    {1, "Write Protected"},
    {250, "Not\tUsed"},
    {251, "None"},
    {252, "Unknown"},
    {253, "Special"},
};
constexpr auto kWriteProtects = denseTable<256>(kWriteProtectRows);

constexpr CodeText kClassificationRows[] = {
    {0, "Device Variable\tNot\tClassified"},
    {64, "Temperature"},
    {65, "Pressure"},
    {66, "Volumetric Flow"},
    {67, "Velocity"},
    {68, "Volume"},
    {69, "Length"},
    {70, "Time"},
    {71, "Mass"},
    {72, "Mass Flow"},
    {73, "Mass Per Volume"},
    {74, "Viscosity"},
    {75, "Angular\tVelocity"},
    {76, "Area"},
    {77, "Energy (Work)"},
    {78, "Force"},
    {79, "Power"},
    {80, "Frequency"},
    {81, "Analytical"},
    {82, "Capacitance"},
    {83, "Emf"},
    {84, "Current"},
    {85, "Resistance"},
    {86, "Angle"},
    {87, "Conductance"},
    {88, "Volume Per Volume"},
    {89, "Volume Per Mass"},
    {90, "Concentration"},
    {91, "Valve Actuator"},
    {92, "Level"},
    {93, "Vortex Flow"},
    {94, "Mag\tFlow"},
    {95, "Coriolis Flow"},
};
constexpr auto kClassifications = [] {
  auto table = denseTable<96>(kClassificationRows);
  for (uint32_t code = 1; code <= 63; ++code) table[code] = "Reserved";
  return table;
}();

template <size_t Size>
const char* lookup(const std::array<const char*, Size>& table, uint32_t code) {
  return code < Size ? table[code] : kEmpty;
}

// ---- Response texts ----

enum Kind { E, W };

struct ResponseRow {
  uint8_t code;
  Kind kind;
  const char* text;
  std::string_view commands;  // "9,35,44-47,82"
};

constexpr ResponseRow kResponses[] = {
#define HART_RESPONSE(code, kind, text, commands) {code, kind, CP1251(text), commands},
#include "hart/hart_responses.inc"
#undef HART_RESPONSE
};

// Calls f(first, last) for every item of a command list; false when the list is malformed.
template <typename F>
constexpr bool forEachRange(std::string_view list, F f) {
  size_t i = 0;
  auto number = [&](uint32_t& out) {
    if (i >= list.size() || list[i] < '0' || list[i] > '9') return false;
    out = 0;
    while (i < list.size() && list[i] >= '0' && list[i] <= '9') out = out * 10 + (list[i++] - '0');
    return out <= 255;
  };
  while (i < list.size()) {
    uint32_t first = 0, last = 0;
    if (!number(first)) return false;
    last = first;
    if (i < list.size() && list[i] == '-') {
      ++i;
      if (!number(last) || last < first) return false;
    }
    f(first, last);
    if (i < list.size() && list[i++] != ',') return false;
  }
  return !list.empty();
}

constexpr bool listsCommand(std::string_view list, uint32_t command) {
  bool hit = false;
  forEachRange(list,
               [&](uint32_t first, uint32_t last) { hit = hit || (command >= first && command <= last); });
  return hit;
}

// Every list parses, and no (command, code) pair has two texts.
constexpr bool responsesWellFormed() {
  for (uint32_t code = 0; code < 256; ++code) {
    std::array<bool, 256> used{};
    bool duplicate = false;
    for (const auto& row : kResponses) {
      if (row.code != code) continue;
      const bool parsed = forEachRange(row.commands, [&](uint32_t first, uint32_t last) {
        for (uint32_t command = first; command <= last; ++command) {
          duplicate = duplicate || used[command];
          used[command] = true;
        }
      });
      if (!parsed || duplicate) return false;
    }
  }
  return true;
}
static_assert(responsesWellFormed(), "response rows: malformed command list or a pair given twice");

char responseText[512];

}  // namespace

extern "C" {

QUARN_API const char* t02_GetUnitStringFromCode(uint32_t code) { return lookup(kUnits, code); }
QUARN_API const char* t03_Get_TransferFunction(uint32_t code) { return lookup(kTransferFunctions, code); }
QUARN_API const char* t04_Get_MaterialCodes(uint32_t code) { return lookup(kMaterials, code); }
QUARN_API const char* t06_AlarmSelectionCodes(uint32_t code) { return lookup(kAlarmSelections, code); }
QUARN_API const char* t07_WriteProtectCodes(uint32_t code) { return lookup(kWriteProtects, code); }
QUARN_API const char* t08_ManufacturerIdentificationCodes(uint32_t code) {
  return code >= 1 ? lookup(kManufacturers, code) : kEmpty;
}
QUARN_API const char* t21_DeviceVariableClassificationCodes(uint32_t code) {
  return lookup(kClassifications, code);
}

QUARN_API const char* ToStrResponse(uint32_t command, uint32_t code) {
  if (code == 64) {
    std::snprintf(responseText, sizeof responseText, CP1251("команда %d не\tподдерживается"),
                  static_cast<int>(command));
    return responseText;
  }
  for (const auto& row : kResponses) {
    if (row.code != code || !listsCommand(row.commands, command)) continue;
    std::snprintf(responseText, sizeof responseText, "%s%s",
                  row.kind == E ? CP1251("Ошибка прибора: ") : CP1251("Предупреждение: "), row.text);
    return responseText;
  }
  std::snprintf(responseText, sizeof responseText, CP1251("Ошибка HART-команды %d   Код ошибки: %d"),
                static_cast<int>(command), static_cast<int>(code));
  return responseText;
}

QUARN_API const char* GetStrByCode(int32_t table, uint32_t code) {
  switch (table) {
    case 0:
      return GetDescription(static_cast<uint16_t>(code & 0xFFFF));
    case 1:
      return GetCompanyName(static_cast<uint16_t>(code & 0xFFFF));
    case 2:
      return t02_GetUnitStringFromCode(code);
    case 3:
      return t03_Get_TransferFunction(code);
    case 4:
      return t04_Get_MaterialCodes(code);
    case 6:
      return t06_AlarmSelectionCodes(code);
    case 7:
      return t07_WriteProtectCodes(code);
    case 8:
      return t08_ManufacturerIdentificationCodes(code);
    case 21:
      return t21_DeviceVariableClassificationCodes(code);
    case 50:
      return ToStrResponse((code >> 8) & 0xFF, code & 0xFF);
    default:
      return kNotAvailable;
  }
}

QUARN_API int32_t GetCodeByStr(int32_t table, const char* text) {
  if (!text || !*text || table > 21) return -1;
  int32_t start;
  switch (table) {
    case 2:
      start = 170;
      break;  // units above 170 are never found by name
    case 3:
    case 4:
    case 6:
      start = 254;
      break;
    case 7:
      start = 256;
      break;
    case 8:
      start = 183;
      break;
    case 21:
      start = 96;
      break;
    default:
      return -1;
  }
  // Downwards, so among equal texts the highest code wins.
  for (int32_t code = start; code >= 0; --code)
    if (std::strcmp(GetStrByCode(table, static_cast<uint32_t>(code)), text) == 0) return code;
  return -1;
}

}  // extern "C"
