// Elliptical isophotes and the model built from them, against galaxies of known geometry:
// exact ellipses, a twisting bulge-to-disc galaxy, a star on the disc, fixed geometry, and
// the inputs the fit refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "galaxy/isophote_fit.h"
#include "galaxy/isophote_model.h"
#include "support/twisted_galaxy.h"

using namespace zelvo;
using namespace zelvo::test_images;

namespace {

constexpr double kDeg = 180.0 / 3.141592653589793;

// An exponential galaxy of one fixed geometry on sky 1000 with Gaussian noise.
struct Ellipse {
  double x0, y0, eps, pa_deg;
  double light(double x, double y) const {
    const double pa = pa_deg / kDeg, dx = x - x0, dy = y - y0;
    const double u = dx * std::cos(pa) + dy * std::sin(pa), v = (-dx * std::sin(pa) + dy * std::cos(pa)) / (1 - eps);
    return 3000.0 * std::exp(-std::sqrt(u * u + v * v) / 20.0);
  }
};

Image ellipse_frame(const Ellipse& e, int n, double noise, unsigned seed) {
  Image im(n, n);
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, noise);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) im.at(x, y) = static_cast<float>(1000.0 + e.light(x, y) + g(rng));
  return im;
}

struct ShapeCase {
  std::string name;
  double eps, pa_deg;
};

class ExactEllipse : public ::testing::TestWithParam<ShapeCase> {};

// The fit returns the shape it was given (from a start 2 pixels and 0.15 in ellipticity
// away), the intensity of the ellipse, and a residual that is the noise alone.
TEST_P(ExactEllipse, FitReturnsItsShapeAndTheResidualIsNoise) {
  const ShapeCase& c = GetParam();
  const Ellipse truth{128.3, 127.6, c.eps, c.pa_deg};
  const Image im = ellipse_frame(truth, 256, 5.0, 7);
  IsophoteRequest req;
  req.start = EllipseShape{126.5, 128.5, std::fabs(c.eps - 0.15), (c.pa_deg + 15.0) / kDeg};
  req.maxsma = 90.0;
  const IsophoteModel m = model_galaxy(im.view(), req);
  ASSERT_EQ(m.fit.status, IsophoteFitStatus::ok);
  int checked = 0;
  for (const Isophote& i : m.fit.isophotes) {
    // Inside a minor axis of 4 pixels the isophote is sampled between too few pixels.
    if (i.sma * (1.0 - c.eps) < 4.0 || i.sma > 80.0) continue;
    ++checked;
    EXPECT_EQ(i.stop, IsophoteStop::converged) << i.sma;
    EXPECT_NEAR(i.shape.eps, c.eps, 0.012) << i.sma;
    if (c.eps >= 0.2) {
      EXPECT_NEAR(pa_off(i.shape.pa, c.pa_deg), 0.0, 1.0) << i.sma;
    }
    EXPECT_NEAR(i.shape.x0, truth.x0, 0.15) << i.sma;
    EXPECT_NEAR(i.shape.y0, truth.y0, 0.15) << i.sma;
    // On the isophote's own major axis, the truth's light at that semi-major axis.
    const double expected = 1000.0 + 3000.0 * std::exp(-i.sma / 20.0);
    EXPECT_NEAR(i.intens, expected, 0.003 * expected) << i.sma;
    EXPECT_GT(i.intens_err, 0.0);
    EXPECT_LT(std::fabs(i.a4), 0.02) << i.sma;  // a pure ellipse has no boxiness
  }
  EXPECT_GE(checked, 20);
  // The residual between sma 5 and 70, less the sky the model leaves in it: mean 0, spread
  // the noise.
  const Image r = residual_image(im.view(), m.model.view());
  double sum = 0.0, sum2 = 0.0;
  int n = 0;
  for (int y = 1; y <= 256; ++y)
    for (int x = 1; x <= 256; ++x) {
      const double a = 20.0 * std::log(3000.0 / std::max(truth.light(x, y), 1e-9));
      if (a < 5.0 || a > 70.0) continue;
      const double d = r.at(x, y) - m.sky.level;
      sum += d;
      sum2 += d * d;
      ++n;
    }
  const double mean = sum / n, rms = std::sqrt(sum2 / n - mean * mean);
  EXPECT_NEAR(mean, 0.0, 0.3);
  EXPECT_NEAR(rms / 5.0, 1.0, 0.06);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ExactEllipse,
                         ::testing::Values(ShapeCase{"Round", 0.0, 0.0}, ShapeCase{"Mild", 0.25, 30.0},
                                           ShapeCase{"Flat", 0.6, 135.0}, ShapeCase{"Upright", 0.45, 90.0}),
                         [](const auto& info) { return info.param.name; });

// A bulge turning into a disc twists by 40 degrees and flattens from 0.1 to 0.5; the fit
// follows both, and the model leaves only the noise.
TEST(TwistingGalaxy, EllipticityAngleAndIntensityFollowTheTruth) {
  const TwistedGalaxy g = small_twisted_galaxy();
  const Image im = twisted_galaxy_frame(g, 256, 256, 5.0, 3);
  IsophoteRequest req;
  req.start = EllipseShape{128.0, 128.0, 0.2, 0.5};
  req.maxsma = 110.0;
  const IsophoteModel m = model_galaxy(im.view(), req);
  ASSERT_EQ(m.fit.status, IsophoteFitStatus::ok);
  EXPECT_GE(m.fit.largest_converged, 100.0);
  for (const Isophote& i : m.fit.isophotes) {
    if (i.sma < 4.0 || i.sma > 100.0) continue;
    EXPECT_EQ(i.stop, IsophoteStop::converged) << i.sma;
    EXPECT_NEAR(i.shape.eps, g.eps(i.sma), 0.02) << i.sma;
    if (g.eps(i.sma) > 0.15) {
      EXPECT_NEAR(pa_off(i.shape.pa, g.pa_deg(i.sma)), 0.0, 2.0) << i.sma;
    }
    EXPECT_NEAR(i.intens, g.intens(i.sma), std::max(0.01 * g.light(i.sma), 5.0 * i.intens_err)) << i.sma;
  }
  const Image r = residual_image(im.view(), m.model.view());
  double sum2 = 0.0;
  int n = 0;
  for (int y = 1; y <= 256; ++y)
    for (int x = 1; x <= 256; ++x) {
      const double a = g.sma_at(x, y);
      if (a < 8.0 || a > 90.0) continue;
      const double d = r.at(x, y) - m.sky.level;  // the model leaves the sky it measured
      sum2 += d * d;
      ++n;
    }
  EXPECT_LT(std::sqrt(sum2 / n) / 5.0, 1.1);
}

// A bright star on the disc, masked, neither pulls the isophote through it nor is taken into
// the model: its flux comes back whole from the residual.
TEST(MaskedStar, LeavesTheIsophotesAndComesBackWholeFromTheResidual) {
  const Ellipse truth{128.3, 127.6, 0.4, 30.0};
  Image im = ellipse_frame(truth, 256, 5.0, 11);
  const GaussStar star{128.3 + 30.0 * std::cos(30.0 / kDeg), 127.6 + 30.0 * std::sin(30.0 / kDeg), 40000.0, 1.5};
  const double norm = star.flux / (2.0 * 3.141592653589793 * star.sigma * star.sigma);
  for (int y = 1; y <= 256; ++y)
    for (int x = 1; x <= 256; ++x)
      im.at(x, y) += static_cast<float>(norm * std::exp(-((x - star.x) * (x - star.x) + (y - star.y) * (y - star.y)) /
                                                        (2 * star.sigma * star.sigma)));
  std::vector<uint8_t> mask(256 * 256, 0);
  mask_circle(mask, 256, 256, star.x, star.y, 8.0);
  IsophoteRequest req;
  req.start = EllipseShape{128.0, 128.0, 0.3, 0.6};
  req.maxsma = 90.0;
  req.mask = mask;
  const IsophoteModel m = model_galaxy(im.view(), req);
  ASSERT_EQ(m.fit.status, IsophoteFitStatus::ok);
  for (const Isophote& i : m.fit.isophotes) {
    if (i.sma < 20.0 || i.sma > 45.0) continue;
    const double expected = 1000.0 + 3000.0 * std::exp(-i.sma / 20.0);
    EXPECT_NEAR(i.intens, expected, 0.003 * expected) << i.sma;
    EXPECT_NEAR(i.shape.eps, 0.4, 0.012) << i.sma;
    if (std::fabs(i.sma - 30.0) < 5.0) {
      EXPECT_GT(i.nflag, 0) << i.sma;  // the masked samples are counted
    }
  }
  const Image r = residual_image(im.view(), m.model.view());
  double flux = 0.0;
  for (int y = 1; y <= 256; ++y)
    for (int x = 1; x <= 256; ++x)
      if (std::hypot(x - star.x, y - star.y) <= 8.0) flux += r.at(x, y) - m.sky.level;
  EXPECT_NEAR(flux, star.flux, 0.02 * star.flux);
}

struct FixedCase {
  std::string name;
  FixedGeometry fix;
};

class FixedGeometryFit : public ::testing::TestWithParam<FixedCase> {};

// What is fixed stays exactly as given, on every isophote; the rest is fitted.
TEST_P(FixedGeometryFit, KeepsWhatIsFixedAndFitsTheRest) {
  const Ellipse truth{128.3, 127.6, 0.4, 30.0};
  const Image im = ellipse_frame(truth, 256, 5.0, 5);
  IsophoteRequest req;
  req.start = EllipseShape{128.0, 128.0, 0.25, 50.0 / kDeg};
  req.maxsma = 80.0;
  req.fix = GetParam().fix;
  const IsophoteFit f = fit_isophotes(im.view(), req);
  ASSERT_EQ(f.status, IsophoteFitStatus::ok);
  for (const Isophote& i : f.isophotes) {
    if (i.sma < 5.0) continue;
    if (req.fix == FixedGeometry::shape) {
      EXPECT_EQ(i.shape.eps, 0.25);
      EXPECT_DOUBLE_EQ(i.shape.pa, 50.0 / kDeg);
      EXPECT_NEAR(i.shape.x0, truth.x0, 0.3) << i.sma;
    } else {
      EXPECT_EQ(i.shape.x0, 128.0);
      EXPECT_EQ(i.shape.y0, 128.0);
      EXPECT_NEAR(i.shape.eps, 0.4, 0.03) << i.sma;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixed, FixedGeometryFit,
                         ::testing::Values(FixedCase{"Shape", FixedGeometry::shape},
                                           FixedCase{"Centre", FixedGeometry::centre}),
                         [](const auto& info) { return info.param.name; });

struct BadCase {
  std::string name;
  double x0, eps, sma0;
  bool blank;
  IsophoteFitStatus status;
  std::string problem;
};

class RefusedRequest : public ::testing::TestWithParam<BadCase> {};

TEST_P(RefusedRequest, IsOneLineAndNoIsophotes) {
  const BadCase& c = GetParam();
  Image im = ellipse_frame(Ellipse{32.0, 32.0, 0.2, 0.0}, 64, 1.0, 1);
  if (c.blank) std::fill(im.px.begin(), im.px.end(), std::numeric_limits<float>::quiet_NaN());
  IsophoteRequest req;
  req.start = EllipseShape{c.x0, 32.0, c.eps, 0.0};
  req.sma0 = c.sma0;
  req.maxsma = 25.0;
  const IsophoteFit f = fit_isophotes(im.view(), req);
  EXPECT_EQ(f.status, c.status);
  EXPECT_EQ(f.problem, c.problem);
  EXPECT_TRUE(f.isophotes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedRequest,
    ::testing::Values(BadCase{"CentreOff", 70.0, 0.2, 5.0, false, IsophoteFitStatus::centre_outside,
                              "the centre lies outside the frame"},
                      BadCase{"NoFinitePixels", 32.0, 0.2, 5.0, true, IsophoteFitStatus::no_pixels,
                              "the frame has no defined pixels"},
                      BadCase{"EllipticityOne", 32.0, 1.0, 5.0, false, IsophoteFitStatus::bad_shape,
                              "the ellipticity must be at least 0 and below 1"},
                      BadCase{"FirstBeyondLargest", 32.0, 0.2, 30.0, false, IsophoteFitStatus::bad_axes,
                              "the semi-major axes must be 0 < sma0 <= maxsma, with a step above 0"}),
    [](const auto& info) { return info.param.name; });

// The model of concentric circles whose intensity falls linearly: each pixel takes the
// intensity of the circle through it, less the sky, and nothing beyond the last circle.
TEST(IsophoteModelImage, EachPixelTakesTheIsophoteThroughIt) {
  std::vector<Isophote> table;
  for (double a : {0.0, 5.0, 10.0, 20.0, 40.0}) {
    Isophote i;
    i.sma = a;
    i.intens = 1000.0 - 10.0 * a;
    i.shape = EllipseShape{50.0, 50.0, 0.0, 0.0};
    table.push_back(i);
  }
  const Image m = build_isophote_model(table, 100, 100, 500.0);
  EXPECT_FLOAT_EQ(m.at(50, 50), 500.0f);
  EXPECT_FLOAT_EQ(m.at(65, 50), 350.0f);                 // r = 15
  EXPECT_FLOAT_EQ(m.at(50, 80), 200.0f);                 // r = 30
  EXPECT_NEAR(m.at(62, 59), 500.0 - 10.0 * 15.0, 1e-3);  // r = 15 on a diagonal
  EXPECT_FLOAT_EQ(m.at(50, 91), 0.0f);                   // beyond r = 40
}

}  // namespace
