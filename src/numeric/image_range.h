// The range of pixel values of an image.
#pragma once

#include "numeric/image_view.h"

namespace zelvo {

// The smallest and the largest of a set of pixel values.
struct ValueRange {
  float lo = 0.0f;
  float hi = 0.0f;
};

// Smallest and largest finite pixel of `img` (NaN and +/-Inf pixels are left out);
// 0 and 0 when the image has no finite pixel.
ValueRange finite_range(ConstImageView img);
inline ValueRange finite_range(const Image& img) { return finite_range(img.view()); }

}  // namespace zelvo
