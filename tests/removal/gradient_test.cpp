#include "removal/gradient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "removal/edge.h"

namespace zelvo {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A ring with the given background at each point (as a function of the point) and sigma.
template <class Back, class Sigma>
RemovalWork ring_with(float xc, float yc, float r, Back back, Sigma sigma) {
  RemovalWork w;
  EXPECT_EQ(FINDEDGE(w, xc, yc, r), EdgeStatus::ok);
  for (int i = 0; i < w.nRing; ++i) {
    w.TheRing.back[i] = back(w.TheRing.x[i], w.TheRing.y[i], i);
    w.TheRing.sigma[i] = sigma(i);
  }
  return w;
}

// A bare ring of n points (positions do not matter to the sigma clipping).
RemovalWork bare_ring(const std::vector<float>& sigma, float back = 100.0f) {
  RemovalWork w;
  w.nRing = static_cast<int32_t>(sigma.size());
  w.TheRing.x.assign(sigma.size(), 1.0f);
  w.TheRing.y.assign(sigma.size(), 1.0f);
  w.TheRing.back.assign(sigma.size(), back);
  w.TheRing.sigma = sigma;
  w.RingWeight.assign(sigma.size(), 1.0f);
  return w;
}

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(ClipSigma, EqualSigmasRejectNothing) {
  RemovalWork w = bare_ring(std::vector<float>(28, 4.0f), 120.0f);
  std::ostringstream log;
  EXPECT_EQ(CLIPSIGMA(w, log), 28);
  EXPECT_EQ(w.RingWeight, std::vector<float>(28, 1.0f));
  EXPECT_EQ(lines(log.str()), (std::vector<std::string>{
                                  " ClipSigma masked off 0.0 values out of total of 28",
                                  " Background average before ClipSigma: 120.0",
                                  " Background sigma before ClipSigma: 4.0",
                                  " Background average after ClipSigma: 120.0",
                                  " Background sigma after ClipSigma: 4.0",
                              }));
}

TEST(ClipSigma, ASigmaOnABinLimitFallsWithASparseNeighbour) {
  // Range 0 .. 20, bin width 1. Bin 6 holds 5.0 and ten 5.5s; bin 5 is empty, so its
  // inclusive upper limit 5.0 rejects the point at 5.0 although that point was counted in
  // the full bin 6. 0.0 (bin 1 with one point) and 20.0 (never counted) go as well.
  std::vector<float> s(10, 5.5f);
  s.push_back(5.0f);
  s.push_back(0.0f);
  s.push_back(20.0f);
  RemovalWork w = bare_ring(s);
  std::ostringstream log;
  EXPECT_EQ(CLIPSIGMA(w, log), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(w.RingWeight[i], 1.0f);
  EXPECT_EQ(w.RingWeight[10], 0.0f);
  EXPECT_EQ(w.RingWeight[11], 0.0f);
  EXPECT_EQ(w.RingWeight[12], 0.0f);
  EXPECT_EQ(lines(log.str())[0], " ClipSigma masked off 3.0 values out of total of 13");
}

TEST(ClipSigma, PointsRejectedEarlierTakeNoPartAndNoneLeftIsReported) {
  RemovalWork w = bare_ring({3.0f, 3.0f, 0.0f, 3.0f});
  w.RingWeight[2] = 0.0f;  // no background measured there
  w.TheRing.back[2] = 0.0f;
  std::ostringstream log;
  EXPECT_EQ(CLIPSIGMA(w, log), 3);
  EXPECT_EQ(lines(log.str())[1], " Background average before ClipSigma: 100.0");

  RemovalWork none = bare_ring({3.0f, 2.0f});
  none.RingWeight.assign(2, 0.0f);
  std::ostringstream log2;
  EXPECT_EQ(CLIPSIGMA(none, log2), 0);
  const auto l = lines(log2.str());
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[3], " Background after ClipSigma: no ring point left");
  EXPECT_EQ(log2.str().find("NaN"), std::string::npos);
}

TEST(SinFit, RecoversAmplitudeMeanAndTheAzimuthOfTheMinimum) {
  std::vector<float> p, v;
  const double c = 0.7;
  for (int j = 0; j < 72; ++j) {
    const double a = -kPi + (j + 0.5) * 2 * kPi / 72;
    p.push_back(static_cast<float>(a));
    v.push_back(static_cast<float>(40.0 + 6.0 * std::sin(a + c)));
  }
  const SineFit f = SINFIT(p, v);
  EXPECT_NEAR(f.mean, 40.0, 1e-4);
  EXPECT_NEAR(f.amp, 6.0, 1e-4);
  EXPECT_NEAR(f.phi, 1.5 * kPi - c, 1e-4);  // sin(p + c) = -1
  const SineFit flat = SINFIT(p, std::vector<float>(72, 3.0f));
  EXPECT_EQ(flat.amp, 0.0f);
  const SineFit none = SINFIT({}, {});
  EXPECT_EQ(none.mean, 0.0f);
}

TEST(Gradient, ALinearBackgroundRisingTowardsPlusX) {
  const float xc = 50.5f, yc = 50.5f;
  RemovalWork w = ring_with(
      xc, yc, 10.0f, [&](float x, float, int) { return 500.0f + 2.0f * (x - xc); }, [](int) { return 3.0f; });
  std::ostringstream log;
  ASSERT_TRUE(GRADIENT(w, xc, yc, log));
  EXPECT_NE(log.str().find(" Simple (or no) gradient!!!\n"), std::string::npos);
  EXPECT_EQ(log.str().find("Saddle Gradient"), std::string::npos);
  EXPECT_NEAR(w.MinAngle, 1.5 * kPi, 0.1);
  EXPECT_NEAR(w.MaxAngle, 0.5 * kPi, 0.1);
  EXPECT_FLOAT_EQ(w.TheSigma, 3.0f);
  double mean = 0.0;
  for (float b : w.TheRing.back) mean += b;
  mean /= w.nRing;
  EXPECT_NEAR((w.MinBack + w.MaxBack) / 2.0, mean, 1e-3);
  EXPECT_NEAR((w.MaxBack - w.MinBack) / 2.0, 2.0 * 10.0, 1.5);  // slope times radius
}

TEST(Gradient, AFlatRingHasNoAmplitudeAndTakesTheSimpleBranch) {
  RemovalWork w = ring_with(
      50.5f, 50.5f, 5.0f, [](float, float, int) { return 77.0f; },
      [](int i) { return 2.0f + 0.01f * static_cast<float>(i % 3); });
  std::ostringstream log;
  ASSERT_TRUE(GRADIENT(w, 50.5f, 50.5f, log));
  EXPECT_EQ(w.MinBack, 77.0f);
  EXPECT_EQ(w.MaxBack, 77.0f);
  EXPECT_NE(log.str().find(" Simple (or no) gradient!!!\n"), std::string::npos);
  // All smoothed values tie: the last index is both the minimum and the maximum.
  EXPECT_NE(log.str().find(" SaddleTest: min, max, nout = 28 28 28\n"), std::string::npos);
  EXPECT_NE(log.str().find(" amp, phi, meany = 0.0 3.141593 77.0\n"), std::string::npos);
}

TEST(Gradient, RingValuesRisingFallingAndRisingFromTheMinimumAreASaddle) {
  // Alternating values: the smoothed profile alternates 40/3 and 50/3, so from its (last)
  // minimum the four points go low, high, low, high by more than TheSigma.
  RemovalWork w = ring_with(
      50.5f, 50.5f, 5.0f, [](float, float, int i) { return i % 2 == 0 ? 10.0f : 20.0f; }, [](int) { return 1.0f; });
  std::ostringstream log;
  ASSERT_TRUE(GRADIENT(w, 50.5f, 50.5f, log));
  EXPECT_NE(log.str().find(" Saddle Gradient!!!\n"), std::string::npos);
  EXPECT_EQ(log.str().find("amp, phi, meany"), std::string::npos);
  EXPECT_NE(log.str().find(" SaddleTest: min, max, nout = 28 27 28\n"), std::string::npos);
  EXPECT_NEAR(w.MaxAngle - w.MinAngle, kPi / 2, 1e-5);
  EXPECT_LE(std::fabs(w.MaxAngle - w.MinAngle), 3.0f);  // painted as a saddle
  EXPECT_NEAR((w.MinBack + w.MaxBack) / 2.0, 15.0, 1e-4);
}

TEST(Gradient, LogLinesInOrder) {
  RemovalWork w = ring_with(
      50.0f, 50.0f, 10.0f, [](float x, float, int) { return 200.0f + (x - 50.0f); }, [](int) { return 2.5f; });
  std::ostringstream log;
  ASSERT_TRUE(GRADIENT(w, 50.0f, 50.0f, log));
  const auto l = lines(log.str());
  ASSERT_EQ(l.size(), 12u);
  EXPECT_EQ(l[0].rfind(" phase = 0.0 ", 0), 0u);  // the start point lies straight above
  EXPECT_EQ(l[1], " ClipSigma masked off 0.0 values out of total of 56");
  EXPECT_EQ(l[6].rfind(" SaddleTest: min, max, nout = ", 0), 0u);
  EXPECT_EQ(l[7], " Simple (or no) gradient!!!");
  EXPECT_EQ(l[8].rfind(" amp, phi, meany = ", 0), 0u);
  EXPECT_EQ(l[9], " TheSigma = 2.5");
  EXPECT_EQ(l[10].rfind(" MinAngle = ", 0), 0u);
  EXPECT_NE(l[10].find(" MaxAngle = "), std::string::npos);
  EXPECT_EQ(l[11].rfind(" MinBack = ", 0), 0u);
  EXPECT_NE(l[11].find(" MaxBack = "), std::string::npos);
  // 56 azimuths follow "phase = ".
  std::istringstream ph(l[0].substr(std::string(" phase = ").size()));
  int n = 0;
  for (float v; ph >> v;) ++n;
  EXPECT_EQ(n, 56);
}

TEST(Gradient, NoAcceptedPointLeavesTheModelAlone) {
  RemovalWork w = ring_with(
      50.5f, 50.5f, 5.0f, [](float, float, int) { return 10.0f; }, [](int) { return 1.0f; });
  w.RingWeight.assign(w.RingWeight.size(), 0.0f);
  w.MinBack = -5.0f;
  w.TheSigma = 9.0f;
  std::ostringstream log;
  EXPECT_FALSE(GRADIENT(w, 50.5f, 50.5f, log));
  EXPECT_EQ(w.MinBack, -5.0f);
  EXPECT_EQ(w.TheSigma, 9.0f);
  EXPECT_EQ(log.str().find("NaN"), std::string::npos);
}

// The surface fitted to the pixels of an annulus (radii 11 to 17 around (50.3, 49.6)) of a
// known sky with Gaussian noise, optionally with a bright star in the annulus: the order
// chosen, the level at the centre and the noise spread measured about the surface.
struct SurfaceCase {
  const char* name;
  std::function<double(double, double)> sky;  // of the offsets from the centre
  double noise;
  bool star;   // a 3000-count Gaussian star at 14 pixels from the centre
  int order;   // the order the fit must choose
  double tol;  // on the level at the centre, in units of the noise (about 3 standard errors)
};

class FitSurface : public ::testing::TestWithParam<SurfaceCase> {};

TEST_P(FitSurface, ChoosesTheOrderTheSkyNeedsAndIgnoresTheStar) {
  const SurfaceCase& c = GetParam();
  const double xc = 50.3, yc = 49.6;
  std::mt19937 gen(11);
  std::normal_distribution<double> gauss(0.0, c.noise > 0 ? c.noise : 1.0);
  std::vector<float> x, y, v;
  for (int j = 30; j <= 70; ++j)
    for (int i = 30; i <= 70; ++i) {
      const double d = std::hypot(i - xc, j - yc);
      if (d <= 11.0 || d > 17.0) continue;
      double z = c.sky(i - xc, j - yc) + (c.noise > 0 ? gauss(gen) : 0.0);
      if (c.star) z += 3000.0 * std::exp(-(std::pow(i - xc - 14.0, 2) + std::pow(j - yc, 2)) / 4.5);
      x.push_back(static_cast<float>(i));
      y.push_back(static_cast<float>(j));
      v.push_back(static_cast<float>(z));
    }
  const BackgroundSurface b = fit_surface(x, y, v, xc, yc, 17.0, 2);
  EXPECT_EQ(b.order, c.order);
  EXPECT_EQ(b.samples, static_cast<int>(v.size()));
  const double tol = c.noise > 0 ? c.tol * c.noise : 1e-3;
  EXPECT_NEAR(b.at(xc, yc), c.sky(0.0, 0.0), tol);
  EXPECT_NEAR(b.at(xc + 9.0, yc - 5.0), c.sky(9.0, -5.0), tol);
  EXPECT_NEAR(b.spread, c.noise, c.noise > 0 ? 0.1 * c.noise : 1e-3);
  if (c.star) {
    EXPECT_LT(b.kept, b.samples - 5);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Skies, FitSurface,
    ::testing::Values(
        SurfaceCase{"flat", [](double, double) { return 500.0; }, 0.0, false, 0, 0.0},
        SurfaceCase{"plane", [](double u, double v) { return 2000.0 + 6.0 * u - 8.0 * v; }, 8.0, false, 1, 0.15},
        SurfaceCase{"plane_and_star", [](double, double v) { return 1000.0 - 10.0 * v; }, 8.0, true, 1, 0.15},
        SurfaceCase{"curved",
                    [](double u, double v) { return 1500.0 + 5.0 * u + 0.3 * u * u - 0.4 * u * v + 0.5 * v * v; }, 8.0,
                    false, 2, 0.6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FitSurface, TooFewSamplesFitNothing) {
  const std::vector<float> x{1.0f, 2.0f}, y{1.0f, 1.0f}, v{5.0f, 6.0f};
  EXPECT_FALSE(fit_surface(x, y, v, 0.0, 0.0, 1.0, 2).fitted());
  EXPECT_FALSE(fit_surface({}, {}, {}, 0.0, 0.0, 1.0, 2).fitted());
}

}  // namespace
}  // namespace zelvo
