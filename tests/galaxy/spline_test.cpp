// The cubic spline against polynomials it must reproduce, its end conditions and its alarm.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "galaxy/spline.h"

using namespace zelvo;

namespace {

double cubic(double x) { return x * x * x - 2.0 * x * x + 3.0 * x - 1.0; }
double cubic_slope(double x) { return 3.0 * x * x - 4.0 * x + 3.0; }
double cubic_curvature(double x) { return 6.0 * x - 4.0; }

void expect_close(double got, double want, double rel, double abs) {
  EXPECT_NEAR(got, want, abs + rel * std::fabs(want)) << "want " << want;
}

struct Table {
  std::vector<float> x, y;
};
Table tabulate(std::vector<float> x, double (*f)(double)) {
  Table t{std::move(x), {}};
  for (float v : t.x) t.y.push_back(static_cast<float>(f(v)));
  return t;
}

}  // namespace

TEST(Spline, ReproducesACubicWithItsTrueEndSlopes) {
  const Table t = tabulate({0.0f, 0.7f, 1.5f, 2.0f, 3.1f, 4.0f}, cubic);
  const auto y2 = SPLINE(t.x, t.y, static_cast<float>(cubic_slope(0.0)), static_cast<float>(cubic_slope(4.0)));
  ASSERT_EQ(y2.size(), 6u);
  for (std::size_t k = 0; k < t.x.size(); ++k) expect_close(y2[k], cubic_curvature(t.x[k]), 1e-4, 1e-3);
  for (float x = 0.0f; x <= 4.0f; x += 0.05f) expect_close(SPLINT(t.x, t.y, y2, x), cubic(x), 1e-5, 1e-4);
  // Outside the table the end intervals' cubics go on: still the same polynomial.
  expect_close(SPLINT(t.x, t.y, y2, -0.5f), cubic(-0.5), 1e-4, 1e-3);
  expect_close(SPLINT(t.x, t.y, y2, 4.5f), cubic(4.5), 1e-4, 1e-3);
}

TEST(Spline, AHugeSlopeGivesANaturalEndWhile9_9e29IsStillASlope) {
  const Table t = tabulate({0.0f, 1.0f, 2.0f, 3.0f}, cubic);
  const auto natural = SPLINE(t.x, t.y, 1e30f, 1e30f);
  EXPECT_EQ(natural.front(), 0.0f);
  EXPECT_EQ(natural.back(), 0.0f);

  const auto given = SPLINE(t.x, t.y, 9.9e29f, 9.9e29f);
  EXPECT_GT(std::fabs(given.front()), 1e28f);
  EXPECT_GT(std::fabs(given.back()), 1e28f);

  // One end natural, the other given: only the natural one has zero curvature.
  const auto mixed = SPLINE(t.x, t.y, 1e30f, static_cast<float>(cubic_slope(3.0)));
  EXPECT_EQ(mixed.front(), 0.0f);
  EXPECT_NE(mixed.back(), 0.0f);

  // A natural spline through points on a straight line is that line.
  const std::vector<float> lx{0.0f, 1.0f, 2.5f, 4.0f}, ly{1.0f, 3.0f, 6.0f, 9.0f};
  const auto ny2 = SPLINE(lx, ly, 1e30f, 1e30f);
  for (float v : ny2) EXPECT_NEAR(v, 0.0f, 1e-5f);
  EXPECT_NEAR(SPLINT(lx, ly, ny2, 3.3f), 7.6f, 1e-5f);
}

TEST(Spline, TwoPointsGiveOneIntervalThatIsTheHermiteCubic) {
  const Table t = tabulate({1.0f, 2.5f}, cubic);
  const auto y2 = SPLINE(t.x, t.y, static_cast<float>(cubic_slope(1.0)), static_cast<float>(cubic_slope(2.5)));
  ASSERT_EQ(y2.size(), 2u);
  for (float x = 1.0f; x <= 2.5f; x += 0.1f) expect_close(SPLINT(t.x, t.y, y2, x), cubic(x), 1e-5, 1e-4);
  // Natural ends on two points: the straight line between them.
  const auto lin = SPLINE(t.x, t.y, 1e30f, 1e30f);
  EXPECT_EQ(lin[0], 0.0f);
  EXPECT_EQ(lin[1], 0.0f);
  expect_close(SPLINT(t.x, t.y, lin, 1.75f), 0.5 * (t.y[0] + t.y[1]), 1e-6, 1e-6);
}

TEST(Spline, TablesLongerThan500PointsWork) {
  std::vector<float> x, y;
  for (int k = 0; k < 1200; ++k) {
    x.push_back(0.5f + static_cast<float>(k));
    y.push_back(static_cast<float>(std::sin(x.back() / 50.0)));
  }
  const auto y2 = SPLINE(x, y, static_cast<float>(std::cos(0.5 / 50.0) / 50.0), 1e30f);
  ASSERT_EQ(y2.size(), 1200u);
  for (float v : {3.3f, 640.7f, 1150.2f}) expect_close(SPLINT(x, y, y2, v), std::sin(v / 50.0), 1e-4, 1e-5);
}

TEST(Spline, EqualAbscissaeRaiseTheAlarmOnceAndGiveADefinedValue) {
  const std::vector<float> x{0.0f, 1.0f, 1.0f}, y{0.0f, 2.0f, 4.0f};
  const auto y2 = SPLINE(x, y, 1e30f, 1e30f);
  int alarms = 0;
  const float v = SPLINT(x, y, y2, 1.5f, [&] { ++alarms; });
  EXPECT_EQ(v, 3.0f);
  EXPECT_EQ(alarms, 1);

  // Without an alarm the value is the same.
  EXPECT_EQ(SPLINT(x, y, y2, 1.5f), 3.0f);
  // A one-point table has no interval either; an empty one gives 0.
  const std::vector<float> one{2.0f}, oney{7.0f}, oney2{0.0f};
  EXPECT_EQ(SPLINT(one, oney, oney2, 5.0f), 7.0f);
  EXPECT_EQ(SPLINT({}, {}, {}, 1.0f), 0.0f);
}
