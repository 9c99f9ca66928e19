// Checksum, request frames and the answer-code texts.
#include <gtest/gtest.h>

#include <string>

#include "quarn/cp1251.h"
#include "uail/uail.h"
#include "uail_test_util.h"

namespace quarn::test {
namespace {

TEST(UailCrc, IsTheModbusCrc16) {
  EXPECT_EQ(CalcMemCRC("123456789", 9), 0x4B37u);
  EXPECT_EQ(CalcMemCRC("", 0), 0xFFFFu);
  EXPECT_EQ(CalcMemCRC(nullptr, 5), 0xFFFFu);
  // Byte by byte gives the same as the block.
  const std::string text = "1;105;12;";
  uint16_t crc = 0xFFFF;
  for (char c : text) crc = UpdateMemCRC(static_cast<uint8_t>(c), crc);
  EXPECT_EQ(crc, CalcMemCRC(text.data(), static_cast<uint16_t>(text.size())));
}

TEST(UailFrame, IdentificationRequestIsTwelveBytes) {
  const char* frame = Uail_make_RAW("1;0;");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(quarn_uail_tx_len, 12u);
  EXPECT_EQ(std::string(frame, quarn_uail_tx_len), std::string("\xFF:1;0;50730\r"));
  EXPECT_EQ(frame[12], '\0');
}

TEST(UailFrame, PayloadsThatDoNotFitAreRefusedAndLeaveNothingToRepeat) {
  ASSERT_NE(Uail_make_RAW("1;0;"), nullptr);
  const std::string longest(UAIL_PAYLOAD_MAX, '7');
  ASSERT_NE(Uail_make_RAW(longest.c_str()), nullptr);
  EXPECT_EQ(std::string(uailRAW_TxStr, quarn_uail_tx_len), requestFrame(longest));
  EXPECT_LT(quarn_uail_tx_len, sizeof uailRAW_TxStr);

  const std::string tooLong(UAIL_PAYLOAD_MAX + 1, '7');
  EXPECT_EQ(Uail_make_RAW(tooLong.c_str()), nullptr);
  EXPECT_EQ(quarn_uail_tx_len, 0u);
  EXPECT_EQ(Uail_make_RAW(nullptr), nullptr);
  EXPECT_EQ(Uail_RepeatTx(), 0u);
}

TEST(UailFrame, DeviceSideFramesAndAnswerFields) {
  EXPECT_EQ(std::string(Uail_sl_I(1, 105)), requestFrame("1;105;"));
  EXPECT_EQ(std::string(Uail_sl_err(3, 7)), requestFrame("3;$7;"));

  char answer[64] = "";
  EXPECT_EQ(UART_Push_Ok(answer, sizeof answer), 3);
  UART_Push_Int(answer, sizeof answer, -12);
  UART_Push_Str(answer, sizeof answer, "abc");
  UART_Push_FloatHex(answer, sizeof answer, 1.0f);
  const uint8_t bytes[] = {0x0A, 0xFF};
  UART_Push_Hex(answer, sizeof answer, bytes, 2);
  UART_Push_Flt(answer, sizeof answer, 2.5f);
  EXPECT_STREQ(answer, "$0;-12;abc;0000803F;0AFF;2.500000;");

  // Nothing is appended that does not fit, and the text stays as it was.
  char small[8] = "12;";
  EXPECT_EQ(UART_Push_Str(small, sizeof small, "toolong"), -1);
  EXPECT_EQ(UART_Push_Hex(small, sizeof small, bytes, 2), -1);
  EXPECT_EQ(UART_Push_FloatHex(small, sizeof small, 1.0f), -1);
  EXPECT_STREQ(small, "12;");
  EXPECT_EQ(UART_Push_Int(small, sizeof small, 5), 5);
}

TEST(UailAnswerCodes, TextsInBothLanguages) {
  struct Case {
    int32_t code;
    std::string russian;  // UTF-8 here; the library holds Windows-1251
    std::string english;
  };
  const Case cases[] = {
      {0, "Успешное завершение.", "Ok."},
      {1, "Команда\tне найдена.", "command\tnot\tfound"},
      {2, "Неверный формат\tкоманды.", "command\terror format"},
      {3, "Параметр не\tнайден.", "param not found"},
      {4, "Нарушение прав доступа.", "acsess right error"},
      {5, "Ошибка доступа.", "acsess error"},
      {6, "Выход параметра\tза границу диапазона", "param out of range"},
      {7, "Файл не\tнайден", "file not found"},
      {8, "Нехватает памяти.", "no memory"},
      {9, "Недопустимый идентификатор ", "wrong ID"},
      {10, "Отсутствует\tместо на физическом\tносителе.", "space error"},
      {11, "Внутренняя ошибка прибора.", "int\terror"},
      {12, "Ошибочный аргумент.", "error arg"},
      {13, "Слишком\tмного открытых файлов", "too\tmany open files"},
      {14, "Неизвестный\tкод\tошибки!", "undef error"},
      {49, "Неизвестный\tкод\tошибки!", "undef error"},
      {50, "Ошибка приёма пакета", "packet error"},
      {51, "Неизвестный\tкод\tошибки!", "undef error"},
      {255, "Неизвестный\tкод\tошибки!", "undef error"},
      {-1, "Неизвестный\tкод\tошибки!", "undef error"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(UAIL_ErrorCode_to_str(c.code)), quarn::text::utf8ToCp1251(c.russian)) << c.code;
    EXPECT_EQ(std::string(UAIL_ErrorCode_to_str_en(c.code)), c.english) << c.code;
  }
}

}  // namespace
}  // namespace quarn::test
