// Pixel values read around an object under removal: whether its centre lies on the image,
// the background of a bad column or row, and the range its inspection page is scaled to.
#pragma once

#include <span>

#include "numeric/image_view.h"
#include "numeric/statistics.h"

namespace zelvo {

// Whether the pixel nearest to (x, y) is a pixel of the image (never for a NaN).
bool on_image(ConstImageView image, float x, float y);

// Background of a column: the inside pixels of the 20 x 20 box at offsets -9 .. 10 from the
// centre, clipped once at 1 sigma. Its sigma is kept_sigma, the spread of the kept values
// about their own mean: measured about the unclipped mean, a bright column in the box would
// make the sky look many times noisier than it is and the fill would paint that noise.
AverageSigma column_background(ConstImageView image, float xcen, float ycen);

// Smallest and largest finite value, the range then widened by a tenth at each end (the
// upper end by a tenth of the range from the lowered lower end). False for no finite value
// (lo and hi untouched).
bool widened_range(std::span<const float> values, float& lo, float& hi);

}  // namespace zelvo
