#include "removal/wipe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "numeric/random.h"
#include "removal/edge.h"
#include "removal/removal_harness.h"
#include "removal/ring_values.h"

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
  // A surface of `order` with coefficients c about the disc centre in units of scale, and its spread.
  void surface(int order, std::vector<double> c, double scale, double spread) {
    w.surface = BackgroundSurface{};
    w.surface.order = order;
    w.surface.x0 = xc;
    w.surface.y0 = yc;
    w.surface.scale = scale;
    for (std::size_t k = 0; k < c.size(); ++k) w.surface.coef[k] = c[k];
    w.surface.spread = spread;
    w.surface.lowest = -1e30;
    w.surface.highest = 1e30;
  }
  void model(float level, float sigma) { surface(0, {level}, 1.0, sigma); }
};

TEST(WipeOut, WithoutNoiseTheSurfaceIsPaintedAtEachPixelsCentre) {
  Disc d(80, 80, 40.3f, 39.6f, 10.0f, 1.0f);
  const auto pixels = d.disc_pixels_x_outer();
  // 100 + 2 dx - 3 dy + 0.05 dx^2 - 0.02 dx dy (dx, dy from the centre), written with scale 4.
  d.surface(2, {100.0, 8.0, -12.0, 0.8, -0.32, 0.0}, 4.0, 0.0);
  d.w.MinAngle = static_cast<float>(1.5 * kPi);
  d.w.MaxAngle = static_cast<float>(0.5 * kPi);
  Harness h;
  EXPECT_EQ(WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log), " Maxangle, minangle = 1.570796 4.712389");
  for (auto [x, y] : pixels) {
    const double dx = x - 40.3, dy = y - 39.6;
    EXPECT_NEAR(d.img.at(x, y), 100.0 + 2.0 * dx - 3.0 * dy + 0.05 * dx * dx - 0.02 * dx * dy, 1e-4) << x << "," << y;
  }
  EXPECT_EQ(h.log.str(), "");  // extended logs off
  int untouched = 0;
  for (float v : d.img.px) untouched += v == 1.0f;
  EXPECT_EQ(untouched, 80 * 80 - static_cast<int>(pixels.size()));
}

TEST(WipeOut, NoiseIsGaussianWithTheSurfacesSpreadAndTheSameSeedPaintsTheSamePixels) {
  Disc d(80, 80, 40.0f, 40.0f, 15.0f, 1.0f);
  Disc e = d;
  const auto pixels = d.disc_pixels_x_outer();
  d.model(1000.0f, 5.0f);
  e.model(1000.0f, 5.0f);
  Harness h, g;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  WIPEOUT(e.w, e.img.view(), e.xc, e.yc, e.r, g.ctx(), g.log);
  EXPECT_EQ(d.img.px, e.img.px);
  // Two uniform draws per painted pixel.
  Random ref;
  int32_t seed = -7;
  for (std::size_t i = 0; i < 2 * pixels.size(); ++i) ref.RAN(seed);
  EXPECT_EQ(h.seed, seed);
  double sum = 0.0, sum2 = 0.0;
  int beyond = 0;
  for (auto [x, y] : pixels) {
    const double n = d.img.at(x, y) - 1000.0;
    sum += n;
    sum2 += n * n;
    beyond += std::fabs(n) > 2.0 * 5.0;  // 4.6 % of a Gaussian; none of a uniform of spread 5
  }
  const double n = static_cast<double>(pixels.size());
  EXPECT_NEAR(sum / n, 0.0, 0.5);
  EXPECT_NEAR(std::sqrt(sum2 / n), 5.0, 0.35);
  EXPECT_GT(beyond, 0.02 * n);
  EXPECT_LT(beyond, 0.08 * n);
}

TEST(WipeOut, WithoutASurfaceNothingIsPaintedAndThereIsNothingToUndo) {
  Disc d(60, 60, 30.0f, 30.0f, 6.0f, 50.0f);
  Harness h;
  WIPEOUT(d.w, d.img.view(), d.xc, d.yc, d.r, h.ctx(), h.log);
  EXPECT_EQ(d.img.px, std::vector<float>(3600, 50.0f));
  EXPECT_FALSE(UNWIPE(d.w, d.img.view()));
}

TEST(Unwipe, RestoresTheReplacedPixelsExactlyAndCanBeRepeated) {
  Disc d(80, 80, 40.5f, 40.5f, 10.0f, 0.0f);
  for (int y = 1; y <= 80; ++y)
    for (int x = 1; x <= 80; ++x) d.img.at(x, y) = 100.0f + 0.37f * x - 0.11f * y + (x * y % 7);
  const Image before = d.img;
  d.surface(1, {110.0, 20.0, -5.0}, 10.0, 3.0);
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
  d.model(10.0f, 0.0f);
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
  d.model(10.0f, 0.0f);
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
