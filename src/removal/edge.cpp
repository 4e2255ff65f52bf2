#include "removal/edge.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "numeric/fortran.h"

namespace zelvo {

namespace {

// Beyond this size pixel coordinates would no longer be exact in single precision.
constexpr float kMaxCoordinate = 1.0e6f;

struct Offset {
  int32_t dx, dy;
};

// The three neighbours tried at each step of the four arcs, in the order of preference
// (on equal distance to the circle the later one wins).
constexpr Offset kArcCandidates[4][3] = {
    {{+1, 0}, {+1, -1}, {0, -1}},
    {{0, -1}, {-1, -1}, {-1, 0}},
    {{-1, 0}, {-1, +1}, {0, +1}},
    {{0, +1}, {+1, +1}, {+1, 0}},
};

// Distance of pixel (i, j), represented by its centre point, from the circle centre.
inline float pixel_distance(int32_t i, int32_t j, float xcen, float ycen) {
  const float dx = static_cast<float>(i) + 0.5f - xcen;
  const float dy = static_cast<float>(j) + 0.5f - ycen;
  return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

EdgeStatus FINDEDGE(RemovalWork& work, float xcen, float ycen, float r) {
  work.TheRing.clear();
  work.RingWeight.clear();
  work.nRing = 0;
  if (!std::isfinite(xcen) || !std::isfinite(ycen) || !std::isfinite(r) ||
      std::fabs(xcen) > kMaxCoordinate || std::fabs(ycen) > kMaxCoordinate ||
      std::fabs(r) > kMaxCoordinate) {
    return EdgeStatus::no_start;
  }

  const int64_t capacity = static_cast<int64_t>(INT(6.283185307179586 * static_cast<double>(r))) + 10;
  std::vector<int32_t> xs, ys;

  // Start point: the first of five rows around ycen + r, upwards, within 0.5 of the circle.
  const int32_t sx = INT(xcen);
  bool found = false;
  int32_t sy = 0;
  for (int32_t k = INT(r) - 2; k <= INT(r) + 2; ++k) {
    const int32_t iy = INT(static_cast<float>(k) + ycen);
    if (std::fabs(pixel_distance(sx, iy, xcen, ycen) - r) < 0.5f) {
      sy = iy;
      found = true;
      break;
    }
  }
  if (!found) return EdgeStatus::no_start;
  xs.push_back(sx);
  ys.push_back(sy);

  int32_t x = sx, y = sy;
  for (int arc = 0; arc < 4; ++arc) {
    for (;;) {
      // One step: the qualifying candidate closest to the circle, the later one on ties.
      float best = 1.0f;
      bool moved = false;
      int32_t nx = x, ny = y;
      for (const Offset& o : kArcCandidates[arc]) {
        const float e = std::fabs(pixel_distance(x + o.dx, y + o.dy, xcen, ycen) - r);
        if (e < 0.6f && e <= best) {
          best = e;
          nx = x + o.dx;
          ny = y + o.dy;
          moved = true;
        }
      }
      if (!moved) return EdgeStatus::stuck;
      x = nx;
      y = ny;
      // Arc 4 closes the ring on the start column without appending that point.
      if (arc == 3 && x == sx) break;
      if (static_cast<int64_t>(xs.size()) >= capacity) return EdgeStatus::no_closure;
      xs.push_back(x);
      ys.push_back(y);
      const bool go_on = arc == 0   ? static_cast<float>(y) > ycen
                         : arc == 1 ? static_cast<float>(x) > xcen
                         : arc == 2 ? static_cast<float>(y) < ycen
                                    : true;
      if (!go_on) break;
    }
  }

  const std::size_t n = xs.size();
  work.nRing = static_cast<int32_t>(n);
  work.TheRing.x.resize(n);
  work.TheRing.y.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    work.TheRing.x[i] = static_cast<float>(xs[i]);
    work.TheRing.y[i] = static_cast<float>(ys[i]);
  }
  work.TheRing.back.assign(n, 0.0f);
  work.TheRing.sigma.assign(n, 0.0f);
  work.RingWeight.assign(n, 1.0f);
  return EdgeStatus::ok;
}

GreatSmall GREATSMALL(std::span<const float> values) {
  if (values.empty()) return GreatSmall{-FLT_MAX, FLT_MAX};
  GreatSmall r{values[0], values[0]};
  for (float v : values)
    if (v > r.great) r.great = v;
  for (float v : values)
    if (v < r.small) r.small = v;
  return r;
}

EdgeStatus trace_edge_ring(RemovalWork& work, float xcen, float ycen, float r, float& traced_radius) {
  traced_radius = r;
  const EdgeStatus first = FINDEDGE(work, xcen, ycen, r);
  if (first == EdgeStatus::ok || !std::isfinite(r)) return first;
  for (int k = 1; k <= 10; ++k) {
    for (const float sign : {1.0f, -1.0f}) {
      const float rk = r + sign * 0.05f * static_cast<float>(k);
      if (rk <= 0.0f) continue;
      if (FINDEDGE(work, xcen, ycen, rk) == EdgeStatus::ok) {
        traced_radius = rk;
        return EdgeStatus::ok;
      }
    }
  }
  FINDEDGE(work, xcen, ycen, r);  // leave the ring empty, as the failed walk at r does
  return first;
}

}  // namespace zelvo
