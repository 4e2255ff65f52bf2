#include "numeric/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// Four pixels at a time (the compiler's vector extension: SSE on every x86-64, NEON on ARM).
using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int32_t __attribute__((vector_size(16)));

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
  // Each row of image pixels is added into per-column sums (a loop the compiler runs four or
  // more pixels at a time), and the columns of a cell are gathered when its rows are done.
  const std::size_t cols = static_cast<std::size_t>(i2 - i1 + 1);
  std::vector<float> column_sum(cols);
  std::vector<int> column_count(cols);
  for (int q = 0; q < h; ++q) {
    int r_first = 0, r_last = 0;
    cell_range(cy0, y0 + q * dy, y0 + (q + 1) * dy, j1, j2, r_first, r_last);
    std::fill(column_sum.begin(), column_sum.end(), 0.0f);
    std::fill(column_count.begin(), column_count.end(), 0);
    float* const cs = column_sum.data();
    int* const cc = column_count.data();
    for (int j = r_first; j <= r_last; ++j) {
      const float* row = &img.at(i1, j);  // row[c] is pixel (i1 + c, j)
      std::size_t c = 0;
      for (; c + 4 <= cols; c += 4) {
        Floats4 v, sum;
        Ints4 count;
        std::memcpy(&v, row + c, sizeof v);
        std::memcpy(&sum, cs + c, sizeof sum);
        std::memcpy(&count, cc + c, sizeof count);
        const Ints4 shown = v == v;  // NaN is left out; infinities stay and saturate
        Ints4 bits;
        std::memcpy(&bits, &v, sizeof bits);
        bits &= shown;
        std::memcpy(&v, &bits, sizeof v);
        sum += v;
        count -= shown;  // a true comparison is -1
        std::memcpy(cs + c, &sum, sizeof sum);
        std::memcpy(cc + c, &count, sizeof count);
      }
      for (; c < cols; ++c) {
        const float v = row[c];
        const bool shown = shown_pixel(v);
        cs[c] += shown ? v : 0.0f;
        cc[c] += shown ? 1 : 0;
      }
    }
    float* cell = out.px.data() + static_cast<std::size_t>(q) * static_cast<std::size_t>(w);
    for (int p = 0; p < w; ++p) {
      float s = 0.0f;
      int n = 0;
      for (int i = c_first[static_cast<std::size_t>(p)]; i <= c_last[static_cast<std::size_t>(p)]; ++i) {
        s += cs[i - i1];
        n += cc[i - i1];
      }
      if (n > 0) {
        const float mean = s / static_cast<float>(n);
        if (mean == mean) cell[p] = mean;  // +Inf and -Inf together stay blank
      }
    }
  }
  return out;
}

}  // namespace zelvo
