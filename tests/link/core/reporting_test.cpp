// Error and result reports, the step texts, the value formatter and the debug helpers.
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "platform/log.h"

using quarn::test::field;

namespace {

using ReportingTest = CoreTest;

TEST_F(ReportingTest, ErrorCodesGetTheirTextsAndNotifyOnce) {
  const char* const expected[] = {
      "",
      "Нет подключенных\tHART-устройств",
      "HART-устройство вернуло код ошибки",
      "Сбой\tподстройки тока",
      "Сбой\tустановки фиксированного входа!",
      "Сбой\tизмерения входа!",
      "Сбой\tустановки канала Kesto",
      "сбой\tзаписи адреса",
      "сбой\tзаписи времени демфинования",
      "сбой\tзаписи функции",
      "сбой\tзаписи диапазона",
      "сбой\tзаписи единиц",
      "Нет подключенных\tустройств",
      "Диапазоны приборов не совпадают!",
      "Диапазон\tприбора\tпревышает диапазон Brenk!",
      "Диапазоны приборов не определены",
      "связь с калибратором потеряна",
      "Сбой\tподстройки нуля",
  };
  Dev.onUpdate = recordNotification;
  for (uint32_t code = 0; code < std::size(expected); ++code) {
    SCOPED_TRACE(code);
    seen.clear();
    Dev.event = 3;
    _SetDevErrorCode(code);
    EXPECT_EQ(Dev.errCode, code);
    ASSERT_NE(field(Dev.errText), nullptr);
    EXPECT_EQ(std::string(Dev.errText), cp1251(expected[code]));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].event, 3u);  // the callback sees the reason, ...
    EXPECT_EQ(seen[0].errCode, code);
    EXPECT_EQ(Dev.event, 0u);  // ... which is reset afterwards
  }
  // Outside the table: the code is kept, the text is empty.
  for (const uint32_t code : {18u, 19u, 255u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(code);
    seen.clear();
    _SetDevErrorCode(code);
    EXPECT_EQ(Dev.errCode, code);
    EXPECT_STREQ(Dev.errText, "");
    EXPECT_EQ(seen.size(), 1u);
  }
}

TEST_F(ReportingTest, ClearingTheErrorDoesNotNotifyButResultCodesDo) {
  Dev.onUpdate = countUpdates;
  Dev.errCode = 6;
  ClearDevErrorCode();
  EXPECT_EQ(Dev.errCode, 0u);
  EXPECT_STREQ(Dev.errText, "Ok");
  EXPECT_EQ(updates, 0);

  Dev.event = 9;
  SetDevRetCode(13);
  EXPECT_EQ(Dev.retCode, 13u);
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(Dev.event, 0u);

  Dev.onUpdate = nullptr;  // reports without a host
  _SetDevErrorCode(2);
  SetDevRetCode(5);
  Update();
  EXPECT_EQ(updates, 1);
}

TEST_F(ReportingTest, StepTexts) {
  const char* const expected[DSC_COUNT] = {
      "Канал 1",
      "Канал 2",
      "Канал 3",
      "Канал 4",
      "Уст. тока 4 мА",
      "Уст. тока 12 мА",
      "Уст. тока 20 мА",
      "Измерение тока",
      "Подстройка тока",
      "Установите в системе\tдавление Pmin",
      "Установите в системе\tдавление Pmax",
      "Подстройка сенсора Pmin",
      "Подстройка сенсора Pmax",
      "",
      "Выход из режима фикс. тока",
      "Запись адреса 0",
      "чтение параметров",
      "Поиск HART-устройств",
      "",
  };
  for (int i = 0; i < DSC_COUNT; ++i) EXPECT_EQ(std::string(dsc_[i]), cp1251(expected[i])) << "entry " << i;

  Dev.dsc[0] = dsc_[0];
  Dev.dsc[1] = dsc_[4];
  Dev.dsc[2] = nullptr;
  Clear_dscAll();
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(Dev.dsc[i], "");
}

TEST_F(ReportingTest, ValueFormatting) {
  struct Case {
    float value;
    int32_t decimals;
    const char* text;
  };
  const Case cases[] = {
      {12.3456f, 2, "12.35"},
      {12.3456f, 0, "12"},
      {-0.5f, 3, "-0.500"},
      {101.325f, 4, "101.3250"},
      {-1e31f, 2, "\t"},     // no value
      {-INFINITY, 2, "\t"},  // below the limit as well
      {NAN, 2, "- - - -"},   // a missing value reads as one
      {-NAN, 0, "- - - -"},
      {INFINITY, 2, "- - - -"},
      {-9e30f, 0, "- - - -"},       // at the limit it is a value, but one no value text can hold
      {1e20f, 2, "- - - -"},        // too long for the record's 20-byte texts
      {1.5f, -3, "2"},              // decimals from a garbage settings value are clamped ...
      {1.5f, 1000, "1.500000000"},  // ... to 0..9
      {1234567890.0f, 9, "- - - -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " / " << c.decimals);
    Dev.settings.decimals = c.decimals;
    char text[QUARN_FTOSTR_MAX];
    std::memset(text, 'x', sizeof text);
    const int32_t n = ftoStr(text, c.value);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(n, static_cast<int32_t>(std::strlen(c.text)));
    char same[QUARN_FTOSTR_MAX];
    ftoStr_std(same, c.value);
    EXPECT_STREQ(same, c.text);
  }
  EXPECT_EQ(ftoStr(nullptr, 1.0f), -1);
}

std::vector<std::string> g_logLines;
void collectLog(const char* line) { g_logLines.emplace_back(line); }

// QUARN_LOG set to a value, or removed with null.
void setLogVariable(const char* value) {
#ifdef _WIN32
  _putenv_s("QUARN_LOG", value ? value : "");
#else
  if (value)
    setenv("QUARN_LOG", value, 1);
  else
    unsetenv("QUARN_LOG");
#endif
}

TEST_F(ReportingTest, DebugOutputGoesToTheLogSinkAndTheOtherHelpersOnlyReturn) {
  g_logLines.clear();
  quarn_set_log(collectLog);
  std_out("line 1");
  std_out(nullptr);
  quarn_set_log(nullptr);
  std_out("dropped");  // no sink, no QUARN_LOG: nothing, no error
  EXPECT_EQ(g_logLines, std::vector<std::string>{"line 1"});

  // Without a sink, QUARN_LOG=1 sends the lines to stderr as UTF-8; start-up writes one.
  setLogVariable("1");
  testing::internal::CaptureStderr();
  std_out(dsc_[DSC_HART_SEARCH]);
  InitDll();
  const std::string err = testing::internal::GetCapturedStderr();
  setLogVariable(nullptr);
  EXPECT_EQ(err, "quarn: Поиск HART-устройств\nquarn: InitDll()\n");
  quarn_set_log(collectLog);
  g_logLines.clear();
  InitDll();
  quarn_set_log(nullptr);
  EXPECT_EQ(g_logLines, std::vector<std::string>{"InitDll()"});

  const uint8_t bytes[] = {0x01, 0xAB, 0xFF};
  EXPECT_EQ(dbgX("rx: ", bytes, 3), 4 + 9);
  EXPECT_EQ(dbgX(nullptr, nullptr, 0), 0);
  EXPECT_EQ(dbgX("x", bytes, -5), 1);
  EXPECT_EQ(dbgX("", bytes, 100000), 1023);  // bounded by the 1024-byte line
  EXPECT_EQ(dbgError(0), 0u);
  EXPECT_EQ(dbgError(87), 87u);
  ToLogDbgFile();
  EXPECT_EQ(GetChildWindow("testClass", "ListBox"), nullptr);
  EXPECT_EQ(hDebugList, nullptr);
}

}  // namespace
