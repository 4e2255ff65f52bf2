// Stars and bad lines on a synthetic galaxy (exponential disc with a bulge and two arms, sky
// 1000, noise 8, Moffat stars of known flux). Prints, measured in this run:
// - centres: the worst distance from the true centre of a 3000-count star (FWHM 3) clicked
//   within 1 px on slopes of 0 .. 30 counts per pixel in five directions, for GETCEN and for
//   the 9 x 9 box-mean centroid alone (the centroid before slopes were taken off), and the
//   largest difference of the two on flat sky;
// - radii: star_radius against the radius where each star's profile meets the sky noise, for
//   eight stars on the disc and four off it;
// - lines: a dead column beside a knot and a hot row repaired: pixels changed two or more
//   lines away, and the mean and spread of the repaired line about the galaxy beneath.
// Then times GETCEN, star_radius, GETPSF and repair_line.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/random.h"
#include "photometry/psf.h"
#include "removal/line_repair.h"
#include "support/frame_generator.h"

namespace {

using namespace zelvo;
using namespace zelvo::test_images;

// The centroid with the box mean alone: three passes over the 9 x 9 box, columns and rows
// weighted by their positive summed excess over the box mean.
std::pair<float, float> box_mean_centroid(ConstImageView im, float x, float y) {
  for (int pass = 0; pass < 3; ++pass) {
    const int ic = nint_pixel(x), jc = nint_pixel(y);
    float sum = 0.0f;
    int n = 0;
    for (int i = -4; i <= 4; ++i)
      for (int j = -4; j <= 4; ++j)
        if (im.inside(ic + i, jc + j)) sum += im.at(ic + i, jc + j), ++n;
    const float mean = sum / static_cast<float>(n);
    float res[2] = {x, y};
    for (int axis = 0; axis < 2; ++axis) {
      float w = 0.0f, ws = 0.0f;
      for (int a = -4; a <= 4; ++a) {
        float s = 0.0f;
        for (int b = -4; b <= 4; ++b) {
          const int px = axis == 0 ? ic + a : ic + b, py = axis == 0 ? jc + b : jc + a;
          if (im.inside(px, py)) s += im.at(px, py) - mean;
        }
        if (s > 0.0f) w += static_cast<float>((axis == 0 ? ic : jc) + a) * s, ws += s;
      }
      if (ws > 0.0f) res[axis] = w / ws;
    }
    x = res[0];
    y = res[1];
  }
  return {x, y};
}

void report_centres() {
  double flat_change = 0.0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    GalaxyModel m;
    m.seed = seed;
    const FrameStar s{60.0f + 0.13f * seed, 60.0f - 0.07f * seed, 3000.0f, 3.0f};
    const Image img = galaxy_frame(120, 120, m, {s});
    const auto o = box_mean_centroid(img.view(), s.x + 0.8f, s.y - 0.5f);
    const Centroid c = GETCEN(img.view(), s.x + 0.8f, s.y - 0.5f);
    flat_change = std::max(flat_change, std::hypot(double(c.x) - o.first, double(c.y) - o.second));
  }
  std::printf("centres, flat sky (40 stars): largest change from the box-mean centroid %.4f px\n", flat_change);
  std::printf("centres on a slope (5 directions x 10 noise draws x 3 clicks), worst distance from the truth:\n");
  std::printf("  slope   GETCEN   box mean alone\n");
  for (const float g : {0.0f, 5.0f, 10.0f, 20.0f, 30.0f}) {
    double worst = 0.0, worst_old = 0.0;
    for (const float ang : {0.0f, 45.0f, 135.0f, 200.0f, 290.0f})
      for (unsigned seed = 1; seed <= 10; ++seed) {
        GalaxyModel m;
        m.seed = seed;
        m.sky = 5000.0f;
        m.gx = g * static_cast<float>(std::cos(ang * kPi / 180.0));
        m.gy = g * static_cast<float>(std::sin(ang * kPi / 180.0));
        const FrameStar s{60.3f, 59.6f, 3000.0f, 3.0f};
        const Image img = galaxy_frame(120, 120, m, {s});
        for (const auto& [dx, dy] : {std::pair{0.7f, -0.6f}, std::pair{-0.9f, 0.3f}, std::pair{0.0f, 1.0f}}) {
          const Centroid c = GETCEN(img.view(), s.x + dx, s.y + dy);
          const auto o = box_mean_centroid(img.view(), s.x + dx, s.y + dy);
          worst = std::max(worst, std::hypot(double(c.x) - s.x, double(c.y) - s.y));
          worst_old = std::max(worst_old, std::hypot(double(o.first) - s.x, double(o.second) - s.y));
        }
      }
    std::printf("  %5.0f   %6.3f   %6.3f\n", g, worst, worst_old);
  }
}

GalaxyModel disc_model() {
  GalaxyModel m;
  m.disc_peak = 3000.0f;
  m.bulge_peak = 8000.0f;
  m.arm_peak = 1000.0f;
  m.cx = m.cy = 150.0f;
  return m;
}

const std::vector<FrameStar> kStars = {
    {122.3f, 148.6f, 3000.0f, 3.0f}, {181.7f, 160.2f, 10000.0f, 3.0f}, {150.4f, 196.9f, 30000.0f, 3.5f},
    {108.8f, 112.1f, 5000.0f, 4.0f}, {196.2f, 118.5f, 3000.0f, 2.5f},  {140.6f, 100.3f, 20000.0f, 3.0f},
    {170.1f, 215.8f, 8000.0f, 3.0f}, {95.5f, 185.4f, 3000.0f, 3.0f},   {40.2f, 40.7f, 3000.0f, 3.0f},
    {260.6f, 45.3f, 15000.0f, 3.0f}, {45.9f, 262.2f, 6000.0f, 4.0f},   {258.4f, 259.1f, 3000.0f, 3.0f},
};

void report_radii() {
  const GalaxyModel m = disc_model();
  const Image img = galaxy_frame(300, 300, m, kStars);
  std::printf("radii (where the star meets the sky noise), 8 stars on the disc then 4 off it:\n");
  std::printf("      x       y    flux  truth  estimate  background(true)\n");
  double worst_on = 0.0, worst_off = 0.0;
  for (std::size_t i = 0; i < kStars.size(); ++i) {
    const FrameStar& s = kStars[i];
    const StarRadius r = star_radius(img.view(), s.x, s.y);
    const double t = moffat_radius_at(s, m.moffat_beta, m.noise);
    (i < 8 ? worst_on : worst_off) = std::max(i < 8 ? worst_on : worst_off, std::fabs(r.radius - t));
    std::printf("  %5.1f  %5.1f  %6.0f  %5.2f  %8.2f  %7.1f (%7.1f)\n", s.x, s.y, s.flux, t, r.radius, r.background,
                galaxy_value(m, s.x, s.y, 300, 300));
  }
  std::printf("  worst |estimate - truth|: on the disc %.2f px, off it %.2f px\n", worst_on, worst_off);
}

void report_lines() {
  GalaxyModel m = disc_model();
  m.cx = 95.0f;
  m.cy = 105.0f;
  m.arm_peak = 800.0f;
  m.bulge_peak = 0.0f;
  GalaxyModel clean = m;
  clean.noise = 0.0f;
  struct Line {
    const char* name;
    LineAxis axis;
    int line;
    float offset;  // 0: dead
  };
  for (const Line l : {Line{"dead column beside a knot", LineAxis::column, 120, 0.0f},
                       Line{"hot row beside a knot", LineAxis::row, 80, 5000.0f}}) {
    const bool rows = l.axis == LineAxis::row;
    const float beside = static_cast<float>(l.line) + 2.0f;
    const FrameStar knot = rows ? FrameStar{90.0f, beside, 6000.0f, 2.0f} : FrameStar{beside, 90.0f, 6000.0f, 2.0f};
    const Image truth = galaxy_frame(200, 200, clean, {knot});
    Image im = galaxy_frame(200, 200, m, {knot});
    for (int t = 1; t <= 200; ++t) {
      float& v = rows ? im.at(t, l.line) : im.at(l.line, t);
      v = l.offset == 0.0f ? 0.0f : v + l.offset;
    }
    const Image before = im;
    Random rng;
    int32_t seed = -7;
    const float line = static_cast<float>(l.line);
    (void)repair_line(im.view(), rows ? 110.0f : line, rows ? line : 110.0f, 0.0f, l.axis, RemovalContext{rng, seed});
    int far_changed = 0;
    double sum = 0.0, sum2 = 0.0;
    int n = 0;
    for (int y = 1; y <= 200; ++y)
      for (int x = 1; x <= 200; ++x) {
        const int across = std::abs((rows ? y : x) - l.line);
        if (across >= 2 && im.at(x, y) != before.at(x, y)) ++far_changed;
        if (across == 0 && std::hypot(x - m.cx, y - m.cy) > 16.0 && std::hypot(x - knot.x, y - knot.y) > 6.0) {
          const double d = im.at(x, y) - truth.at(x, y);
          sum += d, sum2 += d * d, ++n;
        }
      }
    const double mean = sum / n;
    std::printf(
        "%s: pixels changed 2+ lines away %d; repaired line about the galaxy: mean %.2f, spread %.2f "
        "(sky noise %.1f)\n",
        l.name, far_changed, mean, std::sqrt(sum2 / n - mean * mean), m.noise);
  }
}

void BM_Getcen(benchmark::State& state) {
  GalaxyModel m;
  m.gx = 20.0f;
  const Image img = galaxy_frame(120, 120, m, {{60.3f, 59.6f, 3000.0f, 3.0f}});
  for (auto _ : state) benchmark::DoNotOptimize(GETCEN(img.view(), 61.0f, 59.0f));
}
BENCHMARK(BM_Getcen);

void BM_StarRadius(benchmark::State& state) {
  const Image img = galaxy_frame(300, 300, disc_model(), kStars);
  for (auto _ : state) benchmark::DoNotOptimize(star_radius(img.view(), 150.4f, 196.9f));
}
BENCHMARK(BM_StarRadius);

void BM_Getpsf(benchmark::State& state) {
  const Image img = galaxy_frame(300, 300, disc_model(), kStars);
  PsfRequest q;
  q.sky_upper = 1.0e6f;
  q.saturation = 400000;
  for (auto _ : state) benchmark::DoNotOptimize(GETPSF(img.view(), 150.0f, 197.0f, q));
}
BENCHMARK(BM_Getpsf);

void BM_RepairColumn(benchmark::State& state) {
  GalaxyModel m = disc_model();
  Image base = galaxy_frame(512, 512, m, {});
  for (int y = 1; y <= 512; ++y) base.at(200, y) = 0.0f;
  Random rng;
  int32_t seed = -7;
  for (auto _ : state) {
    Image im = base;
    benchmark::DoNotOptimize(repair_line(im.view(), 200.0f, 256.0f, 0.0f, LineAxis::column, RemovalContext{rng, seed}));
  }
}
BENCHMARK(BM_RepairColumn);

}  // namespace

int main(int argc, char** argv) {
  report_centres();
  report_radii();
  report_lines();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
