// The rotation curve: its points, its sign rule, and the per-offset evaluation against a
// term-by-term force sum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "galaxy/profile.h"
#include "galaxy/rotation.h"
#include "galaxy/spline.h"
#include "numeric/fortran.h"
// The term-by-term loop the benchmark times the per-offset evaluation against.
#include "../../bench/rotation_literal.h"

using namespace zelvo;

namespace {

// An exponential profile in one-pixel bins with its spline.
struct Fitted {
  BinnedProfile p;
  std::vector<float> y2;
};
Fitted exponential_profile(int bins, float central, float scale, float offset = 0.0f) {
  Fitted f;
  for (int k = 1; k <= bins; ++k) {
    f.p.rprof.push_back(static_cast<float>(k) - 0.5f);
    f.p.prof.push_back(central * std::exp(-f.p.rprof.back() / scale) + offset);
  }
  f.y2 = profile_spline(f.p);
  return f;
}

uint32_t bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

}  // namespace

TEST(RotationCurve, ExtentTenWithStepFiveGivesThreePointsStartingAtTheOrigin) {
  EXPECT_EQ(rotation_points(10.0f, 5.0f), 3);
  const Fitted f = exponential_profile(10, 1000.0f, 3.0f);
  const RotationCurve c = rotation_curve(rotation_forces(f.p, f.y2, 10.0f, 5.0f));
  ASSERT_EQ(c.rrot.size(), 3u);
  EXPECT_EQ(c.rrot[0], 0.0f);
  EXPECT_EQ(c.vrot[0], 0.0f);
  EXPECT_EQ(c.rrot[1], 5.0f);
  EXPECT_EQ(c.rrot[2], 10.0f);
  EXPECT_TRUE(c.logged[0] && c.logged[1] && c.logged[2]);
}

TEST(RotationCurve, APositiveProfilePullsInwardEverywhereSoNoPointIsInError) {
  const Fitted f = exponential_profile(40, 2000.0f, 8.0f, 5.0f);
  const RotationForces forces = rotation_forces(f.p, f.y2, 40.0f, 1.0f);
  for (std::size_t k = 1; k < forces.force.size(); ++k) EXPECT_LT(forces.force[k], 0.0f) << k;
  const RotationCurve c = rotation_curve(forces);
  EXPECT_TRUE(c.outward.empty());
  for (std::size_t k = 1; k < c.vrot.size(); ++k) {
    EXPECT_FLOAT_EQ(c.vrot[k], std::sqrt(-forces.force[k] * forces.rrot[k]));
    EXPECT_LE(c.vrot[k], c.vmax);
  }
}

TEST(RotationCurve, AnOutwardForceKeepsItsValueAndIsReported) {
  RotationForces f;
  f.rrot = {0.0f, 1.0f, 2.0f};
  f.force = {0.0f, 3.0f, -8.0f};
  const RotationCurve c = rotation_curve(f);
  ASSERT_EQ(c.outward.size(), 1u);
  EXPECT_EQ(c.outward[0].index, 1u);
  EXPECT_EQ(c.outward[0].product, -3.0f);
  EXPECT_EQ(c.vrot[1], 3.0f);
  EXPECT_FALSE(c.logged[1]);
  EXPECT_EQ(c.vrot[2], 4.0f);
  EXPECT_EQ(c.vmax, 4.0f);
}

TEST(RotationCurve, PerOffsetEvaluationEqualsTheLiteralLoopToTheLastBit) {
  const Fitted f = exponential_profile(16, 1500.0f, 4.0f);
  // Whole-number radii (step 1), radii that are never whole (0.7), and a mixture (2.5).
  for (float step : {1.0f, 0.7f, 2.5f, 3.0f}) {
    const std::vector<float> want = literal_forces(f.p, f.y2, 15.0f, step);
    const RotationForces got = rotation_forces(f.p, f.y2, 15.0f, step);
    ASSERT_EQ(got.force.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
      EXPECT_EQ(bits(got.force[k]), bits(want[k])) << "step " << step << " point " << k;
      EXPECT_EQ(got.rrot[k], static_cast<float>(k) * step);
    }
  }
}

TEST(RotationCurve, MoreThanAThousandPointsWork) {
  const Fitted f = exponential_profile(20, 1000.0f, 5.0f);
  const RotationCurve c = rotation_curve(rotation_forces(f.p, f.y2, 15.0f, 0.01f));
  ASSERT_EQ(c.rrot.size(), static_cast<std::size_t>(INT(15.0f / 0.01f + 1.5f)));
  EXPECT_GT(c.rrot.size(), 1000u);
  EXPECT_TRUE(c.outward.empty());
  EXPECT_NEAR(c.rrot.back(), 15.0f, 0.01f);
}
