#include "removal/ring_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "removal/edge.h"

namespace zelvo {
namespace {

// A work state with a traced ring and its disc masked on an nx x ny image.
RemovalWork masked_ring(int nx, int ny, float xc, float yc, float r) {
  RemovalWork w;
  w.prepare(nx, ny);
  EXPECT_EQ(FINDEDGE(w, xc, yc, r), EdgeStatus::ok);
  MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  return w;
}

int mask_count(const RemovalWork& w) {
  int n = 0;
  for (float v : w.TheMask.px) n += v == 1.0f;
  return n;
}

TEST(MaskCircle, FillsEveryRowFromItsLeftmostToItsRightmostRingPixel) {
  const RemovalWork w = masked_ring(100, 100, 50.0f, 50.0f, 9.0f);
  const auto gy = GREATSMALL(w.TheRing.y);
  ASSERT_EQ(gy.small, 41.0f);
  ASSERT_EQ(gy.great, 59.0f);
  for (int y = 1; y <= 100; ++y) {
    int lo = 1000, hi = -1000;
    for (int i = 0; i < w.nRing; ++i) {
      if (w.TheRing.y[i] != static_cast<float>(y)) continue;
      lo = std::min(lo, static_cast<int>(w.TheRing.x[i]));
      hi = std::max(hi, static_cast<int>(w.TheRing.x[i]));
    }
    if (y >= 41 && y <= 59) {
      ASSERT_LE(lo, hi) << "row " << y << " has no ring pixel";
    }
    for (int x = 1; x <= 100; ++x) {
      const float want = (x >= lo && x <= hi) ? 1.0f : 0.0f;
      ASSERT_EQ(w.TheMask.at(x, y), want) << x << "," << y;
    }
  }
}

TEST(MaskCircle, TheDiscCoversTheCircleInside) {
  const RemovalWork w = masked_ring(100, 100, 47.3f, 52.8f, 12.0f);
  for (int y = 1; y <= 100; ++y) {
    for (int x = 1; x <= 100; ++x) {
      const double d = std::hypot(x - 47.3, y - 52.8);
      if (d < 12.0 - 0.6) {
        EXPECT_EQ(w.TheMask.at(x, y), 1.0f) << x << "," << y;
      } else if (d > 12.0 + 0.6) {
        EXPECT_EQ(w.TheMask.at(x, y), 0.0f) << x << "," << y;
      }
    }
  }
}

TEST(MaskCircle, ANewMaskReplacesTheOldOne) {
  RemovalWork w = masked_ring(100, 100, 30.0f, 30.0f, 10.0f);
  ASSERT_EQ(FINDEDGE(w, 70.0f, 70.0f, 6.0f), EdgeStatus::ok);
  MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  EXPECT_EQ(w.TheMask.at(30, 30), 0.0f);
  EXPECT_EQ(w.TheMask.at(70, 70), 1.0f);
  RemovalWork fresh = masked_ring(100, 100, 70.0f, 70.0f, 6.0f);
  EXPECT_EQ(w.TheMask.px, fresh.TheMask.px);
}

TEST(MaskCircle, DiscsCrossingTheImageBorderAreClipped) {
  RemovalWork w;
  w.prepare(40, 30);
  ASSERT_EQ(FINDEDGE(w, 3.0f, 28.0f, 10.0f), EdgeStatus::ok);
  MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  EXPECT_EQ(w.TheMask.at(1, 30), 1.0f);
  EXPECT_EQ(w.TheMask.at(3, 20), 1.0f);
  EXPECT_EQ(w.TheMask.at(20, 10), 0.0f);
  EXPECT_EQ(w.TheMask.px.size(), 40u * 30u);
  EXPECT_GT(mask_count(w), 100);
}

TEST(ClipRadiusSamples, ASampleExactlyOnTheUpperLimitStays) {
  // Mean 10, sigma 2 (denominator n - 1): the limit is exactly 14.
  std::vector<float> v{14.0f, 8.0f, 8.0f, 8.0f, 12.0f, 10.0f, 10.0f, 10.0f, 10.0f};
  const auto r = clip_radius_samples(v, Box{1, 9, 1, 9}, nullptr);
  EXPECT_EQ(r.count, 9.0f);
  EXPECT_EQ(r.sum, 90.0f);
  EXPECT_EQ(r.sigma, 2.0f);
  EXPECT_TRUE(r.usable);
}

TEST(ClipRadiusSamples, AnOutlierIsClippedOnceAndTheRestMeasured) {
  std::vector<float> v(20, 100.0f);
  for (std::size_t i = 0; i < v.size(); i += 2) v[i] = 102.0f;
  v.push_back(400.0f);
  std::ostringstream log;
  const auto r = clip_radius_samples(v, Box{3, 17, 4, 18}, &log);
  EXPECT_EQ(r.count, 20.0f);
  EXPECT_EQ(r.sum, 2020.0f);
  EXPECT_NEAR(r.sigma, std::sqrt(20.0 / 19.0), 1e-5);
  EXPECT_EQ(log.str(),
            " count, auxxmin, auxxmax, auxymin, auxymax, sum1, avg1 = 21 3 17 4 18 2420.0 115.2381\n"
            " Trashed 1 values from edge backs\n");
}

TEST(RingBackground, EqualSigmasGiveThePlainMeanOfTheAnnuli) {
  // a1 = 20 / 2, a2 = (50 - 20) / 3, a3 = (110 - 50) / 5.
  const RadiusSamples s[3] = {{20.0f, 1.5f, 2.0f, true}, {50.0f, 1.5f, 5.0f, true}, {110.0f, 1.5f, 10.0f, true}};
  const RingBackground b = ring_background(s);
  ASSERT_TRUE(b.measured);
  EXPECT_NEAR(b.back, 32.0 / 3.0, 1e-5);
  EXPECT_FLOAT_EQ(b.sigma, 1.5f);
}

TEST(RingBackground, NoisierRadiiCountLess) {
  // Annulus means 10, 20, 30 with sigmas 0, 0, 4: T = 5, weights 5, 5, 1 (sum 2T + 1 = 11).
  const RadiusSamples s[3] = {{20.0f, 0.0f, 2.0f, true}, {80.0f, 0.0f, 5.0f, true}, {230.0f, 4.0f, 10.0f, true}};
  const RingBackground b = ring_background(s);
  ASSERT_TRUE(b.measured);
  EXPECT_NEAR(b.back, (5 * 10.0 + 5 * 20.0 + 1 * 30.0) / 11.0, 1e-4);
  EXPECT_NEAR(b.sigma, 4.0 / 3.0, 1e-6);
}

TEST(RingBackground, CountsThatWouldDivideByZeroAreRejected) {
  const RadiusSamples same12[3] = {{20.0f, 1.0f, 2.0f, true}, {20.0f, 1.0f, 2.0f, true}, {90.0f, 1.0f, 9.0f, true}};
  EXPECT_FALSE(ring_background(same12).measured);
  const RadiusSamples same23[3] = {{20.0f, 1.0f, 2.0f, true}, {50.0f, 1.0f, 5.0f, true}, {50.0f, 1.0f, 5.0f, true}};
  EXPECT_FALSE(ring_background(same23).measured);
  const RadiusSamples few[3] = {{10.0f, 0.0f, 1.0f, false}, {50.0f, 1.0f, 5.0f, true}, {90.0f, 1.0f, 9.0f, true}};
  const RingBackground b = ring_background(few);
  EXPECT_FALSE(b.measured);
  EXPECT_EQ(b.back, 0.0f);
  EXPECT_EQ(b.sigma, 0.0f);
}

TEST(RingValues, AFlatSkyGivesExactlyThatSky) {
  Image img(100, 100, 250.0f);
  img.at(50, 50) = 9000.0f;  // a star inside the disc is never sampled
  RemovalWork w = masked_ring(100, 100, 50.5f, 50.5f, 11.0f);
  std::ostringstream log;
  RINGVALUES(w, img.view(), 0, log);
  EXPECT_EQ(log.str(), "");
  for (int i = 0; i < w.nRing; ++i) {
    EXPECT_EQ(w.TheRing.back[i], 250.0f) << i;
    EXPECT_EQ(w.TheRing.sigma[i], 0.0f) << i;
    EXPECT_EQ(w.RingWeight[i], 1.0f) << i;
  }
}

TEST(RingValues, PixelsOfAtMostOneHundredthAreNotSamples) {
  Image img(100, 100, 0.01f);
  RemovalWork w = masked_ring(100, 100, 50.5f, 50.5f, 8.0f);
  std::ostringstream log;
  RINGVALUES(w, img.view(), 0, log);
  for (int i = 0; i < w.nRing; ++i) {
    EXPECT_EQ(w.RingWeight[i], 0.0f);
    EXPECT_EQ(w.TheRing.back[i], 0.0f);
    EXPECT_EQ(w.TheRing.sigma[i], 0.0f);
  }
}

TEST(RingValues, RingPointsOffTheImageAreRejectedAndNothingOutsideIsRead) {
  // The image sits inside a larger buffer filled with a huge value: any read outside the
  // image would show up in the backgrounds.
  const int nx = 40, ny = 30;
  std::vector<float> buffer(static_cast<std::size_t>(nx * ny + 2 * nx), 1.0e30f);
  ImageView img{buffer.data() + nx, nx, ny};
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = 100.0f + 0.5f * static_cast<float>(x);
  RemovalWork w;
  w.prepare(nx, ny);
  ASSERT_EQ(FINDEDGE(w, 4.0f, 26.0f, 9.0f), EdgeStatus::ok);
  MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  std::ostringstream log;
  RINGVALUES(w, img, 1, log);
  int accepted = 0;
  for (int i = 0; i < w.nRing; ++i) {
    // Farther than 6 pixels beyond the border there is nothing to sample.
    if (w.TheRing.x[i] < -5 || w.TheRing.y[i] > ny + 6) {
      EXPECT_EQ(w.RingWeight[i], 0.0f) << i;
    }
    if (w.RingWeight[i] > 0.5f) {
      ++accepted;
      EXPECT_GT(w.TheRing.back[i], 100.0f);
      EXPECT_LT(w.TheRing.back[i], 100.0f + 0.5f * 20.0f);
    }
  }
  EXPECT_GT(accepted, 5);
  EXPECT_EQ(log.str().find("NaN"), std::string::npos);
}

TEST(RingValues, NaNAndInfinitePixelsAreNotSamples) {
  Image img(100, 100, 300.0f);
  img.at(50, 63) = NAN;
  img.at(51, 64) = INFINITY;
  img.at(38, 50) = -INFINITY;
  RemovalWork w = masked_ring(100, 100, 50.5f, 50.5f, 11.0f);
  std::ostringstream log;
  RINGVALUES(w, img.view(), 0, log);
  for (int i = 0; i < w.nRing; ++i) {
    EXPECT_EQ(w.TheRing.back[i], 300.0f) << i;
    EXPECT_EQ(w.RingWeight[i], 1.0f) << i;
  }
}

}  // namespace
}  // namespace zelvo
