// HART common tables, the accessors by table number, the response texts and the device catalogue.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "hart/hart_internal.h"
#include "hart/hart_master.h"
#include "quarn/cp1251.h"

namespace {

TEST(HartResponseTexts, QuotedTexts) {
  struct Case {
    uint32_t command, code;
    const char* text;
  };
  const Case cases[] = {
      {0, 64, CP1251("команда 0 не\tподдерживается")},
      {200, 64, CP1251("команда 200 не\tподдерживается")},
      // Stored with the letters н and е exchanged in the second word.
      {35, 9,
       CP1251("Ошибка прибора: Значнеие\tминимума преобразования\tосновной переменной\tслишком\tвелико.")},
      {35, 10,
       CP1251("Ошибка прибора: Значнеие\tминимума преобразования\tосновной переменной\tслишком\tмало.")},
      {136, 9, CP1251("Ошибка прибора: Неверное\tзначение типа действия")},
      {137, 9, CP1251("Ошибка прибора: Неверное\tзначение типа действия.")},
      {35, 16, CP1251("Ошибка прибора: Доступ ограничен.")},
      {3, 8, CP1251("Предупреждение: Обновление не прошло.")},
      {34, 8,
       CP1251("Предупреждение: Значение\tвремени\tдемпфирования установлено равным ближайшему\tвозможному "
              "значению.")},
      {9, 30, CP1251("Предупреждение: Ответ на\tкоманду\t обрезан.")},
      {82, 13, CP1251("Ошибка прибора: Ошибка вычислений.  Подстройка не прошла.")},
      {45, 9, "\xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8\xE1\xEE\xF0\xE0: Incorrect Loop Current Mode or Value"},
      {146, 5, CP1251("Ошибка прибора: Количество принятых байт\tменьше допустимого.")},
      {40, 11,
       CP1251("Ошибка прибора: Прибор находится\tв многоточечном\tрежиме.\tТоковый\tвыход зафикисрован на "
              "значении 4 мА.")},
      // Generic text: commands without entries, codes not listed for the command, bit 7 set.
      {200, 5, CP1251("Ошибка HART-команды 200   Код ошибки: 5")},
      {35, 136, CP1251("Ошибка HART-команды 35   Код ошибки: 136")},
      {0, 2, CP1251("Ошибка HART-команды 0   Код ошибки: 2")},
      {147, 5, CP1251("Ошибка HART-команды 147   Код ошибки: 5")},
      {6, 3, CP1251("Ошибка HART-команды 6   Код ошибки: 3")},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(ToStrResponse(c.command, c.code), c.text) << c.command << "/" << c.code;
}

TEST(HartResponseTexts, OneStaticBuffer) {
  const char* first = ToStrResponse(35, 16);
  const char* second = ToStrResponse(200, 1);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, CP1251("Ошибка HART-команды 200   Код ошибки: 1"));
}

TEST(HartTables, ByTableNumber) {
  struct Case {
    int32_t table;
    uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {2, 0, "---"},
      {2, 12, CP1251("кПа")},
      {2, 5, CP1251("мм\tрт.ст.")},
      {2, 32,
       "\xB0"
       "C"},
      {2, 1, "inches\tof water at\t68 degrees F"},
      {2, 39, "milliamperes"},
      {2, 57, "percent"},
      {2, 175, "pounds\tper\tsquare inch\tabsolute"},
      {2, 237, CP1251("МПа")},
      {2, 239, CP1251("мм вод. ст.")},
      {2, 143, ""},
      {2, 156, ""},
      {2, 200, ""},
      {2, 240, ""},
      {3, 0, CP1251("Линейная")},
      {3, 241, CP1251("Заводская")},
      {3, 249, CP1251("Заводская")},
      {3, 253, CP1251("Специальная")},
      {3, 6, ""},
      {4, 2, "Stainless Steel\t316"},
      {4, 19, "Stainless Steel\t316L"},
      {4, 250, "Not\tUsed"},
      {4, 29, ""},
      {4, 254, ""},
      {6, 239, "Hold Last Output Value"},
      {6, 2, ""},
      {7, 0, "Not\tWrite Protected"},
      {7, 1, "Write Protected"},
      {8, 1, "Acromag"},
      {8, 38, "Rosemount"},
      {8, 42, "Siemens"},
      {8, 153, "Metran"},
      {8, 0, ""},
      {8, 183, ""},
      {21, 0, "Device Variable\tNot\tClassified"},
      {21, 63, "Reserved"},
      {21, 65, "Pressure"},
      {21, 94, "Mag\tFlow"},
      {21, 96, ""},
      {50, 35 * 256 + 16, CP1251("Ошибка прибора: Доступ ограничен.")},
      {5, 1, "n/a"},
      {51, 1, "n/a"},
      {-1, 1, "n/a"},
      {22, 1, "n/a"},
  };
  for (const auto& c : cases) EXPECT_STREQ(GetStrByCode(c.table, c.code), c.text) << c.table << "/" << c.code;
  for (uint32_t code = 1; code <= 182; ++code)
    EXPECT_STRNE(t08_ManufacturerIdentificationCodes(code), "") << code;
  EXPECT_STREQ(GetStrByCode(0, 0x12606), GetDescription(0x2606));
  EXPECT_STREQ(GetStrByCode(1, 0x2606), "Rosemount");
}

TEST(HartTables, EveryUnitCodeUpTo239HasItsTextExceptTheEmptyOnes) {
  const std::set<uint32_t> emptyByDesign = [] {
    std::set<uint32_t> s{143, 156, 157, 158, 159};
    for (uint32_t c = 191; c <= 234; ++c) s.insert(c);
    return s;
  }();
  std::set<uint32_t> empty;
  for (uint32_t code = 0; code < 240; ++code) {
    const char* text = t02_GetUnitStringFromCode(code);
    ASSERT_NE(text, nullptr);
    if (*text == 0) empty.insert(code);
  }
  EXPECT_EQ(empty, emptyByDesign);
  // The pressure units of the expansion codes, and a flow unit where pressure has none.
  EXPECT_STREQ(t02_GetUnitStringFromCode(170), "centimeters of water at 4 degrees C");
  EXPECT_STREQ(t02_GetUnitStringFromCode(174), "hectopascals");
  EXPECT_STREQ(t02_GetUnitStringFromCode(180), "million pounds per square inch");
  EXPECT_STREQ(t02_GetUnitStringFromCode(190), "standard cubic meters per second");
  for (uint32_t code : {240u, 255u, 1000u}) EXPECT_STREQ(t02_GetUnitStringFromCode(code), "") << code;
}

TEST(HartTables, ReverseLookup) {
  struct Case {
    int32_t table;
    const char* text;
    int32_t code;
  };
  const Case cases[] = {
      {2, CP1251("кПа"), 12},
      {2, CP1251("МПа"), -1},  // above the start code of the units search
      {2, "percent", 57},
      {3, CP1251("Заводская"), 249},  // the highest of equal texts
      {6, "Hold Last Output Value", 240},
      {7, "Write Protected", 1},
      {8, "Elsag Bailey", 18},
      {8, "Acromag", 1},
      {21, "Pressure", 65},
      {21, "Reserved", 63},
      {22, "Pressure", -1},
      {5, "Pressure", -1},
      {2, "", -1},
      {2, "kpa", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(GetCodeByStr(c.table, c.text), c.code) << c.table << " " << c.text;
  EXPECT_EQ(GetCodeByStr(2, nullptr), -1);
}

TEST(HartCatalogue, LookupSetsModelAndManufacturer) {
  t01_ExpandedDeviceTypeCodes(0x2606);
  EXPECT_STREQ(man, "Rosemount");
  EXPECT_STRNE(desc, "n/a");
  EXPECT_STREQ(GetCompanyName(0x3751), "Yokogawa");
  t01_ExpandedDeviceTypeCodes(0x0001);
  EXPECT_STREQ(man, "n/a");
  EXPECT_STREQ(desc, "n/a");

  // Every row is found by its own key, and the manufacturer code in the key names the same company
  // as the manufacturer table does for the widely known codes.
  const size_t rows = quarn::hart::deviceTypeCount();
  EXPECT_GE(rows, 150u);
  std::set<std::string> manufacturers;
  for (size_t i = 0; i < rows; ++i) {
    const uint16_t type = quarn::hart::deviceTypeAt(i);
    if (i > 0) {
      EXPECT_LT(quarn::hart::deviceTypeAt(i - 1), type);
    }
    t01_ExpandedDeviceTypeCodes(type);
    EXPECT_STRNE(desc, "n/a") << std::hex << type;
    EXPECT_STREQ(man, t08_ManufacturerIdentificationCodes(type >> 8)) << std::hex << type;
    manufacturers.insert(man);
  }
  for (const char* major : {"Rosemount", "Yokogawa", "Endress+Hauser", "Siemens", "Honeywell", "ABB",
                            "Metran", "Foxboro", "Fuji", "Smar", "WIKA", "VEGA"})
    EXPECT_TRUE(manufacturers.count(major)) << major;
}

}  // namespace
