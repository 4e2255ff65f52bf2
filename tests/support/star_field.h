// A test image of one Gaussian star on a flat sky, shared by the photometry tests.
#pragma once

#include <cmath>
#include <random>

#include "numeric/image_view.h"

namespace zelvo::test_images {

// Sky s plus a Gaussian star (peak, sigma) at (x0, y0), plus optional uniform noise.
inline Image star_field(int nx, int ny, float s, float x0, float y0, float peak, float sig, float noise = 0.0f,
                        unsigned seed = 7) {
  Image img(nx, ny);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-noise, noise);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      const double r2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
      img.at(x, y) = s + static_cast<float>(peak * std::exp(-r2 / (2.0 * sig * sig))) + (noise > 0 ? u(gen) : 0.0f);
    }
  return img;
}

}  // namespace zelvo::test_images
