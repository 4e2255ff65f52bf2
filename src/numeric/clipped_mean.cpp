#include "numeric/clipped_mean.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo {

namespace {

double median_of(std::vector<double> v) {
  const auto h = static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), v.begin() + h, v.end());
  double m = v[static_cast<std::size_t>(h)];
  if (v.size() % 2 == 0) m = 0.5 * (m + *std::max_element(v.begin(), v.begin() + h));
  return m;
}

}  // namespace

ClippedMean clipped_mean(std::span<const double> values, std::optional<double> start) {
  ClippedMean out;
  std::vector<double> v;
  v.reserve(values.size());
  for (double x : values)
    if (std::isfinite(x)) v.push_back(x);
  if (v.empty()) return out;
  double centre = start && std::isfinite(*start) ? *start : median_of(v);
  std::vector<double> dev(v.size());
  for (std::size_t k = 0; k < v.size(); ++k) dev[k] = std::fabs(v[k] - centre);
  double spread = 1.4826 * median_of(dev);
  std::vector<char> keep(v.size(), 2);  // 2: not yet decided
  double mean = centre, sigma = 0.0;
  int32_t n = 0;
  for (int pass = 0; pass < 50; ++pass) {
    bool changed = false;
    double sum = 0.0;
    n = 0;
    for (std::size_t k = 0; k < v.size(); ++k) {
      const char in = std::fabs(v[k] - centre) <= 3.0 * spread;
      changed = changed || in != keep[k];
      keep[k] = in;
      if (in) {
        sum += v[k];
        ++n;
      }
    }
    if (n == 0) return out;  // cannot happen about a median, but a given start may lie far off
    mean = sum / n;
    double ss = 0.0;
    for (std::size_t k = 0; k < v.size(); ++k)
      if (keep[k]) ss += (v[k] - mean) * (v[k] - mean);
    sigma = n > 1 ? std::sqrt(ss / (n - 1)) : 0.0;
    if (!changed) break;
    centre = mean;
    spread = sigma;
  }
  out.mean = mean;
  out.sigma = sigma;
  out.n = n;
  out.rejected = static_cast<int32_t>(v.size()) - n;
  return out;
}

}  // namespace zelvo
