// Error and result reporting into the shared record, and the constant texts the record points at.
#include "core/quarn_core.h"
#include "quarn/cp1251.h"

extern "C" {

const char quarn_text_empty[] = "";
const char quarn_text_ok[] = "Ok";

const char* const dsc_[DSC_COUNT] = {
    CP1251("Канал 1"),
    CP1251("Канал 2"),
    CP1251("Канал 3"),
    CP1251("Канал 4"),
    CP1251("Уст. тока 4 мА"),
    CP1251("Уст. тока 12 мА"),
    CP1251("Уст. тока 20 мА"),
    CP1251("Измерение тока"),
    CP1251("Подстройка тока"),
    CP1251("Установите в системе\tдавление Pmin"),
    CP1251("Установите в системе\tдавление Pmax"),
    CP1251("Подстройка сенсора Pmin"),
    CP1251("Подстройка сенсора Pmax"),
    quarn_text_empty,
    CP1251("Выход из режима фикс. тока"),
    CP1251("Запись адреса 0"),
    CP1251("чтение параметров"),
    CP1251("Поиск HART-устройств"),
    quarn_text_empty,
};

}  // extern "C"

namespace {

// Texts of the library error codes; code 0 has none (the "Ok" text comes from ClearDevErrorCode).
const char* const kErrorTexts[ERR_COUNT] = {
    quarn_text_empty,
    CP1251("Нет подключенных\tHART-устройств"),
    CP1251("HART-устройство вернуло код ошибки"),
    CP1251("Сбой\tподстройки тока"),
    CP1251("Сбой\tустановки фиксированного входа!"),
    CP1251("Сбой\tизмерения входа!"),
    CP1251("Сбой\tустановки канала Kesto"),
    CP1251("сбой\tзаписи адреса"),
    CP1251("сбой\tзаписи времени демфинования"),
    CP1251("сбой\tзаписи функции"),
    CP1251("сбой\tзаписи диапазона"),
    CP1251("сбой\tзаписи единиц"),
    CP1251("Нет подключенных\tустройств"),
    CP1251("Диапазоны приборов не совпадают!"),
    CP1251("Диапазон\tприбора\tпревышает диапазон Brenk!"),
    CP1251("Диапазоны приборов не определены"),
    CP1251("связь с калибратором потеряна"),
    CP1251("Сбой\tподстройки нуля"),
};

}  // namespace

extern "C" {

QUARN_API const char* quarn_error_text(uint32_t code) {
  return code < ERR_COUNT ? kErrorTexts[code] : quarn_text_empty;
}

QUARN_API void _SetDevErrorCode(uint32_t code) {
  Dev.errCode = code;
  Dev.errText = quarn_error_text(code);
  Update();
}

QUARN_API void ClearDevErrorCode(void) {
  Dev.errCode = 0;
  Dev.errText = quarn_text_ok;
}

QUARN_API void SetDevRetCode(uint32_t code) {
  Dev.retCode = code;
  Update();
}

QUARN_API void Clear_dscAll(void) {
  for (int i = 0; i < 3; ++i) Dev.dsc[i] = quarn_text_empty;
}

}  // extern "C"
