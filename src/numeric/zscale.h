// Display levels by zscale (the IRAF DISPLAY algorithm, as DS9 and astropy's ZScaleInterval
// compute it) and the stretches drawn between two display levels.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "numeric/image_view.h"

namespace zelvo {

// Parameters of zscale, at the values IRAF, DS9 and astropy use by default.
struct ZscaleOptions {
  int n_samples = 1000;     // pixels sampled at a regular stride
  double contrast = 0.25;   // the fitted slope is divided by this
  double max_reject = 0.5;  // at most this fraction of the samples may be rejected
  int min_npixels = 5;      // fewer good samples than this: the sample's extremes are used
  double krej = 2.5;        // rejection threshold in standard deviations of the residuals
  int max_iterations = 5;
  std::size_t finite_pixels = 0;  // the number of finite pixels when the caller knows it (0: counted)
};

struct ZscaleLevels {
  float low = 0.0f, high = 0.0f;
  int samples = 0;      // finite pixels sampled
  bool fitted = false;  // false: too few samples kept, the levels are the sample's extremes
};

// zscale levels of the finite pixels of `image` (read in storage order, x fastest). Empty
// when the image holds no finite pixel.
std::optional<ZscaleLevels> zscale_levels(ConstImageView image, const ZscaleOptions& opt = {});

// How values between the two display levels are turned into brightness.
enum class Stretch { linear, sqrt, log, asinh };

// The brightness (0..1) of a value at fraction x (0..1, clamped) of the way from the lower to
// the upper level. log is log10(1000 x + 1) / log10(1001) and asinh is
// asinh(10 x) / asinh(10), the curves of astropy's LogStretch and AsinhStretch defaults.
double stretched(Stretch s, double x);

// The word naming a stretch ("linear", "sqrt", "log", "asinh"), and back (any case).
std::string_view stretch_name(Stretch s);
std::optional<Stretch> stretch_from_name(std::string_view word);

}  // namespace zelvo
