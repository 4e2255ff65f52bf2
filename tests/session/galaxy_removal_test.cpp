// Stars on a galaxy removed from a list, and a bad row repaired, as whole scripted sessions
// on a synthetic galaxy frame (exponential disc with arms, sky 1000, noise 8, Moffat stars).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/frame_generator.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using namespace zelvo::test_images;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Stars on the disc, and the radius each line of the list gives (0: estimate it).
struct Listed {
  FrameStar star;
  float radius;
};
const std::vector<Listed> kListed = {
    {{122.3f, 148.6f, 3000.0f, 3.0f}, 9.0f},
    {{181.7f, 160.2f, 10000.0f, 3.0f}, 16.0f},
    {{140.6f, 100.3f, 20000.0f, 3.0f}, 0.0f},
    {{196.2f, 118.5f, 3000.0f, 2.5f}, -1.0f},
};

std::vector<std::string> record_lines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string l; std::getline(in, l);)
    if (!l.empty() && l[0] == ' ' && l.size() > 1 && std::isdigit(static_cast<unsigned char>(l[1]))) out.push_back(l);
  return out;
}

}  // namespace

// Option 9 takes a listed radius above 0 as the ring's radius and estimates the others where
// the star meets the galaxy beneath it; its record gives the radii used, so it replays itself.
TEST(GalaxyRemoval, Option9KeepsListedRadiiAndEstimatesTheRestOnTheDisc) {
  const GalaxyModel m = disc_galaxy();
  std::vector<FrameStar> stars;
  std::string list;
  for (const Listed& l : kListed) {
    stars.push_back(l.star);
    char line[96];
    std::snprintf(line, sizeof line, "1 %.2f %.2f %.1f\n", l.star.x, l.star.y, l.radius);
    list += line;
  }
  const Image frame = galaxy_frame(300, 300, m, stars);
  ScratchFolder dir;
  dir.write_fits("galaxy.fits", frame);
  dir.write("ZelvoRep.log", list);
  const auto run = run_session(dir, {"", "l", "galaxy.fits", "r", "9", "0", "s", "clean.fits", "", "q"});

  const auto rec = record_lines(dir.read("ZelvoRepeat.log"));
  ASSERT_EQ(rec.size(), kListed.size());
  const Image out = dir.read_fits("clean.fits");
  ASSERT_EQ(out.nx, 300);
  std::vector<double> ring(kListed.size());
  for (std::size_t i = 0; i < kListed.size(); ++i) {
    int type = 0;
    double x = 0, y = 0, r = 0;
    std::string radius;
    std::istringstream(rec[i]) >> type >> x >> y >> radius;
    r = std::stod(radius);
    EXPECT_EQ(type, 1);
    EXPECT_NEAR(x, kListed[i].star.x, 0.5);
    EXPECT_NEAR(y, kListed[i].star.y, 0.5);
    if (kListed[i].radius > 0.0f) {
      EXPECT_EQ(r, kListed[i].radius) << rec[i];
    } else {
      // The estimate, one pixel wider for the ring, lies within 3 px of where the star's
      // profile meets the sky noise.
      EXPECT_NEAR(r, moffat_radius_at(kListed[i].star, m.moffat_beta, m.noise) + 1.0, 3.0) << rec[i];
    }
    EXPECT_THAT(dir.read("ZelvoDebug.log"), HasSubstr(" deathrad = " + radius + " , xcen = "));
    ring[i] = r;
  }
  // Nothing beyond the rings changed.
  for (int y = 1; y <= 300; ++y)
    for (int x = 1; x <= 300; ++x) {
      bool inside = false;
      for (std::size_t i = 0; i < kListed.size(); ++i)
        if (std::hypot(x - kListed[i].star.x, y - kListed[i].star.y) <= ring[i] + 1.5) inside = true;
      if (!inside) {
        ASSERT_EQ(out.at(x, y), frame.at(x, y)) << x << "," << y;
      }
    }
}

// Option 7 repairs a dead row through the galaxy, leaves a knot two rows away, and records it.
TEST(GalaxyRemoval, Option7RepairsADeadRowAndKeepsTheKnotBesideIt) {
  const GalaxyModel m = disc_galaxy();
  const FrameStar knot{200.0f, 122.0f, 8000.0f, 2.0f};
  Image frame = galaxy_frame(300, 300, m, {knot});
  GalaxyModel noiseless = m;
  noiseless.noise = 0.0f;
  const Image truth = galaxy_frame(300, 300, noiseless, {knot});
  for (int x = 1; x <= 300; ++x) frame.at(x, 120) = 0.0f;
  ScratchFolder dir;
  dir.write_fits("row.fits", frame);
  const auto run = run_session(
      dir, {"", "l", "row.fits", "r", "7", "230 120", "230.4 119.8", "y", "n", "0", "s", "fixed.fits", "", "q"});
  EXPECT_THAT(run.out, HasSubstr("   7) Remove rows \n   8) Remove objects interactively"));
  EXPECT_THAT(run.out, ::testing::ContainsRegex(" Row 120 is [0-9.]+ counts low \\([0-9.]+ sigma\\) from x = 1 to "
                                                "300; that run will be repaired.\n Enter 'y' to keep"));
  EXPECT_THAT(run.out, HasSubstr(" RemoveSatBar: Bar length = 300\n"));
  const auto rec = record_lines(dir.read("ZelvoRepeat.log"));
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_THAT(rec[0], HasSubstr(" 7 230.4 119.8 19.0"));
  // The row follows the galaxy beneath (away from the nucleus and the knot); two or more rows
  // away, the knot among them, nothing changed.
  const Image out = dir.read_fits("fixed.fits");
  ASSERT_EQ(out.nx, 300);
  for (int y = 1; y <= 300; ++y)
    for (int x = 1; x <= 300; ++x) {
      if (std::abs(y - 120) >= 2) {
        ASSERT_EQ(out.at(x, y), frame.at(x, y)) << x << "," << y;
      } else if (y == 120 && std::hypot(x - m.cx, y - m.cy) > 16.0 && std::fabs(x - knot.x) > 6.0f) {
        ASSERT_NEAR(out.at(x, y), truth.at(x, y), 5.0 * m.noise) << x << "," << y;
      }
    }
}
