#include "numeric/axis_ticks.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

double nice_interval(double x) {
  const double p = std::pow(10.0, std::floor(std::log10(x)));
  const double f = x / p;
  if (f <= 1.0 + 1e-9) return p;
  if (f <= 2.0 + 1e-9) return 2.0 * p;
  if (f <= 5.0 + 1e-9) return 5.0 * p;
  return 10.0 * p;
}

int minor_ticks(double d) {
  if (!(d > 0.0)) return 0;
  const double f = d / std::pow(10.0, std::floor(std::log10(d)));
  return std::fabs(f - 2.0) < 1e-6 ? 2 : 5;
}

double readable_interval(double a, double b, double length, double char_width,
                         const std::function<double(long, double)>& label_extent) {
  const double range = std::fabs(b - a);
  if (!(range > 0.0) || !(length > 0.0) || !std::isfinite(range) || !std::isfinite(length)) return 0.0;
  const double lo = std::min(a, b), hi = std::max(a, b);
  double d = nice_interval(std::clamp(7.0 * char_width / length, 0.05, 0.2) * range);
  for (int tries = 0; tries < 12; ++tries) {
    const long k1 = std::lround(std::ceil(lo / d - 1e-9)), k2 = std::lround(std::floor(hi / d + 1e-9));
    const double spacing = d / range * length;
    bool fits = true;
    double previous = -1.0;
    for (long k = k1; k <= k2 && fits && k - k1 < 200; ++k) {
      const double extent = label_extent(k, d);
      if (previous >= 0.0 && spacing < 0.5 * (previous + extent) + 0.5 * char_width) fits = false;
      previous = extent;
    }
    if (fits) return d;
    d = nice_interval(d * 1.5);
  }
  return d;
}

}  // namespace zelvo
