// Aperture photometry: the measurement of one star (APPHOT).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>

#include "numeric/image_view.h"
#include "geometry/digital_circle.h"

namespace zelvo {


// Radii of the star aperture and of the inner and outer edge of the background annulus
// (pixels); the defaults are restored at every visit and after an invalid triple.
struct ApertureRadii {
  float star = 2.5f;
  float inner = 9.0f;
  float outer = 12.0f;
  // Accepted only in strictly increasing order (a NaN is never accepted).
  bool valid() const { return star < inner && inner < outer; }
};

// Pixel count and summed flux of one aperture.
struct ApertureSum {
  int32_t n = 0;
  float flux = 0.0f;
};

// Counts and sums of the three apertures of one star. Each aperture is the disc that the
// edge ring traced at its radius encloses (ring pixels included).
struct ApertureSums {
  // A ring could not be traced: its radius and why (the star is then not measured).
  EdgeStatus status = EdgeStatus::ok;
  float failed_radius = 0.0f;
  bool retraced = false;   // a ring was traced at a radius slightly off the one asked for
  bool truncated = false;  // a disc crosses the image border: only the inside pixels count
  ApertureSum outer, inner, star;
};

// Traces the rings at the outer, inner and star radius around (xcen, ycen) and sums the
// pixels of their discs. The masks are built and summed over the rings' bounding box only
// (cut to the image), in image order with 32-bit float sums, so the counts and fluxes are
// those of whole-image masks: pixels outside a disc add exactly nothing.
ApertureSums aperture_sums(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii);

// One measured star.
struct Photometry {
  ApertureSums sums;
  ApertureSum annulus;             // outer minus inner
  std::optional<float> avgback;    // none when the annulus holds no pixels
  std::optional<float> corrected;  // star flux minus its pixels times the average background
  std::optional<float> magnitude;  // aperture_magnitude(corrected, exptime); none unless corrected > 0
  bool measured() const { return sums.status == EdgeStatus::ok; }
};

// Instrumental magnitude -2.5 log10(flux) (no zero point, no exposure term); none for a flux
// that is not a positive finite number.
std::optional<float> instrumental_magnitude(float flux);

// The magnitude of a flux collected in `exptime` seconds: -2.5 log10(flux / exptime), the
// zero point being 0; the instrumental magnitude when the exposure time is not a positive
// number (unknown). None for a flux that is not a positive finite number.
std::optional<float> aperture_magnitude(float flux, float exptime);

// APPHOT: measures the star at (xcen, ycen): the three aperture sums, the annulus, the
// average background (none for an empty annulus), the corrected flux (none when it is not
// finite) and its magnitude, per second of `exptime` when that is positive
// (aperture_magnitude). A star whose rings cannot be traced comes back unmeasured.
Photometry APPHOT(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii,
                  float exptime = 0.0f);

// The seven header lines appended to the photometry log at every visit.
std::span<const std::string> apphot_log_header();

}  // namespace zelvo
