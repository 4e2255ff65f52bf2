#include "removal/object_area.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// The column's box: offsets -9 .. 10 from the centre, with 1-sigma clipping.
constexpr int32_t kColumnBoxFrom = -9;
constexpr int32_t kColumnBoxTo = 10;

}  // namespace

bool on_image(ConstImageView image, float x, float y) { return image.inside(nint_pixel(x), nint_pixel(y)); }

AverageSigma column_background(ConstImageView image, float xcen, float ycen) {
  std::vector<float> v;
  v.reserve(400);
  for (int32_t dx = kColumnBoxFrom; dx <= kColumnBoxTo; ++dx)
    for (int32_t dy = kColumnBoxFrom; dy <= kColumnBoxTo; ++dy) {
      const int32_t x = INT(xcen + static_cast<float>(dx)), y = INT(ycen + static_cast<float>(dy));
      if (image.inside(x, y)) v.push_back(image.at(x, y));
    }
  return AVERAGESIGMA(v, 1);
}

bool widened_range(std::span<const float> values, float& lo, float& hi) {
  bool any = false;
  float a = 0.0f, b = 0.0f;
  for (const float v : values) {
    if (!counted_pixel(v)) continue;
    a = any ? std::min(a, v) : v;
    b = any ? std::max(b, v) : v;
    any = true;
  }
  if (!any) return false;
  lo = a - (b - a) / 10.0f;
  hi = b + (b - lo) / 10.0f;
  return true;
}

}  // namespace zelvo
