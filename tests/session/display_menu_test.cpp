// Display with automatic levels: the level estimate, the screen and print paths, the level
// dialogue, and what giza really draws (read back from /png).
#include "session/display_menu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "support/display_rig.h"
#include "support/session_harness.h"

using namespace zelvo;
using ::testing::HasSubstr;
using ::testing::Not;

using namespace zelvo::display_rig;

// --- the report and the level dialogue of DISPLAYIMAGE ------------------------------------

namespace {

// The checkerboard's central box (columns and rows 40 .. 60) holds 221 pixels of 12 and 220
// of 8: its mean and sigma in closed form, and the levels mean - sigma and mean + 5 sigma.
const double kBoxMean = (221.0 * 12.0 + 220.0 * 8.0) / 441.0;
const double kBoxSigma =
    std::sqrt((221.0 * (12.0 - kBoxMean) * (12.0 - kBoxMean) + 220.0 * (8.0 - kBoxMean) * (8.0 - kBoxMean)) / 440.0);
const double kBoxLow = kBoxMean - kBoxSigma, kBoxHigh = kBoxMean + 5.0 * kBoxSigma;

}  // namespace

TEST(ScreenPath, StatisticsSummaryAndLevelsExactly) {
  Image im = checker_field();
  Rig rig;
  DisplayState st = open_limits('n');
  const HeaderTexts t = padded("05:12:33", "13:29:52.7", "+47:11:43", "R");
  DISPLAYIMAGE({im.view(), pad_right("NGC 5194", 20), "m51.fits"}, st, t, false, rig.con, rig.gfx);

  const std::string expected =
      "\n"
      " The maximum pixel value in the image = 100.0\n"
      " The minimum pixel value in the image = -20.0\n"
      " The average of image pixel values = 10.0056\n" +
      summary_line(pad_right("NGC 5194", 20), "m51.fits", t) + "\n" +
      " Display levels:  Low = 8.002268  High = 20.01587  Scaling: negative\n";
  EXPECT_EQ(rig.out.str(), expected);

  // Negative scaling: the low level is drawn in the foreground colour.
  expect_close(st.lowlev, kBoxLow, 1e-6, 0);
  expect_close(st.highlev, kBoxHigh, 1e-6, 0);
  EXPECT_EQ(st.fglev, st.lowlev);
  EXPECT_EQ(st.bglev, st.highlev);
  // Pixel (i, j) is centred on world (i, j).
  EXPECT_EQ(st.displaytr[0], 0.0f);
  EXPECT_EQ(st.displaytr[3], 0.0f);
  EXPECT_TRUE(st.levels_set);
  EXPECT_EQ(st.displaytr[1], 1.0f);
  EXPECT_EQ(st.displaytr[5], 1.0f);
}

TEST(ScreenPath, PositiveScalingAndTheNegativeVarianceLine) {
  Image im(100, 100, 100.3f);
  Rig rig;
  DisplayState st = open_limits('p');
  DISPLAYIMAGE({im.view(), "", "flat.fits"}, st, HeaderTexts{}, false, rig.con, rig.gfx);
  const std::string out = rig.out.str();
  // The sums as they stand: s2 = 4436481.5 and s1 = 44232.4922 in 32-bit arithmetic.
  EXPECT_EQ(out.rfind(" ERROR: ss2= 4436482.0 skymean= 44232.49 ncnt= 441\n\n", 0), 0u) << out;
  EXPECT_THAT(out, HasSubstr("  Scaling: positive\n"));
  EXPECT_EQ(st.fglev, st.highlev);
  EXPECT_EQ(st.bglev, st.lowlev);
}

TEST(ScreenPath, AllZeroImageSaysItDrawsNothing) {
  Image im(100, 100);
  Rig rig;
  DisplayState st;  // limits 0 and 0, as after loading this image
  DISPLAYIMAGE({im.view(), "", "zero.fits"}, st, HeaderTexts{}, false, rig.con, rig.gfx);
  EXPECT_THAT(rig.out.str(), HasSubstr(" Display levels:  Low = 0.0  High = 0.0  Scaling: negative\n"
                                       " Low and high display levels are equal (0.0); the image is not drawn.\n"));
}

TEST(ScreenPath, ImageWithoutFinitePixelsSaysSo) {
  Image im(20, 20, std::numeric_limits<float>::quiet_NaN());
  Rig rig;
  DisplayState st = open_limits();
  DISPLAYIMAGE({im.view(), "", "blank.fits"}, st, HeaderTexts{}, false, rig.con, rig.gfx);
  const std::string out = rig.out.str();
  EXPECT_THAT(out,
              HasSubstr("\n The image holds no finite pixel values (only NaN or infinite ones); it is not drawn.\n"));
  EXPECT_THAT(out, Not(HasSubstr("= NaN")));
  EXPECT_THAT(out, Not(HasSubstr("equal")));
}

TEST(PrintPath, PrintsNothingButDrawsTheSameLevels) {
  Image im = checker_field();
  Rig rig;
  DisplayState st = open_limits('p');
  st.printflag = 1;
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  EXPECT_EQ(rig.out.str(), "");
  expect_close(st.fglev, kBoxHigh, 1e-6, 0);
  expect_close(st.bglev, kBoxLow, 1e-6, 0);

  Image flat(100, 100, 100.3f);
  Rig rig2;
  DISPLAYIMAGE({flat.view(), "", "flat.fits"}, st, HeaderTexts{}, true, rig2.con, rig2.gfx);
  EXPECT_EQ(rig2.out.str(), " ERROR: ss2= 4436482.0 skymean= 44232.49 ncnt= 441\n");
}

// --- the level dialogue -----------------------------------------------------------------

TEST(LevelDialogue, SillyLimitsAreReplacedByTheImageRangeAndTheLevelsRedrawn) {
  Image im = checker_field();
  Rig rig("y\n10 500 P\n5 5\nn\n");
  DisplayState st = open_limits('n');
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  const std::string out = rig.out.str();
  const std::string question = " Do you want to change display levels (y/n)? \n";
  const std::string after_yes =
      question +
      " Give the new low and high display levels followed by p to display \n"
      " values above the high level white (positive) or n to display them \n"
      " black (negative); an empty answer keeps the levels shown above: \n"
      " These levels hold for every display until you type others, or zscale or text.\n"
      " Limits for the automatic levels (zscale, text and the zoomed views): \n"
      " their low level is never set below the first, their high level never \n"
      " above the second. Give the two, smaller first (empty: keep -1.0E+30 1.0E+30):\n"
      " That is silly, you can not give min value equal or \n"
      " greater than max value. Values set at -20.0 100.0\n"
      " Display levels:  Low = 10.0  High = 500.0  Scaling: positive\n" +
      " (Or type zscale or text for the automatic levels, linear, sqrt, log or asinh for the stretch.)\n" + question;
  ASSERT_THAT(out, HasSubstr(after_yes));
  EXPECT_TRUE(out.size() >= after_yes.size() &&
              out.compare(out.size() - after_yes.size(), after_yes.size(), after_yes) == 0)
      << out;
  EXPECT_EQ(zelvo::testing::count_of(out, question), 2);
  EXPECT_EQ(st.scaling, 'p');
  EXPECT_EQ(st.lowlev, 10.0f);
  EXPECT_EQ(st.highlev, 500.0f);
  EXPECT_EQ(st.fglev, 500.0f);
  EXPECT_EQ(st.bglev, 10.0f);
  EXPECT_EQ(st.minlim, -20.0f);
  EXPECT_EQ(st.maxlim, 100.0f);
}

// Answers the dialogue accepts: the levels, scaling and limits they leave, and a line it prints.
struct LevelAnswers {
  const char* answers;
  char before;  // the scaling before the dialogue
  float low, high;
  char scaling;
  float minlim, maxlim;
  const char* says;
};

class LevelDialogueAnswers : public ::testing::TestWithParam<LevelAnswers> {};

TEST_P(LevelDialogueAnswers, SetTheLevelsScalingAndLimits) {
  const LevelAnswers& c = GetParam();
  Image im = checker_field();
  Rig rig(c.answers);
  DisplayState st = open_limits(c.before);
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  const std::string out = rig.out.str();
  EXPECT_THAT(out, HasSubstr(c.says));
  EXPECT_THAT(out, Not(HasSubstr("That is silly")));
  EXPECT_EQ(st.lowlev, c.low);
  EXPECT_EQ(st.highlev, c.high);
  EXPECT_EQ(st.scaling, c.scaling);
  EXPECT_EQ(st.fglev, c.scaling == 'n' ? c.low : c.high);  // negative: the low level in the foreground
  EXPECT_EQ(st.bglev, c.scaling == 'n' ? c.high : c.low);
  EXPECT_EQ(st.minlim, c.minlim);
  EXPECT_EQ(st.maxlim, c.maxlim);
}

INSTANTIATE_TEST_SUITE_P(
    LevelDialogue, LevelDialogueAnswers,
    ::testing::Values(  // 'x' means n; upper-case N continues and the letter N is normalised; 'ten' is asked again
        LevelAnswers{"Y\n1 2 x\n9 10\nn\n", 'p', 1, 2, 'n', 9, 10,
                     " Display levels:  Low = 1.0  High = 2.0  Scaling: negative\n"},
        LevelAnswers{"N\n3,4,N\n0 50\nn\n", 'p', 3, 4, 'n', 0, 50,
                     " Display levels:  Low = 3.0  High = 4.0  Scaling: negative\n"},
        LevelAnswers{"y\nten 500 p\n10 500 p\n1 2\nn\n", 'n', 10, 500, 'p', 1, 2, "'ten'"}));

TEST(LevelDialogue, EmptyAnswersKeepTheLevelsTheScalingAndTheLimits) {
  Image im = checker_field();
  Rig plain;
  DisplayState shown = open_limits('n');
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, shown, HeaderTexts{}, false, plain.con, plain.gfx);
  Rig rig("y\n\n\nn\n");
  DisplayState st = open_limits('n');
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  const std::string out = rig.out.str();
  EXPECT_THAT(out, Not(HasSubstr("Expected")));
  EXPECT_THAT(out, Not(HasSubstr("These levels hold")));
  EXPECT_EQ(st.lowlev, shown.lowlev);
  EXPECT_EQ(st.highlev, shown.highlev);
  EXPECT_EQ(st.scaling, 'n');
  EXPECT_EQ(st.minlim, kNoLow);
  EXPECT_EQ(st.maxlim, kNoHigh);
  EXPECT_FALSE(st.typed);
  // Nothing calls the low level black or the high one white: on this negative display the
  // low level is drawn white.
  EXPECT_THAT(out, Not(HasSubstr("black (low)")));
  EXPECT_EQ(st.fglev, st.lowlev);
}

TEST(LevelDialogue, TypedLevelsHoldForLaterDisplaysUntilAnAutomaticModeIsChosen) {
  Image im = checker_field();
  Rig rig("y\n35 90 p\n\nn\n");
  DisplayState st = open_limits('n');
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  EXPECT_THAT(rig.out.str(),
              HasSubstr(" These levels hold for every display until you type others, or zscale or text.\n"));
  EXPECT_EQ(level_caption(st, false), "linear typed levels");
  // A later display without the dialogue (the removal and galaxy redraws, the next D).
  Rig again;
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, false, again.con, again.gfx);
  EXPECT_THAT(again.out.str(), HasSubstr(" Display levels:  Low = 35.0  High = 90.0  Scaling: positive\n"));
  // Choosing zscale gives the automatic levels back, and the bar says so.
  Rig back("zscale\nn\n");
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, back.con, back.gfx);
  EXPECT_FALSE(st.typed);
  EXPECT_NE(st.lowlev, 35.0f);
  EXPECT_EQ(level_caption(st, false), "linear zscale");
}

TEST(LevelDialogue, TheNextDisplayComputesTheLevelsWithinTheNewLimits) {
  Image im = checker_field();
  Rig rig("Y\n1 2 x\n9 10\ntext\nn\n");  // typed levels, then the automatic ones again
  DisplayState st = open_limits('p');
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx);
  Rig again;
  DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, false, again.con, again.gfx);
  EXPECT_EQ(st.lowlev, 9.0f);
  EXPECT_EQ(st.highlev, 10.0f);
  EXPECT_EQ(st.fglev, 9.0f);  // still negative
}

TEST(LevelDialogue, EndOfInputPropagates) {
  Image im = checker_field();
  Rig rig("y\n10 500\n");
  DisplayState st = open_limits('n');
  EXPECT_THROW(DISPLAYIMAGE({im.view(), "", "m51.fits"}, st, HeaderTexts{}, true, rig.con, rig.gfx), EndOfInput);
}
