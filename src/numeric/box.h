// Inclusive pixel rectangles, 1-based, and the few operations the measuring code needs.
#pragma once

#include <algorithm>
#include <cstdint>

#include "numeric/image_view.h"

namespace zelvo {

// An inclusive pixel rectangle, 1-based; empty when x0 > x1 or y0 > y1.
struct Box {
  int32_t x0 = 1, x1 = 0, y0 = 1, y1 = 0;
  bool empty() const { return x0 > x1 || y0 > y1; }
  // The part of the box inside an nx x ny image.
  Box clipped(int32_t nx, int32_t ny) const {
    return Box{std::max(x0, 1), std::min(x1, nx), std::max(y0, 1), std::min(y1, ny)};
  }
  bool contains(int32_t x, int32_t y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

// The smallest box holding both; an empty box adds nothing.
inline Box box_union(const Box& a, const Box& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return Box{std::min(a.x0, b.x0), std::max(a.x1, b.x1), std::min(a.y0, b.y0), std::max(a.y1, b.y1)};
}

// The pixels common to both (empty when they do not overlap).
inline Box box_intersection(const Box& a, const Box& b) {
  return Box{std::max(a.x0, b.x0), std::min(a.x1, b.x1), std::max(a.y0, b.y0), std::min(a.y1, b.y1)};
}

// Sets every pixel of the box (inside img) to value.
inline void fill_box(Image& img, const Box& b, float value) {
  for (int32_t y = b.y0; y <= b.y1; ++y)
    for (int32_t x = b.x0; x <= b.x1; ++x) img.at(x, y) = value;
}

}  // namespace zelvo
