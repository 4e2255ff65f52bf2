// Radial profiles: the elliptical radius, the ellipses, the pixel scan with its bins and sky
// histogram, the sky level and the binned profile.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "display/profile_page.h"
#include "galaxy/disc_image.h"
#include "galaxy/profile.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;

namespace {

constexpr double kDeg = 3.141592653589793 / 180.0;

}  // namespace

TEST(EllipticalRadius, ZeroEccentricityGivesTheCircularRadiusAtEveryAngle) {
  for (float pa : {0.0f, 0.3f, 1.2f, -2.0f, 3.1f})
    for (int dx = -7; dx <= 7; ++dx)
      for (int dy = -7; dy <= 7; ++dy)
        EXPECT_FLOAT_EQ(elliptical_radius(dx, dy, 0.0f, pa), std::sqrt(static_cast<float>(dx * dx + dy * dy)));
}

// The binning counts the position angle as ELLIP draws it: from +x towards +y.
TEST(EllipticalRadius, TheBinningTakesPlusXAsTheMajorAxisForAngleZeroAsTheDrawing) {
  EXPECT_NEAR(elliptical_radius(10, 0, 0.6f, 0.0f), 10.0f, 1e-5f);
  EXPECT_NEAR(elliptical_radius(-10, 0, 0.6f, 0.0f), 10.0f, 1e-5f);
  EXPECT_NEAR(elliptical_radius(0, 10, 0.6f, 0.0f), 12.5f, 1e-4f);  // d / sqrt(1 - e^2)
  // Turned by 90 degrees the major axis lies along +y: the disc of the tests, for any offset.
  const float pa = position_angle_radians(90.0f);
  EXPECT_NEAR(elliptical_radius(0, 10, 0.6f, pa), 10.0f, 1e-4f);
  EXPECT_NEAR(elliptical_radius(10, 0, 0.6f, pa), 12.5f, 1e-4f);
  for (auto [dx, dy] : {std::pair{3, 4}, {-5, 2}, {7, -7}, {1, 9}})
    EXPECT_NEAR(elliptical_radius(dx, dy, 0.6f, pa), disc_radius(dx, dy, 0.6), 1e-4 * disc_radius(dx, dy, 0.6));
  // Every point of the drawn ellipse of semi-major axis 10 lies at elliptical radius 10.
  for (const float deg : {0.0f, 30.0f, 60.0f, 135.0f}) {
    const float a = position_angle_radians(deg);
    const EllipsePath p = ellipse_points(50, 60, 10.0f, 0.6f, a);
    for (std::size_t t = 0; t < 360; t += 7) {
      const double dx = p.x[t] - 50.0, dy = p.y[t] - 60.0;
      const double phi = std::atan2(dy, dx) - a;
      const double rho = std::hypot(dx, dy) * std::sqrt((1.0 - 0.36 * std::cos(phi) * std::cos(phi)) / 0.64);
      EXPECT_NEAR(rho, 10.0, 1e-3) << deg << " " << t;
    }
  }
}

TEST(EllipticalRadius, PositionAngleIsConvertedWithDoublePrecisionPi) {
  EXPECT_EQ(position_angle_radians(180.0f), static_cast<float>(3.141592653589793));
  EXPECT_EQ(position_angle_radians(30.0f), static_cast<float>(30.0 * 3.141592653589793 / 180.0));
}

TEST(Ellip, DrawsTheMajorAxisAlongPlusXForAngleZero) {
  const EllipsePath p = ellipse_points(50, 60, 10.0f, 0.6f, 0.0f);
  ASSERT_EQ(p.x.size(), 360u);
  EXPECT_NEAR(p.x[89], 60.0f, 1e-4f);  // t = 90 degrees: along the major axis
  EXPECT_NEAR(p.y[89], 60.0f, 1e-4f);
  EXPECT_NEAR(p.x[359], 50.0f, 1e-4f);  // t = 360: along the minor axis, b = 8
  EXPECT_NEAR(p.y[359], 68.0f, 1e-4f);
  for (std::size_t t = 0; t < 360; ++t) {
    const double u = (p.x[t] - 50.0) / 10.0, v = (p.y[t] - 60.0) / 8.0;
    EXPECT_NEAR(u * u + v * v, 1.0, 1e-5);
  }
  const EllipsePath q = ellipse_points(50, 60, 10.0f, 0.6f, static_cast<float>(90.0 * kDeg));
  EXPECT_NEAR(q.x[89], 50.0f, 1e-4f);
  EXPECT_NEAR(q.y[89], 70.0f, 1e-4f);
}

TEST(Ellip, IntermediateEllipsesOnlyForStepsAboveFivePixels) {
  EXPECT_TRUE(ellipse_radii(30.0f, 5.0f).empty());
  const auto r = ellipse_radii(30.0f, 5.5f);
  ASSERT_EQ(r.size(), 5u);
  for (std::size_t k = 0; k < 5; ++k) EXPECT_FLOAT_EQ(r[k], 5.5f * static_cast<float>(k + 1));
  EXPECT_EQ(ellipse_radii(10.0f, 6.0f).size(), 1u);
}

TEST(PixelScan, HistogramTakes4799InItsLastBinAndCounts4800OnlyAsSky) {
  Image img(41, 41, 1000.0f);
  img.at(30, 21) = 4799.0f;  // outside the extent (R = 5 around 21, 21)
  img.at(21, 30) = 4800.0f;
  img.at(12, 12) = 0.001f;  // the smallest positive values land in bin 41
  // Bin k covers -200 + 5 (k - 1) up to -200 + 5 k; anything else is outside (index 0).
  for (const auto& [v, k] : {std::pair{4799.0f, 1000},
                             {4800.0f, 0},
                             {-200.0f, 1},
                             {-195.0f, 2},
                             {-0.5f, 40},
                             {0.0f, 41},
                             {-200.5f, 0},
                             {-204.9f, 0},
                             {1.1e10f, 0},
                             {1e11f, 0},
                             {-1e11f, 0},
                             {INFINITY, 0},
                             {NAN, 0}})
    EXPECT_EQ(sky_bin_index(v), k) << v;
  EXPECT_FLOAT_EQ(sky_bin_centre(1000), 4797.5f);

  const PixelScan s = scan_profile_pixels(img.view(), 21, 21, 5.0f, 0.0f, 0.0f, ProfileScale::flux);
  // M = 6, so the scan covers 21 -/+ 12 in both axes: 25 x 25 pixels, 69 of them inside r < 5.
  EXPECT_EQ(s.icnt(), 69u);
  EXPECT_EQ(s.iskycnt, 625 - 69);
  EXPECT_EQ(s.skypr[999], 1.0f);
  EXPECT_EQ(s.skypr[40], 1.0f);
  for (int k = 1; k <= 40; ++k) EXPECT_EQ(s.skypr[static_cast<std::size_t>(k - 1)], 0.0f) << k;
  float total = 0.0f;
  for (float c : s.skypr) total += c;
  EXPECT_EQ(total, static_cast<float>(s.iskycnt - 1));  // 4800 is beyond the histogram
}

TEST(PixelScan, FluxTakesZeroAndNegativeValuesAndLeavesOutOnlyUndefinedOnes) {
  Image img(31, 31, 20.0f);
  img.at(16, 18) = 0.0f;       // inside the extent
  img.at(14, 16) = -3.0f;      // a sky pixel below zero (or a negative magnitude)
  img.at(17, 15) = -99999.0f;  // a blank pixel of a calibrated image
  img.at(15, 17) = -999.0f;    // a pixel the file left undefined
  img.at(18, 16) = NAN;
  const PixelScan f = scan_profile_pixels(img.view(), 16, 16, 4.0f, 0.0f, 0.0f, ProfileScale::flux);
  const PixelScan m = scan_profile_pixels(img.view(), 16, 16, 4.0f, 0.0f, 0.0f, ProfileScale::magnitude);
  // 45 pixels lie within r < 4.
  EXPECT_EQ(f.icnt(), 45u - 3u);
  EXPECT_EQ(m.icnt(), 45u - 2u);
  EXPECT_EQ(f.ymin, -3.0f);
  EXPECT_EQ(m.ymin, -999.0f);
  EXPECT_TRUE(m.skypr.empty());
  EXPECT_EQ(m.iskycnt, 0);
  // Bin 3 (radius 2 to 3) holds the 0.0 and the -3.0 at distance 2 in both scales.
  EXPECT_EQ(f.bincount[2], m.bincount[2]);
  EXPECT_EQ(f.binsum[2], m.binsum[2]);
}

TEST(PixelScan, TheCentreAloneFillsBinOneAndTheOutermostRowsNeverCount) {
  Image img(21, 21, 5.0f);
  const PixelScan s = scan_profile_pixels(img.view(), 11, 11, 3.0f, 0.0f, 0.0f, ProfileScale::flux);
  EXPECT_EQ(s.bincount[0], 1);
  EXPECT_EQ(s.bincount[1], 8);  // the four neighbours at 1 and the four diagonals at 1.41
  // A centre next to the edge: column 1 and row 1 are never used.
  const PixelScan c = scan_profile_pixels(img.view(), 2, 2, 1.5f, 0.0f, 0.0f, ProfileScale::flux);
  EXPECT_EQ(c.bincount[0], 1);
  EXPECT_EQ(c.bincount[1], 3);  // (3,2), (2,3) and (3,3) only
}

TEST(SkyLevel, AFlatSkyGivesItsBinCentreAndTheFirstPeakWinsTies) {
  std::vector<float> h(kSkyBins, 0.0f);
  h[240] = 500.0f;  // bin 241 holds 1000.0 .. 1005.0
  SkyEstimate e = sky_from_histogram(h);
  EXPECT_TRUE(e.found);
  EXPECT_EQ(e.kmax, 241);
  EXPECT_EQ(e.ymax2, 500.0f);
  EXPECT_EQ(e.sky, 1002.5f);

  h[300] = 500.0f;
  e = sky_from_histogram(h);
  EXPECT_EQ(e.kmax, 241);

  std::vector<float> low(kSkyBins, 0.0f);
  low[0] = 10.0f;  // a peak in bin 1 is averaged over bins 1 .. 5
  low[4] = 10.0f;
  EXPECT_FLOAT_EQ(sky_from_histogram(low).sky, (sky_bin_centre(1) + sky_bin_centre(5)) / 2.0f);
  std::vector<float> high(kSkyBins, 0.0f);
  high[999] = 4.0f;
  EXPECT_FLOAT_EQ(sky_from_histogram(high).sky, sky_bin_centre(1000));

  const SkyEstimate none = sky_from_histogram(std::vector<float>(kSkyBins, 0.0f));
  EXPECT_FALSE(none.found);
  EXPECT_EQ(none.sky, 0.0f);
}

TEST(BinnedProfile, ABinWithoutPixelsIsLeftOut) {
  Image img(41, 41, 100.0f);
  for (int y = 1; y <= 41; ++y)
    for (int x = 1; x <= 41; ++x) {
      const double r = std::hypot(x - 21, y - 21);
      if (r >= 3.0 && r < 4.0) img.at(x, y) = kUndefinedPixel;  // left out of the profile
    }
  const PixelScan s = scan_profile_pixels(img.view(), 21, 21, 8.0f, 0.0f, 0.0f, ProfileScale::flux);
  const BinnedProfile p = bin_profile(s, 40.0f, 8.0f);
  ASSERT_EQ(p.nb(), 7u);
  for (std::size_t k = 0; k < p.nb(); ++k) {
    EXPECT_NE(p.rprof[k], 3.5f);
    EXPECT_FLOAT_EQ(p.prof[k], 60.0f);
  }
  EXPECT_FLOAT_EQ(p.rprof.back(), 7.5f);
}

// Each request a 100 x 60 image cannot serve, with its status and the line the user reads.
TEST(ProfileRequestCheck, EachUnusableRequestNamesItsReason) {
  using Status = ProfileRequestCheck::Status;
  struct Case {
    ProfileRequest rq;
    int nx, ny;
    Status status;
    const char* line;
  };
  const Case cases[] = {
      {{50, 30, 20.0f, 1.0f, 0.0f, 0.0f},
       0,
       60,
       Status::empty_image,
       "The image is empty; there is no galaxy to measure."},
      {{101, 30, 20.0f, 1.0f, 0.0f, 0.0f},
       100,
       60,
       Status::centre_outside,
       "The centre must lie inside the image (x 1 to 100, y 1 to 60); nothing done."},
      {{50, 0, 20.0f, 1.0f, 0.0f, 0.0f},
       100,
       60,
       Status::centre_outside,
       "The centre must lie inside the image (x 1 to 100, y 1 to 60); nothing done."},
      {{50, 30, 0.0f, 1.0f, 0.0f, 0.0f},
       100,
       60,
       Status::extent,
       "The extent must be larger than 0 and at most the image diagonal (116.619 pixels); nothing done."},
      {{50, 30, 117.0f, 1.0f, 0.0f, 0.0f},
       100,
       60,
       Status::extent,
       "The extent must be larger than 0 and at most the image diagonal (116.619 pixels); nothing done."},
      {{50, 30, 20.0f, 0.005f, 0.0f, 0.0f},
       100,
       60,
       Status::step,
       "The step must be at least 0.01 pixels; nothing done."},
      {{50, 30, 20.0f, 1.0f, 1.0f, 0.0f},
       100,
       60,
       Status::eccentricity,
       "The eccentricity must lie in 0 <= e < 1; nothing done."},
      {{50, 30, 20.0f, 1.0f, NAN, 0.0f},
       100,
       60,
       Status::eccentricity,
       "The eccentricity must lie in 0 <= e < 1; nothing done."},
  };
  for (const Case& c : cases) {
    const ProfileRequestCheck check = check_profile_request(c.rq, c.nx, c.ny);
    EXPECT_EQ(check.status, c.status) << c.line;
    EXPECT_FALSE(check.usable()) << c.line;
    EXPECT_EQ(check.refusal, c.line);
  }
  const ProfileRequestCheck fine = check_profile_request({1, 60, 116.6f, 0.01f, 0.99f, -400.0f}, 100, 60);
  EXPECT_TRUE(fine.usable());
  EXPECT_EQ(fine.refusal, "");
}
