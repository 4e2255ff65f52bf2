// Aperture photometry of one star against independent truth: discs counted by hand, the
// geometry every digital disc obeys, exact sums of integer images, an analytic Gaussian
// star, and magnitudes.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "photometry/apphot.h"

using namespace zelvo;

namespace {

// An nx x ny image whose pixel (x, y) holds f(x, y).
template <class F>
Image image_of(int nx, int ny, F f) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(f(x, y));
  return img;
}

// Distance of pixel (x, y) from (xc, yc): the digital circle places the pixel's centre at
// (x + 0.5, y + 0.5).
double centre_distance(int x, int y, double xc, double yc) { return std::hypot(x + 0.5 - xc, y + 0.5 - yc); }

// The three aperture sums in the order of the radii (star, inner, outer).
const ApertureSum& sum_of(const ApertureSums& s, int k) { return k == 0 ? s.star : k == 1 ? s.inner : s.outer; }

}  // namespace

// Discs about the pixel corner (xc, yc) = (X.0, Y.0), where the pixel centres lie at
// half-integer offsets from the centre. The ring takes the pixels nearest each circle, so
// the discs are, row by row from the top:
//   r = 1.5: 2, 4, 4, 2                = 12 (the pixels within 1.58 of the centre)
//   r = 2.5: 2, 4, 6, 6, 4, 2          = 24 (within 2.55)
//   r = 3.5: 4, 6, 8, 8, 8, 8, 6, 4    = 52 (within 3.81)
// With the centre 2 columns from the left edge (xc = 2.0) the rows keep columns 1 .. 4 at
// most: 2, 3, 3, 2 = 10; 2, 3, 4, 4, 3, 2 = 18; 3, 4, 5, 5, 5, 5, 4, 3 = 34.
struct HandCountedDiscs {
  float xc, yc;
  int count[3];  // star (1.5), inner (2.5), outer (3.5)
  bool truncated;
};

class HandCounted : public ::testing::TestWithParam<HandCountedDiscs> {};

TEST_P(HandCounted, AnImageOfOnesSumsToTheDiscsPixelCount) {
  const HandCountedDiscs c = GetParam();
  Image ones(64, 56, 1.0f);
  const ApertureSums s = aperture_sums(ones.view(), c.xc, c.yc, ApertureRadii{1.5f, 2.5f, 3.5f});
  ASSERT_EQ(s.status, EdgeStatus::ok);
  EXPECT_FALSE(s.retraced);
  EXPECT_EQ(s.truncated, c.truncated);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(sum_of(s, k).n, c.count[k]) << k;
    EXPECT_EQ(sum_of(s, k).flux, static_cast<float>(c.count[k])) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HandCounted,
                         ::testing::Values(HandCountedDiscs{31.0f, 27.0f, {12, 24, 52}, false},
                                           HandCountedDiscs{20.0f, 30.0f, {12, 24, 52}, false},
                                           HandCountedDiscs{2.0f, 27.0f, {10, 18, 34}, true}));

// About a pixel corner every disc is symmetric in x and y, so on the image x + 100 y (whole
// numbers: every partial sum is exact in 32 bits) each disc sums to its count times the
// value at the centre, (xc - 0.5) + 100 (yc - 0.5).
TEST(ApertureSums, ADiscAboutAPixelCornerSumsToItsCountTimesTheCentreValue) {
  Image ramp = image_of(64, 56, [](int x, int y) { return x + 100 * y; });
  for (const auto& [xc, yc] : {std::pair{31.0f, 27.0f}, std::pair{20.0f, 30.0f}, std::pair{40.0f, 21.0f}}) {
    const ApertureSums s = aperture_sums(ramp.view(), xc, yc, ApertureRadii{});
    ASSERT_EQ(s.status, EdgeStatus::ok);
    for (int k = 0; k < 3; ++k) {
      const double centre_value = (xc - 0.5) + 100.0 * (yc - 0.5);
      EXPECT_EQ(sum_of(s, k).flux, static_cast<float>(sum_of(s, k).n * centre_value)) << xc << " " << k;
    }
  }
}

// Any centre: a disc traced at its radius r holds every pixel whose centre lies within
// r - 0.6 of the centre and none whose centre lies r + 0.6 or more away (the ring pixels lie
// within 0.6 of the circle). Images that are 1 on one of these sets and 0 elsewhere show it;
// near the border only the pixels on the image count.
struct AnyCentre {
  float xc, yc;
  bool truncated;
};

class DiscGeometry : public ::testing::TestWithParam<AnyCentre> {};

TEST_P(DiscGeometry, HoldsThePixelsWellInsideTheCircleAndNoneWellOutside) {
  const AnyCentre c = GetParam();
  const ApertureRadii radii{};  // 2.5, 9, 12
  const float rs[3] = {radii.star, radii.inner, radii.outer};
  Image ones(64, 56, 1.0f);
  const ApertureSums s = aperture_sums(ones.view(), c.xc, c.yc, radii);
  ASSERT_EQ(s.status, EdgeStatus::ok);
  ASSERT_FALSE(s.retraced);
  EXPECT_EQ(s.truncated, c.truncated);
  for (int k = 0; k < 3; ++k) {
    const double r = rs[k];
    Image near = image_of(64, 56, [&](int x, int y) { return centre_distance(x, y, c.xc, c.yc) <= r - 0.6; });
    Image far = image_of(64, 56, [&](int x, int y) { return centre_distance(x, y, c.xc, c.yc) >= r + 0.6; });
    int near_count = 0, within_count = 0;
    for (int y = 1; y <= 56; ++y)
      for (int x = 1; x <= 64; ++x) {
        near_count += centre_distance(x, y, c.xc, c.yc) <= r - 0.6;
        within_count += centre_distance(x, y, c.xc, c.yc) < r + 0.6;
      }
    EXPECT_EQ(sum_of(aperture_sums(near.view(), c.xc, c.yc, radii), k).flux, static_cast<float>(near_count)) << r;
    EXPECT_EQ(sum_of(aperture_sums(far.view(), c.xc, c.yc, radii), k).flux, 0.0f) << r;
    EXPECT_EQ(sum_of(s, k).flux, static_cast<float>(sum_of(s, k).n)) << r;
    EXPECT_GE(sum_of(s, k).n, near_count) << r;
    EXPECT_LE(sum_of(s, k).n, within_count) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(Centres, DiscGeometry,
                         ::testing::Values(AnyCentre{31.3f, 27.8f, false}, AnyCentre{20.0f, 30.0f, false},
                                           AnyCentre{40.72f, 21.15f, false}, AnyCentre{32.4f, 28.6f, false},
                                           AnyCentre{4.3f, 45.6f, true}, AnyCentre{60.9f, 3.2f, true}));

// A Gaussian star of known flux, integrated over each pixel (pixel x reaching from x to
// x + 1), on a flat sky: with the star aperture 5 sigma wide the star's light beyond it and
// in the annulus is below 1e-4 of the flux, so APPHOT gives the sky as the background and
// the star's flux as the corrected flux.
struct GaussianStar {
  float xc, yc, flux, sigma, sky, exptime;
};

class AnalyticStar : public ::testing::TestWithParam<GaussianStar> {};

TEST_P(AnalyticStar, GivesTheSkyTheFluxAndItsMagnitude) {
  const GaussianStar g = GetParam();
  const auto share = [&](double a, double b, double c) {  // of the flux between a and b along an axis
    return 0.5 * (std::erf((b - c) / (std::sqrt(2.0) * g.sigma)) - std::erf((a - c) / (std::sqrt(2.0) * g.sigma)));
  };
  Image img = image_of(64, 56, [&](int x, int y) { return g.sky + g.flux * share(x, x + 1, g.xc) * share(y, y + 1, g.yc); });
  const Photometry p = APPHOT(img.view(), g.xc, g.yc, ApertureRadii{5.0f * g.sigma, 9.0f, 12.0f}, g.exptime);
  ASSERT_TRUE(p.measured());
  EXPECT_EQ(p.annulus.n, p.sums.outer.n - p.sums.inner.n);
  ASSERT_TRUE(p.avgback.has_value());
  EXPECT_NEAR(*p.avgback, g.sky, 1e-4 * g.sky);
  ASSERT_TRUE(p.corrected.has_value());
  EXPECT_NEAR(*p.corrected, g.flux, 2e-4 * g.flux);
  ASSERT_TRUE(p.magnitude.has_value());
  EXPECT_NEAR(*p.magnitude, -2.5 * std::log10(g.flux / g.exptime), 3e-4);
}

INSTANTIATE_TEST_SUITE_P(Stars, AnalyticStar,
                         ::testing::Values(GaussianStar{31.3f, 27.8f, 50000.0f, 1.2f, 100.0f, 100.0f},
                                           GaussianStar{20.0f, 30.0f, 8000.0f, 1.0f, 1000.0f, 30.0f},
                                           GaussianStar{40.72f, 21.15f, 250000.0f, 1.5f, 10.0f, 1.0f}));

TEST(Magnitude, InstrumentalScale) {
  EXPECT_FLOAT_EQ(*instrumental_magnitude(100.0f), -5.0f);
  EXPECT_FLOAT_EQ(*instrumental_magnitude(1.0f), 0.0f);
  EXPECT_NEAR(*instrumental_magnitude(0.01f), 5.0f, 1e-5f);
  EXPECT_FALSE(instrumental_magnitude(0.0f).has_value());
  EXPECT_FALSE(instrumental_magnitude(-3.0f).has_value());
  EXPECT_FALSE(instrumental_magnitude(std::nanf("")).has_value());
  EXPECT_FALSE(instrumental_magnitude(INFINITY).has_value());
}

struct MagnitudeCase {
  float flux, exptime;
  double want;  // NAN: no magnitude
};

class ApertureMagnitude : public ::testing::TestWithParam<MagnitudeCase> {};

TEST_P(ApertureMagnitude, IsPerSecondOfAPositiveExposureTimeAndInstrumentalOtherwise) {
  const MagnitudeCase c = GetParam();
  const std::optional<float> m = aperture_magnitude(c.flux, c.exptime);
  if (std::isnan(c.want)) {
    EXPECT_FALSE(m.has_value());
  } else {
    ASSERT_TRUE(m.has_value());
    EXPECT_NEAR(*m, c.want, 1e-5 * (1.0 + std::fabs(c.want)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApertureMagnitude,
    ::testing::Values(MagnitudeCase{1000.0f, 100.0f, -2.5}, MagnitudeCase{100.0f, 100.0f, 0.0},
                      MagnitudeCase{52000.0f, 300.0f, -2.5 * std::log10(52000.0 / 300.0)},
                      MagnitudeCase{100.0f, 0.0f, -5.0}, MagnitudeCase{100.0f, -30.0f, -5.0},
                      MagnitudeCase{100.0f, NAN, -5.0}, MagnitudeCase{3e38f, 1e-30f, -2.5 * std::log10(3e68)},
                      MagnitudeCase{0.0f, 100.0f, NAN}, MagnitudeCase{-5.0f, 100.0f, NAN},
                      MagnitudeCase{INFINITY, 100.0f, NAN}));
