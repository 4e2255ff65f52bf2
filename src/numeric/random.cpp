#include "numeric/random.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace zelvo {

float Random::RAN(int32_t& idum) {
  constexpr int32_t IA = 16807, IM = 2147483647, IQ = 127773, IR = 2836;
  if (idum <= 0 || iy_ < 0) {
    // nearest float below 1.0 divided by IM
    am_ = std::nextafter(1.0f, 0.0f) / static_cast<float>(IM);
    const uint32_t a = idum == INT32_MIN ? 2147483648u : static_cast<uint32_t>(std::abs(idum));
    iy_ = static_cast<int32_t>(((888889999u ^ a) | 1u) & 0x7fffffffu);
    ix_ = static_cast<int32_t>(777755555u ^ a);
    idum = static_cast<int32_t>((a + 1u) & 0x7fffffffu);
  }
  uint32_t x = static_cast<uint32_t>(ix_);
  x ^= (x << 13);
  x ^= (x >> 17);
  x ^= (x << 5);
  ix_ = static_cast<int32_t>(x);
  const int32_t k = iy_ / IQ;
  iy_ = IA * (iy_ - k * IQ) - IR * k;
  if (iy_ < 0) iy_ += IM;
  const int32_t v = ((ix_ ^ iy_) & IM) | 1;
  return static_cast<float>(am_ * static_cast<float>(v));
}

double Random::RND(int32_t& idum, double lo, double hi) { return lo + static_cast<double>(RAN(idum)) * (hi - lo); }

int32_t INITRAN() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const long long ticks = std::chrono::duration_cast<std::chrono::microseconds>(now).count() / 100;
  const long long wrapped = ticks % (214748LL * 10000LL);
  return -static_cast<int32_t>(wrapped);
}

}  // namespace zelvo
