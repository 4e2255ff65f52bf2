#include "numeric/statistics.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include <cmath>
#include <cstring>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// Adds a squared deviation formed in double precision to a 32-bit accumulator.
inline float add_square(float acc, float v, float about) {
  const double d = static_cast<double>(v) - static_cast<double>(about);
  return static_cast<float>(static_cast<double>(acc) + d * d);
}

}  // namespace

AverageSigma AVERAGESIGMA(std::span<const float> values, int32_t nsig) {
  AverageSigma r;
  // Undefined pixels (NaN, infinities) carry no value: they are counted and left out.
  std::vector<float> kept_values;
  for (float v : values) {
    if (counted_pixel(v))
      ++r.finite;
    else
      ++r.not_finite;
  }
  if (r.not_finite > 0) {
    kept_values.reserve(static_cast<std::size_t>(r.finite));
    for (float v : values)
      if (counted_pixel(v)) kept_values.push_back(v);
    values = kept_values;
  }
  const auto n = static_cast<int32_t>(values.size());
  if (n < 1) return r;

  float s = 0.0f;
  for (float v : values) s += v;
  r.mean = s / static_cast<float>(n);

  float q = 0.0f;
  for (float v : values) q = add_square(q, v, r.mean);
  r.sigma = n > 1 ? std::sqrt(q / static_cast<float>(n - 1)) : 0.0f;

  // One clipping pass against fixed limits. A flag per value marks the kept ones, so any
  // input value (however negative) is handled alike.
  const float hi = r.mean + static_cast<float>(nsig) * r.sigma;
  const float lo = r.mean - static_cast<float>(nsig) * r.sigma;
  std::vector<char> kept_flag(values.size(), 1);
  int32_t kept = n;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] > hi || values[i] < lo) {
      kept_flag[i] = 0;
      --kept;
    }
  }
  r.rejected = static_cast<float>(n - kept);

  if (kept < 1) {
    r.clipped_mean = r.mean;
    r.clipped_spread = 0.0f;
    return r;
  }
  s = 0.0f;
  q = 0.0f;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!kept_flag[i]) continue;
    s += values[i];
    q = add_square(q, values[i], r.mean);  // about the full mean, not the clipped one
  }
  r.clipped_mean = s / static_cast<float>(kept);
  r.clipped_spread = kept > 1 ? std::sqrt(q / static_cast<float>(kept - 1)) : 0.0f;
  if (kept > 1) {
    float qk = 0.0f;
    for (std::size_t i = 0; i < values.size(); ++i)
      if (kept_flag[i]) qk = add_square(qk, values[i], r.clipped_mean);
    r.kept_sigma = std::sqrt(qk / static_cast<float>(kept - 1));
  }
  return r;
}

void HISTOGRAM(std::span<const float> values, float start, float width, std::span<int32_t> counts) {
  const auto nbins = static_cast<int32_t>(counts.size());
  for (auto& c : counts) c = 0;
  for (float v : values) {
    const float f = (v - start) / width + 1.0f;
    if (!std::isfinite(f)) continue;
    int32_t k = INT(f);
    if (k >= 20) k = 20;
    if (k > 0 && k < nbins) ++counts[static_cast<std::size_t>(k - 1)];
  }
}

void sift_down(std::span<float> arr, int32_t l, int32_t r) {
  // 1-based heap indices over the 0-based span.
  auto at = [&arr](int32_t i) -> float& { return arr[static_cast<std::size_t>(i - 1)]; };
  const float a = at(l);
  int32_t jold = l;
  int32_t j = 2 * l;
  while (j <= r) {
    if (j < r && at(j) < at(j + 1)) ++j;
    if (a >= at(j)) break;
    at(jold) = at(j);
    jold = j;
    j = 2 * j;
  }
  at(jold) = a;
}

void SORT_HEAP(std::span<float> arr) {
  const auto n = static_cast<int32_t>(arr.size());
  for (int32_t i = n / 2; i >= 1; --i) sift_down(arr, i, n);
  for (int32_t i = n; i >= 2; --i) {
    std::swap(arr[0], arr[static_cast<std::size_t>(i - 1)]);
    sift_down(arr, 1, i - 1);
  }
}

namespace {

// Four pixels at a time (the compiler's vector extension: SSE on every x86-64, NEON on ARM).
using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int32_t __attribute__((vector_size(16)));
using Doubles2 = double __attribute__((vector_size(16)));

// Sums, extremes and count of the counted (finite) pixels among four.
struct Lanes {
  Doubles2 sum_lo{0.0, 0.0}, sum_hi{0.0, 0.0};
  Floats4 mx, mn;
  Ints4 count{0, 0, 0, 0};
  Lanes() {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    mx = Floats4{-kInf, -kInf, -kInf, -kInf};
    mn = Floats4{kInf, kInf, kInf, kInf};
  }
  void take(const float* at) {
    Floats4 p;
    std::memcpy(&p, at, sizeof p);
    Ints4 bits;
    std::memcpy(&bits, &p, sizeof bits);
    // Finite: the exponent bits are not all set (NaN and +/-Inf have them all set).
    const Ints4 finite = (bits & 0x7f800000) != 0x7f800000;
    const Ints4 kept = bits & finite;  // the value, or +0 where it is not counted
    Floats4 value;
    std::memcpy(&value, &kept, sizeof value);
    sum_lo += __builtin_convertvector(__builtin_shufflevector(value, value, 0, 1), Doubles2);
    sum_hi += __builtin_convertvector(__builtin_shufflevector(value, value, 2, 3), Doubles2);
    mx = finite ? (p > mx ? p : mx) : mx;
    mn = finite ? (p < mn ? p : mn) : mn;
    count -= finite;  // a true comparison is -1
  }
};

}  // namespace

ImageStatistics image_statistics(ConstImageView image) {
  ImageStatistics st;
  if (image.empty()) return st;
  // The sum is kept in double precision: a 32-bit sum of millions of sky pixels stops
  // growing correctly (a 2048 x 2048 frame of 1000 averages out percents too high). Four
  // groups of four lanes run side by side, so that no step waits on the one before.
  std::array<Lanes, 4> lanes;
  const std::size_t size = image.size();
  std::size_t k = 0;
  for (; k + 16 <= size; k += 16)
    for (std::size_t l = 0; l < 4; ++l) lanes[l].take(image.px + k + 4 * l);
  double total = 0.0;
  std::size_t counted = 0;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  float hi = -kInf, lo = kInf;
  for (const Lanes& l : lanes)
    for (int i = 0; i < 4; ++i) {
      hi = std::max(hi, l.mx[i]);
      lo = std::min(lo, l.mn[i]);
      counted += static_cast<std::size_t>(l.count[i]);
      total += i < 2 ? l.sum_lo[i] : l.sum_hi[i - 2];
    }
  for (; k < size; ++k) {
    const float p = image.px[k];
    if (!counted_pixel(p)) continue;
    hi = std::max(hi, p);
    lo = std::min(lo, p);
    total += p;
    ++counted;
  }
  st.maximum = counted > 0 ? hi : 0.0f;
  st.minimum = counted > 0 ? lo : 0.0f;
  st.finite = counted;
  if (counted > 0) st.average = static_cast<float>(total / static_cast<double>(counted));
  return st;
}

}  // namespace zelvo
