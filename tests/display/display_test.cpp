// Display with automatic levels: the level estimate, the screen and print paths, the level
// dialogue, and what giza really draws (read back from /png).
#include "display/display.h"
#include "session/display_menu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "support/display_rig.h"
#include "support/picture.h"
#include "support/session_harness.h"

using namespace zelvo;

using namespace zelvo::display_rig;

// --- the central box and the level estimate ------------------------------------------

TEST(CentralBox, SquareBoxFromTheWidthAlone) {
  const Box a = central_box(100, 100);
  EXPECT_EQ(a.x0, 40);
  EXPECT_EQ(a.x1, 60);
  EXPECT_EQ(a.y0, 40);
  EXPECT_EQ(a.y1, 60);
  const Box b = central_box(1000, 400);  // 201 x 201: columns 400..600, rows 100..300
  EXPECT_EQ(b.x0, 400);
  EXPECT_EQ(b.x1, 600);
  EXPECT_EQ(b.y0, 100);
  EXPECT_EQ(b.y1, 300);
}

TEST(CentralBox, IsClippedToTinyAndWideLowImages) {
  const Box tiny = central_box(5, 7);  // nx/10 = 0: the single pixel (2, 3)
  EXPECT_EQ(tiny.x0, 2);
  EXPECT_EQ(tiny.x1, 2);
  EXPECT_EQ(tiny.y0, 3);
  EXPECT_EQ(tiny.y1, 3);
  const Box one = central_box(1, 1);
  EXPECT_EQ(one.x0, 1);
  EXPECT_EQ(one.x1, 1);
  EXPECT_EQ(one.y0, 1);
  EXPECT_EQ(one.y1, 1);
  const Box wide = central_box(1000, 10);  // rows 5 -/+ 100 would leave the image
  EXPECT_EQ(wide.x0, 400);
  EXPECT_EQ(wide.x1, 600);
  EXPECT_EQ(wide.y0, 1);
  EXPECT_EQ(wide.y1, 10);
  const Box row = central_box(30, 1);  // one row: ny/2 = 0
  EXPECT_EQ(row.x0, 12);
  EXPECT_EQ(row.x1, 18);
  EXPECT_EQ(row.y0, 1);
  EXPECT_EQ(row.y1, 1);
}

TEST(AutomaticLevels, UseOnlyTheBoxMeanPlusFiveAndMinusOneSigma) {
  // Box pixels alternate 90 and 110 (221 of 110, 220 of 90); pixels outside are huge.
  Image im(100, 100, 1.0e6f);
  for (int j = 40; j <= 60; ++j)
    for (int i = 40; i <= 60; ++i) im.at(i, j) = (i + j) % 2 == 0 ? 110.0f : 90.0f;
  const AutoLevels lv = automatic_levels(im.view(), kNoLow, kNoHigh);
  EXPECT_EQ(lv.n, 441);
  EXPECT_FALSE(lv.negative_variance);
  const double mean = (221.0 * 110 + 220.0 * 90) / 441.0;
  const double var = (221.0 * (110 - mean) * (110 - mean) + 220.0 * (90 - mean) * (90 - mean)) / 440.0;
  expect_close(lv.mean, mean);
  expect_close(lv.sigma, std::sqrt(var));
  expect_close(lv.highlev, mean + 5 * std::sqrt(var));
  expect_close(lv.lowlev, mean - std::sqrt(var));
}

TEST(AutomaticLevels, WideBoxCountsAllItsPixels) {
  Image big(1000, 400, 7.0f);
  EXPECT_EQ(automatic_levels(big.view(), kNoLow, kNoHigh).n, 201 * 201);
  Image low(1000, 10, 7.0f);
  const AutoLevels lv = automatic_levels(low.view(), kNoLow, kNoHigh);
  EXPECT_EQ(lv.n, 201 * 10);
  EXPECT_EQ(lv.lowlev, 7.0f);
  EXPECT_EQ(lv.highlev, 7.0f);
}

TEST(AutomaticLevels, AllZeroImageGivesSigmaZeroAndLevelsZero) {
  Image im(100, 100);
  const AutoLevels lv = automatic_levels(im.view(), 0.0f, 0.0f);
  EXPECT_EQ(lv.sigma, 0.0f);
  EXPECT_EQ(lv.lowlev, 0.0f);
  EXPECT_EQ(lv.highlev, 0.0f);
  EXPECT_FALSE(lv.negative_variance);
}

TEST(AutomaticLevels, LimitsClampLowAndHigh) {
  // Box: 441 pixels with mean 90 and sigma 10 (sigma known up to rounding): low ~80, high ~140.
  Image im(100, 100);
  for (int j = 40; j <= 60; ++j)
    for (int i = 40; i <= 60; ++i) im.at(i, j) = (i + j) % 2 == 0 ? 100.0f : 80.0f;
  const AutoLevels free = automatic_levels(im.view(), kNoLow, kNoHigh);
  ASSERT_LT(free.lowlev, 100.0f);
  ASSERT_GT(free.highlev, 120.0f);
  const AutoLevels lv = automatic_levels(im.view(), 100.0f, 120.0f);
  EXPECT_EQ(lv.lowlev, 100.0f);
  EXPECT_EQ(lv.highlev, 120.0f);
}

TEST(AutomaticLevels, SinglePixelBoxNeverDividesByZero) {
  Image im(5, 5, 3.0f);
  im.at(2, 2) = 42.0f;
  const AutoLevels lv = automatic_levels(im.view(), kNoLow, kNoHigh);
  EXPECT_EQ(lv.n, 1);
  EXPECT_EQ(lv.sigma, 0.0f);
  EXPECT_EQ(lv.lowlev, 42.0f);
  EXPECT_EQ(lv.highlev, 42.0f);
  Image one(1, 1, -5.0f);
  const AutoLevels lv1 = automatic_levels(one.view(), kNoLow, kNoHigh);
  EXPECT_EQ(lv1.lowlev, -5.0f);
  EXPECT_EQ(lv1.highlev, -5.0f);
}

TEST(AutomaticLevels, NegativeVarianceFromRoundingTakesSigmaOne) {
  // A flat 100.3 in 32-bit sums: s2 - s1*s1/n comes out slightly negative.
  Image im(100, 100, 100.3f);
  const AutoLevels lv = automatic_levels(im.view(), kNoLow, kNoHigh);
  EXPECT_TRUE(lv.negative_variance);
  EXPECT_EQ(lv.sigma, 1.0f);
  expect_close(lv.highlev, 105.3, 1e-6, 1e-3);
  expect_close(lv.lowlev, 99.3, 1e-6, 1e-3);
}

TEST(AutomaticLevels, NonFinitePixelsAreLeftOut) {
  Image im(100, 100, 50.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  im.at(50, 50) = nan;
  im.at(41, 41) = inf;
  im.at(60, 45) = -inf;
  const AutoLevels lv = automatic_levels(im.view(), kNoLow, kNoHigh);
  EXPECT_EQ(lv.n, 438);
  EXPECT_EQ(lv.lowlev, 50.0f);
  EXPECT_EQ(lv.highlev, 50.0f);

  // A blank centre falls back to the finite pixels of the whole image.
  Image hole(100, 100, 20.0f);
  for (int j = 40; j <= 60; ++j)
    for (int i = 40; i <= 60; ++i) hole.at(i, j) = nan;
  const AutoLevels lh = automatic_levels(hole.view(), kNoLow, kNoHigh);
  EXPECT_TRUE(lh.whole_image);
  EXPECT_TRUE(lh.finite);
  EXPECT_EQ(lh.n, 10000 - 441);
  EXPECT_EQ(lh.lowlev, 20.0f);

  Image none(10, 10, nan);
  const AutoLevels ln = automatic_levels(none.view(), kNoLow, kNoHigh);
  EXPECT_FALSE(ln.finite);
  EXPECT_TRUE(std::isfinite(ln.lowlev) && std::isfinite(ln.highlev));
}

TEST(AutomaticLevels, OverflowingSumsStillGiveFiniteLevels) {
  Image im(100, 100);
  for (int j = 1; j <= 100; ++j)
    for (int i = 1; i <= 100; ++i) im.at(i, j) = (i + j) % 2 == 0 ? 3.0e30f : 1.0e30f;
  const AutoLevels lv =
      automatic_levels(im.view(), -std::numeric_limits<float>::max(), std::numeric_limits<float>::max());
  EXPECT_TRUE(std::isfinite(lv.lowlev));
  EXPECT_TRUE(std::isfinite(lv.highlev));
  // 221 pixels of 3e30 and 220 of 1e30 in the box.
  const double mean = (221.0 * 3.0e30 + 220.0 * 1.0e30) / 441.0;
  const double var = (221.0 * std::pow(3.0e30 - mean, 2) + 220.0 * std::pow(1.0e30 - mean, 2)) / 440.0;
  expect_close(lv.mean, mean, 1e-5, 0);
  expect_close(lv.sigma, std::sqrt(var), 1e-5, 0);
  expect_close(lv.highlev, mean + 5 * std::sqrt(var), 1e-5, 0);
}

TEST(ImageStatisticsTest, MaximumMinimumAndAverageOfFinitePixels) {
  Image im = checker_field();
  const ImageStatistics s = image_statistics(im.view());
  EXPECT_EQ(s.maximum, 100.0f);
  EXPECT_EQ(s.minimum, -20.0f);
  EXPECT_FLOAT_EQ(s.average, 10.0056f);
  im.at(5, 5) = std::numeric_limits<float>::quiet_NaN();  // was 12
  const ImageStatistics t = image_statistics(im.view());
  EXPECT_EQ(t.finite, 9999u);
  EXPECT_FLOAT_EQ(t.average, 100044.0f / 9999.0f);
}

TEST(ImageStatisticsTest, AverageOfALargeFrameIsRight) {
  // A 32-bit running sum of 4 million pixels of 1000.3 ends percents too high.
  Image im(2048, 2048, 1000.3f);
  expect_close(image_statistics(im.view()).average, 1000.3, 1e-6, 0);
}

// --- texts and layout -----------------------------------------------------------------

TEST(SummaryLine, FixedColumns) {
  const HeaderTexts t = padded("05:12:33", "13:29:52.7", "+47:11:43", "R Johnson");
  const std::string line = summary_line(pad_right("NGC 5194", 20), "m51_r_band_long_name.fits", t);
  const std::string expected = "NGC 5194" + std::string(12, ' ') +  // object, 20
                               "   13:29:52" +                      // RA: 8 in 11
                               " +47:11:43" +                       // DEC: 9 in 10
                               " 05:12" +                           // ST: 5 in 6
                               std::string(5, ' ') +                // blank numeric field
                               " R " +                              // filter letter
                               "NGC 5194" + std::string(12, ' ') +  // object again
                               "m51_r_band_long_name";              // first 20 of the name
  EXPECT_EQ(line, expected);
  EXPECT_EQ(line.size(), 95u);
}

TEST(SummaryLine, ShortAndBlankHeaderTextsKeepTheLayout) {
  HeaderTexts t;  // all blank
  t.hdrra = "1:2";
  const std::string line = summary_line("", "m31.fits", t);
  EXPECT_EQ(line, std::string(20, ' ') + "   1:2     " + std::string(10 + 6 + 5 + 3 + 20, ' ') + "m31.fits" +
                      std::string(12, ' '));
}

TEST(DisplayLabel, FileAndTheNamePaddedTo80) {
  const std::string l = display_label("m51.fits");
  EXPECT_EQ(l.size(), 87u);
  EXPECT_EQ(l, "file : m51.fits" + std::string(72, ' '));
}

// --- what giza draws ---------------------------------------------------------------------

using zelvo::testing::Picture;
using zelvo::testing::read_png;

namespace {

bool have_convert() { return std::system("command -v convert > /dev/null 2>&1") == 0; }

// Device position of pixel coordinate (x, y) of a square n x n image as the display draws
// it: square pixels in the largest centred square of the central 80 % of the page, pixel i
// reaching from i - 0.5 to i + 0.5. PNG rows run downwards.
double frame_side(const Picture& p) { return 0.8 * std::min(p.w, p.h); }
int png_x(const Picture& p, double x, double n) {
  return static_cast<int>(0.5 * p.w - 0.5 * frame_side(p) + (x - 0.5) / n * frame_side(p));
}
int png_y(const Picture& p, double y, double n) {
  return static_cast<int>(0.5 * p.h + 0.5 * frame_side(p) - (y - 0.5) / n * frame_side(p));
}

// 64 x 64 sky of about 1000 with a fixed ripple, and a bright star at (20, 44).
Image star_field() {
  Image im(64, 64);
  for (int j = 1; j <= 64; ++j)
    for (int i = 1; i <= 64; ++i) {
      const double r2 = (i - 20.0) * (i - 20.0) + (j - 44.0) * (j - 44.0);
      im.at(i, j) = static_cast<float>(1000.0 + 2.0 * ((i * 7 + j * 13) % 11 - 5) + 30000.0 * std::exp(-r2 / 8.0));
    }
  return im;
}

Picture draw_to_png(const zelvo::testing::ScratchFolder& dir, const std::string& name, const Image& im, char scaling,
                    int greyflag) {
  Rig rig("", dir.file(name) + "/png");
  DisplayState st = open_limits(scaling);
  st.greyflag = greyflag;
  Image copy = im;
  DISPLAYIMAGE({copy.view(), "", name}, st, HeaderTexts{}, false, rig.con, rig.gfx);
  rig.gfx.close_all();
  return read_png(dir.file(name));
}

}  // namespace

// Draws the star field in positive and negative scaling; the star must be white in the
// first and black in the second.
struct PolarityPair {
  Picture pos, neg;
};
PolarityPair expect_star_polarity(const zelvo::testing::ScratchFolder& dir, int greyflag) {
  const Image im = star_field();
  PolarityPair p{draw_to_png(dir, "pos.png", im, 'p', greyflag), draw_to_png(dir, "neg.png", im, 'n', greyflag)};
  EXPECT_GT(p.pos.w, 100);
  EXPECT_GT(p.neg.w, 100);
  if (p.pos.w <= 100 || p.neg.w <= 100) return p;
  const int sx = png_x(p.pos, 20.0, 64), sy = png_y(p.pos, 44.0, 64);
  for (int c = 0; c < 3; ++c) {
    EXPECT_GE(p.pos.at(sx, sy)[c], 250) << "positive: the star is white";
    EXPECT_LE(p.neg.at(sx, sy)[c], 5) << "negative: the star is black";
  }
  return p;
}

TEST(Picture, StarIsWhiteInPositiveAndBlackInNegativeScaling) {
  if (!have_convert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  zelvo::testing::ScratchFolder dir;
  const auto [pos, neg] = expect_star_polarity(dir, 1);
  ASSERT_GT(pos.w, 100);
  const int kx = png_x(pos, 50.0, 64), ky = png_y(pos, 15.0, 64);  // sky
  EXPECT_LT(pos.grey(kx, ky), 128) << "positive: the sky is dark";
  EXPECT_GT(neg.grey(kx, ky), 128) << "negative: the sky is light";

  // Not a flat picture: the sky ripple shows as many grey levels across the frame.
  std::set<int> levels;
  for (int y = png_y(pos, 60, 64); y < png_y(pos, 4, 64); y += 7)
    for (int x = png_x(pos, 4, 64); x < png_x(pos, 60, 64); x += 7) levels.insert(pos.grey(x, y));
  EXPECT_GE(levels.size(), 8u);
}

TEST(Picture, PseudoColourFollowsThePolarity) {
  if (!have_convert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  zelvo::testing::ScratchFolder dir;
  const auto [pos, neg] = expect_star_polarity(dir, 0);
  ASSERT_GT(pos.w, 100);
  // Colour, not grey: somewhere in the sky red and blue differ clearly.
  bool coloured = false;
  for (int x = png_x(pos, 4, 64); x < png_x(pos, 60, 64) && !coloured; x += 3) {
    const unsigned char* p = pos.at(x, png_y(pos, 15.0, 64));
    coloured = std::abs(p[0] - p[2]) > 60;
  }
  EXPECT_TRUE(coloured);
}

TEST(Picture, EqualLevelsDrawNoImage) {
  if (!have_convert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  zelvo::testing::ScratchFolder dir;
  const Picture p = draw_to_png(dir, "zero.png", Image(100, 100), 'n', 1);
  ASSERT_GT(p.w, 100);
  // The frame's inside stays the background (giza alone would paint it black).
  EXPECT_GE(p.grey(p.w / 2, p.h / 2), 250);
  EXPECT_GE(p.grey(p.w / 3, p.h / 3), 250);
}

TEST(Picture, EnlargedPixelsAreSquareAndSharpAndStayInTheFrame) {
  if (!have_convert()) GTEST_SKIP() << "ImageMagick convert is not installed";
  zelvo::testing::ScratchFolder dir;
  Image board(8, 8);
  for (int j = 1; j <= 8; ++j)
    for (int i = 1; i <= 8; ++i) board.at(i, j) = (i + j) % 2 == 0 ? 1.0f : 0.0f;
  {
    Rig rig("", dir.file("board.png") + "/png");
    rig.gfx.viewport(0.1f, 0.9f, 0.1f, 0.9f);
    rig.gfx.window_equal_scales(0.5f, 8.5f, 0.5f, 8.5f);
    ASSERT_TRUE(rig.gfx.image(board.view(), Box{1, 8, 1, 8}, 1.0f, 0.0f, {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f}, true));
    rig.gfx.close_all();
  }
  const Picture p = read_png(dir.file("board.png"));
  ASSERT_GT(p.w, 100);
  // Along the middle of row 4 (world y = 4): only black and white, bar a pixel at each of
  // the 7 cell boundaries. Bilinear smoothing would give long grey ramps instead.
  const int y = png_y(p, 4.0, 8.0);
  int intermediate = 0;
  for (int x = png_x(p, 0.55, 8.0); x <= png_x(p, 8.45, 8.0); ++x) {
    const int g = p.grey(x, y);
    if (g > 20 && g < 235) ++intermediate;
  }
  EXPECT_LE(intermediate, 14);
  // Cell (1, 4) is odd, so black; cell (2, 4) white (fg = 1 is drawn white).
  EXPECT_LE(p.grey(png_x(p, 1.0, 8.0), y), 5);
  EXPECT_GE(p.grey(png_x(p, 2.0, 8.0), y), 250);
  // The cells are square on the page.
  int black_w = 0, black_h = 0;
  // (the run of dark pixels through the middle of cell (1, 4), the frame line included on
  // its left: within two pixels of an eighth of the frame)
  for (int x = png_x(p, 1.0, 8.0); p.grey(x, y) <= 127; --x) ++black_w;
  for (int x = png_x(p, 1.0, 8.0) + 1; p.grey(x, y) <= 127; ++x) ++black_w;
  for (int yy = y; p.grey(png_x(p, 1.0, 8.0), yy) <= 127; --yy) ++black_h;
  for (int yy = y + 1; p.grey(png_x(p, 1.0, 8.0), yy) <= 127; ++yy) ++black_h;
  EXPECT_NEAR(black_w, frame_side(p) / 8.0, 3.0);
  EXPECT_NEAR(black_h, frame_side(p) / 8.0, 3.0);
  // Nothing spills over the right edge of the frame.
  EXPECT_GE(p.grey(png_x(p, 8.5, 8.0) + 6, y), 250);
  EXPECT_GE(p.grey(png_x(p, 2.0, 8.0), png_y(p, 8.5, 8.0) - 6), 250);
}
