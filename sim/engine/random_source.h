// Seeded random numbers of the simulator: the same seed gives the same bench on every platform.
#pragma once

#include <cmath>
#include <cstdint>

namespace quarnsim {

class RandomSource {
 public:
  explicit RandomSource(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}

  uint64_t next() {  // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  double uniform(double lo, double hi) { return hi > lo ? lo + (hi - lo) * unit() : lo; }
  // Normal with mean 0 and the given standard deviation (Box-Muller).
  double gauss(double sd) {
    if (sd <= 0) return 0;
    const double u1 = 1.0 - unit();
    const double u2 = unit();
    return sd * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  uint64_t state_;
};

}  // namespace quarnsim
