/* A stand-in for libquarn with a record of the wrong layout or without the entry point, for the
 * binding's refusals. FAKE_SIZE_DELTA changes the size field, FAKE_SIGNATURE the signature text,
 * FAKE_ENTRY the name the entry point is exported under. */
#include <stdint.h>
#include <string.h>

#include "TDev.h"

#ifndef FAKE_SIZE_DELTA
#define FAKE_SIZE_DELTA 0
#endif
#ifndef FAKE_SIGNATURE
#define FAKE_SIGNATURE "TDev"
#endif
#ifndef FAKE_ENTRY
#define FAKE_ENTRY SetTask
#endif

static TDev fakeRecord;

__attribute__((visibility("default"))) int32_t FAKE_ENTRY(uint32_t task, void* arg) {
  if (task == 2 && arg) {
    fakeRecord.size = QUARN_TDEV_SIZE + FAKE_SIZE_DELTA;
    fakeRecord.signature = FAKE_SIGNATURE;
    *(TDev**)arg = &fakeRecord;
  }
  return 0;
}
