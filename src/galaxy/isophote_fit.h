// Elliptical isophotes of a galaxy (Jedrzejewski 1987): at each semi-major axis the image is
// sampled along an ellipse, the first and second harmonics of the intensity around it give
// the corrections to centre, ellipticity and position angle, and the ellipse is corrected
// until those harmonics are lost in the noise. Pixel (i, j) is centred at (i, j); position
// angles are radians from +x towards +y.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "numeric/stop_request.h"

namespace zelvo {

// Centre, ellipticity (1 - b/a) and position angle of an ellipse.
struct EllipseShape {
  double x0 = 0.0, y0 = 0.0;
  double eps = 0.0;
  double pa = 0.0;  // radians, major axis from +x towards +y
};

// How an isophote's fit ended.
enum class IsophoteStop : int32_t {
  fixed = -1,          // sampled with a given geometry, not fitted (fixed request, the centre)
  converged = 0,       // the harmonics fell below the noise
  flagged = 1,         // more than the allowed share of the ellipse lay off the image or masked
  max_iterations = 2,  // did not converge; the best geometry met is kept
  too_few_points = 3,  // too few samples to fit
  carried = 4,         // could not be fitted (no gradient, runaway); the last good geometry kept
};

// One isophote. Intensities in the image's units; harmonics a3..b4 are the amplitudes
// divided by sma times the local |gradient| (dimensionless, as in the literature).
struct Isophote {
  double sma = 0.0;
  double intens = 0.0, intens_err = 0.0, rms = 0.0;
  EllipseShape shape;
  double eps_err = 0.0, pa_err = 0.0, x0_err = 0.0, y0_err = 0.0;
  double grad = 0.0, grad_err = 0.0;
  double a3 = 0.0, b3 = 0.0, a4 = 0.0, b4 = 0.0;
  double a3_err = 0.0, b3_err = 0.0, a4_err = 0.0, b4_err = 0.0;
  int32_t ndata = 0, nflag = 0, niter = 0;
  IsophoteStop stop = IsophoteStop::converged;
};

enum class FixedGeometry { none, centre, shape };

// What to fit. The semi-major axis grows from sma0 outwards to maxsma, then shrinks from sma0
// inwards to minsma, each isophote starting from its neighbour's geometry; the centre pixel
// ends the table at sma 0.
struct IsophoteRequest {
  EllipseShape start;
  double sma0 = 10.0;
  double minsma = 0.5;
  double maxsma = 0.0;  // 0 or less: as far as the ellipse stays mostly on the image
  double step = 0.1;    // geometric growth factor - 1, or pixels when linear
  bool linear = false;
  FixedGeometry fix = FixedGeometry::none;
  double conver = 0.05;  // converged when every harmonic is below conver x the samples' rms
  int32_t maxit = 50;
  double fflag = 0.5;  // the largest share of samples that may be flagged
  double sclip = 3.0;  // sigma clipping of the samples about the harmonic fit
  int32_t nclip = 2;
  // How far the centre may wander from the nucleus (the brightest pixel near the start): at most wander + wander_slope
  // x sma pixels.
  double wander = 1.5, wander_slope = 0.03;
  std::span<const uint8_t> mask;  // nx x ny, non-zero: not used; empty: no mask
  StopRequest stop{};
};

enum class IsophoteFitStatus { ok, no_pixels, centre_outside, bad_shape, bad_axes, stopped };

struct IsophoteFit {
  IsophoteFitStatus status = IsophoteFitStatus::ok;
  std::string problem;              // one line when status is not ok
  std::vector<Isophote> isophotes;  // by increasing sma
  int32_t converged = 0;            // isophotes with stop 0
  double largest_converged = 0.0;   // the largest sma that converged
};

// Fits the isophotes of the galaxy in `image` (see IsophoteRequest). Pixels that are not
// finite, undefined (-999, as loaded) or blank (-99999), or masked, are never sampled.
IsophoteFit fit_isophotes(ConstImageView image, const IsophoteRequest& req);

// The isophote at semi-major axis sma with the given geometry, sampled once without fitting
// (intensity, gradient, harmonics and their errors).
Isophote sample_isophote(ConstImageView image, std::span<const uint8_t> mask, const EllipseShape& shape, double sma,
                         double step);

}  // namespace zelvo
