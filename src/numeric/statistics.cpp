#include "numeric/statistics.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include <cmath>
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

ImageStatistics image_statistics(ConstImageView image) {
  ImageStatistics st;
  if (image.empty()) return st;
  // The sum is kept in double precision: a 32-bit sum of millions of sky pixels stops
  // growing correctly (a 2048 x 2048 frame of 1000 averages out percents too high). It runs
  // in several lanes, with the extremes and the count, so that no step waits on the last.
  constexpr std::size_t kLanes = 8;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  std::array<double, kLanes> sum{};
  std::array<float, kLanes> mx, mn;
  mx.fill(-kInf);
  mn.fill(kInf);
  std::array<std::size_t, kLanes> count{};
  const std::size_t size = image.size();
  const auto take = [&](std::size_t l, float p) {
    const bool c = counted_pixel(p);
    sum[l] += c ? static_cast<double>(p) : 0.0;
    mx[l] = std::max(mx[l], c ? p : -kInf);
    mn[l] = std::min(mn[l], c ? p : kInf);
    count[l] += c ? 1 : 0;
  };
  std::size_t k = 0;
  for (; k + kLanes <= size; k += kLanes)
    for (std::size_t l = 0; l < kLanes; ++l) take(l, image.px[k + l]);
  for (; k < size; ++k) take(0, image.px[k]);
  double total = 0.0;
  std::size_t counted = 0;
  float hi = -kInf, lo = kInf;
  for (std::size_t l = 0; l < kLanes; ++l) {
    total += sum[l];
    counted += count[l];
    hi = std::max(hi, mx[l]);
    lo = std::min(lo, mn[l]);
  }
  st.maximum = counted > 0 ? hi : 0.0f;
  st.minimum = counted > 0 ? lo : 0.0f;
  st.finite = counted;
  if (counted > 0) st.average = static_cast<float>(total / static_cast<double>(counted));
  return st;
}

}  // namespace zelvo
