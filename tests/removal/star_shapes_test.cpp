// Stars told from what is not a star, and stars taken whole wherever they are: a knot 1.3 to
// 1.6 times a star's width on a spiral arm is left out while a star of the same flux beside it
// is listed; hot pixels and cosmic rays are never stars; a star 4 pixels from the edge is
// found, measured and removed; a saturated star with a bleed column is centred from its wings
// and removed in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "photometry/psf.h"
#include "removal/deathstar.h"
#include "removal/find_centre.h"
#include "removal/finder.h"
#include "removal/removal_harness.h"
#include "removal/satbar.h"
#include "support/frame_generator.h"

namespace zelvo {
namespace {

using namespace test_images;

constexpr float kNoise = 8.0f;
constexpr float kStarSigma = 3.0f / 2.3548f;  // FWHM 3

const FoundStar* nearest(const std::vector<FoundStar>& list, float x, float y, float within) {
  const FoundStar* best = nullptr;
  for (const FoundStar& s : list)
    if (std::hypot(s.x - x, s.y - y) < within &&
        (!best || std::hypot(s.x - x, s.y - y) < std::hypot(best->x - x, best->y - y)))
      best = &s;
  return best;
}

// A disc galaxy with two arms, eight bright isolated Gaussian stars off it (to measure the
// PSF on) and the sources given.
Image arm_frame(const std::vector<FrameStar>& sources, unsigned seed) {
  GalaxyModel g{.sky = 1000.0f,
                .noise = kNoise,
                .disc_peak = 1200.0f,
                .disc_scale = 50.0f,
                .arm_peak = 600.0f,
                .arm_winding = 1.6f,
                .arm_sharpness = 4.0f,
                .cx = 200.0f,
                .cy = 200.0f};
  std::vector<FrameStar> all = sources;
  for (int k = 0; k < 8; ++k)
    all.push_back(FrameStar{.x = 30.5 + 45.0 * k,
                            .y = 370.3 - 3.0 * k,
                            .peak = 400.0f + 150.0f * static_cast<float>(k),
                            .sigma = kStarSigma,
                            .reach = 15});
  std::mt19937 gen(seed);
  return render_frame(400, 400, g, all, {}, gen).image;
}

// A point on the arm through theta = winding ln r, r pixels from the centre.
std::pair<double, double> on_arm(double r) {
  const double th = 1.6 * std::log(r);
  return {200.0 + r * std::cos(th), 200.0 + r * std::sin(th)};
}

struct KnotCase {
  float width;        // the knot's FWHM over the stars'
  float star_height;  // the star's height over the noise
  unsigned seed;
};

class KnotBesideStar : public ::testing::TestWithParam<KnotCase> {};

TEST_P(KnotBesideStar, TheKnotIsLeftOutAndTheStarOfTheSameFluxListed) {
  const KnotCase c = GetParam();
  const auto [kx, ky] = on_arm(70.0);
  const auto [sx, sy] = on_arm(88.0);
  const float star_peak = c.star_height * kNoise;
  const float knot_sigma = c.width * kStarSigma;
  const float knot_peak = star_peak / (c.width * c.width);  // the same flux
  const Image img = arm_frame({FrameStar{.x = kx, .y = ky, .peak = knot_peak, .sigma = knot_sigma, .reach = 15},
                               FrameStar{.x = sx, .y = sy, .peak = star_peak, .sigma = kStarSigma, .reach = 15}},
                              c.seed);
  const FinderResult r = find_stars(img.view(), FinderRequest{});
  ASSERT_EQ(r.status, FinderStatus::found);
  EXPECT_NEAR(r.fwhm, 3.0f, 0.3f);
  const FoundStar* star = nearest(r.stars, static_cast<float>(sx), static_cast<float>(sy), 1.0f);
  ASSERT_NE(star, nullptr) << "the star is not listed";
  EXPECT_EQ(star->cls, ObjectClass::star);
  EXPECT_GT(star->score, 0.3f);
  EXPECT_EQ(nearest(r.stars, static_cast<float>(kx), static_cast<float>(ky), 3.0f), nullptr)
      << "the knot is listed as a star";
  const FoundStar* knot = nearest(r.left_out, static_cast<float>(kx), static_cast<float>(ky), 3.0f);
  ASSERT_NE(knot, nullptr) << "the knot is not among the objects left out";
  EXPECT_EQ(knot->cls, ObjectClass::extended);
  EXPECT_EQ(knot->type, 0);
  EXPECT_LT(knot->score, star->score);
}

INSTANTIATE_TEST_SUITE_P(Widths, KnotBesideStar,
                         ::testing::Values(KnotCase{1.3f, 40.0f, 1}, KnotCase{1.3f, 120.0f, 2},
                                           KnotCase{1.45f, 25.0f, 3}, KnotCase{1.6f, 60.0f, 4}),
                         [](const ::testing::TestParamInfo<KnotCase>& i) {
                           return "width" + std::to_string(static_cast<int>(std::lround(100 * i.param.width))) +
                                  "_height" + std::to_string(static_cast<int>(i.param.star_height));
                         });

TEST(StarShapes, HotPixelsAndCosmicRaysAreNeverStars) {
  KnotStyle style;
  style.knot_lo = 1.2f, style.knot_hi = 1.6f, style.hot_pixels = 10, style.cosmic_rays = 20;
  const KnottyGalaxy f = knotty_galaxy(600, 600, 11, 0, style);
  FinderRequest req;
  req.saturation = 0.9f * f.saturation;
  const FinderResult r = find_stars(f.image.view(), req);
  ASSERT_EQ(r.status, FinderStatus::found);
  for (const auto& [x, y] : f.hits) EXPECT_EQ(nearest(r.stars, x, y, 3.0f), nullptr) << "hit at " << x << " " << y;
}

// A star of 60 sigma on a sloped sky, `gap` pixels (centre to the edge's last pixel) from one
// edge or a corner.
struct EdgeCase {
  const char* name;
  double x, y;
};

class StarAtTheEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(StarAtTheEdge, IsFoundMeasuredAndRemoved) {
  const EdgeCase c = GetParam();
  GalaxyModel g{.sky = 1000.0f, .noise = kNoise, .gx = 0.2f, .gy = -0.1f};
  std::vector<FrameStar> stars{FrameStar{.x = c.x, .y = c.y, .peak = 480.0f, .sigma = kStarSigma, .reach = 20}};
  for (int k = 0; k < 6; ++k)  // stars to measure the FWHM on
    stars.push_back(
        FrameStar{.x = 60.0 + 25.0 * k, .y = 100.0 + 7.0 * k, .peak = 600.0f, .sigma = kStarSigma, .reach = 15});
  std::mt19937 gen(17);
  Image img = render_frame(200, 200, g, stars, {}, gen).image;
  GalaxyModel plain = g;
  plain.noise = 0.0f;
  std::mt19937 unused(0);
  const Image sky = render_frame(200, 200, plain, {}, {}, unused).image;

  FinderRequest req;
  req.radius = [](ConstImageView im, float x, float y) {
    const StarRadius r = star_radius(im, x, y);
    return r.found ? r.radius : 0.0f;
  };
  const FinderResult r = find_stars(img.view(), req);
  const FoundStar* found = nearest(r.stars, static_cast<float>(c.x), static_cast<float>(c.y), 1.0f);
  ASSERT_NE(found, nullptr) << "not found";
  EXPECT_LT(std::hypot(found->x - c.x, found->y - c.y), 0.3);
  const std::optional<FoundStar> added =
      measure_star(img.view(), static_cast<float>(c.x) + 0.6f, static_cast<float>(c.y) - 0.4f, r.fwhm, req);
  ASSERT_TRUE(added.has_value()) << "cannot be added";
  EXPECT_LT(std::hypot(added->x - c.x, added->y - c.y), 0.3);

  PsfRequest preq;
  preq.sky_upper = 5000.0f;
  const PsfEstimate e = GETPSF(img.view(), found->x, found->y, preq);
  ASSERT_TRUE(e.deathrad.has_value()) << "no radius";
  EXPECT_FALSE(e.too_close_to_edge);
  EXPECT_GT(*e.deathrad, 3.0f);
  EXPECT_LT(*e.deathrad, 9.0f);

  testing::RemovalHarness h;
  RemovalWork work;
  const RemovalResult rr = DEATHSTAR(work, img.view(), e.xcen, e.ycen, *e.deathrad, h.ctx());
  ASSERT_TRUE(rr.changed());
  // Within 5 pixels of the star nothing stands out of the sky: the mean excess is below 1.5
  // sigma over the root of the pixels (the painted noise and the fitted background together),
  // no pixel above 5 sigma.
  double excess = 0.0;
  int n = 0;
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 200; ++x) {
      if (std::hypot(x - c.x, y - c.y) > 5.0) continue;
      const float d = img.at(x, y) - sky.at(x, y);
      EXPECT_LT(d, 5.0f * kNoise) << x << " " << y;
      excess += d;
      ++n;
    }
  EXPECT_LT(std::fabs(excess / n), 3.0 * kNoise / std::sqrt(n));
}

INSTANTIATE_TEST_SUITE_P(Sides, StarAtTheEdge,
                         ::testing::Values(EdgeCase{"left", 5.0, 97.3}, EdgeCase{"right", 196.2, 60.0},
                                           EdgeCase{"bottom", 140.6, 5.0}, EdgeCase{"top", 33.0, 195.7},
                                           EdgeCase{"corner", 5.4, 5.2}),
                         [](const ::testing::TestParamInfo<EdgeCase>& i) { return std::string(i.param.name); });

// A star 20 times the saturation level high on a galaxy's slope, with a bleed column that
// runs 30 pixels up and 8 down, fading over its last rows; a fainter star 23 pixels to the side
// of its lower end.
struct SaturatedFrame {
  Image image, truth;  // truth: the sky and galaxy with the faint star, no noise
  double x = 120.37, y = 110.62;
};
SaturatedFrame saturated_frame() {
  SaturatedFrame f;
  constexpr float kFull = 30000.0f;
  GalaxyModel g{
      .sky = 1000.0f, .noise = kNoise, .gx = 0.5f, .disc_peak = 800.0f, .disc_scale = 60.0f, .cx = 60.0f, .cy = 150.0f};
  const FrameStar faint{.x = 143.2, .y = 100.4, .peak = 300.0f, .sigma = kStarSigma, .reach = 15};
  std::mt19937 unused(0);
  GalaxyModel plain = g;
  plain.noise = 0.0f;
  f.truth = render_frame(240, 240, plain, {faint}, {}, unused).image;
  std::vector<FrameStar> stars{
      faint, FrameStar{.x = f.x, .y = f.y, .flux = 0.0f, .fwhm = 3.0f, .peak = 20.0f * (kFull - 1000.0f), .reach = 80}};
  std::mt19937 gen(23);
  f.image = render_frame(240, 240, g, stars, {}, gen).image;
  const int col = static_cast<int>(std::lround(f.x));
  for (int y = static_cast<int>(f.y) - 8; y <= static_cast<int>(f.y) + 30; ++y) {
    const int from_end = std::min(y - (static_cast<int>(f.y) - 8), static_cast<int>(f.y) + 30 - y);
    const float level = from_end >= 4 ? kFull : f.truth.at(col, y) + 0.2f * (from_end + 1) * (kFull - 1000.0f);
    f.image.at(col, y) = std::max(f.image.at(col, y), std::min(level, kFull));
  }
  for (float& v : f.image.px) v = std::min(v, kFull);
  return f;
}

TEST(SaturatedStar, IsCentredFromItsWingsAndRemovedInPlace) {
  SaturatedFrame f = saturated_frame();
  FinderRequest req;
  req.saturation = 29000.0f;
  req.radius = [](ConstImageView im, float x, float y) {
    const StarRadius r = star_radius(im, x, y);
    return r.found ? r.radius : 0.0f;
  };
  const FinderResult r = find_stars(f.image.view(), req);
  const FoundStar* st = nearest(r.stars, static_cast<float>(f.x), static_cast<float>(f.y), 5.0f);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->type, 2);
  EXPECT_LT(std::hypot(st->x - f.x, st->y - f.y), 0.5) << st->x << " " << st->y;
  // From a click 2 pixels off, as the removal starts.
  const std::optional<WingCentre> w =
      wing_centre(f.image.view(), static_cast<float>(f.x) + 1.5f, static_cast<float>(f.y) - 1.3f, 1000.0f);
  ASSERT_TRUE(w.has_value());
  EXPECT_LT(std::hypot(w->x - f.x, w->y - f.y), 0.5) << w->x << " " << w->y;

  // Its radius as the finder measures it (from the wings, beyond the flat top), then the bar
  // and the disc removed.
  const float radius = st->radius;
  EXPECT_GT(radius, 8.0f);
  EXPECT_LT(radius, 25.0f);
  const Image before = f.image;
  testing::RemovalHarness h;
  const SatBarResult bar = REMOVESATBAR(f.image.view(), std::round(w->x), std::round(w->y), 1000.0f, kNoise, h.ctx());
  ASSERT_TRUE(bar.removed);
  RemovalWork work;
  const RemovalResult rr = DEATHSTAR(work, f.image.view(), w->x, w->y, radius, h.ctx());
  ASSERT_TRUE(rr.changed());
  const int col = static_cast<int>(std::lround(f.x));
  int outside = 0;
  for (int y = 1; y <= 240; ++y)
    for (int x = 1; x <= 240; ++x) {
      const bool in_disc = std::hypot(x - w->x, y - w->y) <= rr.radius + 1.0;
      const bool in_band = std::abs(x - col) <= 2 && y >= bar.ybot && y <= bar.ytop;
      if (!in_disc && !in_band && f.image.at(x, y) != before.at(x, y)) {
        if (++outside <= 5)
          ADD_FAILURE() << "changed at " << x << " " << y << " (bar rows " << bar.ybot << " to " << bar.ytop
                        << ", disc radius " << rr.radius << ")";
      }
      if (in_band && !in_disc) {  // no bleed pixel stays above 3 sigma
        EXPECT_LT(f.image.at(x, y) - f.truth.at(x, y), 3.0f * kNoise) << x << " " << y;
      }
    }
  EXPECT_EQ(outside, 0);
  // The bleed is gone to its ends, and the star is gone all round: no crescent of wings.
  EXPECT_LE(bar.ybot, static_cast<int>(f.y) - 8);
  EXPECT_GE(bar.ytop, static_cast<int>(f.y) + 30);
  for (int q = 0; q < 8; ++q) {
    const double a = q * kPi / 4.0;
    double sum = 0.0;
    int n = 0;
    for (double rr2 = rr.radius - 3.0; rr2 < rr.radius; rr2 += 0.5) {
      const int x = static_cast<int>(std::lround(w->x + rr2 * std::cos(a)));
      const int y = static_cast<int>(std::lround(w->y + rr2 * std::sin(a)));
      if (x == col) continue;
      sum += f.image.at(x, y) - f.truth.at(x, y);
      ++n;
    }
    if (n > 0) {
      EXPECT_LT(sum / n, 3.0 * kNoise) << "wings left at angle " << q * 45;
    }
  }
}

// M51, IRAF's sample frame: a real galaxy whose HII regions are barely wider than its stars.
Image m51() {
  FitsRead r = READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/data/m51.fits");
  EXPECT_EQ(r.outcome, ReadOutcome::loaded);
  return std::move(r.image);
}

TEST(M51, TheDefaultsListStarsNotKnotsNorTheCosmicRay) {
  const Image img = m51();
  FinderRequest req;
  req.saturation = static_cast<float>(saturation_level(img.view()));
  const FinderResult r = find_stars(img.view(), req);
  ASSERT_EQ(r.status, FinderStatus::found);
  EXPECT_NEAR(r.fwhm, 2.6f, 0.3f);
  int wide = 0;
  for (const FoundStar& st : r.stars) wide += st.fwhm > 1.3f * r.fwhm;
  EXPECT_LE(wide, 5);
  EXPECT_EQ(nearest(r.stars, 442.4f, 245.8f, 2.0f), nullptr) << "the cosmic ray is listed";
  // The bright foreground stars, on the galaxy and off it, are listed.
  for (const auto& [x, y] : {std::pair{347.6f, 188.8f}, std::pair{379.1f, 66.8f}, std::pair{442.0f, 409.7f}})
    EXPECT_NE(nearest(r.stars, x, y, 1.5f), nullptr) << x << " " << y;
}

TEST(M51, TheBrightestStarLeavesNoRing) {
  Image img = m51();
  const float x = 347.6f, y = 188.8f;
  const StarRadius sr = star_radius(img.view(), x, y);
  ASSERT_TRUE(sr.found);
  testing::RemovalHarness h;
  RemovalWork work;
  const RemovalResult rr = DEATHSTAR(work, img.view(), x, y, sr.radius, h.ctx());
  ASSERT_TRUE(rr.changed());
  // Between r and 1.5 r no 1-pixel ring's median stands above the local background by a sigma
  // of the local noise.
  const float r = rr.radius;
  for (int k = static_cast<int>(std::ceil(r)); k <= static_cast<int>(1.5f * r); ++k) {
    std::vector<float> ring;
    for (int j = static_cast<int>(y) - k - 2; j <= static_cast<int>(y) + k + 2; ++j)
      for (int i = static_cast<int>(x) - k - 2; i <= static_cast<int>(x) + k + 2; ++i) {
        const float dx = static_cast<float>(i) - x, dy = static_cast<float>(j) - y;
        if (std::fabs(std::hypot(dx, dy) - static_cast<float>(k)) >= 0.5f) continue;
        ring.push_back(img.at(i, j) - sr.background_at(dx, dy));
      }
    std::nth_element(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(ring.size() / 2), ring.end());
    EXPECT_LT(ring[ring.size() / 2], sr.noise) << "ring at " << k << " of radius " << r;
  }
}

}  // namespace
}  // namespace zelvo
