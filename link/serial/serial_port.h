/* Serial ports of the library: the calibrator's port record `rs`, the external transducer's `rsDorv`
 * and the current-record pointer `pRS`, with the operations every protocol layer uses.
 *
 * Nothing here blocks for the device. A write hands its bytes to the port and returns; bytes the
 * system does not take at once stay in the port's own transmit buffer and go out on later calls on
 * that port, in order. A read takes only what already waits in the input queue.
 *
 * Handles are 32-bit values: 0 = none, RS_HANDLE_INVALID (all bits set) = lost, closed or failed.
 * Any other value names one opening of a port; once that port is closed or lost, the value stays
 * dead (it never reaches a port opened later).
 *
 * Port numbers run from 1 to 253 and are mapped to devices by the port map (platform/quarn_host.h:
 * present serial devices, paths a host registers, in-process virtual ports). */
#ifndef QUARN_SERIAL_PORT_H
#define QUARN_SERIAL_PORT_H

#include <stdint.h>

#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RS_HANDLE_NONE 0u
#define RS_HANDLE_INVALID 0xFFFFFFFFu
/* Entries of a port handle table: index = port number 1..253, index 0 unused. */
#define RS_PORT_TABLE_SIZE 254
#define RS_PORT_FIRST 1
#define RS_PORT_LAST 253
/* Receive buffer of a port record; one read takes at most RS_RX_BUF_SIZE - 2 bytes. */
#define RS_RX_BUF_SIZE 1024
/* Line modes of RS_SetMode. */
#define RS_MODE_UAIL 1 /* 9600 baud, no parity */
#define RS_MODE_HART 2 /* 1200 baud, odd parity */
/* Parities of OpenPortAsync. */
#define RS_PARITY_NONE 0
#define RS_PARITY_ODD 1

/* Transfer control block of one direction. Kept for the record's layout; nothing reads it. */
typedef struct TRSTransfer {
  uintptr_t internal;
  uintptr_t internalHigh;
  uint32_t offset;
  uint32_t offsetHigh;
  void* event;
} TRSTransfer;

/* One serial link. */
typedef struct TRS {
  TRSTransfer ovRead;                 /* zeroed when a port is opened */
  TRSTransfer ovWrite;                /* zeroed when a port is opened */
  uint32_t hCom;                      /* the port in use; 0 none, RS_HANDLE_INVALID lost */
  uint32_t hPort[RS_PORT_TABLE_SIZE]; /* ports opened during a search, index = port number */
  uint8_t reserved[8];                /* */
  int32_t mode;                       /* line mode last set by RS_SetMode (0 after load) */
  uint8_t rxBuf[RS_RX_BUF_SIZE];      /* bytes of the last read followed by a zero byte */
  int32_t curPort;                    /* number of the port opened last */
} TRS;

/* The calibrator's port record and the external transducer's. */
QUARN_API extern TRS rs;
QUARN_API extern TRS rsDorv;
/* The record every operation below uses implicitly (normally &rs). */
QUARN_API extern TRS* pRS;

/* 1 when the handle is neither 0 nor RS_HANDLE_INVALID. */
QUARN_API int32_t quarn_rs_handle_valid(uint32_t h);

/* Opens a port at the given speed with 8 data bits, two stop bits, parity RS_PARITY_NONE or
 * RS_PARITY_ODD, raw, no flow control, exclusively. Result: the handle; 0 when the number is below
 * 1; RS_HANDLE_INVALID when the port cannot be opened or configured (also when this process has it
 * open already). Stores the number into pRS->curPort on success. */
QUARN_API uint32_t OpenPortAsync(int32_t portNo, uint32_t baud, int32_t parity);

/* Line mode of pRS->hCom: RS_MODE_UAIL or RS_MODE_HART. Does nothing when pRS->mode already equals
 * it; otherwise sets speed and parity, sleeps 1 ms and discards both directions of the port. Result 0;
 * -1 when hCom is RS_HANDLE_INVALID or the mode is neither 1 nor 2 (nothing changes then). */
QUARN_API int32_t RS_SetMode(int32_t mode);

/* Starts sending `count` bytes. Result nonzero when the transmission was started; 0 when the handle
 * is not valid, count < 1, bytes is null, the port has failed (it is then marked lost), or the port's
 * transmit buffer is full. */
QUARN_API uint32_t WritePortAsyncBin(const void* bytes, int32_t count, uint32_t h);
/* As WritePortAsyncBin with the text's length. */
QUARN_API uint32_t WritePortAsyncStr(const char* text, uint32_t h);

/* Takes at most size - 2 waiting bytes into buf and terminates them with a zero byte. Result: the
 * number taken (0 = none waiting); -1 for an invalid handle or a failed port (marked lost); -2 when
 * the read cannot be started (null buffer, size < 2). */
QUARN_API int32_t ReadPortAsync(uint32_t h, void* buf, int32_t size);
/* ReadPortAsync into pRS->rxBuf with size RS_RX_BUF_SIZE. */
QUARN_API int32_t ReadPortAsyncRS(uint32_t h);
/* ReadPortAsyncRS from pRS->hCom. */
QUARN_API int32_t ReadPortAsync0(void);

/* Discards both directions and closes a valid handle, then sleeps 1 ms. A failed port is released
 * without the pause. Unknown or dead handles: nothing. */
QUARN_API void ClosePortAsync(uint32_t h);
/* Closes every pRS->hPort entry except `keep` and sets them to RS_HANDLE_INVALID; with keep < 1
 * also pRS->hCom becomes 0. */
QUARN_API void ClosePorts(int32_t keep);
/* Closes the valid pRS->hPort entries except `keepA` and `keepB` and marks only those; hCom stays. */
QUARN_API void ClosePorts2(int32_t keepA, int32_t keepB);
/* Discards both directions of a valid handle (received bytes and bytes not yet sent). */
QUARN_API void quarn_rs_purge(uint32_t h);

/* ---- Operations over a handle table (entries 1..253, ascending) ------------------------------- */

/* Opens every port number at the speed without parity into its entry. Result: valid handles. */
QUARN_API int32_t ScanOpenPorts(uint32_t* table, uint32_t baud);
/* Sends the text on every valid entry; failing entries and 0 entries become RS_HANDLE_INVALID.
 * Result 1 when at least one port took it. */
QUARN_API int32_t ScanTxPorts(const char* text, uint32_t* table);
/* Reads every entry into pRS->rxBuf; the first port whose bytes contain `text` becomes pRS->hCom and
 * its number is the result; 0 when none. */
QUARN_API int32_t ScanRxPorts(uint32_t* table, const char* text);
/* Reads every entry; from the first occurrence of the format's first character, the first port whose
 * bytes scan to exactly one value with `format` wins: its number, the value in `dest`. 0 when none.
 * `format` is a scanf format of the caller with one conversion matching `dest`. */
QUARN_API int32_t ScanRxPortsI(uint32_t* table, const char* format, void* dest);
/* As ScanRxPortsI, but only port `portA` or `portB` can win (the others are read all the same). */
QUARN_API int32_t ScanRxPortsII(uint32_t* table, const char* format, void* dest, int32_t portA,
                                int32_t portB);

/* ---- Small helpers on pRS->hCom ----------------------------------------------------------------- */

/* Formats the value with a printf format of the caller and sends it on pRS->hCom. */
QUARN_API uint32_t Tx_Int(int32_t value, const char* format);
QUARN_API uint32_t Tx_Float(float value, const char* format);
/* WritePortAsyncStr. */
QUARN_API uint32_t Tx_Str(const char* text, uint32_t h);
/* 1 when the bytes waiting on pRS->hCom scan to one value with `format`, else 0. */
QUARN_API int32_t Rx_Float(float* dest, const char* format);
/* 1 when the bytes waiting on the handle contain `text`, else 0. */
QUARN_API int32_t Rx_StrCompare(const char* text, uint32_t h);

/* Completion routine of transfers: only yields the processor. */
QUARN_API void On_IOComplet(uint32_t errorCode, uint32_t bytes, void* transfer);
/* Does nothing. */
QUARN_API void onError(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_SERIAL_PORT_H */
