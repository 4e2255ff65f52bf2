// The synthetic frame of the removal and large-frame benchmarks: a sky of 1000 with a slope
// of 0.01 per column and hashed noise (+-15), and Gaussian stars of sigma 1.6 pixels and
// peak 3000 at the positions given. Each size is made once per run.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo::bench {

using StarPositions = std::vector<std::pair<double, double>>;

inline Image star_field(int side, const StarPositions& stars) {
  Image im(side, side);
  for (int y = 1; y <= side; ++y)
    for (int x = 1; x <= side; ++x) {
      uint32_t h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 2246822519u;
      h ^= h >> 15;
      h *= 2654435761u;
      h ^= h >> 13;
      const float noise = (static_cast<float>(h >> 8) / 16777216.0f - 0.5f) * 30.0f;
      im.at(x, y) = 1000.0f + 0.01f * static_cast<float>(x - side / 2) + noise;
    }
  for (const auto& [cx, cy] : stars)
    for (int y = static_cast<int>(cy) - 12; y <= static_cast<int>(cy) + 12; ++y)
      for (int x = static_cast<int>(cx) - 12; x <= static_cast<int>(cx) + 12; ++x) {
        const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        im.at(x, y) += static_cast<float>(3000.0 * std::exp(-r2 / (2.0 * 1.6 * 1.6)));
      }
  return im;
}

// The frame of one size, made at first use with the stars `positions(side)` gives.
template <class Positions>
const Image& cached_star_field(int side, Positions positions) {
  static std::map<int, std::unique_ptr<Image>> cache;
  auto& p = cache[side];
  if (!p) p = std::make_unique<Image>(star_field(side, positions(side)));
  return *p;
}

}  // namespace zelvo::bench
