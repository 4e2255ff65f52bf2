// A galaxy whose isophotes are exact ellipses with a known, twisting geometry: the pixel at
// (x, y) takes the light of the ellipse of the family passing through it, found by bisection
// on the semi-major axis. A Sersic n = 4 bulge (round-ish, 20 degrees) turns into an
// exponential disc (ellipticity 0.5 at 60 degrees) around a = twist_at; pixel (i, j) is
// centred at (i, j). Used by the isophote tests and benchmarks as the truth.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo::test_images {

struct TwistedGalaxy {
  double x0 = 256.3, y0 = 255.6;
  double eps_in = 0.1, eps_out = 0.5;
  double pa_in = 20.0, pa_out = 60.0;  // degrees from +x towards +y
  double twist_at = 40.0, twist_width = 15.0;
  double bulge_ie = 400.0, bulge_re = 12.0;  // Sersic n = 4: intensity at re
  double disc_i0 = 800.0, disc_h = 45.0;     // exponential disc
  double sky = 1000.0;

  // Share of the way from the inner to the outer geometry at semi-major axis a.
  double w(double a) const { return 0.5 * (1.0 + std::tanh((a - twist_at) / twist_width)); }
  double eps(double a) const { return eps_in + (eps_out - eps_in) * w(a); }
  double pa_deg(double a) const { return pa_in + (pa_out - pa_in) * w(a); }
  // The light above the sky on the isophote of semi-major axis a.
  double light(double a) const {
    const double b4 = 7.669;
    return bulge_ie * std::exp(-b4 * (std::pow(a / bulge_re, 0.25) - 1.0)) + disc_i0 * std::exp(-a / disc_h);
  }
  double intens(double a) const { return sky + light(a); }
  // Elliptical radius of (x, y) in the geometry of the isophote at a.
  double radius_in(double x, double y, double a) const {
    const double pa = pa_deg(a) * 3.141592653589793 / 180.0;
    const double dx = x - x0, dy = y - y0;
    const double u = dx * std::cos(pa) + dy * std::sin(pa),
                 v = (-dx * std::sin(pa) + dy * std::cos(pa)) / (1.0 - eps(a));
    return std::sqrt(u * u + v * v);
  }
  // The semi-major axis of the isophote through (x, y).
  double sma_at(double x, double y) const {
    double lo = 0.0, hi = 4.0 * (std::hypot(x - x0, y - y0) + 1.0);
    for (int i = 0; i < 50; ++i) {
      const double mid = 0.5 * (lo + hi);
      (radius_in(x, y, mid) > mid ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
  }
};

// The galaxy of the tests at 256 x 256: the twist at sma 20, a small bulge and a steep disc.
inline TwistedGalaxy small_twisted_galaxy() {
  TwistedGalaxy g;
  g.x0 = 128.3;
  g.y0 = 127.6;
  g.twist_at = 20.0;
  g.twist_width = 7.5;
  g.bulge_re = 6.0;
  g.disc_h = 22.5;
  return g;
}

// A fitted position angle (radians) less a true one (degrees), in degrees folded into -90..90:
// an ellipse's major axis has no direction.
inline double pa_off(double fitted_rad, double truth_deg) {
  double d = std::fmod(fitted_rad * 180.0 / 3.141592653589793 - truth_deg, 180.0);
  if (d > 90.0) d -= 180.0;
  if (d < -90.0) d += 180.0;
  return d;
}

// A Gaussian star (sigma in pixels) of total flux `flux`.
struct GaussStar {
  double x, y, flux, sigma = 1.5;
};

// The galaxy on an nx x ny frame with Gaussian noise of `noise` (seeded), plus the stars.
inline Image twisted_galaxy_frame(const TwistedGalaxy& g, int nx, int ny, double noise, unsigned seed,
                                  const std::vector<GaussStar>& stars = {}) {
  Image im(nx, ny);
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) im.at(x, y) = static_cast<float>(g.intens(g.sma_at(x, y)) + noise * gauss(rng));
  for (const GaussStar& s : stars) {
    const int r = static_cast<int>(6.0 * s.sigma) + 1;
    const double norm = s.flux / (2.0 * 3.141592653589793 * s.sigma * s.sigma);
    for (int y = static_cast<int>(s.y) - r; y <= static_cast<int>(s.y) + r + 1; ++y)
      for (int x = static_cast<int>(s.x) - r; x <= static_cast<int>(s.x) + r + 1; ++x)
        if (x >= 1 && y >= 1 && x <= nx && y <= ny)
          im.at(x, y) += static_cast<float>(
              norm * std::exp(-((x - s.x) * (x - s.x) + (y - s.y) * (y - s.y)) / (2.0 * s.sigma * s.sigma)));
  }
  return im;
}

}  // namespace zelvo::test_images
