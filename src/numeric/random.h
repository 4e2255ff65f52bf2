// Uniform random numbers for the noise of repainted pixels.
#pragma once

#include <cstdint>

namespace zelvo {

// The generator state: a Marsaglia shift register combined with a Park-Miller sequence
// (Schrage's method), as in the published routine "ran". One instance lives in the session.
class Random {
 public:
  // RAN: a float strictly between 0 and 1. A seed idum <= 0 (or the first call)
  // initialises the generator from |idum|; idum is then made positive.
  float RAN(int32_t& idum);
  // RND: lo + RAN(idum) * (hi - lo), with hi - lo formed in double precision.
  double RND(int32_t& idum, double lo, double hi);

 private:
  int32_t ix_ = -1;
  int32_t iy_ = -1;
  float am_ = 0.0f;
};

// INITRAN: the negated count of the system clock at 10000 ticks per second, wrapping every
// 214748 seconds, so the seed is <= 0 and below 2^31 in size.
int32_t INITRAN();

}  // namespace zelvo
