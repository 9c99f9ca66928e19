// Reduced errors at the verdict's limit and one unit in the last place on either side, for pairs of
// permissible error and analysis coefficient whose product is not exact in single precision. Every
// judge of an error (the run's hard mode, the results table, the verdict, the protocol, the run
// history) must give the same answer for each.
#pragma once

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace limitcases {

struct Case {
  std::string what;
  float errOk;
  float vrCoeff;
  float error;
  bool within;  // what the verdict must say
};

// The limit is the product rounded to single precision; on it and one step inside it a device
// passes, one step outside it and without a value it does not.
inline std::vector<Case> atTheLimit() {
  struct Pair {
    float errOk, vrCoeff;
  };
  // 0.2 x 0.7 rounds up in single precision, 0.15 x 0.7 down: a comparison made in double
  // precision lands on the other side of the limit for one of them.
  const Pair pairs[] = {{0.2f, 0.7f}, {0.15f, 0.7f}, {0.5f, 0.7f}, {0.25f, 0.7f}, {1.5f, 0.9f}, {0.1f, 0.3f}};
  std::vector<Case> out;
  for (const Pair& p : pairs) {
    const float limit = p.errOk * p.vrCoeff;
    const float above = std::nextafter(limit, std::numeric_limits<float>::infinity());
    const float below = std::nextafter(limit, 0.0f);
    const std::string pair = std::to_string(p.errOk) + " x " + std::to_string(p.vrCoeff) + ": ";
    out.push_back({pair + "on the limit", p.errOk, p.vrCoeff, limit, true});
    out.push_back({pair + "one step above", p.errOk, p.vrCoeff, above, false});
    out.push_back({pair + "one step below", p.errOk, p.vrCoeff, below, true});
    out.push_back({pair + "negative, on the limit", p.errOk, p.vrCoeff, -limit, true});
    out.push_back({pair + "negative, one step beyond", p.errOk, p.vrCoeff, -above, false});
  }
  out.push_back({"no value", 0.5f, 0.7f, std::numeric_limits<float>::quiet_NaN(), false});
  return out;
}

// How many cases a comparison in double precision (|error| <= errOk x vrCoeff worked in double)
// judges otherwise: the table is only worth its name when this is above 0.
inline int judgedOtherwiseInDouble(const std::vector<Case>& cases) {
  int n = 0;
  for (const Case& c : cases)
    if ((std::fabs(c.error) <= static_cast<double>(c.errOk) * c.vrCoeff) != c.within) ++n;
  return n;
}

}  // namespace limitcases
