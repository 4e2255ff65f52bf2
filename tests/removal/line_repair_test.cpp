// Bad columns and rows on a galaxy: the line is repaired where it is bad (a line a few sigma off
// along its whole length too), a knot beside it and everything two or more lines away keep
// their values, and a knot crossing a good line is no defect.
#include "removal/line_repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "removal/removal_harness.h"
#include "support/frame_generator.h"

using namespace zelvo;
using namespace zelvo::testing;
using namespace zelvo::test_images;

namespace {

constexpr int kSize = 200;

struct LineCase {
  std::string name;
  LineAxis axis;
  int line;           // the bad column (or row)
  float value;        // a dead line holds this value ...
  float offset;       // ... or the good value plus this (0: dead)
  int from, to;       // pixels along the line that are bad
  float knot_across;  // a knot this many lines beside the bad one
  float click_off;    // the click lies this far across from the line
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineRepair : public ::testing::TestWithParam<LineCase> {};

GalaxyModel disc() { return GalaxyModel{.disc_peak = 3000.0f, .arm_peak = 800.0f, .cx = 95.0f, .cy = 105.0f}; }

// The disc's cusp at its centre, and the arms winding there within a few pixels, are not
// followed by a curve through the lines 2 and 3 pixels away: the comparison leaves them out.
bool near_nucleus(const GalaxyModel& m, int u, int t, bool rows) {
  const double x = rows ? t : u, y = rows ? u : t;
  return std::hypot(x - m.cx, y - m.cy) < 16.0;
}

}  // namespace

TEST_P(LineRepair, RepairsTheBadRunAndLeavesTheKnotBesideIt) {
  const LineCase& c = GetParam();
  const bool rows = c.axis == LineAxis::row;
  const GalaxyModel m = disc();
  // The knot: a compact source 2 or more lines beside the bad one, 20 pixels along from the click.
  const float along_knot = 90.0f, along_click = 110.0f;
  const FrameStar knot = rows ? FrameStar{along_knot, c.line + c.knot_across, 6000.0f, 2.0f}
                              : FrameStar{c.line + c.knot_across, along_knot, 6000.0f, 2.0f};
  GalaxyModel noiseless = m;
  noiseless.noise = 0.0f;
  const Image truth = galaxy_frame(kSize, kSize, noiseless, {knot});  // what lies beneath
  Image im = galaxy_frame(kSize, kSize, m, {knot});
  const auto px = [&](Image& img, int u, int t) -> float& { return rows ? img.at(t, u) : img.at(u, t); };
  for (int t = c.from; t <= c.to; ++t) px(im, c.line, t) = c.offset == 0.0f ? c.value : px(im, c.line, t) + c.offset;
  const Image before = im;

  RemovalHarness h;
  const float uc = static_cast<float>(c.line) + c.click_off;
  const SatBarResult r = rows ? repair_line(im.view(), along_click, uc, 0.0f, c.axis, h.ctx())
                              : repair_line(im.view(), uc, along_click, 0.0f, c.axis, h.ctx());
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(r.length, c.to - c.from + 1);

  for (int u = 1; u <= kSize; ++u)
    for (int t = 1; t <= kSize; ++t) {
      const int across = std::abs(u - c.line);
      const float now = px(im, u, t), was = px(const_cast<Image&>(before), u, t);
      const float good = px(const_cast<Image&>(truth), u, t);
      const bool knot_beside = across >= 1 && std::fabs(t - along_knot) <= 6.0f;
      if (across >= 2 || t < c.from || t > c.to || knot_beside) {
        ASSERT_EQ(now, was) << "line " << u << ", pixel " << t;  // the knot among them
      } else if (std::fabs(t - along_knot) > 6.0f && !near_nucleus(m, u, t, rows)) {
        // The repaired line and its neighbours follow the galaxy beneath, within the noise.
        ASSERT_NEAR(now, good, 5.0f * m.noise) << "line " << u << ", pixel " << t;
      }
    }
  // The repaired run has the sky's noise about the galaxy (not more), and no offset.
  double sum = 0.0, sum2 = 0.0;
  int n = 0;
  for (int t = c.from; t <= c.to; ++t) {
    if (std::fabs(t - along_knot) <= 6.0f || near_nucleus(m, c.line, t, rows)) continue;
    const double d = px(im, c.line, t) - px(const_cast<Image&>(truth), c.line, t);
    sum += d;
    sum2 += d * d;
    ++n;
  }
  const double mean = sum / n, sd = std::sqrt(sum2 / n - mean * mean);
  EXPECT_NEAR(mean, 0.0, 0.4 * m.noise);
  EXPECT_GT(sd, 0.7 * m.noise);
  EXPECT_LT(sd, 1.3 * m.noise);

  // Undone, every pixel is back.
  restore_satbar(r, im.view());
  EXPECT_EQ(im.px, before.px);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineRepair,
    ::testing::Values(
        LineCase{"DeadColumnBesideAKnot", LineAxis::column, 100, 0.0f, 0.0f, 1, kSize, 2.5f, 0.3f},
        LineCase{"DeadColumnClickedOneOff", LineAxis::column, 100, 0.0f, 0.0f, 1, kSize, -3.0f, 0.9f},
        LineCase{"HotColumnPart", LineAxis::column, 120, 0.0f, 20000.0f, 60, 150, 2.0f, 0.0f},
        LineCase{"WarmColumnOnTheDisc", LineAxis::column, 96, 0.0f, 90.0f, 1, kSize, 3.0f, -0.4f},
        LineCase{"DeadRowBesideAKnot", LineAxis::row, 104, 0.0f, 0.0f, 1, kSize, 2.5f, 0.2f},
        LineCase{"HotRowPart", LineAxis::row, 80, 0.0f, 5000.0f, 30, 170, -2.0f, 0.0f},
        // 3 sigma low along its whole length, a knot on the very next row.
        LineCase{"ThreeSigmaLowRowKnotOnTheNextRow", LineAxis::row, 60, 0.0f, -24.0f, 1, kSize, 1.0f, 0.0f},
        LineCase{"ThreeSigmaHighColumnKnotBeside", LineAxis::column, 140, 0.0f, 24.0f, 1, kSize, -1.0f, 0.2f}),
    [](const ::testing::TestParamInfo<LineCase>& i) { return i.param.name; });

// A click where no line stands out, on a bright knot crossing a good column, changes nothing
// and says so.
TEST(LineRepairRefusal, NothingStandsOutNearTheClick) {
  Image im = galaxy_frame(kSize, kSize, disc(), {FrameStar{60.0f, 60.0f, 6000.0f, 2.0f}});
  EXPECT_FALSE(find_line_defect(im.view(), 60.0f, 60.0f, LineAxis::column).found);
  const Image before = im;
  RemovalHarness h;
  const SatBarResult r = repair_line(im.view(), 60.0f, 60.0f, 0.0f, LineAxis::column, h.ctx());
  EXPECT_FALSE(r.removed);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0], " No line near the click stands out from its neighbours; nothing is repaired.");
  EXPECT_EQ(im.px, before.px);
}

// M51's row 110 lies about 37 counts low along all 512 pixels: it is repaired from x = 1 to 512
// to the level of the rows beside it, and the knot at (88, 109) keeps its 148 counts.
TEST(LineRepairM51, Row110IsRepairedAlongItsWholeLength) {
  FitsRead f = READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/data/m51.fits");
  ASSERT_EQ(f.outcome, ReadOutcome::loaded);
  Image& im = f.image;
  const Image before = im;
  const LineDefect d = find_line_defect(im.view(), 256.0f, 110.3f, LineAxis::row);
  ASSERT_TRUE(d.found);
  EXPECT_EQ(d.line, 110);
  EXPECT_EQ(d.from, 1);
  EXPECT_EQ(d.to, 512);
  EXPECT_NEAR(d.offset, -37.0f, 3.0f);
  RemovalHarness h;
  const SatBarResult r = repair_line(im.view(), d, 256.0f, 110.3f, 0.0f, h.ctx());
  ASSERT_TRUE(r.removed);
  EXPECT_EQ(im.at(88, 109), 148.0f);
  std::vector<float> diff;
  for (int x = 1; x <= 512; ++x) {
    for (int y = 1; y <= 512; ++y)
      if (y != 110) {
        ASSERT_EQ(im.at(x, y), before.at(x, y)) << x << "," << y;
      }
    diff.push_back(im.at(x, 110) - 0.5f * (im.at(x, 108) + im.at(x, 112)));
  }
  std::nth_element(diff.begin(), diff.begin() + 256, diff.end());
  EXPECT_NEAR(diff[256], 0.0f, 3.0f);  // the row's level is that of its neighbours
}
