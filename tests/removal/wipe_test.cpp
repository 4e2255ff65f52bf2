#include "removal/wipe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "numeric/random.h"
#include "removal/edge.h"
#include "removal/ring_values.h"
#include "removal/removal_harness.h"

namespace zelvo {
namespace {

constexpr double kPi = 3.14159265358979323846;

// WIPEOUT writes its per-pixel lines to the stream it is given.
struct Harness : testing::RemovalHarness {
  std::ostringstream log;
};

// An image with its disc masked at (xc, yc), radius r, and a background model set by hand.
struct Disc {
  Image img;
  RemovalWork w;
  float xc, yc, r;
  Disc(int nx, int ny, float xc_, float yc_, float r_, float fill) : img(nx, ny, fill), xc(xc_), yc(yc_), r(r_) {
    w.prepare(nx, ny);
    EXPECT_EQ(FINDEDGE(w, xc, yc, r), EdgeStatus::ok);
    MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  }
  std::vector<std::pair<int, int>> disc_pixels_x_outer() const {
    std::vector<std::pair<int, int>> p;
    for (int x = 1; x <= img.nx; ++x)
      for (int y = 1; y <= img.ny; ++y)
        if (w.TheMask.at(x, y) == 1.0f) p.emplace_back(x, y);
    return p;
  }
  void model(float min_back, float max_back, float min_angle, float max_angle, float sigma) {
    w.MinBack = min_back;
    w.MaxBack = max_back;
    w.MinAngle = min_angle;
    w.MaxAngle = max_angle;
    w.TheSigma = sigma;
  }
};

// Distance from the centre (pixel centres at i + 0.5) and azimuth from MinAngle (pixel
// indices), as the painting defines them.
double dista(int x, int y, double xc, double yc) { return std::hypot(x + 0.5 - xc, y + 0.5 - yc); }
double fii(int x, int y, double xc, double yc, double min_angle) {
  double f = std::atan2(x - xc, y - yc) - min_angle;
  if (f <= 0) f += 2 * kPi;
  return f;
}

TEST(WipeOut, WithoutNoiseAPlaneIsPaintedFromMinBackToMaxBack) {
  Disc d(80, 80, 40.5f, 40.5f, 10.0f, 1.0f);
  const auto pixels = d.disc_pixels_x_outer();
  d.model(100.0f, 140.0f, static_cast<float>(1.5 * kPi), static_cast<float>(0.5 * kPi), 0.0f);
  Harness h;
  EXPECT_EQ(WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log), " Maxangle, minangle = 1.570796 4.712389");
  // The centre pixel sits exactly on the centre: the mean of the two levels.
  EXPECT_FLOAT_EQ(d.img.at(40, 40), 120.0f);
  for (auto [x, y] : pixels) {
    // A plane: MinBack at the rim towards MinAngle (-x here), MaxBack at the opposite rim.
    const double want = 100.0 + 40.0 * (1.0 - dista(x, y, 40.5, 40.5) / 10.0 * std::cos(fii(x, y, 40.5, 40.5, 1.5 * kPi))) / 2.0;
    EXPECT_NEAR(d.img.at(x, y), want, 1e-4 * want) << x << "," << y;
  }
  EXPECT_LT(d.img.at(32, 40), d.img.at(48, 40));
  EXPECT_EQ(h.log.str(), "");  // extended logs off
  EXPECT_EQ(d.img.at(5, 5), 1.0f);
}

TEST(WipeOut, WithoutNoiseASaddleIsHighAcrossAndLowAlongMinAngle) {
  Disc d(80, 80, 40.5f, 40.5f, 12.0f, 1.0f);
  const auto pixels = d.disc_pixels_x_outer();
  const double min_angle = 0.3;
  d.model(50.0f, 90.0f, static_cast<float>(min_angle), static_cast<float>(min_angle + kPi / 2), 0.0f);
  Harness h;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  for (auto [x, y] : pixels) {
    const double want =
        50.0 + 40.0 * (1.0 - dista(x, y, 40.5, 40.5) / 12.0 * std::fabs(std::cos(fii(x, y, 40.5, 40.5, min_angle))));
    EXPECT_NEAR(d.img.at(x, y), want, 2e-4 * want) << x << "," << y;
  }
}

TEST(WipeOut, NoiseIsUniformWithTheSpreadOfTheSigmaAndDrawnXOuterYInner) {
  Disc d(80, 80, 40.0f, 40.0f, 15.0f, 1.0f);
  const auto pixels = d.disc_pixels_x_outer();
  d.model(1000.0f, 1000.0f, 1.0f, 1.0f + static_cast<float>(kPi), 5.0f);
  Harness h;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  Random ref;
  int32_t seed = -7;
  double sum = 0.0, sum2 = 0.0;
  // Uniform within +-sqrt(3) sigma: the standard deviation is sigma itself.
  const double h5 = 5.0 * std::sqrt(3.0);
  for (auto [x, y] : pixels) {
    const double noise = ref.RND(seed, -h5, h5);
    EXPECT_EQ(d.img.at(x, y), static_cast<float>(1000.0 + noise)) << x << "," << y;
    EXPECT_GE(d.img.at(x, y), 1000.0 - h5);
    EXPECT_LE(d.img.at(x, y), 1000.0 + h5);
    sum += d.img.at(x, y) - 1000.0;
    sum2 += (d.img.at(x, y) - 1000.0) * (d.img.at(x, y) - 1000.0);
  }
  EXPECT_EQ(h.seed, seed);
  const double n = static_cast<double>(pixels.size());
  EXPECT_NEAR(sum / n, 0.0, 0.5);
  EXPECT_NEAR(std::sqrt(sum2 / n), 5.0, 0.3);
}

TEST(Unwipe, RestoresTheReplacedPixelsExactlyAndCanBeRepeated) {
  Disc d(80, 80, 40.5f, 40.5f, 10.0f, 0.0f);
  for (int y = 1; y <= 80; ++y)
    for (int x = 1; x <= 80; ++x) d.img.at(x, y) = 100.0f + 0.37f * x - 0.11f * y + (x * y % 7);
  const Image before = d.img;
  d.model(90.0f, 130.0f, 2.0f, 2.0f + static_cast<float>(kPi), 3.0f);
  Harness h;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  ASSERT_NE(d.img.px, before.px);
  ASSERT_TRUE(UNWIPE(d.w, d.img.view()));
  EXPECT_EQ(d.img.px, before.px);
  // The undo store is kept: painting over again and undoing again restores again.
  d.img.at(40, 40) = -3.0f;
  ASSERT_TRUE(UNWIPE(d.w, d.img.view()));
  EXPECT_EQ(d.img.px, before.px);
}

TEST(Unwipe, PixelsThatWereZeroStayPaintedButNaNComesBack) {
  Disc d(60, 60, 30.5f, 30.5f, 6.0f, 50.0f);
  d.img.at(30, 30) = 0.0f;
  d.img.at(31, 30) = 5.0e-7f;
  d.img.at(29, 31) = NAN;
  d.model(10.0f, 10.0f, 0.0f, static_cast<float>(kPi), 0.0f);
  Harness h;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  ASSERT_TRUE(UNWIPE(d.w, d.img.view()));
  EXPECT_EQ(d.img.at(30, 30), 10.0f);  // a saved zero is indistinguishable from "not replaced"
  EXPECT_EQ(d.img.at(31, 30), 10.0f);
  EXPECT_TRUE(std::isnan(d.img.at(29, 31)));
  EXPECT_EQ(d.img.at(32, 32), 50.0f);
}

TEST(Unwipe, NothingToUndoLeavesTheImageAlone) {
  RemovalWork w;
  Image img(50, 50, 3.0f);
  EXPECT_FALSE(UNWIPE(w, img.view()));
  Disc d(60, 60, 30.5f, 30.5f, 6.0f, 50.0f);
  d.model(10.0f, 10.0f, 0.0f, static_cast<float>(kPi), 0.0f);
  Harness h;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  EXPECT_FALSE(UNWIPE(d.w, img.view()));  // another image size
  EXPECT_EQ(img.px, std::vector<float>(2500, 3.0f));
  // A new mask replaces the undo store before a removal completes.
  ASSERT_EQ(FINDEDGE(d.w, 20.5f, 20.5f, 5.0f), EdgeStatus::ok);
  MASKCIRCLE(d.w, d.w.TheRing.x, d.w.TheRing.y, GREATSMALL(d.w.TheRing.y));
  const Image painted = d.img;
  EXPECT_FALSE(UNWIPE(d.w, d.img.view()));
  EXPECT_EQ(d.img.px, painted.px);
}

}  // namespace
}  // namespace zelvo
