#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <utility>

#include "session/commands.h"
#include "session/edits.h"
#include "support/coded_image.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"

using namespace zelvo;
using ::testing::HasSubstr;
using ::testing::Not;
using zelvo::testing::coded_image;
using zelvo::testing::ScriptedSession;

namespace {

bool same_pixels(const Image& a, const Image& b) { return a.nx == b.nx && a.ny == b.ny && a.px == b.px; }

constexpr const char* kLongName = "ngc4565_r_band.fits";  // long enough to show the marker

}  // namespace

// ---------------------------------------------------------------- rotate and reflect

TEST(Rotate, TheThreeByTwoExampleTurnsClockwise) {
  // Top row a b c, bottom row d e f (y grows upwards).
  const float a = 1, b = 2, c = 3, d = 4, e = 5, f = 6;
  Image img(3, 2);
  img.at(1, 2) = a, img.at(2, 2) = b, img.at(3, 2) = c;
  img.at(1, 1) = d, img.at(2, 1) = e, img.at(3, 1) = f;
  ScriptedSession t;
  t.load(1, img, kLongName);
  const std::string out = t.run(command_rotate, "a\n");
  EXPECT_THAT(out, HasSubstr(" Enter your choice (for the active image);\n"
                             "   rotate A=90, B=180, or C=270 degrees clockwise:\n"));
  const Image& r = t.slot(1).image;
  ASSERT_EQ(r.nx, 2);
  ASSERT_EQ(r.ny, 3);
  EXPECT_EQ(r.at(1, 3), d);  // top row d a
  EXPECT_EQ(r.at(2, 3), a);
  EXPECT_EQ(r.at(1, 2), e);  // middle row e b
  EXPECT_EQ(r.at(2, 2), b);
  EXPECT_EQ(r.at(1, 1), f);  // bottom row f c
  EXPECT_EQ(r.at(2, 1), c);
  EXPECT_EQ(t.slot(1).name, std::string(kLongName) + " <modified>");
}

namespace {

// Each answer of the rotate dialogue, on a 5 x 3 image: the size it gives and where each
// pixel comes from (old.at(from(x, y))).
struct RotateCase {
  const char* name;
  const char* answer;
  bool turned;  // width and height swap
  std::pair<int, int> (*from)(int x, int y, int n, int m);
};

void PrintTo(const RotateCase& c, std::ostream* os) { *os << c.answer; }

const RotateCase kRotations[] = {
    {"A", "A", true, [](int x, int y, int n, int) { return std::make_pair(n + 1 - y, x); }},
    {"B", "b", false, [](int x, int y, int n, int m) { return std::make_pair(n + 1 - x, m + 1 - y); }},
    {"C", "C", true, [](int x, int y, int, int m) { return std::make_pair(y, m + 1 - x); }},
};

}  // namespace

class RotateChoice : public ::testing::TestWithParam<RotateCase> {};

TEST_P(RotateChoice, FollowsItsPixelTable) {
  const int n = 5, m = 3;
  const Image old = coded_image(n, m);
  const RotateCase& c = GetParam();
  ScriptedSession t;
  t.load(1, old, kLongName);
  t.run(command_rotate, std::string(c.answer) + "\n");
  const Image& r = t.slot(1).image;
  ASSERT_EQ(r.nx, c.turned ? m : n);
  ASSERT_EQ(r.ny, c.turned ? n : m);
  for (int y = 1; y <= r.ny; ++y)
    for (int x = 1; x <= r.nx; ++x) {
      const auto [fx, fy] = c.from(x, y, n, m);
      EXPECT_EQ(r.at(x, y), old.at(fx, fy)) << x << " " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, RotateChoice, ::testing::ValuesIn(kRotations),
                         [](const ::testing::TestParamInfo<RotateCase>& info) { return std::string(info.param.name); });

TEST(Rotate, InversesRestore) {
  const Image old = coded_image(5, 3);
  ScriptedSession t;
  t.load(1, old, "m31.fits");
  t.run(command_rotate, "a\n");
  t.run(command_rotate, "c\n");
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));
  t.run(command_rotate, "B\n");
  t.run(command_rotate, "B\n");
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));
  EXPECT_EQ(t.slot(1).name, "m31.fits <modified>");  // a short name shows it too
  EXPECT_TRUE(t.slot(1).modified);
}

TEST(Rotate, AnotherAnswerLeavesThePixelsButMarksTheSlot) {
  ScriptedSession t;
  const Image old = coded_image(4, 3);
  t.load(1, old, kLongName);
  t.run(command_rotate, "Z\n");
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));
  EXPECT_EQ(t.slot(1).name, std::string(kLongName) + " <modified>");
}

TEST(Reflect, LeftRightTwiceRestoresAndTopBottomMirrorsRows) {
  const Image old = coded_image(4, 3);
  ScriptedSession t;
  t.load(1, old, kLongName);
  const std::string out = t.run(command_reflect, "a\n");
  EXPECT_THAT(out, HasSubstr("\n Enter your choice (for the active image);\n"
                             "   A = reflect left to right, B = reflect top to bottom:\n"));
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 4; ++x) EXPECT_EQ(t.slot(1).image.at(x, y), old.at(5 - x, y));
  t.run(command_reflect, "A\n");
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));

  t.run(command_reflect, "b\n");
  for (int x = 1; x <= 4; ++x) {
    EXPECT_EQ(t.slot(1).image.at(x, 1), old.at(x, 3));
    EXPECT_EQ(t.slot(1).image.at(x, 2), old.at(x, 2));
    EXPECT_EQ(t.slot(1).image.at(x, 3), old.at(x, 1));
  }
  t.run(command_reflect, "q\n");  // no change, still marked
  EXPECT_EQ(t.slot(1).image.at(1, 1), old.at(1, 3));
  EXPECT_EQ(t.slot(1).name, std::string(kLongName) + " <modified>");
}

// ---------------------------------------------------------------- crop

TEST(Crop, TheExampleShowsTheClickAndKeepsTheRequestedArea) {
  ScriptedSession t;
  const Image old = coded_image(100, 100);
  t.load(1, old, "m31.fits");
  const std::string out = t.run(command_crop, "62.5 47\n11, 20\n31 40\n");
  EXPECT_THAT(out, HasSubstr(" N.B. This procedure will replace current image in the memory\n"
                             " with the cropped one. The original image file will not be\n"
                             " affected in any way. You have to save the new one manually.\n"
                             "\n"
                             " Click approximately on the centre of cropped image.\n"));
  EXPECT_THAT(out, HasSubstr(" You clicked at 62.5 47.0\n"));
  EXPECT_THAT(out, HasSubstr(" Give four values to define the cropped image:\n"
                             " first and last x- and first and last y-value.\n"));
  EXPECT_FLOAT_EQ(t.s.cursor.x, 62.5f);
  EXPECT_FLOAT_EQ(t.s.cursor.y, 47.0f);
  const Image& c = t.slot(1).image;
  ASSERT_EQ(c.nx, 10);
  ASSERT_EQ(c.ny, 10);
  for (int y = 1; y <= 10; ++y)
    for (int x = 1; x <= 10; ++x) EXPECT_EQ(c.at(x, y), old.at(x + 10, y + 30));
  EXPECT_EQ(t.slot(1).name, "m31.fits <modified>");
}

class CropLimits : public ::testing::TestWithParam<const char*> {};

TEST_P(CropLimits, OutsideReversedOrEmptyAreRefused) {
  const std::string limits = GetParam();
  ScriptedSession t;
  const Image old = coded_image(100, 100);
  t.load(1, old, kLongName);
  const std::string out = t.run(command_crop, "50 50\n" + limits + "\n");
  EXPECT_THAT(out, HasSubstr(" Crop limits must lie inside the image, first <= last in both axes; image unchanged.\n"));
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));
  EXPECT_EQ(t.slot(1).name, kLongName);
  EXPECT_FALSE(t.slot(1).modified);
}

INSTANTIATE_TEST_SUITE_P(Refused, CropLimits,
                         ::testing::Values("0 10 1 10", "1 101 1 10", "1 10 -5 10", "1 10 90 101", "20 11 1 10",
                                           "1 10 40 31", "2147483647 -2147483647 1 1"));

// ---------------------------------------------------------------- arithmetic

TEST(Arithmetic, TheMenuIsPrintedAsGiven) {
  ScriptedSession t;
  t.load(1, Image(2, 2, 1.0f), kLongName);
  const std::string out = t.run(command_arithmetic, "+ 1\n");
  EXPECT_THAT(out, HasSubstr("\n"
                             " Enter the arithmetic operation you want to do (to the image)\n"
                             " + N      [add N to every pixel of the active image]\n"
                             " - N      [subtract N from every pixel of the active image]\n"
                             " * N      [multiply every pixel of the active image with N]\n"
                             " / N      [divide every pixel of the active image by N]\n"
                             " iX + iY   [add image Y to image X, apply to active image]\n"
                             " iX - iY   [subtract image Y from image X,    -''-       ]\n"
                             " iX * iY   [multiply image X with image Y,    -''-       ]\n"
                             " iX / iY   [divide image X by image Y,        -''-       ]\n"
                             "\n"));
}

TEST(Arithmetic, ConstantFormsChangeEveryPixelAndReportInEightColumns) {
  Image img(3, 2);
  const float v[] = {1.5f, -2.25f, 10.0f, 0.0f, 7.0f, 3.125f};
  for (int i = 0; i < 6; ++i) img.px[static_cast<std::size_t>(i)] = v[i];

  ScriptedSession t;
  t.load(2, img, kLongName);
  t.s.slots.active_number = 2;
  std::string out = t.run(command_arithmetic, "* 2\n");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(t.slot(2).image.px[static_cast<std::size_t>(i)], 2.0f * v[i]);
  EXPECT_THAT(out, HasSubstr("\nThe maximum pixel value in the image (slot 2) =    20.00\n"
                             "The minimum pixel value in the image (slot 2) =    -4.50\n"));
  EXPECT_EQ(t.slot(2).name, std::string(kLongName) + " <modified>");

  t.run(command_arithmetic, "+ 5\n");
  t.run(command_arithmetic, "-,1.5\n");
  out = t.run(command_arithmetic, "/ 2.5\n");
  for (int i = 0; i < 6; ++i) {
    const float want = ((2.0f * v[i] + 5.0f) - 1.5f) / 2.5f;
    EXPECT_EQ(t.slot(2).image.px[static_cast<std::size_t>(i)], want);
  }
  EXPECT_THAT(out, HasSubstr("The maximum pixel value in the image (slot 2) =     9.40\n"
                             "The minimum pixel value in the image (slot 2) =    -0.40\n"));
  EXPECT_EQ(t.slot(2).name, std::string(kLongName) + " <modified>");  // marked once

  // A value longer than the field widens it rather than turning into asterisks.
  out = t.run(command_arithmetic, "* -10000\n");
  EXPECT_THAT(out, HasSubstr("The maximum pixel value in the image (slot 2) =  4000.00\n"
                             "The minimum pixel value in the image (slot 2) = -94000.00\n"));
}

TEST(Arithmetic, AnUnknownOperatorChangesNothingButMarksAndReports) {
  ScriptedSession t;
  const Image old = coded_image(3, 3);
  t.load(1, old, kLongName);
  const std::string out = t.run(command_arithmetic, "% 3\n");
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));
  EXPECT_EQ(t.slot(1).name, std::string(kLongName) + " <modified>");
  EXPECT_THAT(out, HasSubstr("The maximum pixel value in the image (slot 1) =  3003.00\n"));
  EXPECT_THAT(out, HasSubstr("The minimum pixel value in the image (slot 1) =  1001.00\n"));
}

TEST(Arithmetic, TwoSlotFormsCombineSlotsAndReportInTenColumns) {
  ScriptedSession t;
  const Image a = coded_image(4, 3);
  Image b(4, 3);
  for (std::size_t i = 0; i < b.px.size(); ++i) b.px[i] = 0.5f * static_cast<float>(i) + 1.0f;
  t.load(1, Image(4, 3, 7.0f), kLongName);
  t.load(2, a, "second_image.fits");
  t.load(3, b, "third_image.fits");

  std::string out = t.run(command_arithmetic, "i2 - i3\n");
  for (std::size_t i = 0; i < a.px.size(); ++i) EXPECT_EQ(t.slot(1).image.px[i], a.px[i] - b.px[i]);
  EXPECT_TRUE(same_pixels(t.slot(2).image, a));
  EXPECT_TRUE(same_pixels(t.slot(3).image, b));
  EXPECT_EQ(t.slot(2).name, "second_image.fits");
  EXPECT_EQ(t.slot(1).name, std::string(kLongName) + " <modified>");
  EXPECT_THAT(out, HasSubstr("\nThe maximum pixel value in the image (slot 1) =    3998.50\n"
                             "The minimum pixel value in the image (slot 1) =     998.00\n"));

  // The active slot as an operand: slot 1 becomes slot 1 times slot 3, then slot 2 / slot 1.
  const Image before = t.slot(1).image;
  t.run(command_arithmetic, "i1 * i3\n");
  for (std::size_t i = 0; i < a.px.size(); ++i) EXPECT_EQ(t.slot(1).image.px[i], before.px[i] * b.px[i]);
  const Image prod = t.slot(1).image;
  t.run(command_arithmetic, "i2 / i1\n");
  for (std::size_t i = 0; i < a.px.size(); ++i) EXPECT_EQ(t.slot(1).image.px[i], a.px[i] / prod.px[i]);
  t.run(command_arithmetic, "i3 + i3\n");
  for (std::size_t i = 0; i < a.px.size(); ++i) EXPECT_EQ(t.slot(1).image.px[i], b.px[i] + b.px[i]);
}

TEST(Arithmetic, SlotsOfDifferentSizesAreNotCombined) {
  ScriptedSession t;
  const Image a(512, 512, 3.0f);
  t.load(1, a, kLongName);
  t.load(2, Image(512, 511, 1.0f), "other_image.fits");
  const std::string out = t.run(command_arithmetic, "i1 + i2\n");
  EXPECT_THAT(out, HasSubstr(" Image dimensions are not identical. Can not proceed...\n"));
  EXPECT_THAT(out, Not(HasSubstr("The maximum pixel value")));
  EXPECT_TRUE(same_pixels(t.slot(1).image, a));
  EXPECT_EQ(t.slot(1).name, kLongName);
  EXPECT_FALSE(t.slot(1).modified);
}

namespace {

struct RefusedLine {
  const char* line;
  const char* message;
};

constexpr const char* kNeitherForm = " Type an operator and a number (+ 5) or two slots (i1 + i2); image unchanged.\n";

void PrintTo(const RefusedLine& c, std::ostream* os) { *os << '"' << c.line << '"'; }

}  // namespace

class ArithmeticRefuses : public ::testing::TestWithParam<RefusedLine> {};

TEST_P(ArithmeticRefuses, RefusesTheLineAndChangesNothing) {
  const RefusedLine& c = GetParam();
  ScriptedSession t;
  const Image old = coded_image(3, 2);
  t.load(1, old, kLongName);
  t.load(2, coded_image(3, 2), "other_image.fits");
  const std::string out = t.run(command_arithmetic, std::string(c.line) + "\n");
  EXPECT_THAT(out, HasSubstr(c.message));
  EXPECT_THAT(out, Not(HasSubstr("The maximum pixel value")));
  EXPECT_TRUE(same_pixels(t.slot(1).image, old));
  EXPECT_EQ(t.slot(1).name, kLongName);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ArithmeticRefuses,
    ::testing::Values(RefusedLine{"i5 + i2", " Image slots are numbered 1 to 4; image unchanged.\n"},
                      RefusedLine{"i1 + i0", " Image slots are numbered 1 to 4; image unchanged.\n"},
                      RefusedLine{"i1 + i4", " Image slot 4 is empty; image unchanged.\n"},
                      RefusedLine{"i3 - i1", " Image slot 3 is empty; image unchanged.\n"},
                      RefusedLine{"/ 0", " Division by zero is not possible; image unchanged.\n"},
                      RefusedLine{"/ 0.0E0", " Division by zero is not possible; image unchanged.\n"},
                      RefusedLine{"+", kNeitherForm}, RefusedLine{"", kNeitherForm},
                      RefusedLine{"hello world", kNeitherForm}, RefusedLine{"I1 + I2", kNeitherForm},
                      RefusedLine{"i1+i2", kNeitherForm}, RefusedLine{"    i", kNeitherForm}));

TEST(Arithmetic, PixelDivisionByZeroGivesIeeeValuesAndTheReportSkipsNaN) {
  ScriptedSession t;
  Image num(2, 2), den(2, 2, 0.0f);
  num.px = {6.0f, -6.0f, 0.0f, 4.0f};
  den.px = {0.0f, 0.0f, 0.0f, 2.0f};
  t.load(1, num, kLongName);
  t.load(2, den, "zero_image.fits");
  const std::string out = t.run(command_arithmetic, "i1 / i2\n");
  const auto& p = t.slot(1).image.px;
  EXPECT_TRUE(std::isinf(p[0]) && p[0] > 0);
  EXPECT_TRUE(std::isinf(p[1]) && p[1] < 0);
  EXPECT_TRUE(std::isnan(p[2]));
  EXPECT_EQ(p[3], 2.0f);
  EXPECT_THAT(out, HasSubstr("The maximum pixel value in the image (slot 1) =        inf\n"));
  EXPECT_THAT(out, HasSubstr("The minimum pixel value in the image (slot 1) =       -inf\n"));

  // The next commands work on the image with inf and NaN pixels without trouble.
  t.run(command_arithmetic, "* 2\n");
  t.run(command_rotate, "a\n");
  const std::string m = t.run(command_mouse, "2\n1 1\n9 9\n0\n");
  EXPECT_THAT(m, HasSubstr(" Value of the pixel you clicked was: "));
}

// ---------------------------------------------------------------- empty slots

namespace {

struct SlotCommand {
  const char* name;
  void (*command)(Session&);
};

void PrintTo(const SlotCommand& c, std::ostream* os) { *os << c.name; }

}  // namespace

class EmptySlot : public ::testing::TestWithParam<SlotCommand> {};

TEST_P(EmptySlot, EditsAndTheMouseMenuRefuseAndChangeNothing) {
  ScriptedSession t;
  t.load(2, coded_image(3, 3), "other_image.fits");
  t.s.slots.active_number = 1;
  // No answer is read: any read would end the input.
  const std::string out = t.run(GetParam().command, "");
  EXPECT_THAT(out, HasSubstr("empty"));
  EXPECT_EQ(out.find('\n'), out.size() - 1);  // one line
  EXPECT_TRUE(t.slot(1).empty());
  EXPECT_EQ(t.slot(1).name, kEmptySlotName);
}

INSTANTIATE_TEST_SUITE_P(Commands, EmptySlot,
                         ::testing::Values(SlotCommand{"Crop", command_crop}, SlotCommand{"Rotate", command_rotate},
                                           SlotCommand{"Reflect", command_reflect},
                                           SlotCommand{"Arithmetic", command_arithmetic},
                                           SlotCommand{"Mouse", command_mouse}),
                         [](const ::testing::TestParamInfo<SlotCommand>& info) {
                           return std::string(info.param.name);
                         });

// ---------------------------------------------------------------- whole session

TEST(EditSession, LoadCropRotateReflectAndArithmeticAsAUserDrivesThem) {
  zelvo::testing::ScratchFolder dir;
  const Image field = zelvo::testing::small_field(120, 80);
  dir.write_fits("field_r.fits", field);
  const auto run = zelvo::testing::run_session(dir, {"", "l", "field_r.fits", "c", "60 40", "11 70 21 60", "t", "a",
                                                     "f", "b", "a", "- 1000", "s", "field_edit.fits", "", "q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr(" You clicked at 60.0 40.0\n"));
  EXPECT_THAT(run.out, HasSubstr("The maximum pixel value in the image (slot 1) = "));
  EXPECT_THAT(run.out, HasSubstr("field_r.fits <modified>"));

  // Independent truth: crop 11..70 x 21..60, turn 90 degrees clockwise, mirror rows, minus 1000.
  const Image saved = dir.read_fits("field_edit.fits");
  ASSERT_EQ(saved.nx, 40);
  ASSERT_EQ(saved.ny, 60);
  for (int y = 1; y <= 60; ++y)
    for (int x = 1; x <= 40; ++x) {
      const int ry = 61 - y;               // after the row mirror
      const int cx = 60 + 1 - ry, cy = x;  // rotated pixel (x, ry) of the 60 x 40 crop
      const float want = field.at(cx + 10, cy + 20) - 1000.0f;
      ASSERT_EQ(saved.at(x, y), want) << x << " " << y;
    }
}
