#include "numeric/clipped_mean.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo {

namespace {

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
    // Two interleaved sets of sums (halves of the work that do not wait on each other), and
    // a kept value chosen without a branch.
    double sum0 = 0.0, sum1 = 0.0, sd0 = 0.0, sd1 = 0.0, sq0 = 0.0, sq1 = 0.0;
    int32_t n0 = 0, n1 = 0;
    const auto add = [&](double x, double& s, double& a, double& q, int32_t& c) {
      const double d = x - centre;
      const bool keep = std::fabs(d) <= lim;
      s += keep ? x : 0.0;
      a += keep ? d : 0.0;
      q += keep ? d * d : 0.0;
      c += keep;
    };
    const std::size_t m = finite;
    std::size_t k = 0;
    for (; k + 1 < m; k += 2) {
      add(v[k], sum0, sd0, sq0, n0);
      add(v[k + 1], sum1, sd1, sq1, n1);
    }
    if (k < m) add(v[k], sum0, sd0, sq0, n0);
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
