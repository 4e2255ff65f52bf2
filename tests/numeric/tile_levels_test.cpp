#include "numeric/tile_levels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

using namespace zelvo;

namespace {

struct Shape {
  int nx, ny;
  int x0, x1, y0, y1;  // inner region
};

std::string describe(const Shape& s) {
  return std::to_string(s.nx) + "x" + std::to_string(s.ny) + " inner " + std::to_string(s.x0) + ".." +
         std::to_string(s.x1) + "," + std::to_string(s.y0) + ".." + std::to_string(s.y1);
}

// Largest and smallest finite pixel of a rectangle, straight from the pixels.
FiniteLevels brute_levels(const Image& im, int x0, int x1, int y0, int y1) {
  FiniteLevels f;
  for (int y = std::max(y0, 1); y <= std::min(y1, im.ny); ++y)
    for (int x = std::max(x0, 1); x <= std::min(x1, im.nx); ++x) {
      const float v = im.at(x, y);
      if (!std::isfinite(v)) continue;
      if (!f.any) f = FiniteLevels{true, v, v};
      f.maximum = std::max(f.maximum, v);
      f.minimum = std::min(f.minimum, v);
    }
  return f;
}

double brute_sum(const Image& im, const Shape& s) {
  double sum = 0.0;
  for (int y = std::max(s.y0, 1); y <= std::min(s.y1, im.ny); ++y)
    for (int x = std::max(s.x0, 1); x <= std::min(s.x1, im.nx); ++x)
      if (std::isfinite(im.at(x, y))) sum += im.at(x, y);
  return sum;
}

void expect_same_bits(float a, float b, const std::string& what) {
  EXPECT_EQ(std::bit_cast<uint32_t>(a), std::bit_cast<uint32_t>(b)) << what << ": " << a << " vs " << b;
}

class TileLevelsEdits : public ::testing::TestWithParam<Shape> {};

// A cache that followed a random sequence of edits (rectangles filled with numbers, NaN or
// infinities, single pixels, the whole image scaled) gives exactly what a fresh cache gives,
// and that is the true maximum and minimum and, to rounding, the true sum.
TEST_P(TileLevelsEdits, FollowsEveryEditExactly) {
  const Shape s = GetParam();
  std::mt19937 gen(1234u + static_cast<unsigned>(s.nx * 31 + s.ny));
  std::uniform_real_distribution<float> value(-500.0f, 3000.0f);
  Image im(s.nx, s.ny);
  for (float& v : im.px) v = value(gen);
  TileLevels cached(im.view(), Box{s.x0, s.x1, s.y0, s.y1});
  const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
  for (int step = 0; step < 60; ++step) {
    std::uniform_int_distribution<int> px(-5, s.nx + 5), py(-5, s.ny + 5), kind(0, 9);
    int a = px(gen), b = px(gen), c = py(gen), d = py(gen);
    if (a > b) std::swap(a, b);
    if (c > d) std::swap(c, d);
    const int k = kind(gen);
    const float fill = k == 0 ? nan : k == 1 ? inf : k == 2 ? -inf : value(gen) * (k == 3 ? 100.0f : 1.0f);
    if (k == 9) {  // an edit of every pixel, as arithmetic makes
      for (float& v : im.px) v = v * 0.5f + 3.0f;
      cached.touched_all();
    } else {
      for (int y = std::max(c, 1); y <= std::min(d, s.ny); ++y)
        for (int x = std::max(a, 1); x <= std::min(b, s.nx); ++x) im.at(x, y) = fill;
      cached.touched(Box{a, b, c, d});
    }
    if (step % 3 == 0) {  // several edits may come between two queries
      const std::string at = describe(s) + " step " + std::to_string(step);
      TileLevels fresh(im.view(), Box{s.x0, s.x1, s.y0, s.y1});
      const FiniteLevels cw = cached.whole(), fw = fresh.whole(), ci = cached.inner(), fi = fresh.inner();
      EXPECT_EQ(cw.any, fw.any) << at;
      EXPECT_EQ(ci.any, fi.any) << at;
      expect_same_bits(cw.maximum, fw.maximum, at + " whole max");
      expect_same_bits(cw.minimum, fw.minimum, at + " whole min");
      expect_same_bits(ci.maximum, fi.maximum, at + " inner max");
      expect_same_bits(ci.minimum, fi.minimum, at + " inner min");
      expect_same_bits(cached.inner_sum(), fresh.inner_sum(), at + " inner sum");

      const FiniteLevels bw = brute_levels(im, 1, s.nx, 1, s.ny), bi = brute_levels(im, s.x0, s.x1, s.y0, s.y1);
      EXPECT_EQ(cw.any, bw.any) << at;
      EXPECT_EQ(cw.maximum, bw.maximum) << at;
      EXPECT_EQ(cw.minimum, bw.minimum) << at;
      EXPECT_EQ(ci.maximum, bi.maximum) << at;
      EXPECT_EQ(ci.minimum, bi.minimum) << at;
      const double truth = brute_sum(im, s);
      EXPECT_NEAR(cached.inner_sum(), truth, 1e-7 * std::fabs(truth) + 1e-6) << at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, TileLevelsEdits,
                         ::testing::Values(Shape{1, 1, 1, 1, 1, 1}, Shape{1, 1, 1, 0, 1, 0}, Shape{7, 1, 2, 5, 1, 1},
                                           Shape{64, 64, 7, 57, 7, 57}, Shape{65, 3, 1, 65, 2, 2},
                                           Shape{200, 130, 20, 179, 13, 116}, Shape{300, 300, 30, 269, 30, 269},
                                           Shape{129, 257, -10, 500, 100, 99}),
                         [](const ::testing::TestParamInfo<Shape>& i) { return "Shape" + std::to_string(i.index); });

TEST(TileLevels, AnImageWithoutAFinitePixelHasNoLevelsAndSumsToZero) {
  Image im(90, 70, std::nanf(""));
  im.at(3, 3) = std::numeric_limits<float>::infinity();
  TileLevels t(im.view(), Box{10, 80, 10, 60});
  EXPECT_FALSE(t.whole().any);
  EXPECT_FALSE(t.inner().any);
  EXPECT_EQ(t.whole().maximum, 0.0f);
  EXPECT_EQ(t.inner_sum(), 0.0f);
  im.at(50, 50) = -7.5f;  // one finite pixel inside the region
  t.touched(Box{50, 50, 50, 50});
  EXPECT_TRUE(t.inner().any);
  EXPECT_EQ(t.inner().maximum, -7.5f);
  EXPECT_EQ(t.whole().minimum, -7.5f);
  EXPECT_EQ(t.inner_sum(), -7.5f);
}

// The sum of a large flat frame is right to float precision: one 32-bit running sum over
// millions of pixels would have stopped growing correctly long before the end.
TEST(TileLevels, SumOfALargeFlatFrameIsExactToFloatPrecision) {
  Image im(2048, 2048, 1000.3f);
  TileLevels t(im.view(), Box{205, 1843, 205, 1843});
  const double n = 1639.0 * 1639.0;
  EXPECT_NEAR(t.inner_sum(), n * 1000.3f, 1e-7 * n * 1000.3);
}

}  // namespace
