// The constant level the removal visit adds so that every pixel is positive, and takes out
// again when the visit ends.
#pragma once

#include <cstdint>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo {

// The largest constant level a visit adds: beyond 2^24 a 32-bit float no longer holds
// every whole number, so adding the level would round away the pixels' precision.
inline constexpr int32_t kLargestConstantLevel = 16777216;

// The smallest finite pixel value of the image (0.0 when there is none).
float smallest_finite_pixel(ConstImageView image);

// The constant level that makes the image positive: INT(|smallest finite pixel| + 1.0).
int32_t constant_level(ConstImageView image);

// Adds the level to every pixel and takes it out again when it goes out of scope. A pixel
// that still holds its old value plus the level gets its old value back exactly; the level
// and the removals would otherwise round the low bits of every pixel, which matters for
// images with a large negative blank value. Keeps a copy of the image (std::bad_alloc when
// there is no room for it, with the image untouched).
class ConstantLevel {
 public:
  ConstantLevel(ImageView image, int32_t level);
  ~ConstantLevel();
  ConstantLevel(const ConstantLevel&) = delete;
  ConstantLevel& operator=(const ConstantLevel&) = delete;

 private:
  ImageView image_;
  float level_;
  std::vector<float> original_;
};

}  // namespace zelvo
