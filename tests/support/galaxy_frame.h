// A synthetic galaxy frame for the removal tests and benchmarks: sky, an exponential disc with
// a bulge and two spiral arms, Moffat stars of known flux, and Gaussian noise.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo::test_images {

constexpr double kPi = 3.14159265358979323846;

struct FrameStar {
  float x = 0.0f, y = 0.0f;  // centre, pixel (i, j) centred at (i, j)
  float flux = 3000.0f;      // total counts
  float fwhm = 3.0f;         // pixels
};

struct GalaxyModel {
  float sky = 1000.0f;
  float noise = 8.0f;                              // Gaussian sigma, counts
  float gx = 0.0f, gy = 0.0f;                      // sky slope, counts per pixel (from the image centre)
  float disc_peak = 0.0f, disc_scale = 40.0f;      // exponential disc, centred on (cx, cy)
  float bulge_peak = 0.0f, bulge_scale = 6.0f;     // a steeper inner component
  float arm_peak = 0.0f;                           // two logarithmic arms over the disc
  float arm_winding = 1.2f, arm_sharpness = 1.0f;  // about r / 2.4 pixels wide (radial sigma)
  float cx = 0.0f, cy = 0.0f;
  float moffat_beta = 3.0f;
  unsigned seed = 11;
};

// The disc, bulge and arms centred on (150, 150) that the radius and list-removal tests share.
inline GalaxyModel disc_galaxy() {
  return GalaxyModel{.disc_peak = 3000.0f, .bulge_peak = 8000.0f, .arm_peak = 1000.0f, .cx = 150.0f, .cy = 150.0f};
}

// Moffat alpha for a given FWHM, and the central intensity of a star of the given flux.
inline double moffat_alpha(double fwhm, double beta) {
  return fwhm / (2.0 * std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0));
}
inline double moffat_peak(double flux, double fwhm, double beta) {
  const double a = moffat_alpha(fwhm, beta);
  return flux * (beta - 1.0) / (kPi * a * a);
}
// Where the star's profile falls to `level` counts: its wing radius against that level.
inline double moffat_radius_at(const FrameStar& s, double beta, double level) {
  const double i0 = moffat_peak(s.flux, s.fwhm, beta);
  if (i0 <= level) return 0.0;
  return moffat_alpha(s.fwhm, beta) * std::sqrt(std::pow(i0 / level, 1.0 / beta) - 1.0);
}

// The noise-free galaxy and sky (no stars) at (x, y).
inline double galaxy_value(const GalaxyModel& m, double x, double y, double nx, double ny) {
  double v = m.sky + m.gx * (x - nx / 2.0) + m.gy * (y - ny / 2.0);
  const double dx = x - m.cx, dy = y - m.cy, r = std::hypot(dx, dy);
  if (m.disc_peak > 0.0f) v += m.disc_peak * std::exp(-r / m.disc_scale);
  if (m.bulge_peak > 0.0f) v += m.bulge_peak * std::exp(-std::pow(r / m.bulge_scale, 0.5) * 2.0);
  if (m.arm_peak > 0.0f && r > 5.0) {
    // Two logarithmic arms along theta = winding ln(r) (+ pi), fading with the disc; the
    // larger the winding and the sharpness, the narrower they are across.
    const double th = std::atan2(dy, dx) - m.arm_winding * std::log(r);
    const double phase = std::cos(2.0 * th);
    v += m.arm_peak * std::exp(-r / m.disc_scale) * std::exp(m.arm_sharpness * (phase - 1.0));
  }
  return v;
}

inline Image galaxy_frame(int nx, int ny, const GalaxyModel& m, const std::vector<FrameStar>& stars) {
  Image img(nx, ny);
  std::mt19937 gen(m.seed);
  std::normal_distribution<double> n(0.0, m.noise);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      double v = galaxy_value(m, x, y, nx, ny);
      for (const FrameStar& s : stars) {
        const double a = moffat_alpha(s.fwhm, m.moffat_beta);
        const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
        if (r2 > 3600.0) continue;
        v += moffat_peak(s.flux, s.fwhm, m.moffat_beta) * std::pow(1.0 + r2 / (a * a), -m.moffat_beta);
      }
      img.at(x, y) = static_cast<float>(v + (m.noise > 0.0f ? n(gen) : 0.0));
    }
  return img;
}

}  // namespace zelvo::test_images
