// A synthetic galaxy frame with foreground stars of known position, flux and wing radius:
// a sky of 1000 with Gaussian noise of 8, an inclined exponential disc with two logarithmic
// spiral arms and a Sersic (n = 2) bulge, and Moffat stars (beta 3, FWHM 3.5) on the disc
// and off it. The noiseless background (sky and galaxy, no stars) is kept as the truth a
// removal is measured against. Pixel (x, y) is centred at (x, y). Shared by the removal
// benchmark against imedit and the removal tests; the same seed gives the same pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo::bench {

struct FrameStar {
  double x = 0.0, y = 0.0;  // centre
  double flux = 0.0;        // total counts
  int wing_radius = 0;      // where the profile falls below a twentieth of the sky noise
  bool on_galaxy = false;
};

struct GalaxyModel {
  double x = 256.0, y = 256.0;  // centre
  double disc_centre = 600.0;   // counts per pixel at the centre
  double scale_length = 60.0;   // along the major axis [pixels]
  double axis_ratio = 0.75;
  double position_angle = 0.5;     // major axis, radians from +x towards +y
  double arm_contrast = 0.5;       // the arms add up to this fraction of the disc
  double pitch = 0.35;             // arm pitch angle [radians]
  double bulge_effective = 150.0;  // Sersic n = 2 bulge: counts at its effective radius
  double bulge_radius = 6.0;       // effective radius [pixels]

  // Sky-subtracted galaxy light at (x, y).
  double at(double px, double py) const {
    const double dx = px - x, dy = py - y;
    const double c = std::cos(position_angle), s = std::sin(position_angle);
    const double a = dx * c + dy * s, b = (-dx * s + dy * c) / axis_ratio;
    const double r = std::sqrt(a * a + b * b);
    const double disc = disc_centre * std::exp(-r / scale_length);
    // Two arms: a logarithmic spiral, sharpened by the square of a cosine.
    const double phase = 2.0 * (std::atan2(b, a) - std::log(r / scale_length + 1e-9) / std::tan(pitch));
    const double arm = std::pow(0.5 * (1.0 + std::cos(phase)), 2.0);
    const double arms = disc * arm_contrast * arm * (1.0 - std::exp(-r / 10.0));
    const double bulge = bulge_effective * std::exp(-3.67 * (std::sqrt(r / bulge_radius) - 1.0));
    return disc + arms + bulge;
  }
};

// Moffat profile of total flux `flux`, beta 3 and FWHM 3.5 pixels, at distance r.
inline double moffat(double flux, double r) {
  constexpr double beta = 3.0, fwhm = 3.5;
  const double alpha = fwhm / (2.0 * std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0));
  const double pi = 3.141592653589793;
  return flux * (beta - 1.0) / (pi * alpha * alpha) * std::pow(1.0 + r * r / (alpha * alpha), -beta);
}

// The radius (whole pixels, rounded up) beyond which the star adds less than `level` counts.
inline int moffat_wing_radius(double flux, double level) {
  int r = 1;
  while (moffat(flux, r) >= level && r < 200) ++r;
  return r;
}

struct GalaxyFrame {
  Image image;  // sky + galaxy + stars + noise
  Image truth;  // sky + galaxy, no noise, no stars
  std::vector<FrameStar> stars;
  double sky = 1000.0, noise = 8.0;
  GalaxyModel galaxy;
};

// The 512 x 512 frame: ten stars on the disc (57 to 146 pixels from the galaxy's centre,
// on its slope and its arms) and six off it (more than 180 pixels out).
inline GalaxyFrame galaxy_frame(uint64_t seed = 2026) {
  GalaxyFrame f;
  const int n = 512;
  f.image = Image(n, n);
  f.truth = Image(n, n);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) f.truth.at(x, y) = static_cast<float>(f.sky + f.galaxy.at(x, y));
  constexpr double kOnDiscSpread = 2.0;  // the stars on the disc lie 57 to 146 pixels out
  struct Placed {
    double dx, dy, flux;
    bool on;
  };
  const Placed placed[] = {
      {28.3, 4.6, 6000, true},       {-22.7, 19.2, 9000, true},     {3.4, -31.8, 12000, true},
      {-40.2, -18.6, 20000, true},   {46.1, 33.7, 30000, true},     {-8.6, 55.3, 8000, true},
      {61.8, -27.4, 15000, true},    {-63.3, 36.2, 40000, true},    {20.4, -68.9, 25000, true},
      {-36.8, -62.1, 10000, true},   {-195.3, -201.6, 8000, false}, {201.7, -196.2, 20000, false},
      {-199.4, 188.3, 40000, false}, {188.6, 204.1, 12000, false},  {-10.3, -220.8, 30000, false},
      {214.2, 6.7, 6000, false},
  };
  for (const Placed& p : placed) {
    FrameStar s;
    const double k = p.on ? kOnDiscSpread : 1.0;
    s.x = f.galaxy.x + k * p.dx;
    s.y = f.galaxy.y + k * p.dy;
    s.flux = p.flux;
    s.wing_radius = moffat_wing_radius(p.flux, f.noise / 20.0);
    s.on_galaxy = p.on;
    f.stars.push_back(s);
  }
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> gauss(0.0, f.noise);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) {
      double v = f.truth.at(x, y);
      for (const FrameStar& s : f.stars) {
        const double r = std::hypot(x - s.x, y - s.y);
        if (r < 60.0) v += moffat(s.flux, r);
      }
      f.image.at(x, y) = static_cast<float>(v + gauss(gen));
    }
  return f;
}

// Statistics of a removal against the truth, in units of the sky noise.
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

}  // namespace zelvo::bench
