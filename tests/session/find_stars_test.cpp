// Option 4 of R on a synthetic spiral galaxy: the stars found, edited with typed cursor lines
// (drop, add, exclusion ellipse), written as the list option 9 removes, with the catalogue
// astropy reads and the region file beside it; an existing list is never lost, whatever the
// answer and also when the write fails; a DS9 region file serves as the list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "removal/object_list.h"
#include "session/batch_run.h"
#include "session/find_stars.h"
#include "session/remove_submenu.h"
#include "support/astropy_table.h"
#include "support/frame_generator.h"
#include "support/isolated_run.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using namespace zelvo::test_images;
using ::testing::HasSubstr;

namespace {

std::string line(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

RemovalFiles files_in(const ScratchFolder& dir) {
  return {dir.file("ZelvoRep.log"), dir.file("ZelvoRepeat.log"), dir.file("ZelvoDebug.log")};
}

const ListedObject* listed_near(const ObjectList& l, float x, float y, float within) {
  for (const ListedObject& o : l.objects)
    if (std::hypot(o.x - x, o.y - y) < within) return &o;
  return nullptr;
}

TEST(FindStars, FoundEditedWrittenAndRemovedByOption9) {
  const KnottyGalaxy f = knotty_galaxy();
  ScratchFolder dir;
  ScriptedSession desk(f.image, 7, "spiral.fits");
  // The truth's stars of at least 10 sigma, off the ellipse drawn below (centre 300 300, a 70).
  const FrameStar* dropped = nullptr;
  for (const FrameStar& t : f.stars)
    if (!t.saturated && t.peak > 1000.0f && std::hypot(t.x - 300.0f, t.y - 300.0f) > 90.0f) dropped = &t;
  ASSERT_NE(dropped, nullptr);
  const auto knot = f.knots[3];  // the user takes one knot for a star
  char drop[64], add[64];
  std::snprintf(drop, sizeof drop, "%.1f %.1f A", dropped->x + 0.8, dropped->y - 0.6);
  std::snprintf(add, sizeof add, "%.1f %.1f a", knot.first, knot.second);
  desk.answer(line({"4", "", "3", drop, add, "-40 300 a", "300 300 e", "300 300", "70", "0 0", "1 1 q", "9", "0"}));
  remove_submenu(desk.s, files_in(dir));
  const std::string out = desk.out.str();
  EXPECT_THAT(out, HasSubstr("   4) Find stars and write the object list\n"));
  EXPECT_THAT(out, HasSubstr(" saturated, type 2); FWHM 3.0 pixels (as given).\n"));
  EXPECT_THAT(out, HasSubstr(" Dropped the star at 1 "));
  EXPECT_THAT(out, HasSubstr(" That click lies outside the image; nothing is added or dropped.\n"));
  EXPECT_THAT(
      out, HasSubstr(" click a star (or d) to drop it, a to add a star at the cursor (or take back a yellow one),\n"));

  const ObjectList list = parse_object_list(dir.read("ZelvoRep.log"));
  ASSERT_EQ(list.bad_line, 0);
  EXPECT_EQ(listed_near(list, dropped->x, dropped->y, 3.0f), nullptr);
  const ListedObject* added = listed_near(list, knot.first, knot.second, 1.0f);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->type, 1);
  for (const ListedObject& o : list.objects)
    if (&o != added) {
      EXPECT_GT(std::hypot(o.x - 300.0f, o.y - 300.0f), 70.0f) << o.x << " " << o.y;
    }
  int expected = 0, saturated = 0;
  for (const FrameStar& t : f.stars) {
    if (&t == dropped || std::hypot(t.x - 300.0f, t.y - 300.0f) < 72.0f || (!t.saturated && t.peak < 80.0f)) continue;
    ++expected;
    const ListedObject* o = listed_near(list, t.x, t.y, t.saturated ? 4.0f : 1.0f);
    if (!o) {
      ADD_FAILURE() << "not listed: " << t.x << " " << t.y;
      continue;
    }
    EXPECT_EQ(o->type, t.saturated ? 2 : 1);
    saturated += o->type == 2;
    if (t.saturated) continue;
    // Option 9 removed it: what is left there is the galaxy, sky and noise.
    double excess = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int x = static_cast<int>(std::lround(t.x)) + dx, y = static_cast<int>(std::lround(t.y)) + dy;
        excess += desk.image().at(x, y) - f.smooth.at(x, y);
      }
    EXPECT_LT(std::fabs(excess / 9.0), 3.0 * f.noise) << "star of height " << t.peak << " at " << t.x << " " << t.y;
  }
  // Nothing listed that is not a star of the frame (stars of 5 to 10 sigma may be listed too).
  for (const ListedObject& o : list.objects) {
    bool real = &o == added;
    for (const FrameStar& t : f.stars) real |= std::hypot(o.x - t.x, o.y - t.y) < 4.0f;
    EXPECT_TRUE(real) << "listed at " << o.x << " " << o.y;
  }
  EXPECT_GE(static_cast<int>(list.objects.size()), expected + 1);
  EXPECT_GE(saturated, 3);

  // The catalogue, read by astropy, and the region file hold the same stars.
  const auto table = astropy_read_ecsv(dir.file(kStarCatalogue));
  if (table) {
    EXPECT_EQ(table->columns, (std::vector<std::string>{"x", "y", "ra", "dec", "flux", "peak", "fwhm", "sharpness",
                                                        "roundness", "radius", "type", "class", "score"}));
    // The listed stars, then any objects left out for their shape (type 0), each with its class.
    std::size_t listed_rows = 0;
    for (std::size_t i = 0; i < table->rows.size(); ++i) {
      const std::string type = table->cell(i, "type"), cls = table->cell(i, "class");
      listed_rows += type != "0";
      EXPECT_EQ(type == "2", cls == "'saturated'") << i;  // cells come as Python's repr
      EXPECT_TRUE(cls == "'star'" || cls == "'saturated'" || cls == "'extended'" || cls == "'cosmic ray'") << cls;
    }
    ASSERT_EQ(listed_rows, list.objects.size());
    EXPECT_EQ(table->cell(0, "ra"), "--");  // no WCS in this image
    EXPECT_EQ(table->meta.at("threshold_sigma"), "5.0");
  }
  const ObjectList regions = parse_region_list(dir.read(kStarRegions));
  ASSERT_EQ(regions.objects.size(), list.objects.size());
  for (std::size_t i = 0; i < list.objects.size(); ++i) {
    EXPECT_EQ(regions.objects[i].type, list.objects[i].type);
    EXPECT_NEAR(regions.objects[i].x, list.objects[i].x, 1e-3);
  }
}

// Other shape limits asked for while editing: the frame is searched again with them, the
// limits line says so, and the list written is the new search's.
TEST(FindStars, OtherShapeLimitsSearchAgain) {
  KnotStyle style;
  style.knot_lo = 1.2f, style.knot_hi = 1.6f;
  const KnottyGalaxy f = knotty_galaxy(600, 600, 5, 0, style);
  ScratchFolder dir;
  ScriptedSession desk(f.image, 7, "spiral.fits");
  desk.answer(line({"4", "", "3", "1 1 l", "2.0,,,,", "1 1 q", "0"}));
  remove_submenu(desk.s, files_in(dir));
  const std::string out = desk.out.str();
  EXPECT_THAT(out, HasSubstr(" A star is at most 1.15 times the FWHM wide (the least, as the FWHM was given), "
                             "with a sharpness from 0.2 to 1.0 and a roundness from -1.0 to 1.0; "));
  EXPECT_THAT(out,
              HasSubstr(" A star is at most 2.0 times the FWHM wide (as given), with a sharpness from 0.2 to 1.0"));
  // The wider limit lets round knots in (none is listed at the defaults).
  const ObjectList list = parse_object_list(dir.read("ZelvoRep.log"));
  int knots = 0;
  for (const auto& k : f.knots) knots += listed_near(list, k.first, k.second, 2.0f) != nullptr;
  EXPECT_GE(knots, 5);
}

// An existing list and what each answer makes of it; "limit" runs with files limited to a
// few bytes, so every write fails as on a full disk.
struct ListCase {
  const char* answers;  // after the cursor line that ends the editing
  bool limit;
  bool old_kept;      // ZelvoRep.log still holds exactly the old list
  bool new_in_rep;    // the new list is in ZelvoRep.log
  const char* other;  // the new list is in this file instead ("" none)
};

class ExistingList : public ::testing::TestWithParam<ListCase> {};

TEST_P(ExistingList, IsNeverLost) {
  const ListCase c = GetParam();
  const std::string old = " 1 10.5 20.5 6\n 2 40 50 20";  // a hand-made list, last line unended
  ScratchFolder dir;
  dir.write("ZelvoRep.log", old);
  dir.write("other.log", "keep me\n");
  const KnottyGalaxy f = knotty_galaxy(400, 400, 9);
  const auto run = run_isolated_call(dir, [&] {
    if (c.limit) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit lim{64, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &lim);
    }
    ScriptedSession desk(f.image, 3, "frame.fits");
    std::string script = "4\n\n3\n1 1 q\n" + std::string(c.answers) + "0\n";
    desk.answer(script);
    remove_submenu(desk.s, files_in(dir));
    const rlimit open{RLIM_INFINITY, RLIM_INFINITY};  // the output goes back through a file
    setrlimit(RLIMIT_FSIZE, &open);
    return desk.out.str();
  });
  ASSERT_TRUE(run.ended_well()) << run.verdict();
  const std::string rep = dir.read("ZelvoRep.log");
  if (c.old_kept) {
    EXPECT_EQ(rep, old);
  }
  const ObjectList now = parse_object_list(rep);
  EXPECT_EQ(now.bad_line, 0);
  if (c.new_in_rep) {
    EXPECT_GT(now.objects.size(), 10u);
  }
  if (c.new_in_rep && !c.old_kept && std::string(c.answers).rfind("a", 0) == 0) {
    EXPECT_EQ(rep.rfind(old + "\n", 0), 0u) << "appended after the old lines";
  }
  if (*c.other) {
    EXPECT_GT(parse_object_list(dir.read(c.other)).objects.size(), 10u);
  }
  EXPECT_EQ(dir.read("other.log"), "keep me\n");  // an existing name offered is never taken
  if (c.limit) {
    EXPECT_THAT(
        run.out,
        HasSubstr(" ZelvoRep.log could not be written (File too large); the list ZelvoRep.log is left as it was.\n"));
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, ExistingList,
                         ::testing::Values(ListCase{"r\n", false, false, true, ""},  // replaced
                                           ListCase{"a\n", false, false, true, ""},  // appended
                                           ListCase{"z\nn\nother.log\nn\nstars.log\n", false, true, false,
                                                    "stars.log"},                     // another name
                                           ListCase{"r\n", true, true, false, ""},    // replace fails: old list intact
                                           ListCase{"a\n", true, true, false, ""}));  // append fails: cut back

TEST(FindStars, ARegionFileNamedAtTheThresholdQuestionIsTheListOfOption9) {
  const KnottyGalaxy f = knotty_galaxy(400, 400, 9);
  ScratchFolder dir;
  const FrameStar* sat = nullptr;
  const FrameStar* star = nullptr;
  for (const FrameStar& t : f.stars) {
    if (t.saturated && !sat) sat = &t;
    if (!t.saturated && t.peak > 500.0f && !star) star = &t;
  }
  std::ostringstream reg;
  reg << "# Region file format: DS9 version 4.1\nglobal color=green width=1\nimage\n"
      << "circle(" << star->x << "," << star->y << ",7)\n"
      << "circle(" << sat->x << "," << sat->y << ",25) # color=red text={bright}\n";
  dir.write("stars.reg", reg.str());
  ScriptedSession desk(f.image, 3, "frame.fits");
  desk.answer(line({"4", "stars.reg", "9", "0"}));
  remove_submenu(desk.s, files_in(dir));
  const std::string out = desk.out.str();
  EXPECT_THAT(out, HasSubstr(" Options 8 and 9 now read stars.reg (2 objects).\n"));
  EXPECT_THAT(out, HasSubstr(" ZelvoRep.log contained 2 lines (= objects).\n"));
  EXPECT_THAT(out, HasSubstr(" Removed 2 of the 2 listed objects in "));
  EXPECT_THAT(dir.read("ZelvoDebug.log"), HasSubstr(" Read (ch0, xc, yc, deathrad) = 1 "));
  EXPECT_THAT(dir.read("ZelvoDebug.log"), HasSubstr(" Read (ch0, xc, yc, deathrad) = 2 "));
  const int x = static_cast<int>(std::lround(star->x)), y = static_cast<int>(std::lround(star->y));
  EXPECT_LT(std::fabs(desk.image().at(x, y) - f.smooth.at(x, y)), 4.0f * f.noise);
}

// The headless job: the same stars found with a fixed threshold, written beside the cleaned
// frame, and removed.
// The shape limits of the find job: a limit out of range refuses the job before the frame is
// read; limits in range are the ones the catalogue records.
struct ShapeOptionCase {
  const char* name;
  std::vector<std::string> options;
  int status;
  const char* max_width;  // the catalogue's max_width when the job ran
};

class FindJobShape : public ::testing::TestWithParam<ShapeOptionCase> {};

TEST_P(FindJobShape, LimitsAreCheckedAndUsed) {
  const ShapeOptionCase c = GetParam();
  const KnottyGalaxy f = knotty_galaxy(400, 400, 9);
  ScratchFolder dir;
  dir.write_fits("frame.fits", f.image);
  std::vector<std::string> args = {"find", "--fwhm", "3"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), {"--out", dir.file("out"), "--", dir.file("frame.fits")});
  std::ostringstream out, err;
  EXPECT_EQ(run_batch(args, out, err), c.status) << err.str();
  if (c.status != 0) {
    EXPECT_THAT(err.str(), HasSubstr("--max-width is 0 or from 1 to 5, --sharpness LO,HI and --roundness LO,HI (or R) "
                                     "run from low to high"));
    EXPECT_FALSE(dir.exists("out/frame.stars.ecsv"));
    return;
  }
  const auto table = astropy_read_ecsv(dir.file("out/frame.stars.ecsv"));
  if (table) {
    EXPECT_EQ(table->meta.at("max_width"), c.max_width);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, FindJobShape,
    ::testing::Values(ShapeOptionCase{"defaults", {}, 0, "1.15"},
                      ShapeOptionCase{
                          "given", {"--max-width", "1.3", "--sharpness", "0.3,0.9", "--roundness", "0.5"}, 0, "1.3"},
                      ShapeOptionCase{"narrow_width", {"--max-width", "0.8"}, 2, ""},
                      ShapeOptionCase{"reversed_sharpness", {"--sharpness", "1,0.2"}, 2, ""},
                      ShapeOptionCase{"no_number", {"--roundness", "round"}, 2, ""}),
    [](const ::testing::TestParamInfo<ShapeOptionCase>& i) { return std::string(i.param.name); });

TEST(FindStars, TheFindJobFindsWritesAndRemovesWithAFixedThreshold) {
  const KnottyGalaxy f = knotty_galaxy(400, 400, 9);
  ScratchFolder dir;
  dir.write_fits("frame.fits", f.image);
  std::ostringstream out, err;
  const std::vector<std::string> args = {
      "find", "--threshold", "5", "--fwhm", "3", "--out", dir.file("out"), "--seed", "5", "--", dir.file("frame.fits")};
  ASSERT_EQ(run_batch(args, out, err), 0) << err.str();
  const ObjectList list = parse_object_list(dir.read("out/frame.ZelvoRep.log"));
  int bright = 0, listed = 0;
  for (const FrameStar& t : f.stars) {
    if (!t.saturated && t.peak < 10.0f * f.noise) continue;
    ++bright;
    listed += listed_near(list, t.x, t.y, 4.0f) != nullptr;
  }
  EXPECT_GE(listed, 0.95 * bright);
  EXPECT_EQ(out.str(), "frame.clean.fits: " + std::to_string(list.objects.size()) + " stars found above 5.0 sigma (" +
                           std::to_string(std::count_if(list.objects.begin(), list.objects.end(),
                                                        [](const ListedObject& o) { return o.type == 2; })) +
                           " saturated), " + std::to_string(list.objects.size()) + " removed\n");
  EXPECT_EQ(parse_region_list(dir.read("out/frame.stars.reg")).objects.size(), list.objects.size());
  EXPECT_TRUE(dir.exists("out/frame.stars.ecsv"));
  const Image clean = dir.read_fits("out/frame.clean.fits");
  ASSERT_EQ(clean.nx, 400);
  for (const ListedObject& o : list.objects) {
    if (o.type != 1 || std::min({o.x, o.y, 400 - o.x, 400 - o.y}) < 50.0f) continue;  // GETPSF's edge
    double excess = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int x = static_cast<int>(std::lround(o.x)) + dx, y = static_cast<int>(std::lround(o.y)) + dy;
        excess += clean.at(x, y) - f.smooth.at(x, y);
      }
    EXPECT_LT(std::fabs(excess / 9.0), 3.0 * f.noise) << o.x << " " << o.y;
  }
  const std::vector<std::string> wrong = {"find", "--threshold",         "-2", "--out", dir.file("out2"),
                                          "--",   dir.file("frame.fits")};
  EXPECT_NE(run_batch(wrong, out, err), 0);
  EXPECT_THAT(err.str(), HasSubstr("--threshold -2 is not a number of sigma above 0"));
}

struct RegionCase {
  const char* text;
  int objects;
  int bad_line;
  int last_type;
};
class RegionList : public ::testing::TestWithParam<RegionCase> {};

TEST_P(RegionList, CirclesInImageCoordinatesAreTheList) {
  const RegionCase c = GetParam();
  const ObjectList l = parse_region_list(c.text);
  EXPECT_EQ(static_cast<int>(l.objects.size()), c.objects);
  EXPECT_EQ(l.bad_line, c.bad_line);
  if (c.objects) {
    EXPECT_EQ(l.objects.back().type, c.last_type);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegionList,
    ::testing::Values(RegionCase{"# Region file format: DS9 version 4.1\nimage\ncircle(10,20,5)\n", 1, 0, 1},
                      RegionCase{"image\ncircle(10.5, 20.5, 5) # color=red\n\n", 1, 0, 2},
                      // Every region of a line counts; ";" inside braces or after "#" separates nothing.
                      RegionCase{"image; circle(10,20,5) # color=green\n", 1, 0, 1},
                      RegionCase{"image\ncircle(1,2,3);circle(4,5,6) # color=red\n", 2, 0, 2},
                      RegionCase{"image\ncircle(1,2,3) ; box(10,20,5,5,0)\n", 1, 2, 1},
                      RegionCase{"image\ncircle(1,2,3) # text={a;b}\n# c; circle(4,5,6)\n", 1, 0, 1},
                      RegionCase{"fk5\ncircle(202.47,47.19,3\")\n", 0, 1, 0},  // sky coordinates
                      RegionCase{"image\ncircle(1,2,3)\nbox(10,20,5,5,0)\ncircle(4,5,6)\n", 1, 3, 1},
                      RegionCase{"image\ncircle(1,2,-3)\n", 0, 2, 0}));

}  // namespace
