/* The HART procedures of libquarn: device search and device information, configuration write,
 * current-output check and trim, leaving fixed-current mode, sensor trim, zero, reset, restoring
 * manufacturer settings and the HART check sequence.
 *
 * Every procedure is a chain of steps of the core's scheduler. A step sends one request (a UAIL
 * channel select to the Kesto module, or a HART command to the device `hdi` points to), names its
 * successor with a deadline and returns; the successor looks at the answer. Procedures end in the
 * members of their continuation slot (fRet). Exported with C linkage. */
#ifndef QUARN_HART_PROCEDURES_H
#define QUARN_HART_PROCEDURES_H

#include <stdint.h>

#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Channel selection and copying into the verification records ------------------------------ */

/* Selects a channel for HART: hartCh, hdi, dsc[0], and the UAIL request 5 with the channel index to
 * the Kesto module. Returns what the UAIL send returns (0 when nothing was sent, also for a channel
 * outside 0..3). */
QUARN_API uint32_t Kesto_SelectHARTch(int32_t ch);
/* Selects the next usable channel after hartCh (chSkip 0 and hartChk.active 1); -1 when none is
 * left (nothing is sent then). */
QUARN_API int32_t Kesto_SelectNextHARTch(void);
/* Copies the HART data of a channel with a found device into its TDevChannel. */
QUARN_API void Hart_Dev_Data_Upd1(int32_t ch);
/* Hart_Dev_Data_Upd1 for the channels 0..3. */
QUARN_API void Hart_Dev_Data_Upd(void);
/* Factor that brings a range in a HART pressure unit into kPa for the verification record. */
QUARN_API float quarn_hart_range_kpa_factor(uint32_t unitsCode);

/* ---- Device search (task 10, slot 8) and device information (slot 9) --------------------------- */

QUARN_API int32_t Hart_Search(void);
QUARN_API int32_t Hart_Search_SelectHARTchRq(void);
QUARN_API int32_t Hart_Search_SelectHARTchAc(void);
QUARN_API int32_t Hart_Search_ID_Rq(void);
QUARN_API int32_t Hart_Search_ID_Ac(void);
QUARN_API int32_t Hart_Search_ToNextCh(void);

QUARN_API int32_t Hart_ReadDeviceInfo(void);
QUARN_API int32_t Hart_ReadDeviceInfo_1(void);
QUARN_API int32_t Hart_ReadDeviceInfo_2(void);
QUARN_API int32_t Hart_ReadDeviceInfo_3(void);
QUARN_API int32_t Hart_ReadDeviceInfo_4(void);
QUARN_API int32_t Hart_ReadDeviceInfo_5(void);
QUARN_API int32_t Hart_ReadDeviceInfo_6(void);

/* ---- Configuration write (task 13, slot 10) --------------------------------------------------- */

QUARN_API int32_t Hart_WriteAllParam(void);
QUARN_API int32_t Hart_WriteAllParam_1(void);
QUARN_API int32_t Hart_WriteAllParam_Units(void);
QUARN_API int32_t Hart_WriteAllParam_UnitsAc(void);
QUARN_API int32_t Hart_WriteAllParam_Adr(void);
QUARN_API int32_t Hart_WriteAllParam_AcAdr(void);
QUARN_API int32_t Hart_WriteAllParam_damp(void);
QUARN_API int32_t Hart_WriteAllParam_Acdamp(void);
QUARN_API int32_t Hart_WriteAllParam_fn(void);
QUARN_API int32_t Hart_WriteAllParam_Acfn(void);
QUARN_API int32_t Hart_WriteAllParam_PVrange(void);
QUARN_API int32_t Hart_WriteAllParam_PV_Ac_range(void);
QUARN_API int32_t Hart_WriteAllParam_fin(void);

/* ---- Current check (task 14, slot 6) and leaving fixed-current mode (task 17, slot 15) -------- */

QUARN_API int32_t Hart_Check_I(void);
QUARN_API int32_t Hart_Check_I_1_Kesto_SelectCh(void);
QUARN_API int32_t Hart_Check_I_2_Set_I_out(void);
QUARN_API int32_t Hart_Check_I_3_Set_I_outAc(void);
QUARN_API int32_t Hart_Check_I_4_MeasI(void);
QUARN_API int32_t Hart_Check_I_5_MeasI_error(void);
QUARN_API int32_t Hart_Check_I_5_MeasI_fin(void);
/* Closing step of a check started as task 14, after the devices left fixed-current mode. */
QUARN_API int32_t Hart_Check_I_fin(void);

QUARN_API int32_t HART_Exit_I_out(void);
QUARN_API int32_t HART_Exit_I_out_1(void);
QUARN_API int32_t HART_Exit_I_out_2(void);
QUARN_API int32_t HART_Exit_I_out_3(void);
QUARN_API int32_t HART_Exit_I_out_4(void);

/* ---- Current trim (task 15, slot 11) ----------------------------------------------------------- */

/* Channel being trimmed. */
QUARN_API extern int32_t currCh_Tune_I;

QUARN_API int32_t Hart_Tune_I(void);
QUARN_API int32_t Hart_Tune_I_1(void);
QUARN_API int32_t Hart_Tune_I_2(void);
QUARN_API int32_t Hart_Tune_I_3(void);
QUARN_API int32_t Hart_Tune_I_31(void);
QUARN_API int32_t Hart_Tune_I_32(void);
QUARN_API int32_t Hart_Tune_I_35(void);
QUARN_API int32_t Hart_Tune_I_4(void);
QUARN_API int32_t Hart_Tune_I_5(void);
QUARN_API int32_t Hart_Tune_I_fin(void);
QUARN_API int32_t Hart_Tune_I_fin_1(void);
QUARN_API int32_t Hart_Tune_I_fin_2(void);
QUARN_API int32_t Hart_Tune_I_Old_1(void);
QUARN_API int32_t Hart_Tune_I_Old_11(void);
QUARN_API int32_t Hart_Tune_I_Old_2(void);

/* New output coefficients of the device-specific trim from the currents m4 and m20 measured while the
 * device was fixed at 4 and 20 mA: K' = K·16/(m20 − m4) (K when the two are equal or K is 0),
 * B' = B + 20·K − m20·K'. */
QUARN_API void quarn_hart_output_trim(float k, float b, float m4, float m20, float* kNew, float* bNew);

/* ---- Zero (task 11, slot 13), reset (task 12, slot 14), restore (task 19, slot 16) ------------ */

QUARN_API int32_t Hart_Set_0(void);
QUARN_API int32_t Hart_Set_0_2(void);
QUARN_API int32_t Hart_Set_0_3(void);
QUARN_API int32_t Hart_Set_0_4(void);

QUARN_API int32_t Hart_ResetDev(void);
QUARN_API int32_t Hart_ResetDev_2(void);
QUARN_API int32_t Hart_ResetDev_3(void);

QUARN_API int32_t Hart_RepairMan(void);
QUARN_API int32_t Hart_RepairMan_1(void);
QUARN_API int32_t Hart_RepairMan_2(void);
QUARN_API int32_t Hart_RepairMan_3(void);
QUARN_API int32_t Hart_RepairMan_4(void);

/* ---- Sensor trim (task 16, slot 12) ------------------------------------------------------------ */

QUARN_API int32_t Hart_Tune_Trim(void);
QUARN_API int32_t Hart_Tune_Trim_1(void);
QUARN_API int32_t Hart_Tune_Trim_Write_min(void);
QUARN_API int32_t Hart_Tune_Trim_Write_min_1(void);
QUARN_API int32_t Hart_Tune_Trim_Write_min_2(void);
QUARN_API int32_t Hart_Tune_Trim_Write_min_3(void);
QUARN_API int32_t Hart_Tune_Trim_3(void);
QUARN_API int32_t Hart_Tune_Trim_4(void);
QUARN_API int32_t Hart_Tune_Trim_Write_max(void);
QUARN_API int32_t Hart_Tune_Trim_Write_max_1(void);
QUARN_API int32_t Hart_Tune_Trim_Write_max_2(void);
QUARN_API int32_t Hart_Tune_Trim_Write_max_3(void);
QUARN_API int32_t Hart_Tune_Trim_fin(void);

/* ---- HART check sequence (task 20, slot 5) ----------------------------------------------------- */

QUARN_API int32_t Check_HART(void);
QUARN_API int32_t Check_HART_1(void);
QUARN_API int32_t Check_HART_3(void);
QUARN_API int32_t Check_HART_fin(void);

/* ---- Entry points: (ok, err) into the procedure's slot, its first step at the next timer call -- */

QUARN_API int32_t Begin_CheckHart(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Check_I(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Search(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_ReadDevInfo(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_WriteAllParam(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Tune_I(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Tune_Trim(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Set_0(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_ResetDev(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Exit_I_out(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_RepairManuf(TStepFn ok, TStepFn err);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HART_PROCEDURES_H */
