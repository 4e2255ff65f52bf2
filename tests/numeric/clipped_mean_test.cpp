// The clipped mean of large sets (the sky beyond a profile's extent): analytic cases.
#include "numeric/clipped_mean.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

using namespace zelvo;

namespace {

// `repeats` copies of the grid 1000 + 0.01 i, i = -500 .. 500 (flat on -5 .. 5), with
// `outliers` values of 10000 among them.
std::vector<float> grid_with_outliers(int repeats, int outliers) {
  std::vector<float> v;
  for (int r = 0; r < repeats; ++r)
    for (int i = -500; i <= 500; ++i) v.push_back(1000.0f + 0.01f * static_cast<float>(i));
  for (int k = 0; k < outliers; ++k)
    v.insert(v.begin() + static_cast<std::ptrdiff_t>((static_cast<std::size_t>(k) * 37) % v.size()), 10000.0f);
  return v;
}

}  // namespace

struct GridCase {
  const char* name;
  int repeats;
  std::optional<double> start;
};

class ClippedMeanOfAGrid : public ::testing::TestWithParam<GridCase> {};

// 3 sigma of a flat spread over -5 .. 5 (sigma 2.89) reaches past its ends: the grid is kept
// whole and the outliers go, from any start near the level. Sums over the grid: the mean is
// 1000 and the sum of squared deviations 0.0001 x 2 x (500 x 501 x 1001 / 6) = 8358.35 per copy.
TEST_P(ClippedMeanOfAGrid, KeepsTheGridAndDropsTheOutliers) {
  const GridCase& c = GetParam();
  const std::vector<float> v = grid_with_outliers(c.repeats, 2000);
  const ClippedMean r = clipped_mean(v, c.start);
  ASSERT_TRUE(r.mean);
  const int32_t n = 1001 * c.repeats;
  EXPECT_EQ(r.n, n);
  EXPECT_EQ(r.rejected, 2000);
  EXPECT_NEAR(*r.mean, 1000.0, 2e-4);
  EXPECT_NEAR(r.sigma, std::sqrt(8358.35 * c.repeats / (n - 1)), 1e-4);
}

// Fewer than 65536 values take one pass over all of them each time, more take the buckets.
INSTANTIATE_TEST_SUITE_P(Sets, ClippedMeanOfAGrid,
                         ::testing::Values(GridCase{"SmallFromTheMedian", 20, std::nullopt},
                                           GridCase{"LargeFromTheMedian", 100, std::nullopt},
                                           GridCase{"LargeFromAGivenStart", 100, 1001.0}),
                         [](const ::testing::TestParamInfo<GridCase>& i) { return std::string(i.param.name); });
