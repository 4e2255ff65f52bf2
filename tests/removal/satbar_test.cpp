// The saturated-star centre from five rows, and the removal of saturation bars.
#include "removal/satbar.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "removal/find_centre.h"
#include "removal/removal_harness.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A noiseless sky that repeats 98, 100, 102 along x: every 3-pixel mean is exactly 100,
// while the 40 faintest of 101 values spread enough (sigma about 1) to put sky + 2 sigma above 100.
Image striped_sky(int nx, int ny) {
  Image im(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) im.at(x, y) = 98.0f + 2.0f * static_cast<float>(x % 3);
  return im;
}

void bright_run(Image& im, int y, int x1, int x2, float v = 60000.0f) {
  for (int x = x1; x <= x2; ++x) im.at(x, y) = v;
}

// Sky of 1000 with uniform noise within +-15 (sigma 8.7, fixed seed): never beyond the
// 3-sigma band the bar tests use (bgsigma 10), so sky pixels are never taken for bar pixels.
Image noisy_sky(int nx, int ny, unsigned seed = 3) {
  Image im(nx, ny);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> noise(-15.0f, 15.0f);
  for (float& v : im.px) v = 1000.0f + noise(gen);
  return im;
}

// A flat-topped saturated disc of the given radius.
void saturated_disc(Image& im, double cx, double cy, double r) {
  for (int y = 1; y <= im.ny; ++y)
    for (int x = 1; x <= im.nx; ++x)
      if (std::hypot(x - cx, y - cy) <= r) im.at(x, y) = 60000.0f;
}

// A saturated bar over columns x1 .. x2 and rows y1 .. y2.
struct Bar {
  int x1, x2, y1, y2;
};
void bar(Image& im, const Bar& b) {
  for (int y = b.y1; y <= b.y2; ++y)
    for (int x = b.x1; x <= b.x2; ++x) im.at(x, y) = 60000.0f;
}

// Every pixel of the box within `tol` of 1000 (the sky of noisy_sky).
void expect_sky(const Image& im, int x1, int x2, int y1, int y2, float tol) {
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) ASSERT_NEAR(im.at(x, y), 1000.0f, tol) << x << "," << y;
}

}  // namespace

TEST(FindCentre, WorkedExampleGivesTheMiddleRowAndNoShift) {
  // Bright runs at positions 42..60 (rows 2-4) and 44..58 (rows 1, 5): the smoothing widens
  // each by one, so the scans give 41..61 and 43..59. Click (251, 201): position j is column
  // j + 200 and row i is 198 + i.
  Image im = striped_sky(400, 400);
  for (int row = 200; row <= 202; ++row) bright_run(im, row, 242, 260);
  bright_run(im, 199, 244, 258);
  bright_run(im, 203, 244, 258);
  RemovalHarness h;
  const CentreResult c = h.keep(FINDCENTRE(im.view(), 251.0f, 201.0f, h.ctx()));
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c.left, (std::array<int32_t, 5>{43, 41, 41, 41, 43}));
  EXPECT_EQ(c.right, (std::array<int32_t, 5>{59, 61, 61, 61, 59}));
  EXPECT_EQ(c.best_row, 3);
  EXPECT_FLOAT_EQ(c.radius, 10.5f);
  EXPECT_FLOAT_EQ(c.xshift, 0.0f);
  EXPECT_FLOAT_EQ(c.yshift, 0.0f);
  EXPECT_FLOAT_EQ(c.xc, 251.0f);
  EXPECT_FLOAT_EQ(c.yc, 201.0f);
  EXPECT_EQ(c.edge, 0);
  EXPECT_NEAR(c.bgmean, 98.6f, 0.1f);
  EXPECT_THAT(h.out.str(), Not(HasSubstr("Warning")));
  EXPECT_THAT(h.out.str(), Not(HasSubstr("Alarm")));
  EXPECT_THAT(h.out.str(), HasSubstr(" FindCentre: aaverage = "));
  EXPECT_THAT(h.out.str(), HasSubstr(" FindCentre: asigma = "));
  EXPECT_EQ(read_file(h.log_path), " RemoveSatBar: xc(shift) = 0.0\n RemoveSatBar: yc(shift) = 0.0\n");
}

TEST(FindCentre, ClickNearTheLeftEdgeMarksTheColumnsOffTheImage) {
  // Click at x = 20: positions 1..31 lie at columns <= 0. A bright block at columns 5..30
  // keeps every leftward scan from finding sky before its limit, position 35.
  Image im = striped_sky(200, 200);
  for (int row = 98; row <= 102; ++row) bright_run(im, row, 5, 30);
  RemovalHarness h;
  const CentreResult c = h.keep(FINDCENTRE(im.view(), 20.0f, 100.0f, h.ctx()));
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c.edge, 32);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(c.left[i], 1) << i;    // no window found: the scan leaves 1, not 32
    EXPECT_EQ(c.right[i], 62) << i;  // block ends at column 30 = position 61
  }
  EXPECT_FLOAT_EQ(c.radius, 31.0f);
  EXPECT_THAT(h.out.str(), Not(HasSubstr("Alarm")));
}

TEST(FindCentre, MovesOffCentreClicksOntoASaturatedDisc) {
  // A flat-topped disc of radius 7 at (254, 201); position j lies at column j + 200.
  Image im = striped_sky(400, 400);
  for (int y = 190; y <= 212; ++y)
    for (int x = 240; x <= 268; ++x)
      if (std::hypot(x - 254.0, y - 201.0) <= 7.0) im.at(x, y) = 60000.0f;
  {
    // Rows 199..203: the widest run (46..62) is the middle row; the mean midpoint is 54.
    RemovalHarness h;
    const CentreResult c = h.keep(FINDCENTRE(im.view(), 251.0f, 201.0f, h.ctx()));
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.best_row, 3);
    EXPECT_FLOAT_EQ(c.xc, 254.0f);
    EXPECT_FLOAT_EQ(c.yc, 201.0f);
    EXPECT_FLOAT_EQ(c.radius, 8.5f);
    EXPECT_THAT(h.out.str(), Not(HasSubstr("Warning")));
  }
  {
    // Rows 197..201: the widest run is the top row, two rows up.
    RemovalHarness h;
    const CentreResult c = h.keep(FINDCENTRE(im.view(), 251.0f, 199.0f, h.ctx()));
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.best_row, 5);
    EXPECT_FLOAT_EQ(c.xshift, 3.0f);
    EXPECT_FLOAT_EQ(c.yshift, 2.0f);
    EXPECT_FLOAT_EQ(c.xc, 254.0f);
    EXPECT_FLOAT_EQ(c.yc, 201.0f);
    EXPECT_THAT(h.out.str(), HasSubstr(" Warning! Strange row asymmetry around the object!\n"));
    EXPECT_THAT(h.out.str(), Not(HasSubstr("column asymmetry")));
    EXPECT_EQ(read_file(h.log_path), " RemoveSatBar: xc(shift) = 3.0\n RemoveSatBar: yc(shift) = 2.0\n");
  }
}

TEST(FindCentre, RefusesRowsOffTheImageAndTooFewColumns) {
  Image im = noisy_sky(300, 300);
  RemovalHarness h;
  const CentreResult low = h.keep(FINDCENTRE(im.view(), 150.0f, 2.0f, h.ctx()));
  EXPECT_EQ(low.status, CentreStatus::near_row_edge);
  EXPECT_FLOAT_EQ(low.xc, 150.0f);
  EXPECT_FLOAT_EQ(low.yc, 2.0f);
  const CentreResult high = h.keep(FINDCENTRE(im.view(), 150.0f, 299.5f, h.ctx()));
  EXPECT_EQ(high.status, CentreStatus::near_row_edge);
  Image narrow = noisy_sky(30, 100);
  const CentreResult thin = h.keep(FINDCENTRE(narrow.view(), 15.0f, 50.0f, h.ctx()));
  EXPECT_EQ(thin.status, CentreStatus::few_columns);
  EXPECT_EQ(count_of(h.out.str(), "its centre and sky cannot be measured"), 3);
}

// --- REMOVESATBAR --------------------------------------------------------------------

// One bar on noisy_sky (sky 1000, bgsigma 10) and what its removal must give. A value of -1
// (or an empty text) is not checked.
struct BarCase {
  const char* name;
  int nx, ny;
  std::vector<Bar> bars;
  std::vector<std::pair<int, int>> sky_pixels;  // gaps set back to 1000 after the bars
  float disc_radius;                            // a saturated disc at the click (0: none)
  float xc, yc;
  int ybot, ytop, xbot, xtop, length, changed_x0;
  int displacement;  // the "Horizontal displacement" line's value (0: no such line)
  Bar sky;           // every pixel within 30 of the sky afterwards
  std::string log;   // the whole debug log
};

void PrintTo(const BarCase& c, std::ostream* os) { *os << c.name; }

class RemoveSatBar : public ::testing::TestWithParam<BarCase> {};

TEST_P(RemoveSatBar, BarBecomesSkyOnlyWithinItsRowsAndIsUndoneExactly) {
  const BarCase& c = GetParam();
  Image im = noisy_sky(c.nx, c.ny);
  if (c.disc_radius > 0.0f) saturated_disc(im, std::floor(c.xc), std::floor(c.yc), c.disc_radius);
  for (const Bar& b : c.bars) bar(im, b);
  for (const auto& [x, y] : c.sky_pixels) im.at(x, y) = 1000.0f;
  const Image before = im;
  RemovalHarness h;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), c.xc, c.yc, 1000.0f, 10.0f, h.ctx()));
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.saturated, 60000);
  EXPECT_FLOAT_EQ(r.band.upper, 30500.0f);
  EXPECT_FLOAT_EQ(r.band.lower, 970.0f);
  for (const auto& [got, want] : {std::pair{r.ybot, c.ybot},
                                  {r.ytop, c.ytop},
                                  {r.xbot, c.xbot},
                                  {r.xtop, c.xtop},
                                  {r.length, c.length},
                                  {r.changed.x0, c.changed_x0}}) {
    if (want != -1) {
      EXPECT_EQ(got, want);
    }
  }
  // Bar and star are now sky: fill (mean of sky pixels) plus noise of +-sqrt(3) 10.
  expect_sky(im, c.sky.x1, c.sky.x2, c.sky.y1, c.sky.y2, 30.0f);
  // Nothing beyond offset 10 or outside the bar rows changed.
  for (int y = 1; y <= c.ny; ++y)
    for (int x = 1; x <= c.nx; ++x)
      if (!(std::abs(x - static_cast<int>(c.xc)) <= 10 && y >= r.ybot && y <= r.ytop)) {
        ASSERT_EQ(im.at(x, y), before.at(x, y)) << x << "," << y;
      }
  const std::string displacement = " RemoveSatBar: Horizontal displacement = " + std::to_string(c.displacement) + "\n";
  if (c.displacement != 0) {
    EXPECT_THAT(h.out.str(), HasSubstr(displacement));
    EXPECT_THAT(read_file(h.log_path), HasSubstr(displacement));
  } else {
    EXPECT_THAT(h.out.str(), Not(HasSubstr("Horizontal displacement")));
  }
  EXPECT_THAT(h.out.str(), HasSubstr(" RemoveSatBar: Bar length = " + std::to_string(r.length) + "\n"));
  if (!c.log.empty()) {
    EXPECT_EQ(read_file(h.log_path), c.log);
  }
  restore_satbar(r, im.view());
  EXPECT_EQ(im.px, before.px);
}

// The first rows beyond the bright run belong to the bar; one-row gaps are stepped over
// through offset 0; an off-centre top is reported and still replaced along the column; a bar
// of 21 columns (no sky within nine offsets on either side) is filled from beyond it; near the
// edge only pixels inside are touched; the downward trace stays above row 2.
// clang-format off
const BarCase kBarCases[] = {
  // name                                   nx   ny    bars                                 gaps                  disc  xc      yc       ybot ytop  xbot xtop length x0  disp  sky box
  {"SaturatedStarWithAVerticalBar",         200, 300,  {{99, 101, 90, 230}},                {},                   6.0f, 100.3f, 150.2f,  89,  231,  -1,  -1,  143,  -1, 0, {91, 109, 89, 231},
   " RemoveSatBar: maxval(TheImage) = 60000\n RemoveSatBar: saturated = 60000\n RemoveSatBar: Bar length = 143\n"},
  {"OneColumnBarFollowedAcrossOneRowGaps",  100, 300,  {{50, 50, 40, 260}},                 {{50, 200}, {50, 80}}, 0.0f, 50.5f,  150.5f,  40,  260,  50,  50,  -1,   -1, 0, {40, 60, 40, 260}, ""},
  {"OffCentreTop",                          100, 300,  {{50, 50, 100, 200}, {51, 51, 201, 230}}, {},               0.0f, 50.0f,  150.0f,  -1,  230,  50,  51,  -1,   -1, 1, {41, 59, 100, 230}, ""},
  {"BarWiderThanNinePixels",                120, 200,  {{50, 70, 60, 140}},                 {},                   0.0f, 60.0f,  100.0f,  -1,  -1,   -1,  -1,  -1,   -1, 0, {45, 75, 59, 141}, ""},
  {"BarNearTheImageEdge",                   60,  200,  {{2, 4, 50, 150}},                   {},                   0.0f, 3.0f,   100.0f,  -1,  -1,   -1,  -1,  -1,    1, 0, {1, 13, 49, 151}, ""},
  {"BarLongerThanTwoThousandRows",          40,  2600, {{20, 20, 1, 2600}},                 {},                   0.0f, 20.0f,  1300.0f, 2,   2600, -1,  -1,  2599, -1, 0, {10, 30, 2, 2600}, ""},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Bars, RemoveSatBar, ::testing::ValuesIn(kBarCases),
                         [](const ::testing::TestParamInfo<BarCase>& i) { return std::string(i.param.name); });

TEST(RemoveSatBarRefusal, CentreOffTheImageLeavesItUntouched) {
  Image im = noisy_sky(60, 200);
  bar(im, {2, 4, 50, 150});
  const Image before = im;
  RemovalHarness h;
  const SatBarResult off = h.keep(REMOVESATBAR(im.view(), 70.0f, 100.0f, 1000.0f, 10.0f, h.ctx()));
  EXPECT_FALSE(off.removed);
  EXPECT_THAT(h.out.str(), HasSubstr(" The saturation bar centre lies outside the image; no bar is removed.\n"));
  EXPECT_EQ(im.px, before.px);
}
