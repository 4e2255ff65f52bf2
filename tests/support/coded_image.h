// An image whose every pixel tells where it came from: pixel (x, y) = 1000 x + y.
#pragma once

#include "numeric/image_view.h"

namespace zelvo::testing {

inline Image coded_image(int nx, int ny) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(1000 * x + y);
  return img;
}

}  // namespace zelvo::testing
