#include <gtest/gtest.h>

#include <cpgplot.h>

#include <cmath>
#include <sstream>

#include "display/circle.h"
#include "platform/console.h"
#include "platform/graphics.h"

using namespace zelvo;

TEST(Circle, PointsEveryDegreeFromZeroToThreeHundredSixtyClosingTheCircle) {
  const float xc = 250.5f, yc = 120.25f, r = 10.0f;
  const CirclePoints p = circle_points(xc, yc, r);
  for (int i = 0; i <= 360; ++i) {
    const double dx = p.x[i] - static_cast<double>(xc), dy = p.y[i] - static_cast<double>(yc);
    EXPECT_NEAR(std::hypot(dx, dy), r, 1e-4 + 1e-5 * r) << i;
    // The angle of point i is i degrees, measured from +x towards +y.
    double deg = std::atan2(dy, dx) * 180.0 / 3.14159265358979323846;
    if (deg < -0.5 || (i == 360 && deg < 0.5)) deg += 360.0;
    EXPECT_NEAR(deg, i, 1e-3) << i;
  }
  // The polyline ends where it starts: no gap at 3 o'clock.
  EXPECT_EQ(p.x[360], p.x[0]);
  EXPECT_EQ(p.y[360], p.y[0]);
  EXPECT_FLOAT_EQ(p.x[0], xc + r);
  EXPECT_FLOAT_EQ(p.x[90], xc);
  EXPECT_FLOAT_EQ(p.y[90], yc + r);
}

TEST(Circle, ZeroRadiusIsADotAtTheCentre) {
  const CirclePoints p = circle_points(3.0f, 4.0f, 0.0f);
  for (int i = 0; i <= 360; ++i) {
    EXPECT_EQ(p.x[i], 3.0f);
    EXPECT_EQ(p.y[i], 4.0f);
  }
}

TEST(Circle, LeavesColourOneAndLineWidthThree) {
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  Graphics gfx(con);
  ASSERT_TRUE(gfx.open("/null"));
  gfx.window(0.0f, 100.0f, 0.0f, 100.0f);
  gfx.colour(5);
  gfx.line_width(7);
  CIRCLE(50.0f, 50.0f, 20.0f, 2, gfx);
  int ci = 0, lw = 0;
  cpgqci(&ci);
  cpgqlw(&lw);
  EXPECT_EQ(ci, 1);
  EXPECT_EQ(lw, 3);
  CIRCLE(95.0f, 95.0f, 10.0f, 4, gfx);  // partly outside the window: clipped, no trouble
  EXPECT_TRUE(out.str().empty());
}
