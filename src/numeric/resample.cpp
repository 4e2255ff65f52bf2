#include "numeric/resample.h"

#include <algorithm>
#include <cmath>

#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// The image index range [first, last] whose pixel centres c0 + i fall in world [a, b), cut
// to [lo, hi]; the pixel nearest to the middle when none does.
void cell_range(double c0, double a, double b, int lo, int hi, int& first, int& last) {
  first = static_cast<int>(std::ceil(a - c0));
  last = static_cast<int>(std::ceil(b - c0)) - 1;
  first = std::max(first, lo);
  last = std::min(last, hi);
  if (first > last) first = last = std::clamp(static_cast<int>(std::floor(0.5 * (a + b) - c0 + 0.5)), lo, hi);
}

}  // namespace

ResampledArea resample_area(ConstImageView img, const Box& area, double cx0, double cy0, double x0, double x1,
                            double y0, double y1, int w, int h, float blank) {
  ResampledArea out;
  if (img.empty() || w < 1 || h < 1 || area.empty()) return out;
  const int i1 = area.x0, i2 = area.x1, j1 = area.y0, j2 = area.y1;
  out.w = w;
  out.h = h;
  out.px.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), blank);
  const double dx = (x1 - x0) / w, dy = (y1 - y0) / h;
  std::vector<int> c_first(static_cast<std::size_t>(w)), c_last(static_cast<std::size_t>(w));
  for (int p = 0; p < w; ++p)
    cell_range(cx0, x0 + p * dx, x0 + (p + 1) * dx, i1, i2, c_first[static_cast<std::size_t>(p)],
               c_last[static_cast<std::size_t>(p)]);
  std::vector<float> sum(static_cast<std::size_t>(w));
  std::vector<int> count(static_cast<std::size_t>(w));
  for (int q = 0; q < h; ++q) {
    int r_first = 0, r_last = 0;
    cell_range(cy0, y0 + q * dy, y0 + (q + 1) * dy, j1, j2, r_first, r_last);
    std::fill(sum.begin(), sum.end(), 0.0f);
    std::fill(count.begin(), count.end(), 0);
    for (int j = r_first; j <= r_last; ++j) {
      const float* row = &img.at(1, j) - 1;  // row[i] is pixel (i, j)
      for (int p = 0; p < w; ++p) {
        float s = 0.0f;
        int n = 0;
        for (int i = c_first[static_cast<std::size_t>(p)]; i <= c_last[static_cast<std::size_t>(p)]; ++i) {
          const float v = row[i];
          const bool shown = shown_pixel(v);  // NaN is left out; infinities stay and saturate
          s += shown ? v : 0.0f;
          n += shown ? 1 : 0;
        }
        sum[static_cast<std::size_t>(p)] += s;
        count[static_cast<std::size_t>(p)] += n;
      }
    }
    float* cell = out.px.data() + static_cast<std::size_t>(q) * static_cast<std::size_t>(w);
    for (int p = 0; p < w; ++p)
      if (count[static_cast<std::size_t>(p)] > 0) {
        const float mean = sum[static_cast<std::size_t>(p)] / static_cast<float>(count[static_cast<std::size_t>(p)]);
        if (mean == mean) cell[p] = mean;  // +Inf and -Inf together stay blank
      }
  }
  return out;
}

}  // namespace zelvo
