// The range of pixel values of an image.
#pragma once

#include "numeric/image_view.h"

namespace zelvo {

// Smallest and largest finite pixel of `img` (NaN and +/-Inf pixels are left out);
// 0 and 0 when the image has no finite pixel.
void finite_range(ConstImageView img, float& lo, float& hi);
inline void finite_range(const Image& img, float& lo, float& hi) { finite_range(img.view(), lo, hi); }

}  // namespace zelvo
