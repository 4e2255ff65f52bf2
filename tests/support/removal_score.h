// How well a removal restored the removal frame (frame_generator.h): the residual against the
// frame's noiseless truth in each star's disc, in units of the sky noise.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/image_view.h"
#include "support/frame_generator.h"

namespace zelvo::test_images {

// Statistics of a removal against the truth.
struct RemovalScore {
  double bias_on = 0.0, bias_off = 0.0;  // mean |mean residual| in the discs on and off the galaxy
  double worst_on = 0.0, worst_off = 0.0;
  double noise_ratio = 0.0;       // spread of the residual about each disc's mean / sky noise
  long changed_outside = 0;       // pixels changed farther than radius + 1 from every star
  std::vector<double> star_bias;  // mean residual of each star's disc [sigma]
};

// Scores `after` (the frame with the stars removed) against the frame's truth: the disc of a
// star is the pixels within its wing radius of its centre.
inline RemovalScore score_removal(const GalaxyFrame& f, const Image& after) {
  RemovalScore sc;
  double ss = 0.0;
  long ns = 0;
  int non = 0, noff = 0;
  for (const FrameStar& s : f.stars) {
    double sum = 0.0, sum2 = 0.0;
    long m = 0;
    const int r = s.wing_radius;
    for (int y = static_cast<int>(s.y) - r - 1; y <= static_cast<int>(s.y) + r + 1; ++y)
      for (int x = static_cast<int>(s.x) - r - 1; x <= static_cast<int>(s.x) + r + 1; ++x) {
        if (x < 1 || y < 1 || x > after.nx || y > after.ny || std::hypot(x - s.x, y - s.y) > r) continue;
        const double d = (static_cast<double>(after.at(x, y)) - f.truth.at(x, y)) / f.noise;
        sum += d;
        sum2 += d * d;
        ++m;
      }
    const double mean = m > 0 ? sum / static_cast<double>(m) : 0.0;
    sc.star_bias.push_back(mean);
    if (m == 0) continue;
    ss += sum2 - mean * sum;
    ns += m - 1;
    if (s.on_galaxy) {
      sc.bias_on += std::fabs(mean);
      sc.worst_on = std::max(sc.worst_on, std::fabs(mean));
      ++non;
    } else {
      sc.bias_off += std::fabs(mean);
      sc.worst_off = std::max(sc.worst_off, std::fabs(mean));
      ++noff;
    }
  }
  if (non > 0) sc.bias_on /= non;
  if (noff > 0) sc.bias_off /= noff;
  sc.noise_ratio = ns > 0 ? std::sqrt(ss / static_cast<double>(ns)) : 0.0;
  for (int y = 1; y <= after.ny; ++y)
    for (int x = 1; x <= after.nx; ++x) {
      if (after.at(x, y) == f.image.at(x, y)) continue;
      bool inside = false;
      for (const FrameStar& s : f.stars) inside = inside || std::hypot(x - s.x, y - s.y) <= s.wing_radius + 1.0;
      sc.changed_outside += !inside;
    }
  return sc;
}

}  // namespace zelvo::test_images
