/* HART primary master of libquarn: request frames and checksum, the senders, the receivers and the
 * decoding of answers into a THartDev record, the data conversions and the HART common tables.
 *
 * Every request goes to the device of the selected channel (`hdi`, one of Dev.hart[4]) over the
 * calibrator's serial port switched to 1200 baud, odd parity. Answers are parsed into the same record.
 *
 * Conventions: functions return 0 (or a byte count) on success and negative codes on failure; a record
 * is valid when its `size` is THARTDEV_SIZE and its `endMark` is THARTDEV_END_MARK, and every function
 * that takes a record refuses another one with -100. Texts are Windows-1251 constants of the library;
 * a lookup never returns a null pointer. Multi-byte values in HART data are most significant byte
 * first. */
#ifndef QUARN_HART_MASTER_H
#define QUARN_HART_MASTER_H

#include <stdint.h>

#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Frames and checksum ----------------------------------------------------------------------- */

/* Longest request: 5 preamble bytes, delimiter, 5 address bytes, command, byte count, 255 data bytes,
 * checksum, trailing 0xFF. */
#define HART_FRAME_MAX (15 + 255)
#define HART_ERR_RECORD (-100) /* record missing or failing the size/endMark check */

/* The single transmit buffer: every sender builds its frame here and writes it from here. */
QUARN_API extern uint8_t rawHART[HART_FRAME_MAX];
/* The record of the selected channel (one of Dev.hart[4]); requests take its longAddress and answers
 * are parsed into it. */
QUARN_API extern THartDev* hdi;

/* XOR of n bytes (0 for n <= 0 or missing bytes). */
QUARN_API uint8_t calc_crcHART(const uint8_t* bytes, int32_t n);

/* Long-address request into buf: FF×5, 0x82, address[5], command, n, data[n], checksum, FF.
 * Returns 15 + n; -1 buf (or address) missing, -2 command above 255, -3 n negative or above 255, or
 * n positive with data missing. Nothing is written on a refusal. */
QUARN_API int32_t FormRq(uint8_t* buf, const uint8_t* address, uint32_t command, int32_t n,
                         const uint8_t* data);
/* Short-frame command 0 for polling address p (11 bytes); -1 buf missing, -2 p above 63. */
QUARN_API int32_t FormShortRq0(uint8_t* buf, uint32_t p);
/* Slave answer frame for the last frame received into *hdi (tests and the simulator side): preamble,
 * 0x86/0x06, address as stored, rxCommand, n + 2, status 00 00, data, checksum, FF. Returns the byte
 * count from the delimiter through the trailing 0xFF (12 + n long, 8 + n short; the preamble is not
 * counted). -1 buf missing, -3 n outside 0..253 or data missing, -100 hdi invalid. */
QUARN_API int32_t FormAc(uint8_t* buf, int32_t n, const uint8_t* data);
/* Fills the five long-address bytes as a command 0 answer does: ((type >> 8) & 0x3F) | 0x80 (the
 * primary-master bit set, the burst-mode bit 6 clear), type & 0xFF, then the 24-bit device id, most
 * significant first. Returns the first byte (0 when dst is missing). */
QUARN_API uint8_t MakeLongAdr(uint8_t* dst, uint32_t deviceId, uint16_t expandedDeviceType);

/* Typed builders into a caller's buffer for a record's longAddress: -100 for an invalid record, else
 * the result of FormRq. Floats are sent most significant byte first. */
QUARN_API int32_t FormRqCmd(uint8_t* buf, const THartDev* dev, uint32_t command);
QUARN_API int32_t FormRq_B(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b);
QUARN_API int32_t FormRq_BB(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b1, uint8_t b2);
QUARN_API int32_t FormRq_F(uint8_t* buf, const THartDev* dev, uint32_t command, float f);
QUARN_API int32_t FormRq_FF(uint8_t* buf, const THartDev* dev, uint32_t command, float f1, float f2);
QUARN_API int32_t FormRq_BFF(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b, float f1,
                             float f2);
QUARN_API int32_t FormRq_BBBF(uint8_t* buf, const THartDev* dev, uint32_t command, uint8_t b1, uint8_t b2,
                              uint8_t b3, float f);

/* ---- Senders (into rawHART, written on the calibrator's port) ------------------------------------ */

/* Each sender builds the request for hdi->longAddress in rawHART, sets Dev.errCode to 1 (errText
 * untouched), switches the port to the HART line mode (RS_SetMode(2)) and starts the write. Returns
 * what the write returns (non-zero when started); 0 when nothing could be written (invalid hdi, command
 * above 255). */
QUARN_API int32_t TxCmd(uint32_t command);
QUARN_API int32_t TxCmd_b(uint32_t command, uint8_t b);
QUARN_API int32_t TxCmd_bb(uint32_t command, uint8_t b1, uint8_t b2);
QUARN_API int32_t TxCmd_f(uint32_t command, float f);
QUARN_API int32_t TxCmd_ff(uint32_t command, float f1, float f2);
QUARN_API int32_t TxCmd_bbbf(uint32_t command, uint8_t b1, uint8_t b2, uint8_t b3, float f);
QUARN_API int32_t TxCmd_bff(uint32_t command, uint8_t b, float f1, float f2);
/* Short-frame command 0 for polling address p (nothing is written for p above 63). */
QUARN_API int32_t TxCmd_0(uint32_t p);
/* Sends the first n bytes already in rawHART (a frame prepared with FormRq); n outside
 * 1..HART_FRAME_MAX writes nothing. */
QUARN_API int32_t transpTx(int32_t n);
/* The read step pattern: decode the previous answer (HART_Rx, result ignored), send `command` without
 * data, add one to Dev.hartProgress, notify, schedule `next` after 800 ms. */
QUARN_API int32_t hTx(uint32_t command, TStepFn next);

/* ---- Receivers and decoding ---------------------------------------------------------------------- */

/* Read cursor of the answer handlers: OnRxMsg points it at the first data byte of a good answer. */
QUARN_API extern const uint8_t* hrt_rx;

/* Takes every byte waiting on the calibrator's port and parses it into *hdi. 1 when a good answer with
 * response code 0 was decoded, else 0. A decoded non-zero response code (other than for commands 45 and
 * 136) is reported as Dev.errCode 2 with the device's response text, and the host is notified. */
QUARN_API int32_t HART_Rx(void);
/* Parses one answer frame from count bytes (count taken modulo 256). Result of OnRxMsg; -1 no bytes,
 * no delimiter, truncated address or checksum mismatch; -2 byte count that does not fit the received
 * bytes or the 80-byte data buffer; -100 invalid record. */
QUARN_API int32_t Hart_DeForm(const uint8_t* bytes, uint32_t count, THartDev* dev);
/* Byte-wise receiver: 0 while a frame is in progress, 1 after a good frame decoded with result 0,
 * -1000 - r when the decoder returned r != 0, -2 for a frame whose data do not fit rxData (dropped),
 * -100 invalid record. */
QUARN_API int32_t OnRxChar(THartDev* dev, uint8_t byte);
/* Decodes the frame held in the receive fields: the response code when it is not 0 (responseText set,
 * nothing stored), else the handler's result (0, or -2 for a command 0 answer without 254). */
QUARN_API int32_t OnRxMsg(THartDev* dev);
/* 0 when the record is valid, else -100. */
QUARN_API int32_t check_DeviceInfo(const THartDev* dev);
/* Zeroes the byte-wise receiver state and every receive field through responseText; -100 invalid. */
QUARN_API int32_t ResetRx(THartDev* dev);
/* Clears the four records of Dev.hart: zeroed, then size, endMark and outputType = 1. */
QUARN_API void InitDevHart(void);

/* Answer handlers: read the answer's data from hrt_rx (advancing it), store into the record, return 0
 * (command 0: -2 when data byte 0 is not 254; trim commands 80/81: -2 for a variable code above 3,
 * nothing stored). */
QUARN_API int32_t onRx_000_ReadUniqueIdentifer(THartDev* dev);
QUARN_API int32_t onRx_001_ReadPriaryVarible(THartDev* dev);
QUARN_API int32_t onRx_002_ReadCurrentOut_andPercent(THartDev* dev);
QUARN_API int32_t onRx_003_ReadAllDynamicVarAndCurrent(THartDev* dev);
QUARN_API int32_t onRx_007_ReadLoopConfiguration(THartDev* dev);
QUARN_API int32_t onRx_008_ReadDynamicVariableClassifications(THartDev* dev);
QUARN_API int32_t onRx_012_ReadMessage(THartDev* dev);
QUARN_API int32_t onRx_013_ReadTagDescriptorDate(THartDev* dev);
QUARN_API int32_t onRx_014_ReadPrimaryVariableTransducerInformation(THartDev* dev);
QUARN_API int32_t onRx_015_ReadDeviceInformation(THartDev* dev);
QUARN_API int32_t onRx_034_WritePrimaryVariableDampingValue(THartDev* dev);
QUARN_API int32_t onRx_035_WritePrimaryVariableRangeValues(THartDev* dev);
QUARN_API int32_t onRx_040_EnterExitFixedCurrentMode(THartDev* dev);
QUARN_API int32_t onRx_044_WritePrimaryVariableUnits(THartDev* dev);
QUARN_API int32_t onRx_045_WriteMinCurrentOut(THartDev* dev);
QUARN_API int32_t onRx_046_WriteMaxCurrentOut(THartDev* dev);
QUARN_API int32_t onRx_047_WritePrimaryVariableTransferFunction(THartDev* dev);
QUARN_API int32_t onRx_080_ReadDeviceVariableTrimPoints(THartDev* dev);
QUARN_API int32_t onRx_081_ReadDeviceVariableTrimGuidelines(THartDev* dev);
QUARN_API int32_t onRx_122_ReadCalib(THartDev* dev);
QUARN_API int32_t onRx_128_ReadParamCurrentOut(THartDev* dev);

/* A range: lower and upper value in the units of `units` (a HART units code). */
#pragma pack(push, 1)
typedef struct THartRange {
  float lower;
  float upper;
  uint8_t units;
} THartRange;
#pragma pack(pop)

/* Brings a range whose values are given in the record's rangeUnits into the range's own units: both
 * values are multiplied by factor(dev->rangeUnits) / factor(range->units), with the real kPa factor
 * of each pressure unit (also of those HART_to_kPa_factor takes as kPa, such as mbar and psia). */
QUARN_API void Hart_recalc_PV(THartRange* range, const THartDev* dev);

/* ---- Data conversions ---------------------------------------------------------------------------- */

/* n packed-ASCII bytes → 4 characters per complete group of 3 bytes (no terminator written). Returns
 * the number of characters. */
QUARN_API int32_t SHARTtoString(char* text, const uint8_t* bytes, int32_t n);
/* NUL-terminated text → packed ASCII of its first 4·⌊len/4⌋ characters. Returns the number of bytes. */
QUARN_API int32_t StringToHART(const char* text, uint8_t* bytes);
/* Four bytes, most significant first → float. */
QUARN_API float hex2float(const uint8_t* bytes);
/* The 32-bit pattern of a float → four bytes, most significant first; returns bytes. */
QUARN_API uint8_t* float2hex(uint32_t bits, uint8_t* bytes);
/* Three bytes, most significant first → unsigned 24-bit number. */
QUARN_API uint32_t hex2u24(const uint8_t* bytes);
/* Factor that brings a value in a HART pressure unit to kPa (1.0 for codes without a factor). */
QUARN_API float HART_to_kPa_factor(uint32_t unitsCode);
/* x·x, negated for negative x. */
QUARN_API double pow2sgn(float x);

/* ---- Tables -------------------------------------------------------------------------------------- */

/* Manufacturer and model text of the last device-type lookup ("" at start, "n/a" after a miss). */
QUARN_API extern const char* man;
QUARN_API extern const char* desc;

QUARN_API void t01_ExpandedDeviceTypeCodes(uint16_t type);
QUARN_API const char* GetDescription(uint16_t type);
QUARN_API const char* GetCompanyName(uint16_t type);
QUARN_API const char* t02_GetUnitStringFromCode(uint32_t code);
QUARN_API const char* t03_Get_TransferFunction(uint32_t code);
QUARN_API const char* t04_Get_MaterialCodes(uint32_t code);
QUARN_API const char* t06_AlarmSelectionCodes(uint32_t code);
QUARN_API const char* t07_WriteProtectCodes(uint32_t code);
QUARN_API const char* t08_ManufacturerIdentificationCodes(uint32_t code);
QUARN_API const char* t21_DeviceVariableClassificationCodes(uint32_t code);
/* Text of `code` in table 0 (model), 1 (manufacturer of a device type), 2, 3, 4, 6, 7, 8, 21, or 50
 * (response text, command in bits 8-15 and code in bits 0-7); "n/a" for any other table. */
QUARN_API const char* GetStrByCode(int32_t table, uint32_t code);
/* Highest code (searched downwards from the table's start code) whose text equals `text` byte for
 * byte; -1 when none, for an empty or missing text and for tables other than 2, 3, 4, 6, 7, 8, 21. */
QUARN_API int32_t GetCodeByStr(int32_t table, const char* text);
/* Text for a non-zero response code of a command, formatted into one static buffer of 512 bytes that
 * the next call overwrites. */
QUARN_API const char* ToStrResponse(uint32_t command, uint32_t code);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HART_MASTER_H */
