// The calibrator's settings and identification texts: conversion between the answer texts and the
// settings / calInfo records of the shared record.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/link_deps.h"
#include "calibrator/model_flags.h"
#include "calibrator/units.h"

using namespace quarn::cal;

namespace {

// Longest answer text the converters look at; the receiver keeps at most 1024 bytes.
constexpr std::size_t kMaxAnswer = 1024;

std::string_view boundedText(const char* text) { return std::string_view(text, strnlen(text, kMaxAnswer)); }

void applyUnits(TSettings* s) {
  if (const DisplayUnit* u = displayUnit(s->units)) {
    s->unitFactor = u->factor;
    s->unitFactorInv = 1.0f / u->factor;
  }
}

}  // namespace

extern "C" {

QUARN_API int32_t settings_Str2Bin(TSettings* s, const char* text) {
  if (!s || !text) return -1;
  const std::size_t len = strnlen(text, 64);
  if (len < 21 || len > 41) return -2;
  const std::string_view t(text, len);

  // The record changes only when the whole text converts.
  TSettings r = *s;
  if (quarnModel()) {
    int32_t v[6];
    float band = 0.0f;
    for (int k = 0; k < 6; ++k)
      if (!fieldInt(t, k, v[k])) return -2;
    if (!fieldHexFloat(t, 6, band)) return -2;
    r.refSource = v[0];
    r.subRange = v[1];
    r.pressType = v[2];
    r.units = v[3];
    r.decimals = v[4];
    r.averaging = v[5];
    r.readyBand1 = band;
  } else {
    int32_t v[6];
    float f[3];
    for (int k = 0; k < 6; ++k)
      if (!fieldInt(t, k, v[k])) return -2;
    for (int k = 0; k < 3; ++k)
      if (!fieldHexFloat(t, 6 + k, f[k])) return -2;
    r.pressType = v[0];
    r.units = v[1];
    r.decimals = v[2];
    r.autoRange = v[3];
    r.averaging = v[4];
    r.regMode = v[5];
    r.pTargetStored = f[0];
    r.readyBand1 = f[1];
    r.readyBand2 = f[2];
  }
  applyUnits(&r);
  *s = r;

  if (!quarnModel()) {
    Dev.pTarget = s->pTargetStored;
    formatValue(Dev.pTargetText, Dev.pTarget * s->unitFactor, s->decimals);
  }
  return 0;
}

QUARN_API int32_t settings_Bin2Str(char* buf, TSettings* s) {
  if (!buf || !s) return -1;
  char band1[9];
  floatToHex(s->readyBand1, band1);
  if (quarnModel()) {
    std::snprintf(buf, SETTINGS_TEXT_MAX, "%d;%d;%d;%d;%d;%d;%s;%s", s->refSource, s->subRange, s->pressType,
                  s->units, s->decimals, s->averaging, band1, band1);
  } else {
    // The device stores the setpoint in force.
    s->pTargetStored = Dev.pTarget;
    char target[9], band2[9];
    floatToHex(s->pTargetStored, target);
    floatToHex(s->readyBand2, band2);
    std::snprintf(buf, SETTINGS_TEXT_MAX, "%d;%d;%d;%d;%d;%d;%s;%s;%s", s->pressType, s->units, s->decimals,
                  s->autoRange, s->averaging, s->regMode, target, band1, band2);
  }
  return 0;
}

QUARN_API int32_t info_sn_Str2Bin(TCalInfo* info, const char* text) {
  if (!info || !text) return -1;
  const std::string_view t = boundedText(text);
  if (t.size() <= 9) return -2;

  // Fields are stored one after the other; a rejection keeps those converted before it.
  std::string_view f;
  if (!answerField(t, 0, f)) return -3;
  copyText(info->serial, f);
  if (!answerField(t, 1, f)) return -4;
  copyText(info->madeDate, f);
  float v = 0.0f;
  // A working limit that is no finite number is refused like a malformed field.
  if (!fieldHexFloat(t, 2, v) || !std::isfinite(v)) return -5;
  info->pLimitMin = v;
  if (!fieldHexFloat(t, 3, v) || !std::isfinite(v)) return -6;
  info->pLimitMax = v;
  info->span = info->pLimitMax - info->pLimitMin;
  info->spanUnits = info->span * Dev.settings.unitFactor;
  return 0;
}

QUARN_API int32_t info_ver_Str2Bin(TCalInfo* info, const char* text) {
  if (!info || !text) return -1;
  const std::string_view t = boundedText(text);
  if (t.size() < 6) return -2;

  int32_t major = 0, minor = 0;
  const bool numbers = fieldInt(t, 0, major) && fieldInt(t, 1, minor);
  // major * 100 + minor must fit the field; larger numbers are no version.
  const int64_t version = static_cast<int64_t>(major) * 100 + minor;
  const bool versionReads = numbers && version >= INT32_MIN && version <= INT32_MAX;
  if (quarnModel()) {
    // The Quarn's answer is refused only when it is too short: a version number that does not read
    // keeps the previous one, and the model text and classes are still taken (a refusal here would
    // keep the connection from ever completing).
    if (versionReads) info->version = static_cast<int32_t>(version);
    std::string_view f;
    if (answerField(t, 2, f)) copyText(info->modelName, f);
    int32_t cls = 0;
    if (fieldInt(t, 3, cls)) info->module1Class = static_cast<uint8_t>(cls);
    if (fieldInt(t, 4, cls)) info->module2Class = static_cast<uint8_t>(cls);
  } else {
    int32_t modelNo = 0;
    if (!versionReads || !fieldInt(t, 2, modelNo)) return -6;
    info->version = static_cast<int32_t>(version);
    info->modelNo = modelNo;
  }
  return 0;
}

QUARN_API int32_t ExtDorv_info_Str2Bin(TDorv* dorv, const char* text) {
  if (!dorv || !text) return -1;
  const std::string_view t = boundedText(text);
  if (t.size() < 6) return -2;

  // Fields that do not read keep their previous values.
  int32_t i = 0;
  if (fieldInt(t, 0, i)) dorv->present = static_cast<uint32_t>(i);
  if (fieldInt(t, 1, i)) dorv->pressType = i;
  float v = 0.0f;
  if (fieldFloat(t, 2, v)) dorv->rangeLow = v;
  if (fieldFloat(t, 3, v)) dorv->rangeHigh = v > 1000000.0f ? v / 1000.0f : v;
  uint32_t serial = 0;
  if (fieldUInt(t, 4, serial)) dorv->serialNo = serial;

  if (dorv->present) Dev.settings.pressType = dorv->pressType;
  Dev.event = 5;
  Update();
  return 0;
}

}  // extern "C"
