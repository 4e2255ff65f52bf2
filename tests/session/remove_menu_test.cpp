// Whole scripted sessions of the R submenu on the synthetic field: a star, the saturated star
// with its bleeding column, an area and a hot column removed, kept or undone, recorded and
// replayed; the constant level, the menu, and lists or answers that cannot be used.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/list_io.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kMenu =
    "\n"
    " What do you want to do? \n"
    "   1) Remove a star \n"
    "   2) Remove a saturated star \n"
    "   3) Remove an area of user-defined radius \n"
    "   4) Find stars and write the object list\n"
    "   5) Remove a galaxy (fit elliptical isophotes, subtract the model)\n"
    "   6) Remove columns \n"
    "   7) Remove rows \n"
    "   8) Remove objects interactively using pre-recorded coordinates\n"
    "   9) Remove objects automatically using pre-recorded coordinates\n"
    "      (Options 8 and 9 read ZelvoRep.log, or the list option 4 named)\n"
    "   0) Return back to the main options \n"
    "\n";

const std::string kRecordHeader =
    " This log file is written by Zelvo (Galaxy and Star Image Tools); it\n"
    " contains these four lines and N lines, one for each removed\n"
    " star, with the star type (regular, saturated, ...), centre in\n"
    " x- and y-coordinates, and removal radius (= 4 values / star).\n"
    "\n";

const std::string kObjectLeft = " This object is left as it was; nothing is recorded.\n";
const std::string kUndo = " Do you want to UNDO previous removal (y/n)? \n";

// A hot column added to the field, away from every object.
constexpr int kHotX = 330;
constexpr int kHotY1 = 255;
constexpr int kHotY2 = 305;
constexpr float kHotValue = 20000.0f;

std::string at(double x, double y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %.2f", x, y);
  return buf;
}

// The 400 x 400 field with its saturated star (near the left edge, bleeding along its
// column) and the hot column; `star` and `area` are two ordinary stars standing alone.
struct Field {
  FieldOptions opt;
  SyntheticField f;
  FieldStar star, area;
  int level = 0;  // the constant level the submenu adds
};

Field make_field() {
  Field fd;
  fd.opt.nx = fd.opt.ny = 400;
  fd.opt.seed = 11;
  fd.opt.stars = 20;
  fd.opt.faintest_flux = 20000.0f;
  fd.opt.brightest_flux = 150000.0f;
  fd.f = synthetic_field(fd.opt);
  for (int y = kHotY1; y <= kHotY2; ++y) fd.f.image.at(kHotX, y) = kHotValue;
  std::vector<FieldStar> alone;
  for (const FieldStar& s : fd.f.stars) {
    const auto far = [&](double x, double y, double d) { return std::hypot(s.x - x, s.y - y) > d; };
    if (s.x < 60 || s.x > 340 || s.y < 60 || s.y > 340) continue;
    if (!far(fd.f.galaxy.x, fd.f.galaxy.y, 3.0 * fd.f.galaxy.r_eff + 30.0)) continue;
    if (!far(fd.f.saturated.x, fd.f.saturated.y, 60.0) || std::fabs(s.x - kHotX) < 30.0) continue;
    bool lone = true;
    for (const FieldStar& o : fd.f.stars)
      if (&o != &s && !far(o.x, o.y, 22.0)) lone = false;
    if (lone) alone.push_back(s);
  }
  if (alone.size() >= 2) {
    fd.star = alone[0];
    fd.area = alone[1];
  }
  float low = fd.f.image.px[0];
  for (float v : fd.f.image.px) low = std::min(low, v);
  fd.level = static_cast<int>(std::fabs(low) + 1.0f);
  return fd;
}

void write_field(const ScratchFolder& dir, const Field& fd, const std::string& name) {
  ASSERT_EQ(write_field_fits(dir.file(name), fd.f.image, fd.opt), 0);
}

// The data lines of a removal record (the lines after its last header).
std::vector<std::string> record_lines(const std::string& log) {
  std::vector<std::string> out;
  const auto p = log.rfind(kRecordHeader);
  if (p == std::string::npos) return out;
  std::istringstream in(log.substr(p + kRecordHeader.size()));
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

struct Record {
  int type = 0;
  double x = 0, y = 0, r = 0;
};
Record parse_record(const std::string& line) {
  Record r;
  std::istringstream in(line);
  in >> r.type >> r.x >> r.y >> r.r;
  return r;
}

// Pixels of `im` within `radius` of (x, y): their mean lies within `mean_tol` of the
// noiseless sky and none rises more than `peak_tol` above it.
void expect_sky_disc(const Image& im, const SyntheticField& f, double x, double y, double radius, double mean_tol,
                     double peak_tol) {
  double sum = 0.0, sky = 0.0;
  int n = 0;
  for (int j = 1; j <= im.ny; ++j)
    for (int i = 1; i <= im.nx; ++i) {
      if (std::hypot(i - x, j - y) > radius) continue;
      const double s = f.sky_at(i, j);
      ASSERT_LT(im.at(i, j), s + peak_tol) << i << "," << j;
      sum += im.at(i, j);
      sky += s;
      ++n;
    }
  ASSERT_GT(n, 0);
  EXPECT_NEAR(sum / n, sky / n, mean_tol) << "around " << x << "," << y;
}

// The hot column is sky again; a column to each side is sky or, where it was good, untouched.
void expect_hot_column_gone(const Image& im, const SyntheticField& f, double tol) {
  for (int y = kHotY1; y <= kHotY2; ++y)
    for (int x = kHotX - 1; x <= kHotX + 1; ++x) {
      if (x != kHotX && im.at(x, y) == f.image.at(x, y)) continue;
      ASSERT_NEAR(im.at(x, y), f.sky_at(x, y), tol) << x << "," << y;
    }
}

// Every pixel for which `touched` is false equals the original exactly.
void expect_untouched_elsewhere(const Image& now, const Image& was, const std::function<bool(int, int)>& touched) {
  ASSERT_EQ(now.nx, was.nx);
  for (int y = 1; y <= now.ny; ++y)
    for (int x = 1; x <= now.nx; ++x)
      if (!touched(x, y)) {
        ASSERT_EQ(now.at(x, y), was.at(x, y)) << x << "," << y;
      }
}

// The four removals, all kept: a star (radius 12), the saturated star (25), an area (10)
// and the hot column (background measured around a click, then typed).
std::vector<std::string> four_removals(const Field& fd) {
  const FieldStar& s = fd.star;
  const FieldStar& a = fd.area;
  const FieldStar& sat = fd.f.saturated;
  const double sky_hot = fd.f.sky_at(kHotX, 280) + fd.level;
  return {"",
          "l",
          "sample_field.fits",
          "r",
          "1",
          at(s.x + 2.0, s.y - 1.0),
          at(s.x + 0.6, s.y - 0.4),
          "12",
          "n",
          "2",
          at(sat.x - 3.0, sat.y + 2.0),
          at(sat.x - 0.4, sat.y + 0.3),
          "25",
          "n",
          "3",
          at(a.x, a.y + 5.0),
          at(a.x, a.y),
          "10",
          "n",
          "6",
          at(kHotX + 4.0, 280.0),
          at(kHotX, 280.0),
          "c",
          at(kHotX + 30.0, 280.0),
          std::to_string(sky_hot) + " 10",
          "n",
          "0",
          "s",
          "cleaned.fits",
          "",
          "q"};
}

bool near_removals(const Field& fd, int x, int y) {
  const auto within = [&](double cx, double cy, double r) { return std::hypot(x - cx, y - cy) <= r; };
  if (within(fd.star.x, fd.star.y, 15.0) || within(fd.area.x, fd.area.y, 13.0)) return true;
  if (within(fd.f.saturated.x, fd.f.saturated.y, 28.0)) return true;
  if (std::abs(x - fd.f.bleed.x) <= 10 && y >= fd.f.bleed.y_first - 8 && y <= fd.f.bleed.y_last + 8) return true;
  return std::abs(x - kHotX) <= 10 && y >= kHotY1 - 8 && y <= kHotY2 + 8;
}

}  // namespace

TEST(RemoveMenu, RemovesAStarTheSaturatedStarAnAreaAndAColumn) {
  const Field fd = make_field();
  ASSERT_NE(fd.star.flux, 0.0);
  ASSERT_NE(fd.area.flux, 0.0);
  ASSERT_TRUE(fd.f.has_saturated);
  ScratchFolder dir;
  write_field(dir, fd, "sample_field.fits");
  const auto run = run_session(dir, four_removals(fd));

  EXPECT_THAT(run.out,
              HasSubstr("\n\n Added constant level " + std::to_string(fd.level) +
                        " to your image. \n It will be taken out after the removal processes end. \n\n" + kMenu));
  EXPECT_EQ(count_of(run.out, kUndo), 4);
  EXPECT_EQ(count_of(run.out, " Give (absolute) value to the removal radius:\n"), 3);
  EXPECT_THAT(run.out, HasSubstr(" Enter 'y' to keep, 'm' to modify, or 'c' to redetermine\n"
                                 " Click on background you wish to estimate values from:\n"));
  EXPECT_THAT(run.out, HasSubstr(" Values for a 15x15 box were (average and sigma): "));
  EXPECT_THAT(run.out, HasSubstr(" Give new average and sigma values:\n"));
  EXPECT_THAT(run.out, HasSubstr(" RemoveSatBar: Bar length = "));
  EXPECT_THAT(run.out, HasSubstr(" Estimated background sky level = "));
  EXPECT_THAT(run.out, HasSubstr(" deathrad = 25.0 , xcen = "));
  EXPECT_THAT(run.out, Not(HasSubstr("NaN")));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   sample_field.fits <modified>  \n"));

  // The record: one line per kept removal, with the radius the ring was traced at.
  const auto lines = record_lines(dir.read("ZelvoRepeat.log"));
  ASSERT_EQ(lines.size(), 4u);
  const Record star = parse_record(lines[0]), sat = parse_record(lines[1]);
  const Record area = parse_record(lines[2]), col = parse_record(lines[3]);
  EXPECT_EQ(star.type, 1);
  EXPECT_NEAR(star.x, fd.star.x, 0.5);  // the centroid
  EXPECT_NEAR(star.y, fd.star.y, 0.5);
  EXPECT_EQ(star.r, 12.0);
  EXPECT_EQ(sat.type, 2);
  EXPECT_NEAR(sat.x, fd.f.saturated.x, 1.5);  // the five-row centre
  EXPECT_NEAR(sat.y, fd.f.saturated.y, 1.5);
  EXPECT_EQ(sat.r, 25.0);
  EXPECT_EQ(area.type, 3);
  EXPECT_NEAR(area.x, fd.area.x, 0.01);  // the click
  EXPECT_EQ(area.r, 10.0);
  EXPECT_EQ(col.type, 6);
  EXPECT_NEAR(col.x, kHotX, 0.01);
  EXPECT_EQ(col.r, 19.0);
  EXPECT_EQ(dir.read("ZelvoRepeat.log"),
            kRecordHeader + lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3] + "\n");
  EXPECT_EQ(dir.read("Zelvo.log")
                    .find(" Entering centre/radius finding for regular stars...\n"
                          " Entering centre/radius finding for saturated stars...\n") != std::string::npos,
            true);

  // Each removed region is sky again; everything else kept its exact value.
  const Image out = dir.read_fits("cleaned.fits");
  ASSERT_EQ(out.nx, 400);
  expect_sky_disc(out, fd.f, fd.star.x, fd.star.y, 11.0, 6.0, 60.0);
  expect_sky_disc(out, fd.f, fd.f.saturated.x, fd.f.saturated.y, 24.0, 15.0, 80.0);
  expect_sky_disc(out, fd.f, fd.area.x, fd.area.y, 9.0, 6.0, 60.0);
  for (int y = fd.f.bleed.y_first; y <= fd.f.bleed.y_last; ++y)
    ASSERT_LT(out.at(fd.f.bleed.x, y), fd.f.sky_at(fd.f.bleed.x, y) + 80.0) << y;
  expect_hot_column_gone(out, fd.f, 40.0);
  expect_untouched_elsewhere(out, fd.f.image, [&](int x, int y) { return near_removals(fd, x, y); });
}

TEST(RemoveMenu, ReplayingTheRecordWithOption9RemovesTheSameObjects) {
  const Field fd = make_field();
  ScratchFolder first;
  write_field(first, fd, "sample_field.fits");
  (void)run_session(first, four_removals(fd));
  const auto lines = record_lines(first.read("ZelvoRepeat.log"));
  ASSERT_EQ(lines.size(), 4u);

  ScratchFolder dir;
  write_field(dir, fd, "sample_field.fits");
  std::string list;
  for (const auto& l : lines) list += l + "\n";
  dir.write("ZelvoRep.log", list);
  const auto run = run_session(dir, {"", "l", "sample_field.fits", "r", "9", "0", "s", "replayed.fits", "", "q"});
  // The command window has a line per object; the working notes are in the debug log.
  const std::string debug = dir.read("ZelvoDebug.log");
  EXPECT_THAT(run.out, HasSubstr(" ZelvoRep.log contained 4 lines (= objects).\n Object 1 of 4: "));
  EXPECT_THAT(run.out, HasSubstr(" Removed 4 of the 4 listed objects in "));
  EXPECT_EQ(count_of(run.out, " Read (ch0, xc, yc, deathrad) = "), 0);
  EXPECT_EQ(count_of(debug, " Read (ch0, xc, yc, deathrad) = "), 4);
  EXPECT_EQ(count_of(debug, " Star removal radius set to "), 3);
  EXPECT_THAT(run.out, Not(HasSubstr(kUndo)));
  EXPECT_THAT(run.out, Not(HasSubstr("NaN")));
  // The listed radii are the removal radii: the replay records the same objects at the same
  // radii, so its record repeats it again.
  const auto replayed = record_lines(dir.read("ZelvoRepeat.log"));
  ASSERT_EQ(replayed.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const Record was = parse_record(lines[i]), now = parse_record(replayed[i]);
    EXPECT_EQ(now.type, was.type);
    EXPECT_EQ(now.r, was.r) << lines[i];
    EXPECT_NEAR(now.x, was.x, 0.5) << lines[i];  // the centres are measured again
    EXPECT_NEAR(now.y, was.y, 0.5) << lines[i];
  }
  EXPECT_THAT(debug, HasSubstr(" deathrad = 12.0 , xcen = "));
  EXPECT_THAT(debug, HasSubstr(" deathrad = 25.0 , xcen = "));

  const Image out = dir.read_fits("replayed.fits");
  ASSERT_EQ(out.nx, 400);
  expect_sky_disc(out, fd.f, fd.star.x, fd.star.y, 10.0, 8.0, 60.0);
  expect_sky_disc(out, fd.f, fd.area.x, fd.area.y, 9.0, 8.0, 60.0);
  expect_sky_disc(out, fd.f, fd.f.saturated.x, fd.f.saturated.y, 8.0, 60.0, 300.0);
  for (int y = fd.f.bleed.y_first; y <= fd.f.bleed.y_last; ++y)
    ASSERT_LT(out.at(fd.f.bleed.x, y), fd.f.sky_at(fd.f.bleed.x, y) + 300.0) << y;
  // The automatic column background leaves the column out of its sigma: the fill is sky.
  expect_hot_column_gone(out, fd.f, 40.0);
  expect_untouched_elsewhere(out, fd.f.image, [&](int x, int y) {
    return near_removals(fd, x, y) || std::hypot(x - fd.f.saturated.x, y - fd.f.saturated.y) <= 60.0;
  });
}

TEST(RemoveMenu, UndoRestoresTheExactPixels) {
  const Field fd = make_field();
  ScratchFolder dir;
  write_field(dir, fd, "sample_field.fits");
  const FieldStar& s = fd.star;
  const FieldStar& sat = fd.f.saturated;
  const double sky_hot = fd.f.sky_at(kHotX, 280) + fd.level;
  const auto run = run_session(dir, {"",
                                     "l",
                                     "sample_field.fits",
                                     "r",
                                     "1",
                                     at(s.x, s.y),
                                     at(s.x, s.y),
                                     "12",
                                     "y",
                                     "2",
                                     at(sat.x, sat.y),
                                     at(sat.x, sat.y),
                                     "25",
                                     "Y",
                                     "6",
                                     at(kHotX, 280.0),
                                     at(kHotX, 280.0),
                                     "m",
                                     std::to_string(sky_hot) + " 10",
                                     "y",
                                     "0",
                                     "s",
                                     "undone.fits",
                                     "",
                                     "q"});
  EXPECT_EQ(count_of(run.out, kUndo), 3);
  EXPECT_EQ(dir.read("ZelvoRepeat.log"), kRecordHeader);
  const Image out = dir.read_fits("undone.fits");
  ASSERT_EQ(out.nx, 400);
  EXPECT_EQ(out.px, fd.f.image.px);
}

TEST(RemoveMenu, ARefusedRemovalLeavesTheImageAndTheRecordAlone) {
  const Field fd = make_field();
  ScratchFolder dir;
  write_field(dir, fd, "sample_field.fits");
  const FieldStar& sat = fd.f.saturated;
  // A ring of radius 5000 cannot be traced on a 400 x 400 image: the bar the saturated-star
  // option had already removed is put back too. A centre off the image is refused and asked
  // again; q there leaves the object.
  const auto run = run_session(dir, {"", "l", "sample_field.fits", "r", "2", at(sat.x, sat.y), at(sat.x, sat.y), "5000",
                                     "3", "200 200", "-20 200", "200 200 q", "0", "s", "same.fits", "", "q"});
  EXPECT_THAT(run.out, HasSubstr(" The removal radius must be a number above 0 and at most the image width plus "
                                 "height; nothing removed.\n" +
                                 kObjectLeft));
  EXPECT_THAT(run.out, HasSubstr(" Click on the object centre.\nCursor position (x y):\n That click lies outside the "
                                 "image shown; click on it (or press q in the graphics window to go back).\n"));
  EXPECT_THAT(run.out, Not(HasSubstr(kUndo)));
  EXPECT_EQ(dir.read("ZelvoRepeat.log"), kRecordHeader);
  EXPECT_EQ(dir.read_fits("same.fits").px, fd.f.image.px);
}

TEST(RemoveMenu, ConstantLevelWrongOptionsAndNonNumbers) {
  ScratchFolder dir;
  Image img = small_field(120, 100, 4);
  img.at(3, 3) = -3.5f;
  dir.write_fits("negative_field.fits", img);
  Image high(120, 100, 300.0f);
  high.at(7, 9) = 250.2f;
  dir.write_fits("high.fits", high);
  const auto run = run_session(dir, {"", "r", "l", "negative_field.fits", "r", "abc", "11", "s", "back.fits", "", "2",
                                     "l", "high.fits", "r", "12", "q"});
  EXPECT_THAT(run.out, HasSubstr(" Image slot 1 is empty: load an image (L) or create one (N) first.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Added constant level 4 to your image. \n"));
  EXPECT_THAT(run.out, HasSubstr(" Added constant level 251 to your image. \n"));
  EXPECT_THAT(run.out, HasSubstr(kMenu + " Expected a whole number but read 'abc'; please type it again:\n"
                                         " The option you selected is not currently available \n"
                                         " or you pressed a wrong key. Please, try again.\n"));
  EXPECT_EQ(count_of(run.out, " The option you selected is not currently available \n"), 2);
  // Leaving takes the level out again: the image is unchanged, but marked modified.
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   negative_field.fits <modified>\n"));
  EXPECT_EQ(dir.read_fits("back.fits").px, img.px);
}

TEST(RemoveMenu, ListsThatCannotBeUsedAreReportedAndTheSubmenuGoesOn) {
  ScratchFolder dir;
  dir.write_fits("list_field.fits", small_field(200, 200, 6));
  // No list yet, then a list whose second line is not four numbers, then one with a type
  // the program does not know; each option 9 starts again at the first line.
  const auto missing = run_session(dir, {"", "l", "list_field.fits", "r", "8", "9", "0", "q"});
  const std::string unreadable =
      " ZelvoRep.log cannot be read (missing, or not a readable file); options 8 and 9 need it in the working "
      "folder.\n";
  EXPECT_EQ(count_of(missing.out, unreadable + kMenu), 2);

  dir.write("ZelvoRep.log", "3 100 100 8\n3 100 100\n1 60 80 9\n");
  const auto bad = run_session(dir, {"", "l", "list_field.fits", "r", "9", "9", "0", "q"});
  EXPECT_EQ(count_of(bad.out, " ZelvoRep.log contained 3 lines (= objects).\n Object 1 of 1: area removed at ("), 2);
  EXPECT_EQ(count_of(dir.read("ZelvoDebug.log"), " Read (ch0, xc, yc, deathrad) = 3 100.0 100.0 8.0\n"), 2);
  // The object of line 1 was removed: the picture is drawn again before the menu.
  EXPECT_EQ(count_of(bad.out,
                     " ZelvoRep.log, line 2, is not four numbers (type, x, y, radius); the list stops "
                     "there.\n"),
            2);
  EXPECT_THAT(bad.out, Not(HasSubstr("= 1 60.0 80.0")));

  dir.write("ZelvoRep.log", "4 100 100 8\n3 100 100 8\n");
  const auto wrong = run_session(dir, {"", "l", "list_field.fits", "r", "8", "9", "0", "q"});
  EXPECT_EQ(count_of(wrong.out, " ZelvoRep.log contains incorrect data. \n Please check and try again.\n"), 2);
  EXPECT_THAT(wrong.out, Not(HasSubstr("= 3 100.0 100.0 8.0")));
  EXPECT_THAT(wrong.out, HasSubstr(" Read (ch1, xc, yc, deathrad) = 4 100.0 100.0 8.0\n"));
}

TEST(RemoveMenu, Option9AreaKeepsTheRecordedCentreWhenTheFoundOneIsMoreThanTwoPixelsAway) {
  // A noiseless sky repeating 98, 100, 102 along x, and two flat-topped discs of radius 7:
  // the five-row centre lands exactly on each disc. At (100, 150), recorded 3 pixels to the
  // right, the shift of -3 is too large and the recorded centre stays; at (200, 150),
  // recorded 1 pixel to the left, the found centre is taken.
  ScratchFolder dir;
  Image im(300, 300);
  for (int y = 1; y <= 300; ++y)
    for (int x = 1; x <= 300; ++x) {
      im.at(x, y) = 98.0f + 2.0f * static_cast<float>(x % 3);
      if (std::hypot(x - 100.0, y - 150.0) <= 7.0 || std::hypot(x - 200.0, y - 150.0) <= 7.0) im.at(x, y) = 60000.0f;
    }
  dir.write_fits("discs_field.fits", im);
  dir.write("ZelvoRep.log", "3 103.0 150.0 8\n3 199.0 150.0 8\n");
  const auto run = run_session(dir, {"", "l", "discs_field.fits", "r", "9", "0", "q"});
  // The listed radius 8 is the ring's radius.
  const std::string debug = dir.read("ZelvoDebug.log");
  EXPECT_THAT(debug, HasSubstr(" deathrad = 8.0 , xcen = 103.0 , ycen = 150.0\n"));
  EXPECT_THAT(debug, HasSubstr(" deathrad = 8.0 , xcen = 200.0 , ycen = 150.0\n"));
  EXPECT_THAT(run.out, HasSubstr(" Object 1 of 2: area removed at (103.00, 150.00), radius 8.0\n"));
}

TEST(RemoveMenu, Option8TakesEachListedObjectWithoutClicksAndRecordsIt) {
  ScratchFolder dir;
  dir.write_fits("list_field.fits", small_field(200, 200, 6));  // a star of peak 8000 at (140, 120)
  dir.write("ZelvoRep.log", "3 140.0 120.0 8.0\n");
  const auto run = run_session(dir, {"", "l", "list_field.fits", "r", "8", "9", "n", "0", "q"});
  EXPECT_THAT(run.out, HasSubstr(" ZelvoRep.log contained 1 lines (= objects).\n"
                                 " Object 1 of 1 (ZelvoRep.log, line 1)\n"
                                 " Read (ch1, xc, yc, deathrad) = 3 140.0 120.0 8.0\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("Click on the object")));
  // The listed radius is the one offered.
  EXPECT_THAT(run.out, HasSubstr(" Star removal radius set to 8.0\n Give (absolute) value to the removal radius:\n"
                                 " deathrad = 9.0 , xcen = 140.0 , ycen = 120.0\n"));
  // After the list the whole image is drawn again.
  EXPECT_THAT(run.out, HasSubstr(kUndo + " Kept 1 removals of the 1 listed objects shown.\n\n"
                                         " The maximum pixel value in the image = "));
  EXPECT_EQ(record_lines(dir.read("ZelvoRepeat.log")), std::vector<std::string>{" 3 140.0 120.0 9.0"});
}

// A flat sky of 1000 with Gaussian noise of 4 and one bright column (x = 100, rows 40 .. 160).
Image column_field() {
  Image im(200, 200);
  std::mt19937 gen(21);
  std::normal_distribution<float> gauss(0.0f, 4.0f);
  for (float& v : im.px) v = 1000.0f + gauss(gen);
  for (int y = 40; y <= 160; ++y) im.at(100, y) = 6000.0f;
  return im;
}

// Spread of the pixels of columns x1 .. x2, rows y1 .. y2 about their mean.
double spread(const Image& im, int x1, int x2, int y1, int y2) {
  double s = 0.0, s2 = 0.0;
  int n = 0;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      s += im.at(x, y);
      s2 += static_cast<double>(im.at(x, y)) * im.at(x, y);
      ++n;
    }
  const double m = s / n;
  return std::sqrt(s2 / n - m * m);
}

TEST(RemoveMenu, AColumnBesideItsBoxMeasuresTheSkyNoiseAndPaintsNoRougherThanTheSky) {
  ScratchFolder dir;
  const Image im = column_field();
  dir.write_fits("column_field.fits", im);
  const auto run = run_session(
      dir, {"", "l", "column_field.fits", "r", "6", "100 100", "100 100", "y", "n", "0", "s", "cleaned.fits", "", "q"});
  const auto at_sigma = run.out.find(" Average & sigma are ");
  ASSERT_NE(at_sigma, std::string::npos) << run.out;
  std::istringstream in(run.out.substr(at_sigma + 21));
  double average = 0, sigma = 0;
  ASSERT_TRUE(in >> average >> sigma);
  const double sky_sigma = spread(im, 80, 95, 40, 160);
  EXPECT_NEAR(sigma, sky_sigma, 0.2 * sky_sigma);
  const Image out = dir.read_fits("cleaned.fits");
  ASSERT_EQ(out.nx, 200);
  EXPECT_NEAR(spread(out, 99, 101, 40, 160), sky_sigma, 0.2 * sky_sigma);
  EXPECT_LT(spread(out, 99, 101, 40, 160), 1.2 * sky_sigma);
}

namespace {

// The smallest pixel of a frame, and whether the constant level it needs is refused.
struct LowPixel {
  const char* name;
  float low;
  bool refused;
};

void PrintTo(const LowPixel& c, std::ostream* os) { *os << c.low; }

// A list for option 9, and the start of the line just above the debug log's refusal.
struct FirstOpener {
  const char* name;
  const char* list;
  std::string before;
};

void PrintTo(const FirstOpener& c, std::ostream* os) { *os << c.name; }

}  // namespace

// A pixel of -1e10 would need a constant level far beyond 2^24: the 32-bit pixels would move
// in steps of 256 or more. The submenu says so and leaves the image alone; at 2^24 it works.
class ConstantLevel : public ::testing::TestWithParam<LowPixel> {};

TEST_P(ConstantLevel, BeyondTwoToThe24IsRefusedAndTheImageUntouched) {
  const LowPixel& c = GetParam();
  ScratchFolder dir;
  Image img = small_field(120, 100, 4);
  img.at(30, 40) = c.low;
  dir.write_fits("deep.fits", img);
  std::vector<std::string> script = {"", "l", "deep.fits", "r", "0", "s", "after.fits", "", "q"};
  if (c.refused) script.erase(script.begin() + 4);  // back at the main menu at once
  const auto run = run_session(dir, script);
  const std::string refusal = " The smallest pixel value of this image is " + format_real(c.low) +
                              "; the constant level that would make every pixel positive is beyond 2^24 "
                              "(16777216), where adding it rounds the pixels' values. Nothing removed; the image "
                              "is unchanged.\n";
  if (c.refused) {
    EXPECT_THAT(run.out, HasSubstr(refusal));
    EXPECT_THAT(run.out, Not(HasSubstr("Added constant level")));
    EXPECT_THAT(run.out, Not(HasSubstr("<modified>")));
    EXPECT_FALSE(dir.exists("ZelvoRepeat.log"));
  } else {
    EXPECT_THAT(run.out, HasSubstr(" Added constant level 16777216 to your image. \n"));
  }
  EXPECT_EQ(dir.read_fits("after.fits").px, img.px);
}

INSTANTIATE_TEST_SUITE_P(RemoveMenu, ConstantLevel,
                         ::testing::Values(LowPixel{"MinusTenToThe10", -1e10f, true},
                                           LowPixel{"MinusTwoTimesTenToThe7", -2e7f, true},
                                           LowPixel{"JustWithin", -16777215.0f, false}),
                         [](const ::testing::TestParamInfo<LowPixel>& info) { return std::string(info.param.name); });

// A debug log that cannot be opened is told once, as option 9 starts on its list (whose
// working notes it would hold); the removals go on without it, whichever routine opens it first.
class UnopenableDebugLog : public ::testing::TestWithParam<FirstOpener> {};

TEST_P(UnopenableDebugLog, IsToldOnceWhereTheFirstRoutineOpensIt) {
  const FirstOpener& c = GetParam();
  ScratchFolder dir;
  dir.write_fits("list_field.fits", small_field(200, 200, 6));
  std::filesystem::create_directory(dir.file("ZelvoDebug.log"));
  dir.write("ZelvoRep.log", c.list);
  const auto run = run_session(dir, {"", "l", "list_field.fits", "r", "9", "0", "q"});
  const std::string refusal = " ZelvoDebug.log is a folder, not a regular file; the removal goes on without it.\n";
  ASSERT_EQ(count_of(run.out, refusal), 1);
  const std::size_t at = run.out.find(refusal);
  const std::size_t above = run.out.rfind('\n', at - 2);
  EXPECT_EQ(run.out.compare(above + 1, c.before.size(), c.before), 0) << run.out.substr(above + 1, at - above);
  EXPECT_THAT(run.out, HasSubstr(" Removed 2 of the 2 listed objects in "));  // the removals went on
}

INSTANTIATE_TEST_SUITE_P(RemoveMenu, UnopenableDebugLog,
                         ::testing::Values(FirstOpener{"StarFirst", "1 60 80 9\n1 140 120 9\n",
                                                       " ZelvoRep.log contained 2 lines (= objects)."},
                                           FirstOpener{"SaturatedStarFirst", "2 60 80 9\n1 140 120 9\n",
                                                       " ZelvoRep.log contained 2 lines (= objects)."}),
                         [](const ::testing::TestParamInfo<FirstOpener>& info) {
                           return std::string(info.param.name);
                         });

// The result view and the display after the removal keep the levels the user typed at D
// (moved by the constant level the submenu adds); "blink" at the undo question flips the
// view with the key of the typed cursor line and changes nothing else: the same session
// without it writes the same image.
TEST(RemoveMenu, TheResultKeepsTheUserLevelsAndBlinkFlipsItWithoutChangingTheResult) {
  const Field fd = make_field();
  const FieldStar& s = fd.star;
  const auto session = [&](bool with_blink) {
    std::vector<std::string> lines = {"",  "l",          "sample_field.fits", "d", "1",
                                      "y", "900 1400 p", "-1e9 1e9",          "n", "r",
                                      "1", at(s.x, s.y), at(s.x, s.y),        "12"};
    if (with_blink) lines.insert(lines.end(), {"blink", at(s.x, s.y) + " b", at(s.x, s.y) + " A"});
    lines.insert(lines.end(), {"n", "0", "s", "kept.fits", "", "q"});
    return lines;
  };
  ScratchFolder plain, blinked;
  write_field(plain, fd, "sample_field.fits");
  write_field(blinked, fd, "sample_field.fits");
  const auto a = run_session(plain, session(false));
  const auto b = run_session(blinked, session(true));

  const float low = 900.0f + static_cast<float>(fd.level), high = 1400.0f + static_cast<float>(fd.level);
  // The result view takes its levels from the area it shows, within the area's values (with
  // the constant level the submenu adds); the whole image is drawn again at the user's levels.
  const std::size_t result = b.out.find(" Display levels: low, high = ");
  ASSERT_NE(result, std::string::npos) << b.out;
  float view_low = 0.0f, view_high = 0.0f;
  ASSERT_EQ(std::sscanf(b.out.c_str() + result + 29, "%f %f", &view_low, &view_high), 2);
  const Image kept = plain.read_fits("kept.fits");
  float area_min = 1e30f, area_max = -1e30f;
  for (int y = static_cast<int>(s.y) - 50; y <= static_cast<int>(s.y) + 50; ++y)
    for (int x = static_cast<int>(s.x) - 50; x <= static_cast<int>(s.x) + 50; ++x)
      if (kept.view().inside(x, y)) {
        area_min = std::min(area_min, kept.at(x, y));
        area_max = std::max(area_max, kept.at(x, y));
      }
  EXPECT_NE(view_low, low);
  EXPECT_GE(view_low, area_min + static_cast<float>(fd.level) - 1.0f);
  EXPECT_LE(view_high, area_max + static_cast<float>(fd.level) + 1.0f);
  EXPECT_LT(view_low, view_high);
  EXPECT_THAT(b.out,
              HasSubstr(list_record({"Display levels:  Low = ", low, "  High = ", high, "  Scaling: positive"})));
  const std::size_t before = b.out.find(" Showing the area before the removal.\n");
  ASSERT_NE(before, std::string::npos) << b.out;
  EXPECT_NE(b.out.find(" Showing the area after the removal.\n", before), std::string::npos);
  EXPECT_EQ(count_of(b.out, kUndo), 2);
  EXPECT_EQ(count_of(a.out, kUndo), 1);
  EXPECT_THAT(a.out, Not(HasSubstr("Showing the area")));
  EXPECT_EQ(blinked.read_fits("kept.fits").px, plain.read_fits("kept.fits").px);
  EXPECT_EQ(blinked.read("ZelvoRepeat.log"), plain.read("ZelvoRepeat.log"));
}
