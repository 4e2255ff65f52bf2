// One position angle: the ellipse drawn on the profile page (located in a PNG of the page)
// and the annuli the profile measures both put the major axis at pa from +x towards +y, and
// the profile of a galaxy turned by pa follows its analytic profile.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "display/profile_page.h"
#include "galaxy/profile.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "support/picture.h"
#include "support/session_harness.h"

using namespace zelvo;
using zelvo::testing::Picture;
using zelvo::testing::read_png;

namespace {

// A galaxy of exponential light with its major axis at `pa_deg` from +x towards +y and axis
// ratio sqrt(1 - e^2), on a sky of 0: its value at elliptical radius rho is 1000 exp(-rho / 6).
double galaxy_rho(double dx, double dy, double e, double pa_deg) {
  const double a = pa_deg * M_PI / 180.0;
  const double u = dx * std::cos(a) + dy * std::sin(a), v = -dx * std::sin(a) + dy * std::cos(a);
  return std::sqrt(u * u + v * v / (1.0 - e * e));
}

}  // namespace

struct Angle {
  float pa_deg;
};

class OnePositionAngle : public ::testing::TestWithParam<Angle> {};

TEST_P(OnePositionAngle, TheDrawnEllipseIsTheMeasuredOne) {
  const float pa_deg = GetParam().pa_deg, e = 0.8f;
  const float pa = position_angle_radians(pa_deg);
  // The annuli: the profile of the turned galaxy is its analytic profile, bin by bin.
  Image img(81, 81);
  for (int y = 1; y <= 81; ++y)
    for (int x = 1; x <= 81; ++x)
      img.at(x, y) = static_cast<float>(1000.0 * std::exp(-galaxy_rho(x - 41, y - 41, e, pa_deg) / 6.0));
  const PixelScan scan = scan_profile_pixels(img.view(), 41, 41, 15.0f, e, pa, ProfileScale::flux);
  const BinnedProfile prof = bin_profile(scan, 0.0f, 15.0f);
  ASSERT_EQ(prof.nb(), 15u);
  for (std::size_t k = 2; k < prof.nb(); ++k)
    EXPECT_NEAR(prof.prof[k], 1000.0 * std::exp(-(k + 0.5) / 6.0), 0.04 * 1000.0 * std::exp(-(k + 0.5) / 6.0)) << k;

  // The drawing: the red ellipse of the extent located in a PNG of the image panel; the main
  // axis of its pixels (second moments) lies at pa from +x towards +y (PNG rows run down).
  if (std::system("command -v convert > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick convert is not installed";
  zelvo::testing::ScratchFolder dir;
  {
    std::istringstream in;
    std::ostringstream out;
    Console con(in, out);
    Graphics gfx(con);
    ASSERT_TRUE(gfx.open(dir.file("page.png") + "/png"));
    Image dark(81, 81, 0.0f);
    draw_image_panel(dark.view(), 41, 41, 1.0f, 0.0f, 15.0f, 5.0f, e, pa, gfx);
    gfx.close_all();
  }
  const Picture p = read_png(dir.file("page.png"));
  ASSERT_GT(p.w, 100);
  double n = 0, sx = 0, sy = 0;
  std::vector<std::pair<double, double>> red;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const unsigned char* c = p.at(x, y);
      if (c[0] > 180 && c[1] < 90 && c[2] < 90) red.emplace_back(x, -static_cast<double>(y));
    }
  ASSERT_GT(red.size(), 50u);
  for (const auto& [x, y] : red) {
    sx += x;
    sy += y;
    ++n;
  }
  const double mx = sx / n, my = sy / n;
  double cxx = 0, cyy = 0, cxy = 0;
  for (const auto& [x, y] : red) {
    cxx += (x - mx) * (x - mx);
    cyy += (y - my) * (y - my);
    cxy += (x - mx) * (y - my);
  }
  double axis = 0.5 * std::atan2(2.0 * cxy, cxx - cyy) * 180.0 / M_PI;  // -90 .. 90
  double want = std::fmod(pa_deg, 180.0);
  if (want > 90.0) want -= 180.0;
  double diff = std::fabs(axis - want);
  diff = std::min(diff, 180.0 - diff);
  EXPECT_LT(diff, 3.0) << "drawn at " << axis << " degrees";
}

INSTANTIATE_TEST_SUITE_P(Angles, OnePositionAngle,
                         ::testing::Values(Angle{0.0f}, Angle{30.0f}, Angle{60.0f}, Angle{135.0f}));
