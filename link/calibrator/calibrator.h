/* The calibrator procedures of libquarn: connection and discovery, the measuring cycle, pressure
 * control, settings and sensor type, zero adjustment, the external reference transducer (Dorv) and
 * the Kesto module readings. Every name here is exported with C linkage. Steps take no arguments
 * and are scheduled by the core's step machine; the Begin_ entry points store a continuation pair
 * into the procedure's slot and schedule its first step. */
#ifndef QUARN_CALIBRATOR_H
#define QUARN_CALIBRATOR_H

#include <stdint.h>

#include "calibrator/stat_value.h"
#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Model flags and control memory ------------------------------------------------------------ */

/* Which calibrator the connection procedure looks for (set from Dev.model by Connect). */
QUARN_API extern uint8_t isQuarn;
QUARN_API extern uint8_t isBrenk;
/* The control mode and setpoint the calibrator last acknowledged (-1 and -9999.9 after load, so
 * the first control pass always sends them). */
QUARN_API extern int32_t _oldControl_Mode;
QUARN_API extern float _oldControl_Ptarget;

/* ---- Kesto module image ------------------------------------------------------------------------ */

#pragma pack(push, 1)
/* The first 60 bytes of the Kesto module's data file 1, as far as the library reads them. */
typedef struct TMeasKesto {
  uint8_t head[16];
  float current[4]; /* file positions 16..31: mA, or tenths of mA with sensor type 6 */
  uint8_t middle[24];
  uint8_t status[4]; /* positions 56..59: status word (2 bytes, little-endian) and 2 spare bytes */
} TMeasKesto;
#pragma pack(pop)

QUARN_API extern TMeasKesto measKesto;

/* ---- Converters -------------------------------------------------------------------------------- */

/* Size a settings write text needs at most (with its terminator). */
#define SETTINGS_TEXT_MAX 128

/* Settings text of the connected model into the record: 0; -1 null argument; -2 bad text. */
QUARN_API int32_t settings_Str2Bin(TSettings* s, const char* text);
/* The settings write text of the connected model into buf (SETTINGS_TEXT_MAX bytes): 0 or -1. */
QUARN_API int32_t settings_Bin2Str(char* buf, TSettings* s);
/* Identification answer (serial; date; lower limit; upper limit): 0; -1 null argument; -2 too
 * short; -3..-6 field 0..3 missing or not hexadecimal. */
QUARN_API int32_t info_sn_Str2Bin(TCalInfo* info, const char* text);
/* Version answer: 0; -1 null argument; -2 too short; -6 numbers unreadable. */
QUARN_API int32_t info_ver_Str2Bin(TCalInfo* info, const char* text);
/* The Quarn's Dorv state text: 0; -1 null argument; -2 too short. Notifies with event 5. */
QUARN_API int32_t ExtDorv_info_Str2Bin(TDorv* dorv, const char* text);

/* ---- Channel conversion and Kesto data --------------------------------------------------------- */

/* Currents of Dev.kestoCurrent into each channel's pressure and reduced error (skipped while
 * Dev.kestoDataValid is 0). */
QUARN_API void measChDataToDev(void);
/* 1 when the four currents of a Kesto image are all exactly 0.0. */
QUARN_API int32_t IsBadKesto_Ac(const TMeasKesto* image);
/* Takes the currents of measKesto into the record, converts them, evaluates the contact inputs. */
QUARN_API void Kesto_DataToDev(void);

/* ---- Steps and entry points -------------------------------------------------------------------- */

QUARN_API int32_t Connect(void);
QUARN_API int32_t Connect_2_AllTxRqType(void);
QUARN_API int32_t Connect_2_AllRxRqType(void);
QUARN_API int32_t Connect_Found(void);
QUARN_API int32_t Connect_Found_2(void);
QUARN_API int32_t Connect_Kesto_NotAc(void);
QUARN_API int32_t Connect_Found_3(void);
QUARN_API int32_t Connect_NotFound(void);
QUARN_API int32_t Connect_Loose(void);
QUARN_API int32_t Begin_Connect(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_ConnectLoose(TStepFn ok, TStepFn err);

QUARN_API int32_t MeasControl_1(void);
QUARN_API int32_t MeasControl_ExtDorvstate_Quarn_2(void);
QUARN_API int32_t MeasControl_15(void);
QUARN_API int32_t MeasControl_2(void);
QUARN_API int32_t MeasControl_25(void);
QUARN_API int32_t MeasControl_3(void);
QUARN_API int32_t Begin_MeasControl(TStepFn ok, TStepFn err);

QUARN_API int32_t Control(void);
QUARN_API int32_t Control_1(void);
QUARN_API int32_t Control_2(void);
QUARN_API int32_t Control_3(void);
QUARN_API int32_t Begin_Control(TStepFn ok, TStepFn err);
/* pTarget = trimPmin (selector 0) or trimPmax, statistics cleared, refStat.target = pTarget. */
QUARN_API int32_t Set_P(uint8_t selector);

QUARN_API int32_t ReadSettings(void);
QUARN_API int32_t ReadSettings_2(void);
QUARN_API int32_t ReadSettings_3(void);
QUARN_API int32_t ReadSettings_4(void);
QUARN_API int32_t WriteSettings(void);
QUARN_API int32_t WriteSettings_2(void);
QUARN_API int32_t WriteSettings_3(void);
QUARN_API int32_t SetSensorType(void);
QUARN_API int32_t SetSensorType_1(void);
QUARN_API int32_t SetSensorType_2(void);
QUARN_API int32_t SetSensorType_3(void);
QUARN_API int32_t SetSensorType_4(void);
QUARN_API int32_t Begin_SettingsRead(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_SettingsWrite(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_SetSensorType(TStepFn ok, TStepFn err);

QUARN_API int32_t Set_0_KD(void);
QUARN_API int32_t Set_0_KD_1(void);
QUARN_API int32_t Set_0_KD_2(void);
QUARN_API int32_t Begin_Set_0_KD(TStepFn ok, TStepFn err);

QUARN_API int32_t ProcBrenkextDorv(void);
QUARN_API int32_t ProcBrenkextDorv_RxAcId(void);
QUARN_API int32_t ProcBrenkextDorv_RxReg49(void);
QUARN_API int32_t ProcBrenkextDorv_RxReg52(void);
QUARN_API int32_t ProcBrenkextDorv_RxReg76(void);
QUARN_API int32_t ProcBrenkextDorv_RxReg30(void);
QUARN_API int32_t ProcBrenkextDorv_RxReg139(void);
QUARN_API int32_t ProcBrenkextDorv_RxP(void);
QUARN_API int32_t Begin_ProcBrenkextDorv(TStepFn ok, TStepFn err);
QUARN_API int32_t WaitExtDorv_info(void);
QUARN_API int32_t WaitExtDorv_info_1(void);
QUARN_API int32_t Begin_RedExtDorv_Info(TStepFn ok, TStepFn err);
/* Sends "read register n" to the current port and schedules `next` after 600 ms. */
QUARN_API int32_t rqReg(uint8_t reg, TStepFn next);

QUARN_API int32_t Kesto_StartRead(void);
QUARN_API int32_t Kesto_Read_1(void);
QUARN_API int32_t Kesto_Read_2(void);
QUARN_API int32_t Kesto_Read_3(void);
QUARN_API int32_t Kesto_Read_4(void);
QUARN_API int32_t Begin_Kesto_Meas(TStepFn ok, TStepFn err);
QUARN_API int32_t Kesto_ReadErrorOpenFile(void);
QUARN_API int32_t Kesto_ReadErrorSetAdr(void);
QUARN_API int32_t Kesto_ReadError_RqErr(void);
QUARN_API int32_t Kesto_ReadError_AcErr(void);
QUARN_API int32_t Begin_Kesto_ReadErrNC(TStepFn ok, TStepFn err);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_CALIBRATOR_H */
