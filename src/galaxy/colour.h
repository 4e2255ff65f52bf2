// Calibrated (B-I) colour images and calibrated I-band surface-brightness images built pixel
// by pixel from the image slots, with the blank value for pixels that cannot be computed.
#pragma once

#include "numeric/image_view.h"
#include "numeric/pixel_values.h"  // kBlankPixel

namespace zelvo {

// Colour equation: my * 2.5 (log10 I - log10 B) + kappa + lambda * airmass where both
// pixels are above 0, the blank value elsewhere. B and I are count rates already.
struct ColourCoefficients {
  float kappa = 0.0f, lambda = 0.0f, my = 0.0f, airmass = 0.0f;
};
float colour_pixel(float b, float i, const ColourCoefficients& k);

// I-band surface brightness: -2.5 log10(I / (s^2 tI)) + beta C + gamma airmass + alpha + dz
// where I and C are above 0 and the logarithm is defined, the blank value elsewhere.
struct CalibrationCoefficients {
  float alpha = 0.0f, beta = 0.0f, gamma = 0.0f, airmass = 0.0f, scale = 1.0f, dz = 0.0f;
};
float calibrated_pixel(float i, float c, float texp, const CalibrationCoefficients& k);

// Whole images; every source pixel is read before the output pixel is written, so `out`
// may be one of the sources. All views have the same size.
void make_colour_image(ConstImageView b, ConstImageView i, ImageView out, const ColourCoefficients& k);
void make_calibrated_image(ConstImageView i, ConstImageView c, float texp, ImageView out,
                           const CalibrationCoefficients& k);
// Divides every pixel by the exposure time (count rates), in place.
void divide_by_exposure(ImageView image, float exptime);

}  // namespace zelvo
