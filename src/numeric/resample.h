// An image area resampled onto a coarser or finer grid of cells, for drawing.
#pragma once

#include <vector>

#include "numeric/box.h"
#include "numeric/image_view.h"

namespace zelvo {

// An image area resampled onto a grid of w x h cells (cell (p, q) at px[q * w + p], p and q
// from 0). Each cell holds the mean of the pixels whose centres fall in it (a block average
// where the image has more pixels than the grid), or the pixel nearest to its centre where
// none does (an enlargement, pixels stay square blocks). Undefined (NaN) pixels are left
// out of the means; a cell with none defined holds `blank`.
struct ResampledArea {
  std::vector<float> px;
  int w = 0, h = 0;
};

// Resamples the pixels of `area` (1-based, inclusive, inside `image`) of `image`, whose pixel
// (i, j) is centred on world (cx0 + i, cy0 + j) in pixel units, onto w x h cells covering
// the world rectangle x0..x1, y0..y1.
ResampledArea resample_area(ConstImageView image, const Box& area, double cx0, double cy0, double x0, double x1,
                            double y0, double y1, int w, int h, float blank);

}  // namespace zelvo
