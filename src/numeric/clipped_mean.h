// The level of a set of values that a minority of outliers does not move: a mean clipped at
// 3 sigma, started from a given centre with the spread of the values about it (median absolute
// deviation) and repeated about the mean of the kept values until they stop changing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace zelvo {

struct ClippedMean {
  std::optional<double> mean;  // none for a set without a finite value
  double sigma = 0.0;          // spread of the kept values (n - 1)
  int32_t n = 0;               // values kept
  int32_t rejected = 0;        // finite values clipped
};

// `start`: the first centre (none: the median). Non-finite values are left out.
// The values are pixel values, kept as 32-bit floats (the sums are formed in double precision).
ClippedMean clipped_mean(std::span<const float> values, std::optional<double> start = std::nullopt);

}  // namespace zelvo
