#include "geometry/digital_circle.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <utility>
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

// Distance of pixel (i, j), centred at (i, j), from the circle centre.
inline float pixel_distance(int32_t i, int32_t j, float xcen, float ycen) {
  const float dx = static_cast<float>(i) - xcen;
  const float dy = static_cast<float>(j) - ycen;
  return std::sqrt(dx * dx + dy * dy);
}

// The pixel whose centre lies nearest to coordinate c (halves go up), also below 0.5.
inline int32_t nearest_pixel(float c) { return INT(std::floor(static_cast<double>(c) + 0.5)); }

}  // namespace

EdgeStatus trace_digital_circle(DigitalRing& ring, float xcen, float ycen, float r) {
  ring.x.clear();
  ring.y.clear();
  if (!std::isfinite(xcen) || !std::isfinite(ycen) || !std::isfinite(r) || std::fabs(xcen) > kMaxCoordinate ||
      std::fabs(ycen) > kMaxCoordinate || std::fabs(r) > kMaxCoordinate) {
    return EdgeStatus::no_start;
  }

  const int64_t capacity = static_cast<int64_t>(INT(6.283185307179586 * static_cast<double>(r))) + 10;
  std::vector<int32_t> xs, ys;

  // Start point: in the pixel column of the centre, the first of five rows around ycen + r,
  // upwards, within 0.5 of the circle.
  const int32_t sx = nearest_pixel(xcen);
  bool found = false;
  int32_t sy = 0;
  for (int32_t k = INT(r) - 2; k <= INT(r) + 2; ++k) {
    const int32_t iy = nearest_pixel(static_cast<float>(k) + ycen);
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
  ring.x.resize(n);
  ring.y.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    ring.x[i] = static_cast<float>(xs[i]);
    ring.y[i] = static_cast<float>(ys[i]);
  }
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

NearTrace trace_digital_circle_near(DigitalRing& ring, float xcen, float ycen, float r) {
  const EdgeStatus first = trace_digital_circle(ring, xcen, ycen, r);
  if (first == EdgeStatus::ok || !std::isfinite(r)) return NearTrace{first, r};
  for (int k = 1; k <= 10; ++k) {
    for (const float sign : {1.0f, -1.0f}) {
      const float rk = r + sign * 0.05f * static_cast<float>(k);
      if (rk <= 0.0f) continue;
      if (trace_digital_circle(ring, xcen, ycen, rk) == EdgeStatus::ok) return NearTrace{EdgeStatus::ok, rk};
    }
  }
  trace_digital_circle(ring, xcen, ycen, r);  // leave the ring empty, as the failed walk at r does
  return NearTrace{first, r};
}

Box fill_disc(Image& mask, int32_t nx, int32_t ny, std::span<const float> x, std::span<const float> y,
              GreatSmall yrange) {
  Box filled;
  const std::size_t n = std::min(x.size(), y.size());
  if (n == 0) return filled;
  // Rows crossed by the ring, limited to the image: only those can be filled.
  const int32_t row0 = std::max(INT(yrange.small), 1), row1 = std::min(INT(yrange.great), ny);
  if (row0 > row1) return filled;
  // Smallest and largest ring x on each row, in one pass over the ring points.
  std::vector<std::pair<int32_t, int32_t>> row_span(static_cast<std::size_t>(row1 - row0 + 1), {INT_MAX, INT_MIN});
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t row = INT(y[i]);
    if (static_cast<float>(row) != y[i] || row < row0 || row > row1) continue;
    auto& [smallest, largest] = row_span[static_cast<std::size_t>(row - row0)];
    const int32_t xi = INT(x[i]);
    if (xi > largest) largest = xi;
    if (xi < smallest) smallest = xi;
  }
  for (int32_t row = row0; row <= row1; ++row) {
    const auto [smallest, largest] = row_span[static_cast<std::size_t>(row - row0)];
    if (smallest > largest) continue;  // no ring point on this row
    const Box part = Box{smallest, largest, row, row}.clipped(nx, ny);
    if (part.empty()) continue;
    fill_box(mask, part, 1.0f);
    filled = box_union(filled, part);
  }
  return filled;
}

}  // namespace zelvo
