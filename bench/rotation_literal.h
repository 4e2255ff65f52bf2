// The rotation-curve force sums as first written: at every test radius the spline is
// evaluated at every offset of the square, also where the offset does not contribute. Kept
// as the reference that the per-offset evaluation is timed and checked against.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "galaxy/profile.h"
#include "galaxy/spline.h"
#include "numeric/fortran.h"

namespace zelvo {

inline std::vector<float> literal_forces(const BinnedProfile& p, std::span<const float> y2, float R, float step) {
  const int32_t nr = INT(R / step + 1.5f);
  const int32_t M = INT(R + 1.5f);
  std::vector<float> rrot(static_cast<std::size_t>(nr > 0 ? nr : 0), 0.0f), vrot(rrot.size(), 0.0f);
  for (int32_t ipro = 2; ipro <= nr; ++ipro) {
    const float rr = static_cast<float>(ipro - 1) * step;
    for (int32_t i = -M; i <= M; ++i)
      for (int32_t j = -M; j <= M; ++j) {
        const float r = std::sqrt(static_cast<float>(i * i + j * j));
        const float s = SPLINT(p.rprof, p.prof, y2, r);
        if (r < rr) {
          const float d2 = (rr - static_cast<float>(i)) * (rr - static_cast<float>(i)) + static_cast<float>(j * j);
          const float theta = std::atan2(static_cast<float>(j), static_cast<float>(i) - rr);
          rrot[static_cast<std::size_t>(ipro - 1)] = rr;
          vrot[static_cast<std::size_t>(ipro - 1)] += std::cos(theta) * s / d2;
        }
      }
  }
  return vrot;
}

}  // namespace zelvo
