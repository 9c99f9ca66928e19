/* The one comparison behind every judgement of a reduced error: the verification run's hard mode in
 * the library and the hosts' verdict (results table, protocol, run history) all call it, so they
 * cannot disagree at the limit.
 *
 * The limit is the permissible error times the analysis coefficient, rounded to single precision;
 * |error| is compared with it in single precision. Equality passes; a missing error (NaN) does not,
 * nor does any error against a limit that is not a number. */
#ifndef QUARN_VERDICT_LIMIT_H
#define QUARN_VERDICT_LIMIT_H

#ifdef __cplusplus
extern "C" {
#endif

static inline int quarn_within_limit(float reducedError, float errOk, float vrCoeff) {
  const float limit = errOk * vrCoeff;
  const float size = reducedError < 0.0f ? -reducedError : reducedError;
  return size <= limit;
}

#ifdef __cplusplus
}
#endif

#endif /* QUARN_VERDICT_LIMIT_H */
