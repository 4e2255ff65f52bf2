// One rule for the pixels a scan counts: every minimum, maximum, sum and count over image
// pixels leaves out exactly the pixels the rule leaves out, whatever the scan.
#include "numeric/pixel_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <span>

#include "display/display.h"
#include "display/zoom.h"
#include "galaxy/profile.h"
#include "numeric/image_range.h"
#include "numeric/statistics.h"
#include "numeric/tile_levels.h"

using namespace zelvo;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

struct SpecialValue {
  const char* name;
  float v;
  bool counted, flux_profile, magnitude_profile, shown;
};

// Written by hand: which values carry a number, and what each profile scale takes.
constexpr SpecialValue kSpecialValues[] = {
    {"NaN", std::numeric_limits<float>::quiet_NaN(), false, false, false, false},
    {"plus infinity", kInf, false, false, false, true},
    {"minus infinity", -kInf, false, false, false, true},
    {"undefined marker", -999.0f, true, false, true, true},
    {"blank marker", -99999.0f, true, false, false, true},
    {"just above the blank", -99998.5f, true, true, false, true},
    {"largest float", FLT_MAX, true, true, true, true},
    {"most negative float", -FLT_MAX, true, true, false, true},
    {"denormal", std::numeric_limits<float>::denorm_min(), true, true, true, true},
    {"minus zero", -0.0f, true, true, true, true},
    {"ordinary", 7.5f, true, true, true, true},
};

class PixelRule : public ::testing::TestWithParam<SpecialValue> {};

}  // namespace

TEST_P(PixelRule, PredicatesSayWhatEachValueIs) {
  const SpecialValue c = GetParam();
  EXPECT_EQ(counted_pixel(c.v), c.counted) << c.name;
  EXPECT_EQ(counted_in_flux_profile(c.v), c.flux_profile) << c.name;
  EXPECT_EQ(counted_in_magnitude_profile(c.v), c.magnitude_profile) << c.name;
  EXPECT_EQ(shown_pixel(c.v), c.shown) << c.name;
}

// A 20 x 20 field of 5 with the value at the centre pixel (10, 10), which lies in the
// central box of the levels, the inner region of the tiles and the box analysed.
TEST_P(PixelRule, EveryScanCountsThePixelExactlyWhenTheRuleDoes) {
  const SpecialValue c = GetParam();
  Image img(20, 20, 5.0f);
  img.at(10, 10) = c.v;
  const float lo = c.counted ? std::min(5.0f, c.v) : 5.0f;
  const float hi = c.counted ? std::max(5.0f, c.v) : 5.0f;
  const int left_out = c.counted ? 0 : 1;

  const ValueRange range = finite_range(img);
  EXPECT_EQ(range.lo, lo) << c.name;
  EXPECT_EQ(range.hi, hi) << c.name;

  const ImageStatistics st = image_statistics(img.view());
  EXPECT_EQ(st.finite, 400u - left_out) << c.name;
  EXPECT_EQ(st.minimum, lo) << c.name;
  EXPECT_EQ(st.maximum, hi) << c.name;

  EXPECT_EQ(AVERAGESIGMA(std::span<const float>(img.px), 2).finite, 400 - left_out) << c.name;

  TileLevels tiles(img.view(), Box{5, 15, 5, 15});
  for (const FiniteLevels f : {tiles.whole(), tiles.inner()}) {
    EXPECT_TRUE(f.any);
    EXPECT_EQ(f.minimum, lo) << c.name;
    EXPECT_EQ(f.maximum, hi) << c.name;
  }
  EXPECT_EQ(tiles.inner_sum(), static_cast<float>(120 * 5.0 + (c.counted ? c.v : 0.0)))
      << c.name;  // 11 x 11 inner pixels

  EXPECT_EQ(automatic_levels(img.view(), -FLT_MAX, FLT_MAX).n, 25 - left_out) << c.name;

  const BoxAnalysis box = analyse_box(img.view(), 10.0f, 10.0f, 2);
  EXPECT_EQ(box.count, 25);
  EXPECT_EQ(box.stats.finite, 25 - left_out) << c.name;
  EXPECT_EQ(box.minimum, lo) << c.name;
  EXPECT_EQ(box.maximum, hi) << c.name;
}

// The profile takes the centre pixel by its own rules; all else is the field of 5.
TEST_P(PixelRule, TheProfileScalesKeepTheirOwnRules) {
  const SpecialValue c = GetParam();
  Image img(20, 20, 5.0f);
  const std::size_t all = scan_profile_pixels(img.view(), 10, 10, 3.0f, 0.0f, 0.0f, ProfileScale::flux).icnt();
  img.at(10, 10) = c.v;
  EXPECT_EQ(scan_profile_pixels(img.view(), 10, 10, 3.0f, 0.0f, 0.0f, ProfileScale::flux).icnt(),
            all - (c.flux_profile ? 0 : 1))
      << c.name;
  EXPECT_EQ(scan_profile_pixels(img.view(), 10, 10, 3.0f, 0.0f, 0.0f, ProfileScale::magnitude).icnt(),
            all - (c.magnitude_profile ? 0 : 1))
      << c.name;
}

INSTANTIATE_TEST_SUITE_P(Values, PixelRule, ::testing::ValuesIn(kSpecialValues));
