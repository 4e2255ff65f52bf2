// Box statistics of the pixel analysis worked out independently, in double precision.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/session_harness.h"

namespace zelvo::testing {

// Box statistics worked out here in double precision: the pixels of the (2h+1)^2 box that
// lie inside the image, their mean and sigma, the values within 2 sigma of the mean, the
// mean of those and their spread about the mean of all values.
struct Reference {
  double pixel = 0, clipped_mean = 0, spread = 0, minimum = 0, maximum = 0;
  double mean = 0, median = 0;  // of all the box's pixels
  int count = 0;
};
inline Reference reference(const Image& img, double x, double y, int h) {
  std::vector<double> v;
  for (int a = -h; a <= h; ++a)
    for (int b = -h; b <= h; ++b) {
      // The box is centred on the pixel under the click: the nearest one.
      const int px = static_cast<int>(std::floor(x + 0.5)) + a, py = static_cast<int>(std::floor(y + 0.5)) + b;
      if (px >= 1 && px <= img.nx && py >= 1 && py <= img.ny) v.push_back(img.at(px, py));
    }
  Reference r;
  r.pixel = img.at(static_cast<int>(std::floor(x + 0.5)), static_cast<int>(std::floor(y + 0.5)));
  r.count = static_cast<int>(v.size());
  double sum = 0;
  for (double p : v) sum += p;
  const double mean = sum / v.size();
  double q = 0;
  for (double p : v) q += (p - mean) * (p - mean);
  const double sigma = std::sqrt(q / (v.size() - 1));
  double ksum = 0, kq = 0;
  int kept = 0;
  r.minimum = r.maximum = v[0];
  for (double p : v) {
    r.minimum = std::min(r.minimum, p);
    r.maximum = std::max(r.maximum, p);
    if (std::fabs(p - mean) <= 2 * sigma) {
      ++kept;
      ksum += p;
      kq += (p - mean) * (p - mean);
    }
  }
  r.mean = mean;
  std::vector<double> sorted = v;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t m = sorted.size() / 2;
  r.median = sorted.size() % 2 ? sorted[m] : 0.5 * (sorted[m - 1] + sorted[m]);
  r.clipped_mean = ksum / kept;
  r.spread = std::sqrt(kq / (kept - 1));
  return r;
}

// Tolerance for comparing a printed or 32-bit value with the double-precision reference.
inline double tol(double ref) { return 2e-3 + 2e-6 * std::fabs(ref); }

}  // namespace zelvo::testing
