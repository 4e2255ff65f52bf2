#include "numeric/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace zelvo {
namespace {

TEST(AverageSigma, EqualValuesHaveNoSpreadAndNoRejection) {
  const std::vector<float> v(25, 123.25f);
  const auto r = AVERAGESIGMA(v, 2);
  EXPECT_EQ(r.mean, 123.25f);
  EXPECT_EQ(r.clipped_mean, 123.25f);
  EXPECT_EQ(r.sigma, 0.0f);
  EXPECT_EQ(r.clipped_spread, 0.0f);
  EXPECT_EQ(r.kept_sigma, 0.0f);
  EXPECT_EQ(r.rejected, 0.0f);
}

TEST(AverageSigma, RejectsTheOutlierButMeasuresSpreadAboutTheFullMean) {
  std::vector<float> v(24);
  std::iota(v.begin(), v.end(), 1.0f);
  v.push_back(1000.0f);
  const auto r = AVERAGESIGMA(v, 2);
  EXPECT_FLOAT_EQ(r.mean, 52.0f);
  EXPECT_NEAR(r.sigma, 197.6f, 0.05f);
  EXPECT_EQ(r.rejected, 1.0f);
  EXPECT_FLOAT_EQ(r.clipped_mean, 12.5f);
  // about 52.0: sqrt(sum((i - 52)^2, i = 1..24) / 23)
  EXPECT_NEAR(r.clipped_spread, 40.96f, 0.01f);
  // The noise of the kept values alone: the standard deviation of 1..24, sqrt(50).
  EXPECT_NEAR(r.kept_sigma, std::sqrt(50.0f), 1e-4f);
}

TEST(AverageSigma, ValuesExactlyOnALimitAreKept) {
  // mean 0, sigma 1 exactly (n - 1 = 4, sum of squares 4): limits at -1 and +1 for nsig 1.
  const std::vector<float> v{-1.0f, 1.0f, 0.0f, -1.0f, 1.0f};
  const auto r = AVERAGESIGMA(v, 1);
  EXPECT_EQ(r.mean, 0.0f);
  EXPECT_EQ(r.sigma, 1.0f);
  EXPECT_EQ(r.rejected, 0.0f);
}

TEST(AverageSigma, ClipsInOnePassWithoutRecomputingLimits) {
  // After removing 1000 a second pass would reject further values; one pass must not.
  std::vector<float> v(24, 10.0f);
  v[0] = 30.0f;
  v.push_back(1000.0f);
  const auto r = AVERAGESIGMA(v, 2);
  EXPECT_EQ(r.rejected, 1.0f);
  EXPECT_NEAR(r.clipped_mean, (23 * 10.0f + 30.0f) / 24.0f, 1e-4f);
}

TEST(AverageSigma, DegenerateSetsGiveNoNaN) {
  const auto empty = AVERAGESIGMA(std::span<const float>{}, 2);
  EXPECT_EQ(empty.mean, 0.0f);
  EXPECT_EQ(empty.sigma, 0.0f);

  const std::vector<float> one{7.5f};
  const auto r1 = AVERAGESIGMA(one, 2);
  EXPECT_EQ(r1.mean, 7.5f);
  EXPECT_EQ(r1.sigma, 0.0f);
  EXPECT_EQ(r1.clipped_mean, 7.5f);
  EXPECT_EQ(r1.clipped_spread, 0.0f);
  EXPECT_EQ(r1.rejected, 0.0f);

  // nsig 0 rejects everything off the mean: here every value.
  const std::vector<float> two{1.0f, 3.0f};
  const auto r0 = AVERAGESIGMA(two, 0);
  EXPECT_EQ(r0.rejected, 2.0f);
  EXPECT_EQ(r0.clipped_mean, 2.0f);
  EXPECT_EQ(r0.clipped_spread, 0.0f);

  // One value kept: no spread, no NaN.
  const std::vector<float> three{1.0f, 2.0f, 3.0f};
  const auto rk = AVERAGESIGMA(three, 0);
  EXPECT_EQ(rk.rejected, 2.0f);
  EXPECT_EQ(rk.clipped_mean, 2.0f);
  EXPECT_EQ(rk.clipped_spread, 0.0f);
}

TEST(AverageSigma, VeryNegativeInputsAreTreatedLikeAnyOther) {
  std::vector<float> v(25, -70000.0f);
  v[3] = -70010.0f;
  const auto r = AVERAGESIGMA(v, 2);
  EXPECT_EQ(r.rejected, 1.0f);
  EXPECT_FLOAT_EQ(r.clipped_mean, -70000.0f);
  EXPECT_FLOAT_EQ(r.mean, -70000.0f - 10.0f / 25.0f);
}

TEST(Histogram, CountsBinsOneToNineteenOnly) {
  const std::vector<float> v{0.5f, 18.9f, 19.5f, -0.5f, 0.0f, 1.0f, 25.0f};
  std::vector<int32_t> c(20, -7);
  HISTOGRAM(v, 0.0f, 1.0f, c);
  std::vector<int32_t> want(20, 0);
  want[0] = 2;   // 0.5 and 0.0
  want[1] = 1;   // 1.0
  want[18] = 1;  // 18.9
  EXPECT_EQ(c, want);
}

TEST(Histogram, ZeroWidthCountsNothing) {
  const std::vector<float> v{2.0f, 2.0f, 3.0f};
  std::vector<int32_t> c(20, 5);
  HISTOGRAM(v, 2.0f, 0.0f, c);
  EXPECT_EQ(c, std::vector<int32_t>(20, 0));
}

TEST(Histogram, FewerBinsThanTheFoldNeverWriteBeyondTheLastBin) {
  const std::vector<float> v{0.5f, 2.5f, 3.5f, 9.0f, 30.0f};
  std::vector<int32_t> c(4, 0);
  HISTOGRAM(v, 0.0f, 1.0f, c);
  EXPECT_EQ(c, (std::vector<int32_t>{1, 0, 1, 0}));
}

TEST(Histogram, MoreBinsThanTheFoldCollectTheHighValuesInBinTwenty) {
  const std::vector<float> v{19.5f, 40.0f, 1.5f};
  std::vector<int32_t> c(25, 0);
  HISTOGRAM(v, 0.0f, 1.0f, c);
  EXPECT_EQ(c[19], 2);
  EXPECT_EQ(c[1], 1);
  EXPECT_EQ(std::accumulate(c.begin(), c.end(), 0), 3);
}

TEST(SortHeap, SortsAscendingInPlace) {
  std::vector<float> empty;
  SORT_HEAP(empty);
  EXPECT_TRUE(empty.empty());

  std::vector<float> one{4.0f};
  SORT_HEAP(one);
  EXPECT_EQ(one, std::vector<float>{4.0f});

  std::vector<float> three{3.0f, 1.0f, 2.0f};
  SORT_HEAP(three);
  EXPECT_EQ(three, (std::vector<float>{1.0f, 2.0f, 3.0f}));

  std::vector<float> many;
  for (int i = 0; i < 257; ++i) many.push_back(static_cast<float>((i * 7919) % 101) - 50.5f);
  auto want = many;
  std::sort(want.begin(), want.end());
  SORT_HEAP(many);
  EXPECT_EQ(many, want);
}

TEST(SortHeap, SiftDownKeepsEqualChildrenInPlace) {
  // A root equal to its larger child stays: the test is "greater or equal".
  std::vector<float> heap{5.0f, 5.0f, 1.0f};
  sift_down(heap, 1, 3);
  EXPECT_EQ(heap, (std::vector<float>{5.0f, 5.0f, 1.0f}));
  std::vector<float> down{1.0f, 5.0f, 7.0f};
  sift_down(down, 1, 3);
  EXPECT_EQ(down, (std::vector<float>{7.0f, 5.0f, 1.0f}));
  float a = 1.0f, b = 2.0f;
  std::swap(a, b);  // SORT_HEAP exchanges with std::swap
  EXPECT_EQ(a, 2.0f);
  EXPECT_EQ(b, 1.0f);
}

}  // namespace
}  // namespace zelvo
