// Where stars meet their local background, and their centres, on a galaxy's slope: synthetic
// frames with Moffat stars of known flux on an exponential disc, against the analytic profile.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../support/galaxy_frame.h"
#include "photometry/psf.h"

using namespace zelvo;
using namespace zelvo::test_images;

namespace {

// A 300 x 300 frame: sky 1000, noise 8, disc of 3000 counts (scale 40 px) with a bulge and arms
// around (150, 150); eight stars on the disc and four off it.
const std::vector<FrameStar> kDiscStars = {
    {122.3f, 148.6f, 3000.0f, 3.0f},  {181.7f, 160.2f, 10000.0f, 3.0f}, {150.4f, 196.9f, 30000.0f, 3.5f},
    {108.8f, 112.1f, 5000.0f, 4.0f},  {196.2f, 118.5f, 3000.0f, 2.5f},  {140.6f, 100.3f, 20000.0f, 3.0f},
    {170.1f, 215.8f, 8000.0f, 3.0f},  {95.5f, 185.4f, 3000.0f, 3.0f},   {40.2f, 40.7f, 3000.0f, 3.0f},
    {260.6f, 45.3f, 15000.0f, 3.0f},  {45.9f, 262.2f, 6000.0f, 4.0f},   {258.4f, 259.1f, 3000.0f, 3.0f},
};

GalaxyModel disc_model() {
  GalaxyModel m;
  m.disc_peak = 3000.0f;
  m.disc_scale = 40.0f;
  m.bulge_peak = 8000.0f;
  m.arm_peak = 1000.0f;
  m.cx = 150.0f;
  m.cy = 150.0f;
  return m;
}

}  // namespace

// Every star's radius lies within 3 px of where its Moffat profile falls to the sky's sigma.
TEST(StarRadius, MeetsTheLocalBackgroundOnAndOffTheDisc) {
  const GalaxyModel m = disc_model();
  const Image img = galaxy_frame(300, 300, m, kDiscStars);
  for (const FrameStar& s : kDiscStars) {
    const StarRadius r = star_radius(img.view(), s.x, s.y);
    const double truth = moffat_radius_at(s, m.moffat_beta, m.noise);
    EXPECT_TRUE(r.found) << s.x << "," << s.y;
    EXPECT_NEAR(r.radius, truth, 3.0) << "star at " << s.x << "," << s.y << " flux " << s.flux;
    EXPECT_NEAR(r.noise, m.noise, 0.2 * m.noise) << s.x << "," << s.y;
    // Off the disc the background is the sky's; on it the surface follows the galaxy closely.
    const double bg = galaxy_value(m, s.x, s.y, 300, 300);
    const bool on_disc = std::hypot(s.x - m.cx, s.y - m.cy) < 90.0f;
    EXPECT_NEAR(r.background, bg, (on_disc ? 10.0 : 1.0) * m.noise) << s.x << "," << s.y;
  }
  // Blank sky: nothing stands above the background.
  const StarRadius none = star_radius(img.view(), 60.0f, 150.0f);
  EXPECT_FALSE(none.found);
}
