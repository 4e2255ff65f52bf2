// Images with NaN, +Inf and -Inf pixels (on and next to the objects, on the border and in
// the sky) through every command: display and statistics, the M box statistics, crop,
// rotate, reflect and arithmetic, every removal option, photometry, both profiles, the
// colour and calibrated images, print and save. Each command runs in a child process with a
// time limit: no crash, no sanitizer report, no hang; where a number cannot be computed the
// output says so instead of printing NaN as if it were a measurement.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "galaxy/profile.h"
#include "numeric/statistics.h"
#include "session/commands.h"
#include "support/isolated_run.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

namespace zelvo::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Holed {
  Image image;
  int star_x = 0, star_y = 0;  // the brightest ordinary star (NaN at its centre)
  int sat_x = 0, sat_y = 0;    // the saturated star
  int gal_x = 0, gal_y = 0;    // the galaxy
  int bleed_x = 0;             // the saturated star's bleeding column
};

int pixel(double v) { return static_cast<int>(v + 0.5); }

// A 96 x 96 field with non-finite pixels where they hurt most.
Holed holed_field() {
  FieldOptions o;
  o.nx = o.ny = 96;
  o.seed = 5;
  o.stars = 6;
  const SyntheticField f = synthetic_field(o);
  Holed h;
  h.image = f.image;
  const FieldStar* best = &f.stars.front();
  for (const FieldStar& s : f.stars)
    if (s.flux > best->flux) best = &s;
  h.star_x = pixel(best->x);
  h.star_y = pixel(best->y);
  h.sat_x = pixel(f.saturated.x);
  h.sat_y = pixel(f.saturated.y);
  h.gal_x = pixel(f.galaxy.x);
  h.gal_y = pixel(f.galaxy.y);
  h.bleed_x = f.bleed.x;
  const auto put = [&](int x, int y, float v) {
    if (h.image.view().inside(x, y)) h.image.at(x, y) = v;
  };
  for (const FieldStar& s : f.stars) {
    put(pixel(s.x), pixel(s.y), NAN);
    put(pixel(s.x) + 2, pixel(s.y), INFINITY);
    put(pixel(s.x), pixel(s.y) - 3, -INFINITY);
  }
  put(h.sat_x + 1, h.sat_y, NAN);
  put(h.sat_x - 4, h.sat_y + 2, INFINITY);
  put(h.gal_x, h.gal_y, NAN);
  put(h.gal_x + 5, h.gal_y, -INFINITY);
  put(h.gal_x - 7, h.gal_y + 3, INFINITY);
  put(1, 1, NAN);
  put(96, 40, INFINITY);
  put(50, 96, -INFINITY);
  return h;
}

std::string at(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }

std::string lines(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& l : v) s += l + "\n";
  return s;
}

// Runs `command` on the holed field in slot 1 (and a copy in slot 2) with `answers`, in a
// child process; the scratch folder holds an object list naming the objects.
IsolatedRun run_command(const std::function<void(Session&)>& command, const std::vector<std::string>& answers) {
  const Holed h = holed_field();
  ScratchFolder dir;
  dir.write("ZelvoRep.log", " 1 " + at(h.star_x, h.star_y) + " 8.0\n 2 " + at(h.sat_x, h.sat_y) + " 20.0\n 3 " +
                                at(h.gal_x, h.gal_y) + " 12.0\n 6 " + at(h.bleed_x, h.sat_y) + " 12.0\n");
  return run_isolated_call(dir, [&]() -> std::string {
    ScriptedSession t;
    t.load(1, h.image, "holed.fits");
    t.load(2, h.image, "holed-copy.fits");
    t.slot(1).exptime = 60.0f;
    t.slot(2).exptime = 30.0f;
    std::string out;
    try {
      out = t.run(command, lines(answers));
    } catch (const EndOfInput&) {
      out = t.out.str() + "\n<end of input>\n";
    }
    // What the command left in the slot, for the checks.
    const Image& img = t.slot(1).image;
    std::size_t nan = 0, inf = 0;
    for (float v : img.px) {
      if (std::isnan(v)) ++nan;
      if (std::isinf(v)) ++inf;
    }
    std::ostringstream tail;
    tail << "\n<slot 1: " << img.nx << " x " << img.ny << ", " << nan << " NaN, " << inf << " Inf>\n";
    return out + tail.str();
  });
}

struct Operation {
  const char* name;
  std::function<void(Session&)> command;
  std::function<std::vector<std::string>(const Holed&)> answers;
};

std::vector<Operation> operations() {
  return {
      {"Display", command_display,
       [](const Holed&) {
         return std::vector<std::string>{"1", "n"};
       }},
      {"DisplayTypedLevels", command_display,
       [](const Holed&) {
         return std::vector<std::string>{"1", "y", "900 2000 p", "0 0", "n"};
       }},
      {"MouseBoxStatistics", command_mouse,
       [](const Holed& h) {
         return std::vector<std::string>{
             "1",       "50 50", at(h.star_x, h.star_y), "2", at(h.star_x, h.star_y), at(h.gal_x, h.gal_y), at(1, 1),
             "500 500", "0"};
       }},
      {"Crop", command_crop,
       [](const Holed&) {
         return std::vector<std::string>{"48 48", "1 60 1 60"};
       }},
      {"Rotate", command_rotate, [](const Holed&) { return std::vector<std::string>{"a"}; }},
      {"Reflect", command_reflect, [](const Holed&) { return std::vector<std::string>{"b"}; }},
      {"ArithmeticConstant", command_arithmetic, [](const Holed&) { return std::vector<std::string>{"* 0"}; }},
      {"ArithmeticSlots", command_arithmetic, [](const Holed&) { return std::vector<std::string>{" i1 - i2"}; }},
      {"RemoveStar", command_remove,
       [](const Holed& h) {
         return std::vector<std::string>{"1", at(h.star_x, h.star_y), at(h.star_x, h.star_y), "8", "n", "0"};
       }},
      {"FindStars", command_remove,
       [](const Holed&) { return std::vector<std::string>{"4", "", "", "1 1 q", "r", "9", "0"}; }},
      {"RemoveSaturatedStar", command_remove,
       [](const Holed& h) {
         return std::vector<std::string>{"2", at(h.sat_x, h.sat_y), at(h.sat_x, h.sat_y), "20", "n", "0"};
       }},
      {"RemoveArea", command_remove,
       [](const Holed& h) {
         return std::vector<std::string>{"3", at(h.gal_x, h.gal_y), at(h.gal_x, h.gal_y), "12", "n", "0"};
       }},
      {"RemoveColumns", command_remove,
       [](const Holed& h) {
         return std::vector<std::string>{"6", at(h.bleed_x, h.sat_y), at(h.bleed_x, h.sat_y), "y", "n", "0"};
       }},
      {"RemoveListInteractively", command_remove,
       [](const Holed&) { return std::vector<std::string>{"8", "8", "n", "20", "n", "12", "n", "y", "n", "0"}; }},
      {"RemoveListAutomatically", command_remove,
       [](const Holed&) {
         return std::vector<std::string>{"9", "0"};
       }},
      {"Photometry", command_photometry,
       [](const Holed& h) {
         return std::vector<std::string>{
             "4", at(h.star_x, h.star_y), at(h.gal_x, h.gal_y), at(h.sat_x, h.sat_y), "4", at(1, 1), "0 0", "0"};
       }},
      {"FluxProfile", command_galaxy,
       [](const Holed& h) {
         return std::vector<std::string>{"1", at(h.gal_x, h.gal_y), "30 1", "0.2 30", "0", "", "", "", ""};
       }},
      {"MagnitudeProfile", command_galaxy,
       [](const Holed& h) {
         return std::vector<std::string>{"2", at(h.gal_x, h.gal_y), "30 1", "0.2 30", "0", "", "", "", ""};
       }},
      {"ColourImage", command_galaxy,
       [](const Holed&) { return std::vector<std::string>{"3", "1 2", "0", "0", "25.0 0.3 0.05 1.2", ""}; }},
      {"CalibratedImage", command_galaxy,
       [](const Holed&) { return std::vector<std::string>{"4", "25.0 0.05 0.1", "1 2", "1.2 0.4", "0.1", "0", ""}; }},
      {"Print", command_print, [](const Holed&) { return std::vector<std::string>{}; }},
      {"Save", command_save,
       [](const Holed&) {
         return std::vector<std::string>{"holes.fits", ""};
       }},
  };
}

void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

// The NaN and Inf counts of slot 1 after the command, from the child's closing line.
std::pair<int, int> nonfinite_left(const std::string& out) {
  const std::size_t at = out.rfind("<slot 1: ");
  int nx = 0, ny = 0, nan = -1, inf = -1;
  if (at != std::string::npos) std::sscanf(out.c_str() + at, "<slot 1: %d x %d, %d NaN, %d Inf>", &nx, &ny, &nan, &inf);
  return {nan, inf};
}

class NonFinitePixels : public ::testing::TestWithParam<Operation> {};

TEST_P(NonFinitePixels, NoCrashNoHangAndNoNaNPassedOffAsAResult) {
  const Operation& op = GetParam();
  const Holed h = holed_field();
  std::size_t nan = 0, inf = 0;
  for (float v : h.image.px) {
    if (std::isnan(v)) ++nan;
    if (std::isinf(v)) ++inf;
  }
  const IsolatedRun run = run_command(op.command, op.answers(h));
  ASSERT_TRUE(run.ended_well()) << run.verdict() << "\n" << run.out;
  // The whole script was used and the command came back by itself.
  EXPECT_THAT(run.out, Not(HasSubstr("<end of input>"))) << run.out;
  const std::string name = op.name;
  if (name.rfind("Remove", 0) == 0) {
    // A removal paints modelled sky: it may remove undefined pixels but never adds any.
    const auto [nan_after, inf_after] = nonfinite_left(run.out);
    EXPECT_GE(nan_after, 0) << run.out;
    EXPECT_LE(nan_after, static_cast<int>(nan)) << run.out;
    EXPECT_LE(inf_after, static_cast<int>(inf)) << run.out;
  }
  if (name == "MouseBoxStatistics") {
    // Box statistics are those of the finite pixels, and the output says what was left out.
    EXPECT_THAT(run.out, Not(HasSubstr("NaN NaN")));
    EXPECT_THAT(run.out, HasSubstr("pixels that are not finite numbers were left out)"));
  }
  if (name == "Photometry") {
    EXPECT_THAT(run.out, HasSubstr("The apertures hold pixels that are not finite numbers (NaN or Inf): the flux "
                                   "cannot be measured."));
    EXPECT_THAT(run.out, HasSubstr("The corrected flux and corresponding magnitude = INDEF INDEF"));
  }
}

// The statistics every command shares: undefined values are left out and counted, so the
// result is that of the finite values.
TEST(NonFiniteValues, AverageSigmaIsThatOfTheFiniteValues) {
  const std::vector<float> finite = {1, 2, 3, 4, 5, 6, 7, 8, 9, 100};
  std::vector<float> holed = finite;
  holed.insert(holed.begin() + 3, NAN);
  holed.push_back(INFINITY);
  holed.insert(holed.begin(), -INFINITY);
  const AverageSigma a = AVERAGESIGMA(finite, 2), b = AVERAGESIGMA(holed, 2);
  EXPECT_FLOAT_EQ(b.mean, 14.5f);
  EXPECT_FLOAT_EQ(b.mean, a.mean);
  EXPECT_FLOAT_EQ(b.sigma, a.sigma);
  EXPECT_FLOAT_EQ(b.clipped_mean, 5.0f);  // 100 is beyond 2 sigma
  EXPECT_FLOAT_EQ(b.clipped_spread, a.clipped_spread);
  EXPECT_EQ(b.rejected, 1.0f);
  EXPECT_EQ(b.finite, 10);
  EXPECT_EQ(b.not_finite, 3);
  const AverageSigma none = AVERAGESIGMA(std::vector<float>{NAN, INFINITY}, 2);
  EXPECT_EQ(none.finite, 0);
  EXPECT_EQ(none.not_finite, 2);
  EXPECT_EQ(none.mean, 0.0f);
}

// A profile scan takes no undefined pixel, neither into its bins nor into the sky histogram
// (an infinite one used to overflow the histogram index).
TEST(NonFiniteValues, ProfileScansSkipThem) {
  Image img(41, 41, 100.0f);
  img.at(21, 25) = INFINITY;  // inside the extent
  img.at(21, 5) = INFINITY;   // in the sky part of the scan square
  img.at(25, 21) = NAN;
  img.at(30, 30) = -INFINITY;
  for (ProfileScale scale : {ProfileScale::flux, ProfileScale::magnitude}) {
    const PixelScan s = scan_profile_pixels(img.view(), 21, 21, 10.0f, 0.0f, 0.0f, scale);
    for (float v : s.values) EXPECT_EQ(v, 100.0f);
    EXPECT_EQ(s.ymax, 100.0f);
    for (float c : s.skypr) EXPECT_TRUE(std::isfinite(c));
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, NonFinitePixels, ::testing::ValuesIn(operations()),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelvo::testing
