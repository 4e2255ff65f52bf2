// Test images for the galaxy analysis: an exponential disc on a flat sky with Gaussian noise.
#pragma once

#include <cmath>
#include <random>

#include "numeric/image_view.h"

namespace zelvo::testing {

struct DiscModel {
  int nx = 201, ny = 201;
  double xc = 101, yc = 101;  // centre (pixels, 1-based)
  double central = 2000.0;    // surface brightness at the centre above the sky
  double scale = 10.0;        // scale length along the major axis (pixels)
  double e = 0.0;             // eccentricity; the major axis along +y
  double sky = 502.5;         // flat sky level
  double noise = 0.0;         // Gaussian noise sigma
  unsigned seed = 7;
};

// The disc's radius of an offset: the major axis along +y, so the isophote through (0, a)
// passes through (a sqrt(1 - e^2), 0).
inline double disc_radius(double dx, double dy, double e) { return std::sqrt(dx * dx / (1.0 - e * e) + dy * dy); }

inline double disc_value(const DiscModel& d, double dx, double dy) {
  return d.central * std::exp(-disc_radius(dx, dy, d.e) / d.scale);
}

inline Image disc_image(const DiscModel& d) {
  Image img(d.nx, d.ny);
  std::mt19937 gen(d.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (int y = 1; y <= d.ny; ++y)
    for (int x = 1; x <= d.nx; ++x) {
      const double v = d.sky + disc_value(d, x - d.xc, y - d.yc) + (d.noise > 0.0 ? d.noise * gauss(gen) : 0.0);
      img.at(x, y) = static_cast<float>(v);
    }
  return img;
}

}  // namespace zelvo::testing
