#include "removal/constant_level.h"

#include <cmath>
#include <cstddef>

#include "numeric/fortran.h"
#include "numeric/image_range.h"

namespace zelvo {

float smallest_finite_pixel(ConstImageView image) { return finite_range(image).lo; }

int32_t constant_level(ConstImageView image) { return INT(std::fabs(smallest_finite_pixel(image)) + 1.0f); }

ConstantLevel::ConstantLevel(ImageView image, int32_t level)
    : image_(image), level_(static_cast<float>(level)), original_(image.px, image.px + image.size()) {
  for (std::size_t k = 0; k < original_.size(); ++k) image_.px[k] += level_;
}

ConstantLevel::~ConstantLevel() {
  for (std::size_t k = 0; k < original_.size(); ++k) {
    float& v = image_.px[k];
    const float was = original_[k];
    v = (v == was + level_) ? was : v - level_;
  }
}

}  // namespace zelvo
