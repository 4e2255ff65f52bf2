// The synthetic frames of the tests and the benchmarks, made by one generator: a sky (level and
// slope), an optional galaxy (an exponential disc with a bulge and two spiral arms, face-on or
// inclined), Gaussian knots that belong to the smooth light, stars (Moffat of a given flux or
// height, or Gaussian), saturation with bleed columns, and noise (Gaussian from a seeded engine,
// uniform, or hashed from the pixel's position). Pixel (x, y) is centred at (x, y). The named
// frames below are the generator with their options; the same seed gives the same pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo::test_images {

constexpr double kPi = 3.14159265358979323846;

struct FrameStar {
  double x = 0.0, y = 0.0;  // centre
  float flux = 3000.0f;     // total counts of a Moffat star (unless `peak` is given)
  float fwhm = 3.0f;        // Moffat FWHM [pixels]
  float peak = 0.0f;        // when positive: the height above the background instead of `flux`
  float sigma = 0.0f;       // when positive: a Gaussian of this sigma and height `peak`
  int reach = 60;           // the star adds nothing farther out than this [pixels]
  bool saturated = false;   // with GalaxyModel::saturation: a bleed column through the centre
  bool on_galaxy = false;
  int wing_radius = 0;  // where the profile falls below a twentieth of the sky noise (removal frame)
};

enum class Noise { gaussian, uniform, hashed };
// The arithmetic of the stars: `single` takes the offsets and squared radius in float and adds
// the stars to the background as computed; `twice` takes the radius in double (std::hypot) and
// adds the stars to the background rounded to float (the removal frame's truth).
enum class StarArithmetic { single, twice };
enum class DiscLaw { face_on, inclined };

struct GalaxyModel {
  float sky = 1000.0f;
  float noise = 8.0f;                              // sigma (Gaussian), half-width (uniform, hashed)
  float gx = 0.0f, gy = 0.0f;                      // sky slope, counts per pixel (from the image centre)
  float disc_peak = 0.0f, disc_scale = 40.0f;      // exponential disc, centred on (cx, cy)
  float bulge_peak = 0.0f, bulge_scale = 6.0f;     // a steeper inner component
  float arm_peak = 0.0f;                           // two logarithmic arms over the disc
  float arm_winding = 1.2f, arm_sharpness = 1.0f;  // about r / 2.4 pixels wide (radial sigma)
  float cx = 0.0f, cy = 0.0f;
  float moffat_beta = 3.0f;
  unsigned seed = 11;
  // The inclined law: disc seen at `axis_ratio` with its major axis at `position_angle` (radians
  // from +x towards +y), arms of the given pitch adding up to `arm_contrast` of the disc and
  // sharpened by a squared cosine, and a Sersic n = 2 bulge of `bulge_peak` at `bulge_scale`.
  DiscLaw law = DiscLaw::face_on;
  double axis_ratio = 1.0, position_angle = 0.0, arm_contrast = 0.0, pitch = 0.35;
  Noise noise_kind = Noise::gaussian;
  bool round_reach = true;  // stars reach a disc of their radius (else a square)
  StarArithmetic arithmetic = StarArithmetic::single;
  float saturation = 0.0f;  // when positive: the full well, where pixels stop
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
// A Moffat star of total flux `flux` at distance r.
inline double moffat(double flux, double r, double fwhm = 3.5, double beta = 3.0) {
  const double alpha = moffat_alpha(fwhm, beta);
  return flux * (beta - 1.0) / (kPi * alpha * alpha) * std::pow(1.0 + r * r / (alpha * alpha), -beta);
}
// The radius (whole pixels, rounded up) beyond which the star adds less than `level` counts.
inline int moffat_wing_radius(double flux, double level, double fwhm = 3.5) {
  int r = 1;
  while (moffat(flux, r, fwhm) >= level && r < 200) ++r;
  return r;
}

// The noise-free galaxy and sky (no stars, no knots) at (x, y) of an nx x ny frame.
inline double galaxy_value(const GalaxyModel& m, double x, double y, double nx, double ny) {
  double v = m.sky + m.gx * (x - nx / 2.0) + m.gy * (y - ny / 2.0);
  const double dx = x - m.cx, dy = y - m.cy;
  if (m.law == DiscLaw::inclined) {
    const double c = std::cos(m.position_angle), s = std::sin(m.position_angle);
    const double a = dx * c + dy * s, b = (-dx * s + dy * c) / m.axis_ratio;
    const double r = std::sqrt(a * a + b * b);
    const double disc = m.disc_peak * std::exp(-r / m.disc_scale);
    // Two arms: a logarithmic spiral, sharpened by the square of a cosine.
    const double phase = 2.0 * (std::atan2(b, a) - std::log(r / m.disc_scale + 1e-9) / std::tan(m.pitch));
    const double arm = std::pow(0.5 * (1.0 + std::cos(phase)), 2.0);
    const double arms = disc * m.arm_contrast * arm * (1.0 - std::exp(-r / 10.0));
    const double bulge = m.bulge_peak * std::exp(-3.67 * (std::sqrt(r / m.bulge_scale) - 1.0));
    return v + (disc + arms + bulge);
  }
  const double r = std::hypot(dx, dy);
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

struct Frame {
  Image image;   // everything, with noise
  Image smooth;  // sky, galaxy and knots: no stars, no noise
};

// The noise of the hashed kind at (x, y): uniform in (-half, half), fixed by the position alone.
inline float hashed_noise(int x, int y, float half) {
  uint32_t h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 2246822519u;
  h ^= h >> 15;
  h *= 2654435761u;
  h ^= h >> 13;
  return (static_cast<float>(h >> 8) / 16777216.0f - 0.5f) * 2.0f * half;
}

// The one generator. `gen` draws the Gaussian and uniform noise (it may already have drawn the
// frame's layout).
template <class Engine>
Frame render_frame(int nx, int ny, const GalaxyModel& m, const std::vector<FrameStar>& stars,
                   const std::vector<FrameStar>& knots, Engine& gen) {
  const auto at = [nx](int x, int y) {
    return (static_cast<std::size_t>(y) - 1) * static_cast<std::size_t>(nx) + x - 1;
  };
  std::vector<double> v(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny));
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) v[at(x, y)] = galaxy_value(m, x, y, nx, ny);
  // Adds each source in its reach, in list order, so each pixel sums them in that order.
  const auto add = [&](const std::vector<FrameStar>& list) {
    for (const FrameStar& s : list) {
      const double beta = m.moffat_beta, a = moffat_alpha(s.fwhm, beta);
      const double i0 = s.peak > 0.0f ? s.peak : moffat_peak(s.flux, s.fwhm, beta);
      const int cx = static_cast<int>(s.x), cy = static_cast<int>(s.y);
      const float fx = static_cast<float>(s.x), fy = static_cast<float>(s.y);
      for (int y = std::max(1, cy - s.reach); y <= std::min(ny, cy + s.reach); ++y)
        for (int x = std::max(1, cx - s.reach); x <= std::min(nx, cx + s.reach); ++x) {
          double r2;
          if (m.arithmetic == StarArithmetic::single) {
            r2 = (x - fx) * (x - fx) + (y - fy) * (y - fy);
            if (m.round_reach && r2 > static_cast<double>(s.reach) * s.reach) continue;
          } else {
            const double r = std::hypot(x - s.x, y - s.y);
            if (r >= s.reach) continue;
            r2 = r * r;
          }
          v[at(x, y)] += s.sigma > 0.0f ? s.peak * std::exp(-r2 / (2.0 * s.sigma * s.sigma))
                                        : i0 * std::pow(1.0 + r2 / (a * a), -beta);
        }
    }
  };
  add(knots);
  Frame f{Image(nx, ny), Image(nx, ny)};
  for (std::size_t p = 0; p < v.size(); ++p) {
    f.smooth.px[p] = static_cast<float>(v[p]);
    if (m.arithmetic == StarArithmetic::twice) v[p] = f.smooth.px[p];
  }
  add(stars);
  // Saturation: the charge beyond the full well runs up and down the column (a bleed column).
  if (m.saturation > 0.0f)
    for (const FrameStar& s : stars) {
      if (!s.saturated) continue;
      const int x = static_cast<int>(std::lround(s.x));
      const int len = static_cast<int>(s.peak / 2.0e4f);
      for (int y = std::max(1, static_cast<int>(s.y) - len); y <= std::min(ny, static_cast<int>(s.y) + len); ++y)
        v[at(x, y)] = m.saturation;
    }
  std::normal_distribution<double> gauss(0.0, m.noise);
  std::uniform_real_distribution<float> uniform(-m.noise, m.noise);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      double n = 0.0;
      if (m.noise > 0.0f) {
        if (m.noise_kind == Noise::gaussian) n = gauss(gen);
        if (m.noise_kind == Noise::uniform) n = uniform(gen);
        if (m.noise_kind == Noise::hashed) n = hashed_noise(x, y, m.noise);
      }
      const double pixel = v[at(x, y)] + n;
      f.image.px[at(x, y)] = static_cast<float>(m.saturation > 0.0f ? std::min<double>(pixel, m.saturation) : pixel);
    }
  return f;
}

// A galaxy frame of the face-on law with Moffat stars: the removal, radius and repair tests.
inline Image galaxy_frame(int nx, int ny, const GalaxyModel& m, const std::vector<FrameStar>& stars) {
  std::mt19937 gen(m.seed);
  return render_frame(nx, ny, m, stars, {}, gen).image;
}

// Sky s plus a Gaussian star (peak, sigma) at (x0, y0), plus optional uniform noise: the
// photometry report tests.
inline Image star_field(int nx, int ny, float s, float x0, float y0, float peak, float sig, float noise = 0.0f,
                        unsigned seed = 7) {
  GalaxyModel m{.sky = s, .noise = noise, .seed = seed, .noise_kind = Noise::uniform, .round_reach = false};
  FrameStar star{.x = x0, .y = y0, .peak = peak, .sigma = sig, .reach = std::max(nx, ny)};
  return galaxy_frame(nx, ny, m, {star});
}

// The frame of the removal and large-frame benchmarks: a sky of 1000 with a slope of 0.01 per
// column, hashed noise (+-15), and Gaussian stars of sigma 1.6 pixels and height 3000 at the
// positions given.
inline Image hashed_star_field(int side, const std::vector<std::pair<double, double>>& positions) {
  GalaxyModel m{.noise = 15.0f, .gx = 0.01f, .noise_kind = Noise::hashed, .round_reach = false};
  std::vector<FrameStar> stars;
  for (const auto& [x, y] : positions)
    stars.push_back(FrameStar{.x = x, .y = y, .peak = 3000.0f, .sigma = 1.6f, .reach = 12});
  std::mt19937 unused(0);
  return render_frame(side, side, m, stars, {}, unused).image;
}

// That frame of one size, made at first use with the stars `positions(side)` gives.
template <class Positions>
const Image& cached_star_field(int side, Positions positions) {
  static std::map<int, std::unique_ptr<Image>> cache;
  auto& p = cache[side];
  if (!p) p = std::make_unique<Image>(hashed_star_field(side, positions(side)));
  return *p;
}

// The spiral galaxy frame of the star finder: 30 Moffat stars from 5 sigma to far beyond
// saturation (the saturated ones with flat tops and bleed columns) and 20 HII-like knots
// (round Gaussians of sigma 2.5 px) on the arms.
struct KnottyGalaxy {
  Image image;
  Image smooth;  // the galaxy, sky and knots without stars or noise
  std::vector<FrameStar> stars;
  std::vector<std::pair<float, float>> knots;
  float noise = 8.0f;
  float sky = 1000.0f;
  float saturation = 50000.0f;  // the detector's full well: pixels stop here
  float fwhm = 3.0f;
  std::vector<std::pair<float, float>> hits;  // hot pixels and cosmic rays (their brightest pixel)
};

// How the knots of a knotty galaxy look, and what else hits the detector: knots of FWHM from
// `knot_lo` to `knot_hi` times the stars' with the stars' Moffat profile (0: Gaussians of sigma
// 2.5 px, twice the stars' width), and as many hot pixels (single pixels) and cosmic rays (2 x 2 blocks and 3-pixel
// streaks) of 30 to 300 sigma.
struct KnotStyle {
  float knot_lo = 0.0f, knot_hi = 0.0f;
  int hot_pixels = 0, cosmic_rays = 0;
};

// nx x ny frame (at least 400 x 400); the galaxy sits in the middle of the central 600 x 600
// pixels, the rest is sky with stars (as many more as `extra_stars`, for large frames).
inline KnottyGalaxy knotty_galaxy(int nx = 600, int ny = 600, unsigned seed = 5, int extra_stars = 0,
                                  KnotStyle style = {}) {
  KnottyGalaxy f;
  GalaxyModel g;
  g.sky = f.sky;
  g.noise = f.noise;
  g.cx = 300.0f, g.cy = 300.0f;
  g.disc_peak = 1500.0f, g.disc_scale = 60.0f;
  g.bulge_peak = 4000.0f, g.bulge_scale = 5.0f;
  g.arm_peak = 900.0f, g.arm_winding = 1.6f, g.arm_sharpness = 4.0f;
  g.round_reach = false;
  g.saturation = f.saturation;
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
    for (const FrameStar& s : f.stars)
      if (std::hypot(static_cast<float>(s.x) - x, static_cast<float>(s.y) - y) < 30.0f) return false;
    for (const auto& k : f.knots)
      if (std::hypot(k.first - x, k.second - y) < 15.0f) return false;
    return true;
  };
  const int total = 30 + extra_stars;
  for (int i = 0; i < total; ++i) {
    FrameStar s;
    const int kind = i % 30;
    s.peak = kind < 26 ? static_cast<float>(5.0 * f.noise * std::pow(800.0, kind / 25.0))
                       : static_cast<float>(1.5e5 * (kind - 24));
    s.saturated = kind >= 26;
    s.fwhm = f.fwhm;
    s.reach = s.peak > 1e4f ? 80 : 30;
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
  std::uniform_real_distribution<float> amp(100.0f, 600.0f);
  std::vector<FrameStar> knots;
  for (const auto& k : f.knots) {
    // Knots as wide as asked are the stars' profile widened (wings and all); the others Gaussians.
    if (style.knot_hi > 0.0f)
      knots.push_back(FrameStar{.x = k.first,
                                .y = k.second,
                                .fwhm = f.fwhm * (style.knot_lo + (style.knot_hi - style.knot_lo) * u(gen)),
                                .peak = amp(gen),
                                .reach = 20});
    else
      knots.push_back(FrameStar{.x = k.first, .y = k.second, .peak = amp(gen), .sigma = 2.5f, .reach = 12});
  }
  Frame fr = render_frame(nx, ny, g, f.stars, knots, gen);
  f.image = std::move(fr.image);
  f.smooth = std::move(fr.smooth);
  // Hits land anywhere but on a star (within 10 pixels) or a knot (within 6).
  for (int h = 0; h < style.hot_pixels + style.cosmic_rays; ++h)
    for (int tries = 0; tries < 1000; ++tries) {
      const int x = 10 + static_cast<int>(static_cast<float>(nx - 20) * u(gen));
      const int y = 10 + static_cast<int>(static_cast<float>(ny - 20) * u(gen));
      bool free = true;
      for (const FrameStar& st : f.stars) free &= std::hypot(st.x - x, st.y - y) > (st.saturated ? 40.0 : 10.0);
      for (const auto& k : f.knots) free &= std::hypot(k.first - x, k.second - y) > 6.0;
      if (!free) continue;
      const float a = f.noise * (30.0f + 270.0f * u(gen));
      f.image.at(x, y) += a;
      if (h >= style.hot_pixels) {  // a cosmic ray: a 2 x 2 block or a streak of three
        if (h % 2) {
          f.image.at(x + 1, y) += 0.7f * a, f.image.at(x, y + 1) += 0.8f * a, f.image.at(x + 1, y + 1) += 0.6f * a;
        } else {
          f.image.at(x + 1, y + 1) += 0.6f * a, f.image.at(x + 2, y + 2) += 0.3f * a;
        }
      }
      f.hits.push_back({static_cast<float>(x), static_cast<float>(y)});
      break;
    }
  return f;
}

// The 512 x 512 frame of the removal benchmark against imedit: the inclined law (sky 1000,
// noise 8), ten Moffat stars (beta 3, FWHM 3.5) on the disc (57 to 146 pixels from its centre,
// on its slope and its arms) and six off it (more than 180 pixels out). `truth` is the
// noiseless sky and galaxy a removal is measured against.
struct GalaxyFrame {
  Image image;  // sky + galaxy + stars + noise
  Image truth;  // sky + galaxy, no noise, no stars
  std::vector<FrameStar> stars;
  double sky = 1000.0, noise = 8.0;
};

inline GalaxyFrame removal_galaxy_frame(uint64_t seed = 2026) {
  GalaxyFrame f;
  GalaxyModel g{.disc_peak = 600.0f,
                .disc_scale = 60.0f,
                .bulge_peak = 150.0f,
                .bulge_scale = 6.0f,
                .cx = 256.0f,
                .cy = 256.0f,
                .law = DiscLaw::inclined,
                .axis_ratio = 0.75,
                .position_angle = 0.5,
                .arm_contrast = 0.5,
                .pitch = 0.35,
                .arithmetic = StarArithmetic::twice};
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
    const double k = p.on ? kOnDiscSpread : 1.0;
    FrameStar s{.x = g.cx + k * p.dx, .y = g.cy + k * p.dy, .flux = static_cast<float>(p.flux), .fwhm = 3.5f};
    s.wing_radius = moffat_wing_radius(p.flux, f.noise / 20.0);
    s.on_galaxy = p.on;
    f.stars.push_back(s);
  }
  std::mt19937_64 gen(seed);
  Frame fr = render_frame(512, 512, g, f.stars, {}, gen);
  f.image = std::move(fr.image);
  f.truth = std::move(fr.smooth);
  return f;
}

}  // namespace zelvo::test_images
