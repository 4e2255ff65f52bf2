#include "numeric/image_range.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "numeric/pixel_values.h"

namespace zelvo {

ValueRange finite_range(ConstImageView img) {
  // Fast pass: eight independent lanes of compare-and-select, which the compiler turns into
  // vector min/max; a NaN never wins a comparison, so NaN pixels drop out by themselves.
  // Only infinities can reach the result, and then the careful pass applies counted_pixel.
  constexpr std::size_t kLanes = 8;
  float l[kLanes], h[kLanes];
  for (std::size_t j = 0; j < kLanes; ++j) {
    l[j] = std::numeric_limits<float>::infinity();
    h[j] = -std::numeric_limits<float>::infinity();
  }
  const float* p = img.px;
  const std::size_t n = img.size(), body = n - n % kLanes;
  for (std::size_t i = 0; i < body; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      const float v = p[i + j];
      l[j] = v < l[j] ? v : l[j];
      h[j] = v > h[j] ? v : h[j];
    }
  }
  for (std::size_t i = body; i < n; ++i) {
    l[0] = p[i] < l[0] ? p[i] : l[0];
    h[0] = p[i] > h[0] ? p[i] : h[0];
  }
  float lo = l[0], hi = h[0];
  for (std::size_t j = 1; j < kLanes; ++j) {
    lo = l[j] < lo ? l[j] : lo;
    hi = h[j] > hi ? h[j] : hi;
  }
  if (counted_pixel(lo) && counted_pixel(hi)) return ValueRange{lo, hi};
  // Infinite pixels (or none finite at all): the careful pass that skips them.
  bool any = false;
  lo = hi = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    const float v = p[i];
    if (!counted_pixel(v)) continue;
    if (!any) {
      lo = hi = v;
      any = true;
    } else if (v < lo) {
      lo = v;
    } else if (v > hi) {
      hi = v;
    }
  }
  return ValueRange{lo, hi};
}

}  // namespace zelvo
