#include "numeric/clipped_mean.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zelvo {

namespace {

// Two doubles at a time (the compiler's vector extension: SSE2 on every x86-64).
using Doubles2 = double __attribute__((vector_size(16)));
using Longs2 = int64_t __attribute__((vector_size(16)));

double median_of(std::vector<float>& v) {
  const auto h = static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), v.begin() + h, v.end());
  double m = v[static_cast<std::size_t>(h)];
  if (v.size() % 2 == 0) m = 0.5 * (m + *std::max_element(v.begin(), v.begin() + h));
  return m;
}

}  // namespace

ClippedMean clipped_mean(std::span<const float> values, std::optional<double> start) {
  ClippedMean out;
  // The work buffers are kept from one call to the next (the photometry calls this once per
  // star); a large set gives its memory back at the end.
  thread_local std::vector<float> v, w;
  struct Release {
    ~Release() {
      if (v.capacity() > (std::size_t{1} << 20)) std::vector<float>().swap(v);
      if (w.capacity() > (std::size_t{1} << 20)) std::vector<float>().swap(w);
    }
  } release;
  w.clear();
  if (v.size() < values.size()) v.resize(values.size());
  std::size_t finite = 0;
  for (const float x : values) {
    v[finite] = x;
    finite += std::isfinite(x);
  }
  // v holds `finite` values; it is never shrunk, so it is not filled anew at the next call.
  if (finite == 0) return out;
  // The start and the first spread: the median and the median absolute deviation about the
  // centre, of at most 64 values evenly picked from the set (a start only: the passes below
  // settle on the level of all values, and a sample is as robust to a minority of outliers).
  const std::size_t stride = std::max<std::size_t>(1, finite / 64);
  w.reserve(finite / stride + 1);
  for (std::size_t k = 0; k < finite; k += stride) w.push_back(v[k]);
  const std::size_t h = w.size() / 2;
  double centre = 0.0;
  if (start && std::isfinite(*start)) {
    centre = *start;
  } else {
    centre = median_of(w);
  }
  for (float& x : w) x = static_cast<float>(std::fabs(x - centre));
  std::nth_element(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(h), w.end());
  double spread = 1.4826 * w[h];
  // Each pass keeps the values within 3 sigma of the centre and gives their mean and spread
  // (one pass over the values, deviations taken about the centre for precision); it ends when
  // the kept set is the last pass's (same count and same sum).
  double mean = centre, sigma = 0.0, last_sum = NAN;
  int32_t n = 0, last_n = -1;
  for (int pass = 0; pass < 50; ++pass) {
    const double lim = 3.0 * spread;
    // Four values at a time in two pairs of lanes (the compiler's vector extension), each with
    // its own sums so that no step waits on the last, and a kept value chosen by a mask.
    const Doubles2 c2 = {centre, centre}, hi = {lim, lim}, lo = {-lim, -lim};
    Doubles2 vsum[2] = {}, vsd[2] = {}, vsq[2] = {};
    Longs2 vcnt[2] = {};
    const std::size_t m = finite;
    std::size_t k = 0;
    for (; k + 4 <= m; k += 4)
      for (std::size_t h = 0; h < 2; ++h) {
        const Doubles2 x = {static_cast<double>(v[k + 2 * h]), static_cast<double>(v[k + 2 * h + 1])};
        const Doubles2 d = x - c2;
        const Longs2 keep = (d <= hi) & (d >= lo);
        vsum[h] += (Doubles2)((Longs2)x & keep);
        const Doubles2 dk = (Doubles2)((Longs2)d & keep);
        vsd[h] += dk;
        vsq[h] += dk * dk;
        vcnt[h] -= keep;  // a true comparison is -1
      }
    double sum0 = vsum[0][0] + vsum[0][1], sd0 = vsd[0][0] + vsd[0][1], sq0 = vsq[0][0] + vsq[0][1];
    const double sum1 = vsum[1][0] + vsum[1][1], sd1 = vsd[1][0] + vsd[1][1], sq1 = vsq[1][0] + vsq[1][1];
    int32_t n0 = static_cast<int32_t>(vcnt[0][0] + vcnt[0][1]);
    const int32_t n1 = static_cast<int32_t>(vcnt[1][0] + vcnt[1][1]);
    for (; k < m; ++k) {
      const double x = v[k], d = x - centre;
      if (!(std::fabs(d) <= lim)) continue;
      sum0 += x;
      sd0 += d;
      sq0 += d * d;
      ++n0;
    }
    n = n0 + n1;
    const double sd = sd0 + sd1, sd2 = sq0 + sq1, total = sum0 + sum1;
    if (n == 0) return out;  // cannot happen about a median, but a given start may lie far off
    mean = centre + sd / n;
    sigma = n > 1 ? std::sqrt(std::max(0.0, (sd2 - sd * sd / n) / (n - 1))) : 0.0;
    if (n == last_n && total == last_sum) break;
    last_n = n;
    last_sum = total;
    centre = mean;
    spread = sigma;
  }
  out.mean = mean;
  out.sigma = sigma;
  out.n = n;
  out.rejected = static_cast<int32_t>(finite) - n;
  return out;
}

}  // namespace zelvo
