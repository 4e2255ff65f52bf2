// Aperture photometry: the measurement of one star (APPHOT).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "numeric/image_view.h"

namespace zelvo {

// Radii of the star aperture and of the inner and outer edge of the background annulus
// (pixels); the defaults are restored at every visit and after an invalid triple.
struct ApertureRadii {
  float star = 2.5f;
  float inner = 9.0f;
  float outer = 12.0f;
  // Accepted only in strictly increasing order from above 0 (a NaN is never accepted): a star
  // aperture of no area measures nothing.
  bool valid() const { return 0.0f < star && star < inner && inner < outer; }
};

// The area (pixels) and summed flux of one aperture: every pixel counts with the fraction of
// its area inside the circle, pixel (i, j) being the unit square centred on (i, j).
struct ApertureSum {
  double area = 0.0;
  double flux = 0.0;
};

// The star aperture and the discs at the annulus' inner and outer edge, about one centre.
struct ApertureSums {
  bool truncated = false;  // a circle crosses the image border: only the inside pixels count
  ApertureSum outer, inner, star;
};

// The exact-overlap sums of the three circles about (xcen, ycen). Only the outer circle's
// bounding box (cut to the image) is visited, so the cost does not depend on the image size.
ApertureSums aperture_sums(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii);

// The sky under the star: the annulus pixels whose centres lie in r_in <= d < r_out (a level
// estimated from whole pixels; weighting the partial ones adds nothing to a mean level),
// finite values only, clipped at 3 sigma about the median and then about the mean until no
// pixel changes side, so a star in the annulus does not lift the sky.
struct SkyLevel {
  std::optional<double> sky;  // none when no pixel is left
  double sigma = 0.0;         // spread of the kept pixels (n - 1)
  int32_t n = 0;              // pixels kept
  int32_t rejected = 0;       // pixels clipped
};
SkyLevel annulus_sky(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii);

// One measured star.
struct Photometry {
  ApertureSums sums;
  ApertureSum annulus;              // outer minus inner: the exact annulus
  SkyLevel sky;                     // the sky subtracted
  std::optional<double> corrected;  // star flux minus its area times the sky
  std::optional<double> flux_err;   // CCD equation (see flux_error)
  std::optional<float> magnitude;   // aperture_magnitude(corrected, exptime); none unless corrected > 0
  std::optional<double> mag_err;    // 1.0857 flux_err / flux
};

// The CCD equation: sqrt(flux / gain + area sigma^2 + area^2 sigma^2 / n_sky) (the Poisson
// term is left out for a flux that is not positive); none for a gain that is not positive or
// an empty sky.
std::optional<double> flux_error(double flux, double gain, double area, double sky_sigma, int32_t n_sky);

// Instrumental magnitude -2.5 log10(flux) (no zero point, no exposure term); none for a flux
// that is not a positive finite number.
std::optional<float> instrumental_magnitude(float flux);

// The magnitude of a flux collected in `exptime` seconds: -2.5 log10(flux / exptime), the
// zero point being 0; the instrumental magnitude when the exposure time is not a positive
// number (unknown). None for a flux that is not a positive finite number.
std::optional<float> aperture_magnitude(float flux, float exptime);

// APPHOT: measures the star at (xcen, ycen): the exact star aperture and annulus, the sky
// (annulus_sky), the corrected flux (none when it is not finite or there is no sky), its
// error for the given gain (electrons per count), the magnitude per second of `exptime` when
// that is positive, and its error.
Photometry APPHOT(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, float exptime = 0.0f,
                  double gain = 1.0);

// The seven header lines appended to the photometry log at every visit.
std::span<const std::string> apphot_log_header();

}  // namespace zelvo
