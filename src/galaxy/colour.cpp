#include "galaxy/colour.h"

#include <cmath>

namespace zelvo {

float colour_pixel(float b, float i, const ColourCoefficients& k) {
  if (!(i > 0.0f && b > 0.0f)) return kBlankPixel;
  const float c = 2.5f * (std::log10(i) - std::log10(b));
  return k.my * c + k.kappa + k.lambda * k.airmass;
}

float calibrated_pixel(float i, float c, float texp, const CalibrationCoefficients& k) {
  if (!(i > 0.0f && c > 0.0f)) return kBlankPixel;
  // A negative exposure time would take the logarithm of a negative rate.
  const float rate = i / (k.scale * k.scale * texp);
  if (!(rate > 0.0f)) return kBlankPixel;
  const float v = -2.5f * std::log10(rate) + k.beta * c + k.gamma * k.airmass + k.alpha + k.dz;
  return std::isfinite(v) ? v : kBlankPixel;
}

void make_colour_image(ConstImageView b, ConstImageView i, ImageView out, const ColourCoefficients& k) {
  const std::size_t n = out.size();
  for (std::size_t p = 0; p < n; ++p) out.px[p] = colour_pixel(b.px[p], i.px[p], k);
}

void make_calibrated_image(ConstImageView i, ConstImageView c, float texp, ImageView out,
                           const CalibrationCoefficients& k) {
  const std::size_t n = out.size();
  for (std::size_t p = 0; p < n; ++p) out.px[p] = calibrated_pixel(i.px[p], c.px[p], texp, k);
}

void divide_by_exposure(ImageView image, float exptime) {
  const std::size_t n = image.size();
  for (std::size_t p = 0; p < n; ++p) image.px[p] /= exptime;
}

}  // namespace zelvo
