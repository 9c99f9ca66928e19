// Kesto module readings: the four channel currents with the contact inputs (every measuring cycle)
// and the channel status word (before the HART procedures).
#include <cstring>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/procedure_state.h"
#include "calibrator/uail_link.h"
#include "core/step_chain.h"

using namespace quarn::cal;
using quarn::core::requestThen;

namespace {

constexpr uint8_t kRqContactInputs = 1;
constexpr int32_t kContactInputsArg = 10;
constexpr int32_t kDataFile = 1;
constexpr int32_t kCurrentsPosition = 16;
constexpr int32_t kCurrentsBytes = 16;
constexpr int32_t kStatusPosition = 56;
constexpr int32_t kStatusBytes = 2;
constexpr uint32_t kRepeatWaitMs = 200;
// The status reading's answer window; a task with early answers (the fast HART search) takes each
// answer as soon as it has ended.
constexpr uint32_t kStatusWaitMs = 200;
constexpr int32_t kDataAttempts = 3;

// Attempts left in this reading to get four currents that are not all zero. Counted on their own:
// the seek before each attempt is answered, and every complete answer renews the repeat budget.
int32_t g_dataAttempts = kDataAttempts;

}  // namespace

namespace quarn::cal {
void resetKestoReading() { g_dataAttempts = kDataAttempts; }
}  // namespace quarn::cal

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes of a file-read answer (hexadecimal pairs from the start of the text) into dst, at most
// `size` of them: only what the request asked for is taken, however long the answer. Returns the
// number of whole bytes decoded before the first character that is not a hexadecimal digit.
int32_t decodeFileBytes(std::string_view text, uint8_t* dst, int32_t size) {
  int32_t n = 0;
  for (std::size_t i = 0; n < size && i + 1 < text.size(); i += 2, ++n) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) break;
    dst[n] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return n;
}

// The four currents from an answer to "read 16 bytes": only an error-free answer of the Kesto module
// whose one field is exactly the 16 bytes asked for, as 32 hexadecimal digits.
bool takeCurrents(const Answer& a, uint8_t (&bytes)[kCurrentsBytes]) {
  std::string_view field, more;
  if (!a.ok || a.from != kAddrKesto || !answerField(a.text, 0, field) || answerField(a.text, 1, more))
    return false;
  return field.size() == 2 * kCurrentsBytes &&
         decodeFileBytes(field, bytes, kCurrentsBytes) == kCurrentsBytes;
}

// No usable answer to a current-reading request: the same request again after a pause while
// attempts are left (`same` takes up its answer); then the module counts as gone.
void repeatCurrentRequest(const Answer& a, TStepFn same) {
  ++Dev.kestoRepeats;
  if (spendRepeat(a)) {
    repeatLastRequest();
    ToNext(same, kRepeatWaitMs);
    return;
  }
  Dev.kestoDataValid = 0;
  Dev.kestoOk = 0;
  next(fRet[RET_KESTO_START_READ].err);
}

// A failed status request: the previous step (`previous`, which sends the request again) after 1 ms
// while attempts are left.
void retryStatus(const Answer& a, TStepFn previous) {
  if (spendRepeat(a)) {
    next(previous, 1);
    return;
  }
  next(fRet[RET_KESTO_READ_ERR].err, 1);
}

}  // namespace

extern "C" {

/* ---- Currents ----------------------------------------------------------------------------------- */

QUARN_API int32_t Kesto_StartRead(void) {
  useCalibratorPort(kAddrKesto);
  sendFileOpen(kDataFile);
  next(Kesto_Read_1, 100);
  return 0;
}

QUARN_API int32_t Kesto_Read_1(void) {
  const auto seekCurrents = [] {
    sendFileSeek(kCurrentsPosition);
    cRepeat = 3;
    g_dataAttempts = kDataAttempts;
  };
  return requestThen(goodAnswer(repeatCurrentRequest, Kesto_Read_1), seekCurrents, Kesto_Read_2, 100);
}

QUARN_API int32_t Kesto_Read_2(void) {
  return requestThen(
      goodAnswer(repeatCurrentRequest, Kesto_Read_2), [] { sendFileRead(kCurrentsBytes); }, Kesto_Read_3,
      110);
}

QUARN_API int32_t Kesto_Read_3(void) {
  const Answer a = takeAnswer();
  uint8_t bytes[kCurrentsBytes] = {};
  const bool whole = takeCurrents(a, bytes);
  TMeasKesto image = {};
  std::memcpy(image.current, bytes, sizeof image.current);

  if (!whole || IsBadKesto_Ac(&image)) {
    // Four zero currents, or no whole answer: the data are no good, the module is not gone. The
    // module's file position has moved on past whatever it read, so the reading starts again at its
    // seek to 16; a read without it would return the bytes after the currents.
    ++Dev.measRepeats;
    spendRepeat(a);
    if (--g_dataAttempts >= 1) {
      sendFileSeek(kCurrentsPosition);
      next(Kesto_Read_2, 100);
    } else {
      Dev.kestoDataValid = 0;
      next(fRet[RET_KESTO_START_READ].ok, 150);
    }
    return 0;
  }
  std::memset(&measKesto, 0, sizeof measKesto);
  std::memcpy(measKesto.current, image.current, sizeof measKesto.current);
  sendInt(kRqContactInputs, kContactInputsArg);
  next(Kesto_Read_4, 80);
  return 0;
}

QUARN_API int32_t Kesto_Read_4(void) {
  Answer a;
  if (!goodAnswer(repeatCurrentRequest, Kesto_Read_4, &a)) return 0;
  int32_t inputs = 0;
  if (fieldInt(a.text, 0, inputs)) Dev.relayInputs = static_cast<uint32_t>(inputs);
  Kesto_DataToDev();
  next(fRet[RET_KESTO_START_READ].ok);
  return 0;
}

/* ---- Channel status ----------------------------------------------------------------------------- */

QUARN_API int32_t Kesto_ReadErrorOpenFile(void) {
  useCalibratorPort(kAddrKesto);
  sendFileOpen(kDataFile);
  awaitAnswer(Kesto_ReadErrorSetAdr, kStatusWaitMs);
  return 0;
}

QUARN_API int32_t Kesto_ReadErrorSetAdr(void) {
  if (!answerEnded(Kesto_ReadErrorSetAdr) || !goodAnswer(retryStatus, Kesto_ReadErrorOpenFile)) return 0;
  sendFileSeek(kStatusPosition);
  awaitAnswer(Kesto_ReadError_RqErr, kStatusWaitMs);
  return 0;
}

QUARN_API int32_t Kesto_ReadError_RqErr(void) {
  if (!answerEnded(Kesto_ReadError_RqErr) || !goodAnswer(retryStatus, Kesto_ReadErrorSetAdr)) return 0;
  sendFileRead(kStatusBytes);
  awaitAnswer(Kesto_ReadError_AcErr, kStatusWaitMs);
  return 0;
}

QUARN_API int32_t Kesto_ReadError_AcErr(void) {
  if (!answerEnded(Kesto_ReadError_AcErr)) return 0;
  const Answer a = takeAnswer();
  uint8_t status[kStatusBytes] = {};
  // Only the two requested bytes belong to the status word; anything beyond them is ignored.
  if (!a.ok || decodeFileBytes(a.text, status, kStatusBytes) != kStatusBytes) {
    retryStatus(a, Kesto_ReadError_RqErr);
    return 0;
  }
  measKesto.status[0] = status[0];
  measKesto.status[1] = status[1];
  const uint16_t word = static_cast<uint16_t>(status[0] | (status[1] << 8));
  for (int k = 0; k < 4; ++k) Dev.chSkip[k] = static_cast<uint8_t>((word >> (2 * k)) & 3u);
  next(fRet[RET_KESTO_READ_ERR].ok, 1);
  return 0;
}

}  // extern "C"
