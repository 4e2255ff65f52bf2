// Aperture photometry of one star against independent truth: circle/pixel areas integrated
// numerically in the test, aperture sums of random images, noiseless and noisy Gaussian
// stars (the CCD equation against the scatter of many noisy measurements), a sky that a star
// in the annulus does not lift, and magnitudes.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "photometry/apphot.h"
#include "photometry/exact_overlap.h"

using namespace zelvo;

namespace {

// The area of the circle of radius r about (xc, yc) inside [x0, x1] x [y0, y1], integrated
// numerically: the chord length at each of n abscissae (midpoint rule).
double integrated_area(double xc, double yc, double r, double x0, double x1, double y0, double y1, int n = 4000) {
  double a = 0.0;
  const double h = (x1 - x0) / n;
  for (int k = 0; k < n; ++k) {
    const double u = x0 + (k + 0.5) * h - xc;
    if (std::fabs(u) >= r) continue;
    const double s = std::sqrt(r * r - u * u);
    a += std::max(0.0, std::min(y1 - yc, s) - std::max(y0 - yc, -s)) * h;
  }
  return a;
}

// A Gaussian star of total flux `flux` integrated over each pixel (pixel i reaching from
// i - 0.5 to i + 0.5) on a flat sky.
Image gaussian_star(int nx, int ny, double xc, double yc, double flux, double sigma, double sky) {
  const auto share = [&](double a, double b, double c) {
    return 0.5 * (std::erf((b - c) / (std::sqrt(2.0) * sigma)) - std::erf((a - c) / (std::sqrt(2.0) * sigma)));
  };
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x)
      img.at(x, y) = static_cast<float>(sky + flux * share(x - 0.5, x + 0.5, xc) * share(y - 0.5, y + 0.5, yc));
  return img;
}

struct Circle {
  double xc, yc, r;
};

}  // namespace

class ExactOverlap : public ::testing::TestWithParam<Circle> {};

// Every pixel's share agrees with the numerical integral, and the shares add up to pi r^2.
TEST_P(ExactOverlap, PixelSharesAreTheIntegratedAreasAndSumToTheCircle) {
  const Circle c = GetParam();
  double total = 0.0;
  for (int j = static_cast<int>(c.yc - c.r) - 2; j <= static_cast<int>(c.yc + c.r) + 2; ++j)
    for (int i = static_cast<int>(c.xc - c.r) - 2; i <= static_cast<int>(c.xc + c.r) + 2; ++i) {
      const double w = pixel_fraction_in_circle(c.xc, c.yc, c.r, i, j);
      EXPECT_NEAR(w, integrated_area(c.xc, c.yc, c.r, i - 0.5, i + 0.5, j - 0.5, j + 0.5), 5e-6) << i << " " << j;
      total += w;
    }
  EXPECT_NEAR(total, M_PI * c.r * c.r, 1e-9 * c.r * c.r);
}

INSTANTIATE_TEST_SUITE_P(Circles, ExactOverlap,
                         ::testing::Values(Circle{50.0, 50.0, 2.0}, Circle{50.0, 50.0, 0.3}, Circle{31.3, 27.8, 2.5},
                                           Circle{20.5, 30.5, 5.0}, Circle{40.72, 21.15, 9.0},
                                           Circle{12.01, 12.99, 12.0}));

// The aperture sums of a random image are the pixel values weighted by the integrated
// areas; about (50, 50) a radius-2 aperture is the circle's area, not the 16 pixels about
// (49.5, 49.5); at the border only the inside counts.
TEST(ApertureSums, AreTheValuesWeightedByTheIntegratedAreas) {
  Image img(64, 56);
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(0.0f, 100.0f);
  for (float& v : img.px) v = u(gen);
  for (const auto& [xc, yc] : {std::pair{31.3, 27.8}, std::pair{20.0, 30.0}, std::pair{4.3, 45.6}}) {
    const ApertureRadii radii{2.5f, 9.0f, 12.0f};
    const ApertureSums s = aperture_sums(img.view(), static_cast<float>(xc), static_cast<float>(yc), radii);
    EXPECT_EQ(s.truncated, xc < 13.0);
    const float rs[3] = {radii.star, radii.inner, radii.outer};
    const ApertureSum* got[3] = {&s.star, &s.inner, &s.outer};
    for (int k = 0; k < 3; ++k) {
      double area = 0.0, flux = 0.0;
      for (int y = 1; y <= img.ny; ++y)
        for (int x = 1; x <= img.nx; ++x) {
          const double w = integrated_area(xc, yc, rs[k], x - 0.5, x + 0.5, y - 0.5, y + 0.5, 400);
          area += w;
          flux += w * img.at(x, y);
        }
      EXPECT_NEAR(got[k]->area, area, 1e-4 * area) << xc << " " << k;
      EXPECT_NEAR(got[k]->flux, flux, 1e-4 * flux) << xc << " " << k;
    }
  }
  Image ones(100, 100, 1.0f);
  EXPECT_NEAR(aperture_sums(ones.view(), 50.0f, 50.0f, ApertureRadii{2.0f, 5.0f, 6.0f}).star.area, 4.0 * M_PI, 1e-9);
  EXPECT_NEAR(aperture_sums(ones.view(), 50.0f, 50.0f, ApertureRadii{5.0f, 6.0f, 7.0f}).star.area, 25.0 * M_PI, 1e-9);
}

// A noiseless star on a flat sky: the corrected flux is the exact-overlap sum of the star
// alone about the centre (within 0.3 %, here far better), the sky the flat level, and the
// magnitude that of the flux per second.
struct NoiselessStar {
  double xc, yc, flux, sigma, sky, r;
  float exptime;
};

class Noiseless : public ::testing::TestWithParam<NoiselessStar> {};

TEST_P(Noiseless, CorrectedFluxIsTheExactSumOfTheStar) {
  const NoiselessStar g = GetParam();
  const Image img = gaussian_star(64, 56, g.xc, g.yc, g.flux, g.sigma, g.sky);
  const Image alone = gaussian_star(64, 56, g.xc, g.yc, g.flux, g.sigma, 0.0);
  double truth = 0.0;
  for (int y = 1; y <= 56; ++y)
    for (int x = 1; x <= 64; ++x)
      truth += alone.at(x, y) * integrated_area(g.xc, g.yc, g.r, x - 0.5, x + 0.5, y - 0.5, y + 0.5, 400);
  const ApertureRadii radii{static_cast<float>(g.r), 9.0f, 12.0f};
  const Photometry p = APPHOT(img.view(), static_cast<float>(g.xc), static_cast<float>(g.yc), radii, g.exptime);
  ASSERT_TRUE(p.corrected && p.sky.sky && p.magnitude);
  EXPECT_NEAR(*p.corrected, truth, 3e-3 * truth);
  EXPECT_NEAR(*p.corrected, truth, 1e-4 * truth + 1e-5 * g.sky * M_PI * g.r * g.r);
  EXPECT_NEAR(*p.sky.sky, g.sky, 1e-4 * g.sky);
  EXPECT_NEAR(p.sums.star.area, M_PI * g.r * g.r, 1e-9);
  EXPECT_NEAR(p.annulus.area, M_PI * (144.0 - 81.0), 1e-8);
  EXPECT_NEAR(*p.magnitude, -2.5 * std::log10(*p.corrected / (g.exptime > 0 ? g.exptime : 1.0f)), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Stars, Noiseless,
                         ::testing::Values(NoiselessStar{31.3, 27.8, 50000.0, 1.2, 100.0, 3.0, 100.0f},
                                           NoiselessStar{20.0, 30.0, 8000.0, 1.0, 1000.0, 4.0, 30.0f},
                                           NoiselessStar{40.72, 21.15, 250000.0, 1.5, 10.0, 6.0, 0.0f},
                                           NoiselessStar{32.5, 28.5, 20000.0, 1.3, 500.0, 2.5, 1.0f}));

// The CCD equation against the scatter of the flux over many images with Poisson photons
// (gain g electrons per count) and a noisy sky: the median reported error is the measured
// spread within 10 %, and the magnitude error is 1.0857 times the relative error.
TEST(Uncertainty, TheCcdEquationMatchesTheScatterOfNoisyMeasurements) {
  for (const double gain : {0.5, 4.0}) {
    std::mt19937 gen(17);
    std::normal_distribution<double> read(0.0, 6.0);
    const Image mean_star = gaussian_star(41, 41, 20.3, 20.6, 20000.0, 1.4, 200.0);
    std::vector<double> fluxes, errors;
    for (int run = 0; run < 300; ++run) {
      Image img(41, 41);
      for (std::size_t k = 0; k < img.px.size(); ++k) {
        std::poisson_distribution<long> photons(mean_star.px[k] * gain);
        img.px[k] = static_cast<float>(static_cast<double>(photons(gen)) / gain + read(gen));
      }
      const Photometry p = APPHOT(img.view(), 20.3f, 20.6f, ApertureRadii{4.0f, 9.0f, 14.0f}, 0.0f, gain);
      ASSERT_TRUE(p.corrected && p.flux_err && p.mag_err);
      EXPECT_NEAR(*p.mag_err, 1.0857 * *p.flux_err / *p.corrected, 1e-12);
      fluxes.push_back(*p.corrected);
      errors.push_back(*p.flux_err);
    }
    double m = 0.0, ss = 0.0;
    for (double f : fluxes) m += f;
    m /= fluxes.size();
    for (double f : fluxes) ss += (f - m) * (f - m);
    const double spread = std::sqrt(ss / (fluxes.size() - 1));
    std::nth_element(errors.begin(), errors.begin() + 150, errors.end());
    EXPECT_NEAR(errors[150], spread, 0.1 * spread) << gain;
    EXPECT_NEAR(m, 20000.0 * 0.983, 0.02 * 20000.0) << gain;  // a 4-pixel aperture holds 98.3 %
  }
  EXPECT_FALSE(flux_error(100.0, 0.0, 10.0, 1.0, 10).has_value());
  EXPECT_FALSE(flux_error(100.0, 1.0, 10.0, 1.0, 0).has_value());
}

// A bright star in the annulus does not lift the sky: the clipped mean of the annulus pixels
// stays at the true sky, where the plain annulus mean is far above it.
TEST(AnnulusSky, AStarInTheAnnulusIsClipped) {
  Image img(60, 60);
  std::mt19937 gen(23);
  std::normal_distribution<float> noise(0.0f, 5.0f);
  for (float& v : img.px) v = 100.0f + noise(gen);
  const Image intruder = gaussian_star(60, 60, 40.5, 30.0, 60000.0, 1.5, 0.0);
  for (std::size_t k = 0; k < img.px.size(); ++k) img.px[k] += intruder.px[k];
  const ApertureRadii radii{3.0f, 8.0f, 13.0f};
  const Photometry p = APPHOT(img.view(), 30.0f, 30.0f, radii);
  ASSERT_TRUE(p.sky.sky.has_value());
  EXPECT_NEAR(*p.sky.sky, 100.0, 0.6);
  EXPECT_NEAR(p.sky.sigma, 5.0, 0.5);
  EXPECT_GT(p.sky.rejected, 5);
  EXPECT_GT(p.annulus.flux / p.annulus.area, 140.0);
  // The kept pixels are those whose centres lie in the annulus, less the rejected ones.
  int inside = 0;
  for (int y = 1; y <= 60; ++y)
    for (int x = 1; x <= 60; ++x) {
      const double d2 = (x - 30.0) * (x - 30.0) + (y - 30.0) * (y - 30.0);
      inside += d2 >= 64.0 && d2 < 169.0;
    }
  EXPECT_EQ(p.sky.n + p.sky.rejected, inside);
  // So too about centres off the grid and across the border, and on a radius that meets pixel
  // centres (5 = |(3, 4)|).
  for (const auto& [xc, yc, ri, ro] : {std::tuple{30.37f, 29.81f, 8.0f, 13.0f}, std::tuple{2.5f, 57.25f, 7.3f, 12.6f},
                                       std::tuple{-4.1f, 30.0f, 5.0f, 9.5f}, std::tuple{20.0f, 20.0f, 5.0f, 7.0f}}) {
    const SkyLevel s = annulus_sky(img.view(), xc, yc, ApertureRadii{1.0f, ri, ro});
    int n = 0;
    for (int y = 1; y <= 60; ++y)
      for (int x = 1; x <= 60; ++x) {
        const double d2 = (x - static_cast<double>(xc)) * (x - static_cast<double>(xc)) +
                          (y - static_cast<double>(yc)) * (y - static_cast<double>(yc));
        n += d2 >= static_cast<double>(ri) * ri && d2 < static_cast<double>(ro) * ro;
      }
    EXPECT_EQ(s.n + s.rejected, n) << xc << " " << yc;
  }
}

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

INSTANTIATE_TEST_SUITE_P(Cases, ApertureMagnitude,
                         ::testing::Values(MagnitudeCase{1000.0f, 100.0f, -2.5}, MagnitudeCase{100.0f, 100.0f, 0.0},
                                           MagnitudeCase{52000.0f, 300.0f, -2.5 * std::log10(52000.0 / 300.0)},
                                           MagnitudeCase{100.0f, 0.0f, -5.0}, MagnitudeCase{100.0f, -30.0f, -5.0},
                                           MagnitudeCase{100.0f, NAN, -5.0},
                                           MagnitudeCase{3e38f, 1e-30f, -2.5 * std::log10(3e68)},
                                           MagnitudeCase{0.0f, 100.0f, NAN}, MagnitudeCase{-5.0f, 100.0f, NAN},
                                           MagnitudeCase{INFINITY, 100.0f, NAN}));

TEST(Radii, AreAcceptedOnlyFromAboveZeroInStrictlyIncreasingOrder) {
  EXPECT_TRUE((ApertureRadii{2.5f, 9.0f, 12.0f}.valid()));
  for (const ApertureRadii r : {ApertureRadii{0.0f, 9.0f, 12.0f}, ApertureRadii{-1.0f, 9.0f, 12.0f},
                                ApertureRadii{3.0f, 3.0f, 10.0f}, ApertureRadii{NAN, 9.0f, 12.0f}})
    EXPECT_FALSE(r.valid()) << r.star;
}
