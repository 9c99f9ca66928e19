/* The first steps of the library's procedures and their Begin_ entry points.
 *
 * A step takes no arguments and returns a 32-bit integer nobody reads (TStepFn). A Begin_ entry point
 * stores the continuation pair (on success, on failure) into the procedure's slot of fRet and
 * schedules the procedure's first step with ToNext0; its result means nothing.
 *
 * The procedures are defined in their own areas (calibrator, hart, data). The core refers to them
 * through weak references, so the library links and runs with any subset present: an absent step
 * reads as null and the core then schedules nothing for it. The core also carries default (weak)
 * definitions of the Begin_ entry points; an area may define its own, which then takes precedence. */
#ifndef QUARN_STEPS_H
#define QUARN_STEPS_H

#include <stdint.h>

#include "TDev.h"
#include "../platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- First steps of the procedures (slot in brackets) -------------------------------------- */

QUARN_API int32_t Connect(void);                 /* [0] connection and device discovery */
QUARN_API int32_t Connect_Loose(void);           /* [1] link lost */
QUARN_API int32_t Connect_NotFound(void);        /* failure end of the measuring cycle's initial pair */
QUARN_API int32_t MeasControl_1(void);           /* [2] the measuring cycle */
QUARN_API int32_t Control(void);                 /* [3] pressure control */
QUARN_API int32_t Check_start(void);             /* [4] verification run or relay check */
QUARN_API int32_t Check_HART(void);              /* [5] HART check sequence */
QUARN_API int32_t Hart_Check_I(void);            /* [6] HART current-output check */
QUARN_API int32_t ProcBrenkextDorv(void);        /* [7] external transducer (Brenk) */
QUARN_API int32_t Hart_Search(void);             /* [8] HART device search */
QUARN_API int32_t Hart_ReadDeviceInfo(void);     /* [9] HART device information */
QUARN_API int32_t Hart_WriteAllParam(void);      /* [10] write HART configuration */
QUARN_API int32_t Hart_Tune_I(void);             /* [11] HART current-output trim */
QUARN_API int32_t Hart_Tune_Trim(void);          /* [12] HART sensor trim */
QUARN_API int32_t Hart_Set_0(void);              /* [13] HART zero */
QUARN_API int32_t Hart_ResetDev(void);           /* [14] HART device reset */
QUARN_API int32_t HART_Exit_I_out(void);         /* [15] leave fixed-current mode */
QUARN_API int32_t Hart_RepairMan(void);          /* [16] restore manufacturer settings */
QUARN_API int32_t CheckRelay(void);              /* [17] relay check */
QUARN_API int32_t ReadSettings(void);            /* [18] read calibrator settings */
QUARN_API int32_t WriteSettings(void);           /* [19] write calibrator settings */
QUARN_API int32_t Kesto_StartRead(void);         /* [20] Kesto module reading */
QUARN_API int32_t Kesto_ReadErrorOpenFile(void); /* [21] Kesto channel status */
QUARN_API int32_t SetSensorType(void);           /* [22] Kesto input type */
QUARN_API int32_t WaitExtDorv_info(void);        /* [23] external transducer identification */
QUARN_API int32_t Set_0_KD(void);                /* [24] zero adjustment */

/* ---- Begin_ entry points: store (ok, err) into the slot, ToNext0 the first step ------------ */

QUARN_API int32_t Begin_Connect(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_ConnectLoose(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_MeasControl(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Control(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Check(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_CheckHart(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Check_I(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_ProcBrenkextDorv(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Search(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_ReadDevInfo(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_WriteAllParam(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Tune_I(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Tune_Trim(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Set_0(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_ResetDev(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_Exit_I_out(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Hart_RepairManuf(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_SettingsRead(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_SettingsWrite(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Kesto_Meas(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Kesto_ReadErrNC(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_SetSensorType(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_RedExtDorv_Info(TStepFn ok, TStepFn err);
QUARN_API int32_t Begin_Set_0_KD(TStepFn ok, TStepFn err);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_STEPS_H */
