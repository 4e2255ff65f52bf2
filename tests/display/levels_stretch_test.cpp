// zscale levels against astropy, the grey ramp of each stretch, the colour bar and literal
// labels, read back from what giza really draws (/png, and /ps through Ghostscript).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "display/display.h"
#include "numeric/zscale.h"
#include "session/display_menu.h"
#include "session/settings.h"
#include "support/display_rig.h"
#include "support/picture.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::display_rig;
using zelvo::testing::Picture;
using zelvo::testing::read_png;
using zelvo::testing::ScratchFolder;

namespace {

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " > /dev/null 2>&1").c_str()) == 0;
}

Picture read_ps(const std::string& path) {
  const std::string png = path + ".png";
  const std::string cmd =
      "gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=png16m -r100 -sOutputFile='" + png + "' '" + path + "'";
  return std::system(cmd.c_str()) == 0 ? read_png(png) : Picture{};
}

// --- zscale against astropy ------------------------------------------------------------

// The sample field (sky with a gradient, stars, a saturated star, a galaxy, noise) with
// `holes` NaN and infinite pixels.
Image field(int nx, int ny, unsigned seed, int holes) {
  FieldOptions o;
  o.nx = nx;
  o.ny = ny;
  o.seed = seed;
  Image im = synthetic_field(o).image;
  for (int k = 0; k < holes; ++k)
    im.at(1 + (k * 7919) % nx, 1 + (k * 104729) % ny) =
        k % 2 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  return im;
}

// astropy's ZScaleInterval().get_limits of the image, with Debian's python3.
std::optional<std::pair<double, double>> astropy_zscale(const ScratchFolder& dir, const Image& im) {
  {
    std::ofstream raw(dir.file("pixels.f32"), std::ios::binary);
    raw.write(reinterpret_cast<const char*>(im.view().px),
              static_cast<std::streamsize>(static_cast<std::size_t>(im.nx) * static_cast<std::size_t>(im.ny) *
                                           sizeof(float)));
  }
  const std::string cmd =
      "/usr/bin/python3 -c \"import sys, numpy as np; from astropy.visualization import "
      "ZScaleInterval; a = np.fromfile(sys.argv[1], dtype='<f4').reshape(" +
      std::to_string(im.ny) + ", " + std::to_string(im.nx) +
      "); print('%.9g %.9g' % ZScaleInterval().get_limits(a))\" '" + dir.file("pixels.f32") + "' 2>/dev/null";
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return std::nullopt;
  double lo = 0, hi = 0;
  const bool ok = std::fscanf(f, "%lf %lf", &lo, &hi) == 2;
  pclose(f);
  if (!ok) return std::nullopt;
  return std::pair{lo, hi};
}

struct ZscaleCase {
  const char* what;
  int nx, ny, holes;
  unsigned seed;
};

class ZscaleAgainstAstropy : public ::testing::TestWithParam<ZscaleCase> {};

TEST_P(ZscaleAgainstAstropy, LevelsWithinThreePercentOfTheSpan) {
  const ZscaleCase c = GetParam();
  ScratchFolder dir;
  const Image im = field(c.nx, c.ny, c.seed, c.holes);
  const auto truth = astropy_zscale(dir, im);
  if (!truth) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  const auto z = zscale_levels(im.view());
  ASSERT_TRUE(z);
  const double span = truth->second - truth->first;
  ASSERT_GT(span, 0.0);
  EXPECT_NEAR(z->low, truth->first, 0.03 * span) << c.what;
  EXPECT_NEAR(z->high, truth->second, 0.03 * span) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Fields, ZscaleAgainstAstropy,
                         ::testing::Values(ZscaleCase{"512 x 512 field", 512, 512, 0, 1},
                                           ZscaleCase{"wide field with NaN and Inf", 700, 150, 40, 2},
                                           ZscaleCase{"fewer pixels than samples", 40, 24, 3, 3},
                                           ZscaleCase{"crowded small field", 64, 64, 0, 4}));

TEST(Zscale, NoFinitePixelGivesNoLevelsAndAFlatImageItsValue) {
  Image blank(10, 10, std::numeric_limits<float>::quiet_NaN());
  EXPECT_FALSE(zscale_levels(blank.view()));
  const auto flat = zscale_levels(Image(10, 10, 5.0f).view());
  ASSERT_TRUE(flat);
  EXPECT_EQ(flat->low, 5.0f);
  EXPECT_EQ(flat->high, 5.0f);
}

// --- the grey ramp of each stretch ---------------------------------------------------------

struct RampCase {
  Stretch stretch;
  bool negative;
};

class StretchRamp : public ::testing::TestWithParam<RampCase> {};

// A 256 x 4 image of 0 .. 255 along x, drawn between the levels 0 and 255 on a 800 x 600
// PNG: each column's grey is 255 times the stretch of its value (or 255 minus that in a
// negative display), astropy's curves: sqrt(x), log10(1000 x + 1) / 3.0004, asinh(10 x) / asinh(10).
TEST_P(StretchRamp, GreyFollowsTheCurve) {
  if (!have("convert")) GTEST_SKIP() << "ImageMagick convert is not installed";
  const RampCase c = GetParam();
  ScratchFolder dir;
  Image ramp(256, 4);
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 256; ++i) ramp.at(i, j) = static_cast<float>(i - 1);
  {
    Rig rig("", dir.file("ramp.png") + "/png");
    rig.gfx.viewport(0.1f, 0.9f, 0.1f, 0.9f);
    rig.gfx.window(0.5f, 256.5f, 0.5f, 4.5f);
    const float fg = c.negative ? 0.0f : 255.0f, bg = c.negative ? 255.0f : 0.0f;
    ASSERT_TRUE(rig.gfx.image(ramp.view(), Box{1, 256, 1, 4}, fg, bg, {0, 1, 0, 0, 0, 1}, true, c.stretch));
    rig.gfx.close_all();
  }
  const Picture p = read_png(dir.file("ramp.png"));
  ASSERT_EQ(p.w, 800);
  const auto expected = [&](double v) {
    const double x = std::clamp(v / 255.0, 0.0, 1.0);
    double s = x;
    if (c.stretch == Stretch::sqrt) s = std::sqrt(x);
    if (c.stretch == Stretch::log) s = std::log10(1000.0 * x + 1.0) / std::log10(1001.0);
    if (c.stretch == Stretch::asinh) s = std::asinh(10.0 * x) / std::asinh(10.0);
    return 255.0 * (c.negative ? 1.0 - s : s);
  };
  for (int v = 6; v <= 250; v += 4) {
    const int x = static_cast<int>(80 + (v + 0.5) / 256.0 * 640.0);
    const int g = p.grey(x, 300);
    // The device quantises values to its colour indices: allow one value either side.
    const double a = expected(v - 1.5), b = expected(v + 1.5);
    EXPECT_GE(g, std::min(a, b) - 3.0) << stretch_name(c.stretch) << " at value " << v;
    EXPECT_LE(g, std::max(a, b) + 3.0) << stretch_name(c.stretch) << " at value " << v;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStretch, StretchRamp,
                         ::testing::Values(RampCase{Stretch::linear, false}, RampCase{Stretch::sqrt, false},
                                           RampCase{Stretch::log, false}, RampCase{Stretch::asinh, false},
                                           RampCase{Stretch::log, true}));

// --- the colour bar ---------------------------------------------------------------------

TEST(ColourBar, StandsRightOfTheFrameFromBlackAtTheLowLevelToWhiteAtTheHighWithTheLevelsWritten) {
  if (!have("convert")) GTEST_SKIP() << "ImageMagick convert is not installed";
  ScratchFolder dir;
  Image im(64, 64);
  for (int j = 1; j <= 64; ++j)
    for (int i = 1; i <= 64; ++i) im.at(i, j) = static_cast<float>(1000 + 3 * ((i * 7 + j * 13) % 11));
  {
    Rig rig("", dir.file("bar.png") + "/png");
    DisplayState st = open_limits('p');
    DISPLAYIMAGE({im.view(), "", "bar.fits"}, st, HeaderTexts{}, false, rig.con, rig.gfx);
    rig.gfx.close_all();
  }
  const Picture p = read_png(dir.file("bar.png"));
  ASSERT_EQ(p.w, 800);
  // The square frame of a 64 x 64 image: 0.8 x 600 pixels high, centred.
  const int top = 60, bottom = 540, right = 400 + 240;
  const int bx = right + static_cast<int>(0.0325 * 800);  // the middle of the bar
  EXPECT_GE(p.grey(bx, top + 4), 235) << "white at the high level";
  EXPECT_LE(p.grey(bx, bottom - 4), 20) << "black at the low level";
  int rises = 0;
  for (int y = top + 4; y < bottom - 8; y += 4) rises += p.grey(bx, y + 4) > p.grey(bx, y) + 2;
  EXPECT_EQ(rises, 0) << "the bar darkens steadily downwards";
  int ink_above = 0, ink_below = 0;
  for (int x = bx - 30; x <= bx + 30; ++x) {
    for (int y = top - 14; y < top - 1; ++y) ink_above += p.grey(x, y) < 128;
    for (int y = bottom + 2; y < bottom + 16; ++y) ink_below += p.grey(x, y) < 128;
  }
  EXPECT_GT(ink_above, 15) << "the high level is written above the bar";
  EXPECT_GT(ink_below, 15) << "the low level is written under it";
}

// --- literal labels ----------------------------------------------------------------------

struct GlyphCase {
  char glyph;
  const char* device;  // "png" or "ps"
};

class LiteralLabel : public ::testing::TestWithParam<GlyphCase> {};

Picture draw_label(const ScratchFolder& dir, const std::string& name, const std::string& device) {
  const std::string file = dir.file("label." + device);
  std::remove(file.c_str());
  {
    Rig rig("", file + "/" + device);
    DisplayState st = open_limits('n');
    if (device == "ps") st.printflag = 1;
    Image im(64, 64, 1.0f);
    im.at(1, 1) = 2.0f;
    DISPLAYIMAGE({im.view(), "", name}, st, HeaderTexts{}, false, rig.con, rig.gfx);
    rig.gfx.close_all();
  }
  return device == "ps" ? read_ps(file) : read_png(file);
}

// The ink of the label: the dark pixels above the frame (whose top edge is the first row
// that is dark across a quarter of the page) in the left half of the page.
struct Ink {
  int count = 0, right = -1, top = -1, bottom = -1;
};
int frame_top(const Picture& p) {
  for (int y = 0; y < p.h; ++y) {
    int dark = 0;
    for (int x = p.w / 4; x < 3 * p.w / 4; ++x) dark += p.grey(x, y) < 160;
    if (dark > p.w / 4) return y;
  }
  return p.h;
}
Ink label_ink(const Picture& p, int below_row = -1) {
  Ink k;
  const int top_edge = frame_top(p);
  for (int y = 0; y < top_edge - 1; ++y)
    for (int x = 0; x < p.w / 2; ++x)
      if (p.grey(x, y) < 128 && y > below_row) {
        ++k.count;
        k.right = std::max(k.right, x);
        if (k.top < 0) k.top = y;
        k.bottom = y;
      }
  return k;
}

// "m51<glyph>wcs.fits" against "m51wcs.fits": the character adds ink and takes room (an
// escape would do neither), the letters after it keep their height and place in the line
// (markup would raise or lower them), and an underscore is a flat stroke under the baseline.
TEST_P(LiteralLabel, TheCharacterIsDrawnInItsPlace) {
  const GlyphCase c = GetParam();
  if (!have(c.device == std::string("ps") ? "gs" : "convert")) GTEST_SKIP() << "no rasteriser for " << c.device;
  ScratchFolder dir;
  const Picture glyph = draw_label(dir, std::string("m51") + c.glyph + "wcs.fits", c.device);
  const Picture plain = draw_label(dir, "m51wcs.fits", c.device);
  ASSERT_GT(glyph.w, 100);
  ASSERT_EQ(glyph.w, plain.w);
  const Ink g = label_ink(glyph), n = label_ink(plain);
  ASSERT_GT(n.count, 50) << "no label drawn";
  EXPECT_GE(g.count, n.count + 4) << "the character has no ink";
  EXPECT_GE(g.right, n.right + 3) << "the character takes no room";
  EXPECT_NEAR(g.top, n.top, 1) << "the letters moved up";
  if (c.glyph != '_') {
    EXPECT_NEAR(g.bottom, n.bottom, 2) << "the letters moved down";
    return;
  }
  // Under the baseline (the lowest ink of the letters: the name has no descenders) lies
  // only the underscore: a stroke at most 3 rows thick and as wide as a letter.
  const Ink under = label_ink(glyph, n.bottom);
  EXPECT_GE(under.count, 4) << "nothing under the baseline (row " << n.bottom << ")";
  EXPECT_LE(under.bottom - under.top, 2) << "not a flat stroke";
  int left = glyph.w, right = -1;
  for (int y = n.bottom + 1; y <= under.bottom; ++y)
    for (int x = 0; x < glyph.w / 2; ++x)
      if (glyph.grey(x, y) < 128) left = std::min(left, x), right = std::max(right, x);
  EXPECT_GE(right - left, 3) << "narrower than a letter";
}

INSTANTIATE_TEST_SUITE_P(UnderscoreCaretBackslash, LiteralLabel,
                         ::testing::Values(GlyphCase{'_', "png"}, GlyphCase{'^', "png"}, GlyphCase{'\\', "png"},
                                           GlyphCase{'_', "ps"}, GlyphCase{'^', "ps"}, GlyphCase{'\\', "ps"}));

// --- choosing the levels and the stretch ---------------------------------------------------

struct SettingsCase {
  const char* text;
  LevelMode mode;
  Stretch stretch;
  const char* notice;  // part of the notice line, "" for none
};

class DisplaySettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(DisplaySettings, LinesThreeAndFour) {
  const SettingsCase c = GetParam();
  ScratchFolder dir;
  dir.write("Zelvo.ini", c.text);
  const Settings s = read_settings(dir.file("Zelvo.ini"));
  EXPECT_EQ(s.level_mode, c.mode) << c.text;
  EXPECT_EQ(s.stretch, c.stretch) << c.text;
  EXPECT_EQ(s.window_code, 3);
  if (*c.notice)
    EXPECT_NE(s.display_notice.find(c.notice), std::string::npos) << s.display_notice;
  else
    EXPECT_EQ(s.display_notice, "");
  EXPECT_EQ(s.notice, "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, DisplaySettings,
    ::testing::Values(SettingsCase{"3\n0\n", LevelMode::text, Stretch::linear, ""},
                      SettingsCase{"3\n0\nzscale\n", LevelMode::zscale, Stretch::linear, ""},
                      SettingsCase{"3\n0\nZSCALE   levels\nasinh  stretch\n", LevelMode::zscale, Stretch::asinh, ""},
                      SettingsCase{"3\n0\ntext\nlog\n", LevelMode::text, Stretch::log, ""},
                      SettingsCase{"3\n0\nzcsale\nsqrt\n", LevelMode::text, Stretch::sqrt, "line 3 'zcsale'"},
                      SettingsCase{"3\n0\nzscale\ngamma\n", LevelMode::zscale, Stretch::linear, "line 4 'gamma'"},
                      // Control bytes are shown, never sent to the terminal.
                      SettingsCase{"3\n0\nz\x1b[2Jx\n", LevelMode::text, Stretch::linear, "line 3 'z\\x1b[2Jx'"},
                      SettingsCase{"3\n0\ntext\nlo\x07g\n", LevelMode::text, Stretch::linear, "line 4 'lo\\x07g'"}));

// At D's level question the words switch the level mode (new automatic levels at once) or
// the stretch (the levels kept), each redrawing; "n" ends as before.
TEST(LevelQuestion, WordsSwitchTheLevelModeAndTheStretch) {
  Image im = field(200, 200, 5, 0);
  Rig rig("zscale\nasinh\ntext\nn\n");
  DisplayState st = open_limits('n');
  DISPLAYIMAGE({im.view(), "", "m.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  const std::string out = rig.out.str();
  const auto z = zscale_levels(im.view());
  const AutoLevels text = automatic_levels(im.view(), st.minlim, st.maxlim);
  const std::string text_line =
      list_record({"Display levels:  Low = ", text.lowlev, "  High = ", text.highlev, "  Scaling: negative"});
  const std::string z_line =
      list_record({"Display levels:  Low = ", z->low, "  High = ", z->high, "  Scaling: negative"});
  // text, zscale, zscale again (asinh keeps the levels), text again.
  std::size_t at = out.find(text_line);
  for (const std::string& l : {z_line, z_line, text_line}) {
    ASSERT_NE(at, std::string::npos) << out;
    at = out.find(l, at + 1);
  }
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(zelvo::testing::count_of(out, "(Or type zscale or text for the automatic levels"), 4);
  EXPECT_EQ(st.level_mode, LevelMode::text);
  EXPECT_EQ(st.stretch, Stretch::asinh);
}

}  // namespace
