#include "removal/edge.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

namespace zelvo {
namespace {

std::vector<std::pair<int, int>> ring_points(const RemovalWork& w) {
  std::vector<std::pair<int, int>> p;
  for (int i = 0; i < w.nRing; ++i) p.emplace_back(static_cast<int>(w.TheRing.x[i]), static_cast<int>(w.TheRing.y[i]));
  return p;
}

// Every ring point lies within 0.6 of the circle (pixel (i, j) centred at (i, j)), consecutive
// points are 8-neighbours, and the last point is an 8-neighbour of the start.
void expect_closed_chain_on_circle(const RemovalWork& w, float xc, float yc, float r) {
  const auto p = ring_points(w);
  ASSERT_GE(p.size(), 4u);
  for (std::size_t i = 0; i < p.size(); ++i) {
    const double d = std::hypot(p[i].first - xc, p[i].second - yc);
    EXPECT_LT(std::fabs(d - r), 0.6) << "point " << i;
    const auto& q = p[(i + 1) % p.size()];
    EXPECT_LE(std::abs(q.first - p[i].first), 1) << "gap after point " << i;
    EXPECT_LE(std::abs(q.second - p[i].second), 1) << "gap after point " << i;
    EXPECT_NE(q, p[i]);
  }
}

TEST(FindEdge, RadiusFiveAroundAPixelCentre) {
  RemovalWork w;
  ASSERT_EQ(FINDEDGE(w, 50.0f, 50.0f, 5.0f), EdgeStatus::ok);
  const auto p = ring_points(w);
  ASSERT_EQ(w.nRing, 28);
  const std::vector<std::pair<int, int>> first{{50, 55}, {51, 55}, {52, 55}, {53, 54}, {54, 53}, {55, 52}};
  EXPECT_EQ(std::vector(p.begin(), p.begin() + 6), first);
  EXPECT_EQ(w.RingWeight, std::vector<float>(28, 1.0f));
  EXPECT_EQ(w.TheRing.back, std::vector<float>(28, 0.0f));
  EXPECT_EQ(w.TheRing.sigma, std::vector<float>(28, 0.0f));
  expect_closed_chain_on_circle(w, 50.0f, 50.0f, 5.0f);
}

TEST(FindEdge, RingSizesOfLargerRadii) {
  RemovalWork w;
  ASSERT_EQ(FINDEDGE(w, 49.5f, 49.5f, 10.0f), EdgeStatus::ok);
  EXPECT_EQ(w.nRing, 56);
  expect_closed_chain_on_circle(w, 49.5f, 49.5f, 10.0f);
  ASSERT_EQ(FINDEDGE(w, 50.0f, 50.0f, 11.0f), EdgeStatus::ok);
  EXPECT_EQ(w.nRing, 64);  // capacity INT(2 pi 11) + 10 = 79
  expect_closed_chain_on_circle(w, 50.0f, 50.0f, 11.0f);
}

TEST(FindEdge, WalksClockwiseFromAboveTheCentre) {
  RemovalWork w;
  ASSERT_EQ(FINDEDGE(w, 100.3f, 80.7f, 20.0f), EdgeStatus::ok);
  // Start straight above the centre, then towards +x.
  EXPECT_EQ(w.TheRing.x[0], 100.0f);
  EXPECT_GT(w.TheRing.y[0], 80.7f + 19.0f);
  EXPECT_GE(w.TheRing.x[1], w.TheRing.x[0]);
  // The azimuth grows (clockwise with y up) all the way round.
  double prev = std::atan2(w.TheRing.x[0] - 100.3, w.TheRing.y[0] - 80.7);
  const double first = prev;
  for (int i = 1; i < w.nRing; ++i) {
    double a = std::atan2(w.TheRing.x[i] - 100.3, w.TheRing.y[i] - 80.7);
    if (a < prev - M_PI) a += 2 * M_PI;
    EXPECT_GT(a, prev) << i;
    prev = a;
  }
  EXPECT_LT(prev - first, 2 * M_PI);
  EXPECT_GT(prev - first, 2 * M_PI - 0.2);
  expect_closed_chain_on_circle(w, 100.3f, 80.7f, 20.0f);
}

TEST(FindEdge, EqualDistancesTakeTheLaterCandidate) {
  // Centre (49.5, 50.0), r = 10: from (59, 51) the candidates (60, 50) and (59, 50) lie at
  // exactly 10.5 and 9.5 from the centre, both 0.5 from the circle, and (60, 51) is farther
  // off; the later candidate, (59, 50), is taken.
  RemovalWork w;
  ASSERT_EQ(FINDEDGE(w, 49.5f, 50.0f, 10.0f), EdgeStatus::ok);
  const auto p = ring_points(w);
  std::size_t k = 0;
  while (k < p.size() && p[k] != std::pair{59, 51}) ++k;
  ASSERT_LT(k + 1, p.size());
  EXPECT_EQ(p[k + 1], (std::pair{59, 50}));
}

TEST(FindEdge, StuckWalkStopsCleanly) {
  RemovalWork w;
  EXPECT_EQ(FINDEDGE(w, 30.99f, 40.498f, 4.0f), EdgeStatus::stuck);
  EXPECT_EQ(w.nRing, 0);
  EXPECT_TRUE(w.TheRing.x.empty());
  EXPECT_TRUE(w.RingWeight.empty());
}

TEST(FindEdge, NoStartPointAndNonsenseInputFailCleanly) {
  RemovalWork w;
  EXPECT_EQ(FINDEDGE(w, 50.0f, 50.0f, -3.0f), EdgeStatus::no_start);
  EXPECT_EQ(FINDEDGE(w, NAN, 50.5f, 5.0f), EdgeStatus::no_start);
  EXPECT_EQ(FINDEDGE(w, 50.0f, 50.0f, INFINITY), EdgeStatus::no_start);
  EXPECT_EQ(FINDEDGE(w, 3.0e9f, 50.5f, 5.0f), EdgeStatus::no_start);
  EXPECT_EQ(w.nRing, 0);
}

TEST(FindEdge, ManyCentresAndRadiiEitherCloseOrFailWithoutOverflow) {
  RemovalWork w;
  int ok = 0, failed = 0;
  for (int i = 0; i < 400; ++i) {
    const float xc = 40.0f + 0.0137f * static_cast<float>(i * 7 % 100);
    const float yc = 40.0f + 0.0113f * static_cast<float>(i * 13 % 100);
    const float r = 2.0f + 0.25f * static_cast<float>(i % 80);
    const EdgeStatus st = FINDEDGE(w, xc, yc, r);
    if (st == EdgeStatus::ok) {
      ++ok;
      EXPECT_LE(w.nRing, static_cast<int>(6.283185307179586 * r) + 10);
      expect_closed_chain_on_circle(w, xc, yc, r);
    } else {
      ++failed;
      EXPECT_EQ(w.nRing, 0);
    }
  }
  EXPECT_GT(ok, 300);
  EXPECT_LT(failed, 100);
}

TEST(FindEdge, TinyRadiiNeverOverflowTheWorkList) {
  RemovalWork w;
  for (int i = 0; i < 2000; ++i) {
    const float xc = 40.0f + 0.001f * static_cast<float>(i);
    const float yc = 40.0f + 0.0007f * static_cast<float>(i * 3 % 1000);
    const float r = 0.01f * static_cast<float>(i % 200);
    if (FINDEDGE(w, xc, yc, r) == EdgeStatus::ok)
      EXPECT_LE(w.nRing, static_cast<int>(6.283185307179586 * r) + 10);
    else
      EXPECT_EQ(w.nRing, 0);
  }
}

TEST(GreatSmall, ExtremesAndEmptyList) {
  const std::vector<float> v{3.0f, -1.0f, 7.5f, 7.5f, -1.0f};
  const auto g = GREATSMALL(v);
  EXPECT_EQ(g.great, 7.5f);
  EXPECT_EQ(g.small, -1.0f);
  const auto e = GREATSMALL({});
  EXPECT_EQ(e.great, -3.4028235e38f);
  EXPECT_EQ(e.small, 3.4028235e38f);
}

TEST(TraceEdgeRing, RetriesNearbyRadiiWhenTheWalkGetsStuckAndKeepsTheExactRadiusOtherwise) {
  RemovalWork w;
  ASSERT_EQ(FINDEDGE(w, 30.99f, 40.498f, 4.0f), EdgeStatus::stuck);
  const TracedRing near = trace_edge_ring(w, 30.99f, 40.498f, 4.0f);
  ASSERT_EQ(near.status, EdgeStatus::ok);
  EXPECT_NE(near.traced_radius, 4.0f);
  EXPECT_LE(std::fabs(near.traced_radius - 4.0f), 0.5f + 1e-6f);
  EXPECT_GT(w.nRing, 0);
  const TracedRing exact = trace_edge_ring(w, 50.0f, 50.0f, 5.0f);
  ASSERT_EQ(exact.status, EdgeStatus::ok);
  EXPECT_EQ(exact.traced_radius, 5.0f);
  EXPECT_EQ(w.nRing, 28);
  // Over many centres, small radii that get stuck are all traced within half a pixel.
  int stuck = 0;
  for (int i = 0; i < 400; ++i) {
    const float x = 40.0f + 0.0517f * i, y = 41.0f + 0.0371f * (i % 97);
    if (FINDEDGE(w, x, y, 2.5f) != EdgeStatus::ok) {
      ++stuck;
      EXPECT_EQ(trace_edge_ring(w, x, y, 2.5f).status, EdgeStatus::ok) << x << " " << y;
    }
  }
  EXPECT_GT(stuck, 0);
}

}  // namespace
}  // namespace zelvo
