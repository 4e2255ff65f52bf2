// A synthetic spiral galaxy frame for the star finder: sky, exponential disc, bulge and two
// arms (galaxy_frame.h), 30 Moffat stars from 5 sigma to far beyond saturation (the saturated
// ones with flat tops and bleed columns), and 20 HII-like knots (round Gaussians of sigma
// 2.5 px) on the arms. Shared by the tests and the benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "numeric/image_view.h"
#include "support/galaxy_frame.h"

namespace zelvo::test_images {

struct TrueStar {
  float x = 0, y = 0;
  float peak = 0;  // height above the galaxy and sky, counts (before saturation)
  bool saturated = false;
};

struct KnottyGalaxy {
  Image image;
  Image smooth;  // the galaxy, sky and knots without stars or noise
  std::vector<TrueStar> stars;
  std::vector<std::pair<float, float>> knots;
  float noise = 8.0f;
  float sky = 1000.0f;
  float saturation = 50000.0f;  // the detector's full well: pixels stop here
  float fwhm = 3.0f;
};

// nx x ny frame (at least 400 x 400); the galaxy sits in the middle of the central 600 x 600
// pixels, the rest is sky with stars (as many more as `extra_stars`, for large frames).
inline KnottyGalaxy knotty_galaxy(int nx = 600, int ny = 600, unsigned seed = 5, int extra_stars = 0) {
  KnottyGalaxy f;
  GalaxyModel g;
  g.sky = f.sky;
  g.noise = f.noise;
  g.cx = 300.0f, g.cy = 300.0f;
  g.disc_peak = 1500.0f, g.disc_scale = 60.0f;
  g.bulge_peak = 4000.0f, g.bulge_scale = 5.0f;
  g.arm_peak = 900.0f, g.arm_winding = 1.6f, g.arm_sharpness = 4.0f;
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  // Knots along the arms: theta = winding ln r (+ pi), r from 25 to 140 pixels.
  for (int k = 0; k < 20; ++k) {
    const double r = 25.0 + 115.0 * (k / 2) / 9.0 + 4.0 * u(gen);
    const double th = g.arm_winding * std::log(r) + (k % 2 ? kPi : 0.0);
    f.knots.push_back({static_cast<float>(g.cx + r * std::cos(th)), static_cast<float>(g.cy + r * std::sin(th))});
  }
  // 26 unsaturated stars, heights 5 sigma to 4000 sigma (log-spaced), and 4 saturated ones.
  const auto clear = [&](float x, float y) {
    if (x < 40.0f || y < 40.0f || x > static_cast<float>(nx) - 40.0f || y > static_cast<float>(ny) - 40.0f)
      return false;
    for (const TrueStar& s : f.stars)
      if (std::hypot(s.x - x, s.y - y) < 30.0f) return false;
    for (const auto& k : f.knots)
      if (std::hypot(k.first - x, k.second - y) < 15.0f) return false;
    return true;
  };
  const int total = 30 + extra_stars;
  for (int i = 0; i < total; ++i) {
    TrueStar s;
    const int kind = i % 30;
    s.peak = kind < 26 ? static_cast<float>(5.0 * f.noise * std::pow(800.0, kind / 25.0))
                       : static_cast<float>(1.5e5 * (kind - 24));
    s.saturated = kind >= 26;
    const bool on_galaxy = i < 30 && i % 3 == 0;
    for (int tries = 0; tries < 1000; ++tries) {
      float x, y;
      if (on_galaxy) {
        const float r = 20.0f + 120.0f * u(gen), a = 6.2831853f * u(gen);
        x = g.cx + r * std::cos(a), y = g.cy + r * std::sin(a);
      } else {
        x = 40.0f + (static_cast<float>(nx) - 80.0f) * u(gen), y = 40.0f + (static_cast<float>(ny) - 80.0f) * u(gen);
      }
      if (clear(x, y)) {
        s.x = x, s.y = y;
        break;
      }
    }
    if (s.x > 0) f.stars.push_back(s);
  }
  f.image = Image(nx, ny);
  const double beta = 3.0, alpha = moffat_alpha(f.fwhm, beta), ks = 1.0 / (2.0 * 2.5 * 2.5);
  std::vector<double> v(static_cast<std::size_t>(nx) * ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) v[(y - 1) * std::size_t(nx) + x - 1] = galaxy_value(g, x, y, 600.0, 600.0);
  std::uniform_real_distribution<float> amp(100.0f, 600.0f);
  for (const auto& k : f.knots) {
    const double a = amp(gen);
    for (int y = int(k.second) - 12; y <= int(k.second) + 12; ++y)
      for (int x = int(k.first) - 12; x <= int(k.first) + 12; ++x)
        if (x >= 1 && y >= 1 && x <= nx && y <= ny)
          v[(y - 1) * std::size_t(nx) + x - 1] +=
              a * std::exp(-((x - k.first) * (x - k.first) + (y - k.second) * (y - k.second)) * ks);
  }
  f.smooth = Image(nx, ny);
  for (std::size_t p = 0; p < v.size(); ++p) f.smooth.px[p] = static_cast<float>(v[p]);
  for (const TrueStar& s : f.stars) {
    const int reach = s.peak > 1e4f ? 80 : 30;
    for (int y = std::max(1, int(s.y) - reach); y <= std::min(ny, int(s.y) + reach); ++y)
      for (int x = std::max(1, int(s.x) - reach); x <= std::min(nx, int(s.x) + reach); ++x) {
        const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
        v[(y - 1) * std::size_t(nx) + x - 1] += s.peak * std::pow(1.0 + r2 / (alpha * alpha), -beta);
      }
  }
  // Saturation: the charge beyond the full well runs up and down the column (a bleed column).
  for (const TrueStar& s : f.stars) {
    if (!s.saturated) continue;
    const int x = static_cast<int>(std::lround(s.x));
    const int len = static_cast<int>(s.peak / 2.0e4f);
    for (int y = std::max(1, int(s.y) - len); y <= std::min(ny, int(s.y) + len); ++y)
      v[(y - 1) * std::size_t(nx) + x - 1] = f.saturation;
  }
  std::normal_distribution<double> n(0.0, f.noise);
  for (std::size_t p = 0; p < v.size(); ++p)
    f.image.px[p] = static_cast<float>(std::min<double>(v[p] + n(gen), f.saturation));
  return f;
}

}  // namespace zelvo::test_images
