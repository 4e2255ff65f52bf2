// The profile's sky from boxes beyond the extent: synthetic discs that fill most of the frame
// give their true sky within half a noise sigma, M51 the level of its two empty corners, and a
// frame without room beyond the extent finds no empty sky.
#include "galaxy/sky_boxes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>

#include "fits/fits_io.h"
#include "galaxy/disc_image.h"
#include "galaxy/profile.h"

using namespace zelvo;
using namespace zelvo::testing;

namespace {

struct FillCase {
  std::string name;
  DiscModel disc;
  float R;  // the extent asked for (pixels along the major axis)
};

void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

DiscModel filling(int n, double xc, double yc, double scale, double e, double central, unsigned seed) {
  DiscModel d;
  d.nx = d.ny = n;
  d.xc = xc;
  d.yc = yc;
  d.scale = scale;
  d.e = e;
  d.central = central;
  d.sky = 150.0;
  d.noise = 10.0;
  d.seed = seed;
  return d;
}

class SkyOfAFilledFrame : public ::testing::TestWithParam<FillCase> {};

}  // namespace

TEST_P(SkyOfAFilledFrame, IsTheTrueSkyWithinHalfASigma) {
  const FillCase& c = GetParam();
  const DiscModel& d = c.disc;
  // The disc's light lies above half the noise over 60 to 90 % of the frame: a galaxy that
  // fills it, with empty corners left.
  int lit = 0;
  for (int y = 1; y <= d.ny; ++y)
    for (int x = 1; x <= d.nx; ++x) lit += disc_value(d, x - d.xc, y - d.yc) > 0.5 * d.noise;
  const double fill = static_cast<double>(lit) / (d.nx * d.ny);
  ASSERT_GT(fill, 0.6);
  ASSERT_LT(fill, 0.9);

  const Image img = disc_image(d);
  const float pa = position_angle_radians(90.0f);  // the disc's major axis lies along +y
  const SkyBoxes s =
      sky_from_boxes(img.view(), static_cast<float>(d.xc), static_cast<float>(d.yc), c.R, static_cast<float>(d.e), pa);
  ASSERT_TRUE(s.found);
  EXPECT_NEAR(s.sky, d.sky, 0.5 * d.noise);
  // The pixel spread is the noise, and the level's error is honest: the truth within 3 of it.
  EXPECT_NEAR(s.sigma, d.noise, 0.1 * d.noise);
  EXPECT_GT(s.err, 0.0f);
  EXPECT_LT(std::fabs(s.sky - d.sky), 3.0 * s.err + 0.05 * d.noise);
  EXPECT_GE(s.used, kFewestSkyBoxes);
  EXPECT_LT(s.used, s.beyond);  // the boxes that still hold light are left out
}

INSTANTIATE_TEST_SUITE_P(Discs, SkyOfAFilledFrame,
                         ::testing::Values(FillCase{"Centred", filling(201, 101, 101, 24.0, 0.8, 3000.0, 3), 90.0f},
                                           FillCase{"OffCentre", filling(241, 110, 130, 26.0, 0.75, 2500.0, 5), 110.0f},
                                           FillCase{"Small", filling(181, 85, 95, 19.0, 0.8, 1500.0, 9), 80.0f}),
                         [](const ::testing::TestParamInfo<FillCase>& i) { return i.param.name; });

// M51 with the extent 230, shape 0.35 at 80 degrees: two corners hold the companion's and the
// outer disc's light (56 to 57 counts), two are empty sky at 39.0 and 39.5.
TEST(SkyOfM51, IsTheLevelOfItsEmptyCorners) {
  const FitsRead r = READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/data/m51.fits");
  ASSERT_EQ(r.outcome, ReadOutcome::loaded);
  const SkyBoxes s = sky_from_boxes(r.image.view(), 258.0f, 259.0f, 230.0f, 0.35f, position_angle_radians(80.0f));
  ASSERT_TRUE(s.found);
  EXPECT_NEAR(s.sky, 39.25f, 1.0f);
  EXPECT_LT(std::fabs(s.sky - 39.25f), 3.0f * s.err);
}

TEST(SkyBoxesNone, AnExtentBeyondTheFrameFindsNoEmptySky) {
  DiscModel d = filling(101, 51, 51, 10.0, 0.0, 1000.0, 1);
  const Image img = disc_image(d);
  const SkyBoxes s = sky_from_boxes(img.view(), 51.0f, 51.0f, 80.0f, 0.0f, 0.0f);
  EXPECT_FALSE(s.found);
  EXPECT_EQ(s.box, 8);
  EXPECT_LT(s.beyond, kFewestSkyBoxes);
}
