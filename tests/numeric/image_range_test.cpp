#include "numeric/image_range.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zelvo;

TEST(FiniteRange, SkipsNaNAndInfinitiesWhereverTheyLie) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  for (int n : {1, 7, 8, 9, 17, 1000}) {
    Image img(n, 1);
    for (int i = 1; i <= n; ++i) img.at(i, 1) = static_cast<float>((i * 37) % 101) - 50.0f;
    float want_lo = img.at(1, 1), want_hi = img.at(1, 1);
    for (float v : img.px) {
      want_lo = std::fmin(want_lo, v);
      want_hi = std::fmax(want_hi, v);
    }
    const ValueRange r = finite_range(img);
    EXPECT_EQ(r.lo, want_lo) << n;
    EXPECT_EQ(r.hi, want_hi) << n;
    if (n >= 9) {
      Image bad = img;
      bad.at(1, 1) = nan;
      bad.at(n, 1) = inf;
      bad.at(n / 2, 1) = -inf;
      const ValueRange b = finite_range(bad);
      EXPECT_GE(b.lo, want_lo);
      EXPECT_LE(b.hi, want_hi);
      EXPECT_TRUE(std::isfinite(b.lo) && std::isfinite(b.hi));
    }
  }
  Image all_nan(3, 3, nan);
  const ValueRange none = finite_range(all_nan);
  EXPECT_EQ(none.lo, 0.0f);
  EXPECT_EQ(none.hi, 0.0f);
  Image infs(2, 1);
  infs.at(1, 1) = inf;
  infs.at(2, 1) = -inf;
  const ValueRange only_infinite = finite_range(infs);
  EXPECT_EQ(only_infinite.lo, 0.0f);
  EXPECT_EQ(only_infinite.hi, 0.0f);
}
