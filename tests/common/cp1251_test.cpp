// The Windows-1251 code page against its published chart. Expected bytes are written out literally
// and the characters as UTF-8 glyphs, so a wrong entry of the table cannot hide behind a round trip
// through the same table.
#include "quarn/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using quarn::text::cp1251ToUtf8;
using quarn::text::utf8ToCp1251;

// Bytes first..last in order, leaving out `gap` (a byte the chart leaves unassigned).
std::string byteRun(int first, int last, int gap = -1) {
  std::string s;
  for (int b = first; b <= last; ++b)
    if (b != gap) s.push_back(static_cast<char>(b));
  return s;
}

// The chart, row by row: the glyphs of 0x80..0xBF (0x98 unassigned; 0xA0 is a no-break space and
// 0xAD a soft hyphen), then the Cyrillic block 0xC0..0xFF.
const std::string kUpperHalfGlyphs =
    "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏ"
    "ђ‘’“”•–—™љ›њќћџ"
    "\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї"
    "°±Ііґµ¶·ё№є»јЅѕї";
const std::string kCyrillicGlyphs =
    "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
    "абвгдежзийклмнопрстуфхцчшщъыьэюя";

TEST(Cp1251, EveryCharacterOfTheChartHasItsByte) {
  EXPECT_EQ(utf8ToCp1251(kUpperHalfGlyphs), byteRun(0x80, 0xBF, 0x98));
  EXPECT_EQ(utf8ToCp1251(kCyrillicGlyphs), byteRun(0xC0, 0xFF));
  EXPECT_EQ(cp1251ToUtf8(byteRun(0x80, 0xBF, 0x98)), kUpperHalfGlyphs);
  EXPECT_EQ(cp1251ToUtf8(byteRun(0xC0, 0xFF)), kCyrillicGlyphs);
  EXPECT_EQ(cp1251ToUtf8(byteRun(0x01, 0x7F)), byteRun(0x01, 0x7F));
}

TEST(Cp1251, TextsOfTheRecordAndTheFilesHaveTheirBytes) {
  struct Case {
    const char* utf8;
    std::string bytes;
  };
  const Case cases[] = {
      {"ёЁ№«»", "\xB8\xA8\xB9\xAB\xBB"},
      {"°C",
       "\xB0"
       "C"},
      {"Ошибка приёма", "\xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8\xB8\xEC\xE0"},
      {"АО «Завод» №5",
       "\xC0\xCE \xAB\xC7\xE0\xE2\xEE\xE4\xBB \xB9"
       "5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8ToCp1251(c.utf8), c.bytes) << c.utf8;
    EXPECT_EQ(cp1251ToUtf8(c.bytes), c.utf8) << c.utf8;
  }
  // The compile-time conversion used for the library's own texts gives the same bytes.
  EXPECT_EQ(std::string(CP1251("ёЁ№«»")), "\xB8\xA8\xB9\xAB\xBB");
  EXPECT_EQ(std::string(CP1251("°C")),
            "\xB0"
            "C");
}

TEST(Cp1251, WhatTheCodePageCannotCarryIsReplaced) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string bytes;
  };
  const Case cases[] = {
      {"outside the code page", "a\u00E4\u4E2Dz", "a??z"},
      {"four-byte character", "\U0001F600!", "?!"},
      {"lone continuation byte", "\x80x", "?x"},
      {"sequence cut by the end", "x\xD0", "x?"},
      {"sequence cut by a plain byte", "\xE2\x84x", "??x"},
  };
  for (const Case& c : cases) EXPECT_EQ(utf8ToCp1251(c.utf8), c.bytes) << c.name;
  EXPECT_EQ(utf8ToCp1251("\u00E4", '_'), "_");
  // The one unassigned byte decodes to the replacement character.
  EXPECT_EQ(cp1251ToUtf8("\x98"), "\uFFFD");
}

}  // namespace
