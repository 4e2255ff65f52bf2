// The saturated-star centre from five rows, and the removal of saturation bars.
#include "removal/satbar.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

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

void bar(Image& im, int x1, int x2, int y1, int y2) {
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) im.at(x, y) = 60000.0f;
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

TEST(RemoveSatBar, SaturatedStarWithAVerticalBarBecomesSky) {
  Image im = noisy_sky(200, 300);
  saturated_disc(im, 100.0, 150.0, 6.0);
  bar(im, 99, 101, 90, 230);
  const Image before = im;
  RemovalHarness h;
  SatBarBand band;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), 100.3f, 150.2f, 1000.0f, 10.0f, 2, band, h.ctx()));
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.saturated, 60000);
  EXPECT_FLOAT_EQ(band.upper, 30500.0f);
  EXPECT_FLOAT_EQ(band.lower, 970.0f);
  // The first rows beyond the bright run belong to the bar.
  EXPECT_EQ(r.ytop, 231);
  EXPECT_EQ(r.ybot, 89);
  EXPECT_EQ(r.length, 143);
  // Bar and star are now sky: fill (mean of sky pixels) plus noise of +-sqrt(3) 10.
  expect_sky(im, 91, 109, 89, 231, 30.0f);
  // Nothing beyond offset 10 or outside the bar rows changed.
  for (int y = 1; y <= 300; ++y)
    for (int x = 1; x <= 200; ++x) {
      const bool inside = x >= 90 && x <= 110 && y >= 89 && y <= 231;
      if (!inside) {
        ASSERT_EQ(im.at(x, y), before.at(x, y)) << x << "," << y;
      }
    }
  EXPECT_THAT(h.out.str(), HasSubstr(" RemoveSatBar: Bar length = 143\n"));
  EXPECT_THAT(h.out.str(), Not(HasSubstr("Horizontal displacement")));
  EXPECT_EQ(read_file(h.log_path),
            " RemoveSatBar: maxval(TheImage) = 60000\n RemoveSatBar: saturated = 60000\n"
            " RemoveSatBar: Bar length = 143\n");
  restore_satbar(r, im.view());
  EXPECT_EQ(im.px, before.px);
}

TEST(RemoveSatBar, OneColumnBarIsFollowedAcrossOneRowGapsBothWays) {
  Image im = noisy_sky(100, 300);
  bar(im, 50, 50, 40, 260);
  im.at(50, 200) = 1000.0f;  // gaps the trace steps over through offset 0
  im.at(50, 80) = 1000.0f;
  RemovalHarness h;
  SatBarBand band;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), 50.5f, 150.5f, 1000.0f, 10.0f, 2, band, h.ctx()));
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.ybot, 40);
  EXPECT_EQ(r.ytop, 260);
  EXPECT_EQ(r.xtop, 50);
  EXPECT_EQ(r.xbot, 50);
  EXPECT_THAT(h.out.str(), Not(HasSubstr("Horizontal displacement")));
  expect_sky(im, 40, 60, 40, 260, 30.0f);
}

TEST(RemoveSatBar, OffCentreTopIsReportedAndStillReplacedAlongTheColumn) {
  Image im = noisy_sky(100, 300);
  bar(im, 50, 50, 100, 200);
  bar(im, 51, 51, 201, 230);
  RemovalHarness h;
  SatBarBand band;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), 50.0f, 150.0f, 1000.0f, 10.0f, 2, band, h.ctx()));
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.xtop, 51);
  EXPECT_EQ(r.xbot, 50);
  EXPECT_EQ(r.ytop, 230);
  EXPECT_THAT(h.out.str(), HasSubstr(" RemoveSatBar: Horizontal displacement = 1\n"));
  EXPECT_THAT(read_file(h.log_path), HasSubstr(" RemoveSatBar: Horizontal displacement = 1\n"));
  expect_sky(im, 41, 59, 100, 230, 30.0f);
}

TEST(RemoveSatBar, BarWiderThanNinePixelsIsFilledFromBeyondIt) {
  // 21 columns (offsets -10..10): no sky pixel within nine offsets on either side.
  Image im = noisy_sky(120, 200);
  bar(im, 50, 70, 60, 140);
  RemovalHarness h;
  SatBarBand band;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), 60.0f, 100.0f, 1000.0f, 10.0f, 2, band, h.ctx()));
  ASSERT_TRUE(r.removed);
  expect_sky(im, 45, 75, 59, 141, 30.0f);
}

TEST(RemoveSatBar, BarsNearTheImageEdgeTouchOnlyPixelsInside) {
  Image im = noisy_sky(60, 200);
  bar(im, 2, 4, 50, 150);
  RemovalHarness h;
  SatBarBand band;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), 3.0f, 100.0f, 1000.0f, 10.0f, 2, band, h.ctx()));
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.changed.x0, 1);
  expect_sky(im, 1, 13, 49, 151, 30.0f);

  const Image before = im;
  const SatBarResult off = h.keep(REMOVESATBAR(im.view(), 70.0f, 100.0f, 1000.0f, 10.0f, 2, band, h.ctx()));
  EXPECT_FALSE(off.removed);
  EXPECT_THAT(h.out.str(), HasSubstr(" The saturation bar centre lies outside the image; no bar is removed.\n"));
  EXPECT_EQ(im.px, before.px);
}

TEST(RemoveSatBar, BarLongerThanTwoThousandRows) {
  Image im = noisy_sky(40, 2600);
  bar(im, 20, 20, 1, 2600);
  RemovalHarness h;
  SatBarBand band;
  const SatBarResult r = h.keep(REMOVESATBAR(im.view(), 20.0f, 1300.0f, 1000.0f, 10.0f, 2, band, h.ctx()));
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.ytop, 2600);
  EXPECT_EQ(r.ybot, 2);  // the downward trace stays above row 2
  EXPECT_EQ(r.length, 2599);
  expect_sky(im, 10, 30, 2, 2600, 30.0f);
  EXPECT_EQ(im.at(20, 1), 60000.0f);
}
