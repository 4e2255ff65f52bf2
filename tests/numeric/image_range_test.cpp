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
    float lo, hi;
    finite_range(img, lo, hi);
    EXPECT_EQ(lo, want_lo) << n;
    EXPECT_EQ(hi, want_hi) << n;
    if (n >= 9) {
      Image bad = img;
      bad.at(1, 1) = nan;
      bad.at(n, 1) = inf;
      bad.at(n / 2, 1) = -inf;
      float blo, bhi;
      finite_range(bad, blo, bhi);
      EXPECT_GE(blo, want_lo);
      EXPECT_LE(bhi, want_hi);
      EXPECT_TRUE(std::isfinite(blo) && std::isfinite(bhi));
    }
  }
  Image all_nan(3, 3, nan);
  float lo = 1, hi = 1;
  finite_range(all_nan, lo, hi);
  EXPECT_EQ(lo, 0.0f);
  EXPECT_EQ(hi, 0.0f);
  Image infs(2, 1);
  infs.at(1, 1) = inf;
  infs.at(2, 1) = -inf;
  finite_range(infs, lo, hi);
  EXPECT_EQ(lo, 0.0f);
  EXPECT_EQ(hi, 0.0f);
}
