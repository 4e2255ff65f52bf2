// Which pixels a scan counts. Every minimum, maximum, sum, mean, spread and histogram taken
// over image pixels asks one of these predicates, so the limits, levels and statistics the
// program shows follow one rule.
#pragma once

#include <cmath>

#include "numeric/image_view.h"

namespace zelvo {

// The blank value of computed colour and calibrated images (pixels that cannot be computed).
inline constexpr float kBlankPixel = -99999.0f;

// The rule of every scan: a pixel counts when its value is a finite number. NaN and +/-Inf
// (0/0 and x/0 in image arithmetic, the square root of a negative pixel) carry no value and
// are left out, so one of them never turns a level or a mean into NaN or Inf. The markers
// kUndefinedPixel (-999) and kBlankPixel (-99999) are finite numbers and count like any other
// value: the limits and statistics shown after loading have always included them. Vectorised
// scans (finite_range, TileLevels) test the same thing as a range compare, -FLT_MAX <= v <= FLT_MAX.
inline bool counted_pixel(float v) { return std::isfinite(v); }

// The radial profile keeps its own, narrower rules on top: a pixel marked undefined or blank
// is no measurement there. Its flux scale leaves out both markers (a blank sky pixel would
// pull the sky histogram); its magnitude scale, used on calibrated images, takes values above
// -99998 (so the blank value, and anything below it, is skipped).
inline bool counted_in_flux_profile(float v) { return counted_pixel(v) && v != kUndefinedPixel && v != kBlankPixel; }
inline bool counted_in_magnitude_profile(float v) { return counted_pixel(v) && v > -99998.0f; }

// What is drawn, and the extremes reported after image arithmetic, keep infinities: an
// infinite pixel is drawn at the saturated end of the grey scale and reported as inf, so the
// user sees where a division by zero went. Only NaN is left out there.
inline bool shown_pixel(float v) { return !std::isnan(v); }

}  // namespace zelvo
