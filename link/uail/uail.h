/* UAIL: the calibrator's checksummed ASCII request/answer protocol.
 *
 * Request  (library -> device): 0xFF ':' payload CRC CR, payload = "addr;type;" + data fields each
 *          ending in ';', CRC = CRC-16/MODBUS of the payload printed in decimal.
 * Answer   (device -> library): '!' addr ';' ["$" code ';'] fields... CRC CR, CRC over everything
 *          after '!' up to the last ';'.
 *
 * The receiver `uail` keeps only the data fields of an answer (with their ';'); field k is the text
 * after the k-th ';' of that text. Every request builder switches the calibrator port (pRS) to line
 * mode 1 first and sends on pRS->hCom with the module address uail.addr. */
#ifndef QUARN_UAIL_H
#define QUARN_UAIL_H

#include <stdint.h>

#include "core/TDev.h"
#include "platform/quarn_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Receive text buffer and request frame buffer sizes. */
#define UAIL_RX_BUF_SIZE 1024
#define UAIL_TX_BUF_SIZE 1024
/* The longest payload a request frame can carry (0xFF ':' payload, up to five CRC digits, CR, 0). */
#define UAIL_PAYLOAD_MAX (UAIL_TX_BUF_SIZE - 2 - 5 - 1 - 1)
/* Text fields of the shared record are 20 bytes: UAIL_getCopyStr1 copies at most 19 characters. */
#define UAIL_FIELD_COPY_SIZE 20
/* The receiver's own mark of a damaged answer. */
#define UAIL_RX_ERR_DAMAGED 51
/* Fields UAIL_ParceRX splits at most (separators). */
#define UAIL_PARCE_MAX_SEPS 30

/* Character classes of the receiver. */
enum {
  UAIL_CH_START = 0,     /* '!' */
  UAIL_CH_NUMERIC = 1,   /* 0-9 E e + - . */
  UAIL_CH_HEX = 2,       /* A-F a-f except E e */
  UAIL_CH_SEP = 3,       /* ';' */
  UAIL_CH_ERROR = 4,     /* '$' */
  UAIL_CH_END = 5,       /* CR */
  UAIL_CH_PRINTABLE = 6, /* any other byte from 0x21 up */
  UAIL_CH_BLANK = 7      /* space and control bytes other than CR */
};

/* Receiver states. */
enum {
  UAIL_ST_WAIT_START = 1,
  UAIL_ST_ADDR_FIRST = 2,
  UAIL_ST_ADDR_SECOND = 3,
  UAIL_ST_ADDR_MORE = 4,
  UAIL_ST_AFTER_ADDR = 6,
  UAIL_ST_DATA = 7,
  UAIL_ST_ERR_FIRST = 50,
  UAIL_ST_ERR_MORE = 51
};

/* The receiver record. */
typedef struct TUail {
  uint8_t rxErr;         /* code after '$' of the last answer, 0 none, 51 receive error */
  const char* rxErrText; /* text of rxErr (Russian table), set when an error block arrives */
  uint8_t addr;          /* answer's address while receiving; module address of the requests */
  char* buf;             /* receive text buffer (uail_RxStr) */
  char* wr;              /* write position in buf */
  uint32_t len;          /* length of the kept text of the last complete answer */
  uint8_t state;         /* UAIL_ST_... */
  uint16_t crc;          /* running CRC */
  uint16_t crcAtSep;     /* crc right after the last separator (or the error block) */
  uint16_t fieldVal;     /* decimal value of the digits since the last separator */
  char* afterSep;        /* write position after the last separator; null until one arrived in the
                            current answer */
} TUail;

/* Split answer (UAIL_ParceRX). The fields point into `text`, the record's own copy. */
typedef struct TUailParce {
  uint8_t addr;                          /* the answer's address */
  int32_t code;                          /* "$%d" of field 0, else field 0 as an integer (0) */
  int32_t count;                         /* separators split */
  char* fields[UAIL_PARCE_MAX_SEPS + 2]; /* field pointers, null after the last */
  char text[UAIL_RX_BUF_SIZE];           /* the copy that was split */
} TUailParce;

QUARN_API extern TUail uail;
QUARN_API extern char uail_RxStr[UAIL_RX_BUF_SIZE];
/* The last request frame built (0xFF ':' payload CRC CR, zero-terminated) and its length in bytes
 * (0 after a refused build: nothing to repeat). */
QUARN_API extern char uailRAW_TxStr[UAIL_TX_BUF_SIZE];
QUARN_API extern uint32_t quarn_uail_tx_len;

/* ---- Checksum and frames ------------------------------------------------------------------------ */

/* CRC-16/MODBUS over `count` bytes from 0xFFFF (in the low 16 bits). */
QUARN_API uint32_t CalcMemCRC(const void* bytes, uint16_t count);
/* The CRC updated by one byte. */
QUARN_API uint16_t UpdateMemCRC(uint8_t byte, uint16_t crc);
/* Builds the request frame of a payload into uailRAW_TxStr and returns it; null (and quarn_uail_tx_len 0)
 * when the payload is missing or longer than UAIL_PAYLOAD_MAX. */
QUARN_API const char* Uail_make_RAW(const char* payload);

/* ---- Receiver ----------------------------------------------------------------------------------- */

/* Class of a byte (UAIL_CH_...). */
QUARN_API int32_t UAIL_getTypeChar(uint8_t c);
/* Feeds one byte; 1 when it completed a valid answer. */
QUARN_API int32_t UAIL_RxChar(uint8_t c, TUail* rx);
/* Attaches uail_RxStr and resets the record. */
QUARN_API void UAIL_Init(TUail* rx);
/* Resets a record whose buffer is attached (logs a message and does nothing otherwise). */
QUARN_API void UAIL_Reset(TUail* rx);
/* Reads what waits on pRS->hCom and looks for one complete answer: 1 found (cRepeat = 3; the host is
 * notified when the answer carries an error code), else 0. */
QUARN_API int32_t RxUail(void);
/* RxUail gave 1 and the answer carries no error code. */
QUARN_API int32_t IsRxUailOk(void);

/* ---- Request builders (result: nonzero when the transmission was started) ----------------------- */

QUARN_API uint32_t Uail_Tx(uint32_t h, uint8_t addr, uint8_t type, const char* data);
QUARN_API uint32_t tx(uint8_t type, const char* data);
QUARN_API uint32_t Uail_txC(uint8_t type);
QUARN_API uint32_t Uail_txI(uint8_t type, int32_t value);
QUARN_API uint32_t Uail_txII(uint8_t type, int32_t a, int32_t b);
/* Data: the value's IEEE-754 bits in the 8-digit hexadecimal encoding (1.0 -> 0000803F). */
QUARN_API uint32_t Uail_txF(uint8_t type, float value);
/* Type 37, the register as two hexadecimal digits. */
QUARN_API uint32_t Uail_txRqReg(uint8_t reg);
QUARN_API uint32_t UAIL_File_Open_Rq(int32_t fileNo);
QUARN_API uint32_t UAIL_File_Seek_Rq(int32_t position);
QUARN_API uint32_t UAIL_File_Read_Rq(int32_t count);
/* Refused (0) when the bytes do not fit one frame. */
QUARN_API uint32_t UAIL_File_Write_Rq(const void* bytes, int32_t count);
QUARN_API uint32_t UAIL_File_Close_Rq(void);
/* Sends the last built frame again, unchanged (0 when there is none). */
QUARN_API uint32_t Uail_RepeatTx(void);

/* ---- Repeats ------------------------------------------------------------------------------------- */

/* 1 when an error-free answer is there. Otherwise one from cRepeat: when the budget was already below
 * 1, the failure step is scheduled, the library error set to `errorCode`, 0; else the last frame goes
 * out again, 0. */
QUARN_API int32_t RepeatUailTxOk(TStepFn onFail, uint32_t errorCode);
/* One from cRepeat: below 1 the failure step is scheduled; else the last frame goes out again and
 * cTimerDelay becomes 5 (the pending step runs again at the next timer call). */
QUARN_API void repErrUAIL(TStepFn onFail);

/* ---- Field readers ------------------------------------------------------------------------------- */

/* Field k of a text: a pointer into it; "error arg!" for a null text or k < 0; "error parse!" when the
 * text has fewer than k separators. */
QUARN_API const char* UAIL_getAsStr(int32_t k, const char* text);
/* Copies field k (up to the next ';' or the end; a leading ';' of the text is skipped) into dest,
 * at most UAIL_FIELD_COPY_SIZE - 1 characters, zero-terminated: 0; -1 null dest/text or k < 0; -2 the
 * text has no field k (dest untouched). */
QUARN_API int32_t UAIL_getCopyStr1(int32_t k, char* dest, const char* text);
/* The same with the destination's size (at most size - 1 characters; -1 when size < 1). */
QUARN_API int32_t quarn_uail_copy_field(int32_t k, char* dest, uint32_t size, const char* text);
/* UAIL_getCopyStr1 / quarn_uail_copy_field on the current answer. */
QUARN_API int32_t UAIL_getCopyStr(int32_t k, char* dest);
QUARN_API int32_t quarn_uail_copy_answer_field(int32_t k, char* dest, uint32_t size);
/* Field k of the current answer as a decimal integer ("%d"; out of the 32-bit range refused): 0, -1. */
QUARN_API int32_t UAIL_getAsInt(int32_t k, int32_t* dest);
/* Field k of the current answer as a float ("%f"): 0, -1. */
QUARN_API int32_t UAIL_getAsFloatStr(int32_t k, float* dest);
/* Field k of the current answer in the 8-digit hexadecimal encoding, bytes in transmission order
 * into dest (4 bytes): 0; -1 bad digit (lower case included) or bad arguments. A field that ends at a
 * byte boundary before 8 digits stops the decoding with 0. */
QUARN_API int32_t UAIL_getAsFloatHex(int32_t k, void* dest);
QUARN_API int32_t UAIL_getAsIntHex(int32_t k, void* dest);
/* Up to `count` bytes from hexadecimal pairs: 0 (also when the text ends at a byte boundary), -1. */
QUARN_API int32_t UAIL_ASCIItoHex(uint8_t* dest, const char* text, int32_t count);
/* `count` bytes as upper-case hexadecimal, zero-terminated (dest needs 2 * count + 1); returns dest. */
QUARN_API char* UAIL_HexToASCII(char* dest, const void* bytes, int32_t count);
/* 0-15 for '0'-'9', 'A'-'F'; -1 otherwise. */
QUARN_API int32_t ASCIItoHexChar(char c);
/* After a complete error-free answer: len / 2 bytes decoded from the kept text: 0; -1 no valid
 * answer, an error code, or a bad digit. dest needs UAIL_RX_BUF_SIZE / 2 bytes. */
QUARN_API int32_t UAIL_File_Read_Ac(uint8_t* dest);
/* The same, at most `size` bytes. */
QUARN_API int32_t quarn_uail_file_read_ac(uint8_t* dest, uint32_t size);
/* Splits a copy of the record's kept text: the count of separators split; -1 without a buffer. */
QUARN_API int32_t UAIL_ParceRX(const TUail* rx, TUailParce* out);

/* ---- Answer codes -------------------------------------------------------------------------------- */

/* Russian (Windows-1251) and English text of an answer code. */
QUARN_API const char* UAIL_ErrorCode_to_str(int32_t code);
QUARN_API const char* UAIL_ErrorCode_to_str_en(int32_t code);

/* ---- Device side (answer builders; not used by the library) -------------------------------------- */

/* Each appends to the zero-terminated text in dst (capacity `size`) and returns the new length, or -1
 * (dst unchanged) when it does not fit. */
QUARN_API int32_t UART_Push_Ok(char* dst, uint32_t size);
QUARN_API int32_t UART_Push_Str(char* dst, uint32_t size, const char* text);
QUARN_API int32_t UART_Push_Int(char* dst, uint32_t size, int32_t value);
QUARN_API int32_t UART_Push_Flt(char* dst, uint32_t size, float value);
QUARN_API int32_t UART_Push_FloatHex(char* dst, uint32_t size, float value);
QUARN_API int32_t UART_Push_Hex(char* dst, uint32_t size, const void* bytes, uint32_t count);
/* Build (not send) the frames with payload "%d;%d;" and "%d;$%d;" into uailRAW_TxStr. */
QUARN_API const char* Uail_sl_I(int32_t a, int32_t b);
QUARN_API const char* Uail_sl_err(int32_t a, int32_t code);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_UAIL_H */
