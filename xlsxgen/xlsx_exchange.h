/* The report exchange block: what the workstation (or the headless host) hands to libxlsxgen.
 *
 * One contiguous, packed block owned by the host. Texts are NUL-terminated Windows-1251; a missing
 * text is a null address. Paths are Windows-1251 too (the library converts them to the file system's
 * UTF-8). The last byte is a checksum over every byte before it (xlsx_exchange_checksum), so the
 * library refuses a block that was not completed.
 *
 * Layout in a 32-bit build: 31637 bytes, checksum at 0x7B94. Addresses have the platform's width, so a
 * 64-bit build is larger; order, counts and the checksum rule stay the same. */
#ifndef XLSX_EXCHANGE_H
#define XLSX_EXCHANGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define XLSX_OPS_COUNT 11
#define XLSX_HIDDEN_MAX 15
#define XLSX_PAIRS_MAX 1024
#define XLSX_TABLES_MAX 29
#define XLSX_TABLE_CELLS 200
/* The number of cells of every table is below this. */
#define XLSX_COLUMN_LIMIT 200

/* Results of MakeXLSX. */
#define XLSX_OK 0
#define XLSX_BAD_CHECKSUM (-1)
#define XLSX_NOT_MADE (-2)

/* An address of one of the host's block operations; only part of the checksum for the library. */
typedef void (*TXlsxOp)(void);

#pragma pack(push, 1)

typedef struct TXlsxPair {
  char* key;
  char* value;
} TXlsxPair;

typedef struct TXlsxTable {
  char* name;
  char* cells[XLSX_TABLE_CELLS];
} TXlsxTable;

typedef struct TXlsxExchange {
  TXlsxOp ops[XLSX_OPS_COUNT];
  char* templatePath;
  char* outputPath;
  int32_t hiddenCount;
  char* hidden[XLSX_HIDDEN_MAX];
  int32_t pairCount;
  TXlsxPair pairs[XLSX_PAIRS_MAX];
  int32_t columnCount; /* n: cells of every table, 0..199 */
  int32_t tableCount;
  TXlsxTable tables[XLSX_TABLES_MAX];
  uint8_t checksum;
} TXlsxExchange;

#pragma pack(pop)

/* 31637 with 4-byte addresses; every address adds its extra width. */
#define XLSX_ADDRESS_FIELDS \
  (XLSX_OPS_COUNT + 2 + XLSX_HIDDEN_MAX + 2 * XLSX_PAIRS_MAX + XLSX_TABLES_MAX * (1 + XLSX_TABLE_CELLS))
#define XLSX_EXCHANGE_SIZE (31637u + XLSX_ADDRESS_FIELDS * ((uint32_t)sizeof(void*) - 4u))

/* The checksum byte: 0xFF plus every byte before the checksum field, modulo 256. */
static inline uint8_t xlsx_exchange_checksum(const TXlsxExchange* block) {
  const uint8_t* bytes = (const uint8_t*)block;
  uint8_t sum = 0xFF;
  for (size_t i = 0; i < offsetof(TXlsxExchange, checksum); ++i) sum = (uint8_t)(sum + bytes[i]);
  return sum;
}

/* Fills the copy of the template the block names. 0 success, -1 checksum mismatch (nothing touched),
 * -2 no workbook made; MakeXLSX_LastError then says why. */
int32_t MakeXLSX(TXlsxExchange* block);
typedef int32_t (*TMakeXLSX)(TXlsxExchange* block);

/* Windows-1251 text of the last MakeXLSX failure on this thread ("" after a success); valid until the
 * next call on the same thread. */
const char* MakeXLSX_LastError(void);
typedef const char* (*TMakeXLSX_LastError)(void);

/* UTF-8 path of the workbook the last successful MakeXLSX on this thread wrote ("" otherwise). */
const char* MakeXLSX_LastOutput(void);
typedef const char* (*TMakeXLSX_LastOutput)(void);

#ifdef __cplusplus
}

static_assert(offsetof(TXlsxExchange, checksum) + 1 == sizeof(TXlsxExchange), "checksum is the last byte");
static_assert(sizeof(TXlsxExchange) == XLSX_EXCHANGE_SIZE, "exchange block layout");
#endif

#endif /* XLSX_EXCHANGE_H */
