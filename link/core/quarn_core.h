/* The core of libquarn: the step scheduler, the continuation table, task dispatch (SetTask), the
 * common end step Meas, notification, start-up and shut-down, error and result reporting, the step
 * history and the small formatting and debug helpers.
 *
 * Everything runs in the host's window thread: the timer callback, every step, SetTask and the host's
 * notification callback. Nothing here is locked. */
#ifndef QUARN_CORE_H
#define QUARN_CORE_H

#include <stdint.h>

#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scheduler state ----------------------------------------------------------------------- */

/* One continuation pair: the step a procedure ends in on success and the one on failure. */
typedef struct TRetPair {
  TStepFn ok;
  TStepFn err;
} TRetPair;

/* Continuation slots: one pair per procedure. Whoever starts a procedure writes its pair first. */
enum {
  RET_CONNECT = 0,
  RET_CONNECT_LOOSE = 1,
  RET_MEAS_CONTROL = 2,
  RET_CONTROL = 3,
  RET_CHECK = 4,
  RET_CHECK_HART = 5,
  RET_HART_CHECK_I = 6,
  RET_PROC_BRENK_EXT_DORV = 7,
  RET_HART_SEARCH = 8,
  RET_HART_READ_DEV_INFO = 9,
  RET_HART_WRITE_ALL_PARAM = 10,
  RET_HART_TUNE_I = 11,
  RET_HART_TUNE_TRIM = 12,
  RET_HART_SET_0 = 13,
  RET_HART_RESET_DEV = 14,
  RET_HART_EXIT_I_OUT = 15,
  RET_HART_REPAIR_MAN = 16,
  RET_CHECK_RELAY = 17,
  RET_READ_SETTINGS = 18,
  RET_WRITE_SETTINGS = 19,
  RET_KESTO_START_READ = 20,
  RET_KESTO_READ_ERR = 21,
  RET_SET_SENSOR_TYPE = 22,
  RET_WAIT_EXT_DORV_INFO = 23,
  RET_SET_0_KD = 24,
  RET_COUNT = 25
};

/* The shared record. */
QUARN_API extern TDev Dev;
/* The pending step; null = nothing pending. */
QUARN_API extern TStepFn OnTimer;
/* Delay given with the last scheduling (ToNext0 stores 1); for inspection only. */
QUARN_API extern uint32_t cTimerDelay;
/* Identifier of the running periodic timer; 0 = no timer. */
QUARN_API extern uint32_t TimerID;
/* Repeat budget of UAIL requests; SetTask resets it to 3. */
QUARN_API extern int32_t cRepeat;
/* The continuation table. */
QUARN_API extern TRetPair fRet[RET_COUNT];

/* ---- Step texts and error texts ------------------------------------------------------------ */

/* Texts the procedures put into Dev.dsc to say what they are doing (Windows-1251). */
enum {
  DSC_CHANNEL_1 = 0, /* "Канал 1" .. "Канал 4" are entries 0..3 */
  DSC_SET_4MA = 4,
  DSC_SET_12MA = 5,
  DSC_SET_20MA = 6,
  DSC_MEASURE_CURRENT = 7,
  DSC_TRIM_CURRENT = 8,
  DSC_SET_PMIN = 9,
  DSC_SET_PMAX = 10,
  DSC_TRIM_SENSOR_PMIN = 11,
  DSC_TRIM_SENSOR_PMAX = 12,
  DSC_EMPTY_13 = 13,
  DSC_EXIT_FIXED_CURRENT = 14,
  DSC_WRITE_ADDRESS_0 = 15,
  DSC_READ_PARAMS = 16,
  DSC_HART_SEARCH = 17,
  DSC_EMPTY_18 = 18,
  DSC_COUNT = 19
};
QUARN_API extern const char* const dsc_[DSC_COUNT];

/* Library error codes 0..15 (texts in error_codes.cpp). */
enum {
  ERR_NONE = 0,
  ERR_NO_HART_DEVICE = 1,
  ERR_HART_RESPONSE = 2,
  ERR_CURRENT_TRIM = 3,
  ERR_FIXED_CURRENT = 4,
  ERR_MEASURE_INPUT = 5,
  ERR_KESTO_CHANNEL = 6,
  ERR_WRITE_ADDRESS = 7,
  ERR_WRITE_DAMPING = 8,
  ERR_WRITE_FUNCTION = 9,
  ERR_WRITE_RANGE = 10,
  ERR_WRITE_UNITS = 11,
  ERR_NO_DEVICES = 12,
  ERR_RANGES_DIFFER = 13,
  ERR_RANGE_EXCEEDS = 14,
  ERR_RANGES_UNSET = 15,
  ERR_LINK_LOST = 16,   /* the link to the calibrator was lost (a run stopped, a HART search ended) */
  ERR_ZERO_FAILED = 17, /* the calibrator did not take the zero adjustment (error answer or none) */
  ERR_COUNT = 18
};
/* Text of a library error code ("" for a code outside the table). Windows-1251. */
QUARN_API const char* quarn_error_text(uint32_t code);
/* The constant texts "" and "Ok" the record's text pointers use. */
QUARN_API extern const char quarn_text_empty[];
QUARN_API extern const char quarn_text_ok[];

/* Handle of the debug monitor's list; always null on this platform (debug lines go to the log). */
QUARN_API extern void* hDebugList;

/* ---- Scheduling ---------------------------------------------------------------------------- */

/* Schedules the step for the next timer call (never within the caller). Null: nothing pending. */
QUARN_API void ToNext0(TStepFn step);
/* Schedules the step after `ms`; with 0 the step runs at once and its result is returned. */
QUARN_API int32_t ToNext(TStepFn step, uint32_t ms);
/* Replaces the pending step and keeps the deadline. */
QUARN_API int32_t ToNextOnError(TStepFn step, uint32_t ms);
/* The timer callback: runs the pending step when its deadline has come. Only `time` is used. */
QUARN_API void QUARN_STDCALL TimerProc(void* hwnd, uint32_t msg, uintptr_t id, uint32_t time);
/* Starts the periodic timer: 0 (also when one already runs), -1 when the system refuses. */
QUARN_API int32_t SetTimerProc(uint32_t periodMs);
/* Stops it: 0, -1 when no timer runs, -2 when the system refuses (TimerID stays set). */
QUARN_API int32_t KillTimerProc(void);
/* Appends a value to the step history ring. */
QUARN_API void dbgAddToStack(TStepFn value);

/* ---- Tasks and procedure ends -------------------------------------------------------------- */

/* The host's one way in. Results: 0; -1 for task 0 with a null argument and for task 2 with a null
 * argument (nothing is written then). */
QUARN_API int32_t QUARN_STDCALL SetTask(uint32_t task, void* arg);
/* Fills fRet with the initial pairs. */
QUARN_API void Init_ReturnFns(void);
/* Sets both members of a pair to Meas. */
QUARN_API void Init_ReturnFnsMeasControl(TRetPair* pair);
/* The common end step: back to the measuring cycle after notifying the ended task's outcome. */
QUARN_API int32_t Meas(void);
/* Notifies the host (onUpdate when set), then event = 0. */
QUARN_API void Update(void);

/* ---- Start-up, shut-down, reporting -------------------------------------------------------- */

/* Start-up: debug line, timer (unless running), InitDev. Result 0. */
QUARN_API int32_t InitDll(void);
/* Shut-down: no more callbacks, timer stopped, remote operation off, port closed. Result 0. */
QUARN_API int32_t ExitDll(void);
/* Initial values of the shared record, relay defaults, continuation table. Result 0. */
QUARN_API int32_t InitDev(void);
/* errCode = code with its text, notify, event = 0. */
QUARN_API void _SetDevErrorCode(uint32_t code);
/* errCode = 0, errText = "Ok"; no notification. */
QUARN_API void ClearDevErrorCode(void);
/* retCode = code, notify, event = 0. */
QUARN_API void SetDevRetCode(uint32_t code);
/* The three dsc texts become "". */
QUARN_API void Clear_dscAll(void);

/* ---- Debug output -------------------------------------------------------------------------- */

/* A debug line to the log sink (quarn_set_log), or stderr with QUARN_LOG=1; else dropped. */
QUARN_API void std_out(const char* text);
/* Child window lookup of the debug monitor; there is none on this platform: 0. */
QUARN_API void* GetChildWindow(const char* topClass, const char* childClassPart);
/* Length of the line "text" + "%02X " per byte (at most 1023); the line is not output. */
QUARN_API int32_t dbgX(const char* text, const uint8_t* bytes, int32_t count);
/* Returns the code. */
QUARN_API uint32_t dbgError(uint32_t code);
/* Does nothing. */
QUARN_API void ToLogDbgFile(void);

/* ---- Formatting ---------------------------------------------------------------------------- */

/* Longest text ftoStr writes, terminator included (the record's value texts are char[20]). */
#define QUARN_FTOSTR_MAX 20
/* The value in fixed-point form with settings.decimals digits (0..9); below -9e30 a single TAB; a
 * value whose text would not fit QUARN_FTOSTR_MAX gives "- - - -". Returns the text's length, -1
 * for a null destination. */
QUARN_API int32_t ftoStr(char* dst, float value);
QUARN_API int32_t ftoStr_std(char* dst, float value);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_CORE_H */
