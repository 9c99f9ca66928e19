// Texts of the answer codes a device gives after '$' (Russian in Windows-1251, and English). Code
// 51 is the receiver's own mark of a damaged answer and reads as an unknown code.
#include "quarn/cp1251.h"
#include "uail/uail.h"

namespace {

constexpr int32_t kKnownCodes = 14;  // 0..13
constexpr int32_t kPacketError = 50;

const char* const kRussian[kKnownCodes] = {
    CP1251("Успешное завершение."),
    CP1251("Команда\tне найдена."),
    CP1251("Неверный формат\tкоманды."),
    CP1251("Параметр не\tнайден."),
    CP1251("Нарушение прав доступа."),
    CP1251("Ошибка доступа."),
    CP1251("Выход параметра\tза границу диапазона"),
    CP1251("Файл не\tнайден"),
    CP1251("Нехватает памяти."),
    CP1251("Недопустимый идентификатор "),
    CP1251("Отсутствует\tместо на физическом\tносителе."),
    CP1251("Внутренняя ошибка прибора."),
    CP1251("Ошибочный аргумент."),
    CP1251("Слишком\tмного открытых файлов"),
};

const char* const kEnglish[kKnownCodes] = {
    "Ok.",
    "command\tnot\tfound",
    "command\terror format",
    "param not found",
    "acsess right error",
    "acsess error",
    "param out of range",
    "file not found",
    "no memory",
    "wrong ID",
    "space error",
    "int\terror",
    "error arg",
    "too\tmany open files",
};

}  // namespace

extern "C" {

QUARN_API const char* UAIL_ErrorCode_to_str(int32_t code) {
  if (code >= 0 && code < kKnownCodes) return kRussian[code];
  if (code == kPacketError) return CP1251("Ошибка приёма пакета");
  return CP1251("Неизвестный\tкод\tошибки!");
}

QUARN_API const char* UAIL_ErrorCode_to_str_en(int32_t code) {
  if (code >= 0 && code < kKnownCodes) return kEnglish[code];
  if (code == kPacketError) return "packet error";
  return "undef error";
}

}  // extern "C"
