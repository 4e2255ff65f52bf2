// The background model under a removed feature: a plane or a saddle fitted around the ring.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>

#include "numeric/image_view.h"
#include "removal/removal_work.h"

namespace zelvo {

// CLIPSIGMA: rejects (RingWeight 0.0) ring points whose background sigma is unusual: two
// passes of a 20-bin histogram of the accepted sigmas, each dropping the points in bins
// (limits inclusive) holding fewer than a fifth of the fullest bin's count. All-equal
// sigmas reject nothing. Writes its summary lines to `log`. Returns the number of points
// still accepted.
int32_t CLIPSIGMA(RemovalWork& work, std::ostream& log);

// The first-harmonic fit of values against azimuth.
struct SineFit {
  float amp = 0.0f;   // half the peak-to-peak variation
  float phi = 0.0f;   // azimuth of the lowest point, 0 .. 2 pi
  float mean = 0.0f;  // mean of the values
};

// SINFIT: mean + amp * sin(p + c) fitted to (p(j), v(j)); phi is where it is lowest.
// An empty set gives all zeros.
SineFit SINFIT(std::span<const float> p, std::span<const float> v);

// GRADIENT (its lines go to the debug log; the background painted is fit_background's):
// rejects unusual ring points (CLIPSIGMA), then models the background around the
// ring as a simple gradient or, when four consecutive smoothed ring values from the minimum
// look like one, a saddle; fills TheSigma, MinAngle, MaxAngle, MinBack and MaxBack and
// writes its lines to `log`. False (model untouched) when no ring point is accepted.
bool GRADIENT(RemovalWork& work, float xcen, float ycen, std::ostream& log);

// The annulus the background surface is fitted to: from one pixel beyond the disc's radius
// to seven beyond it.
inline constexpr float kAnnulusBuffer = 1.0f;
inline constexpr float kAnnulusWidth = 6.0f;
// The highest order the background surface may take (3 terms for a plane, 6 for a quadratic).
inline constexpr int kMaxSurfaceOrder = 2;

// Fits a polynomial surface of order 0 .. max_order to the samples (x, y, value); curved
// surfaces (order 2 and up) weight each sample by (distance from (x0, y0) / scale)^-4 so that
// the pixels nearest the disc count most. Outliers (neighbouring stars, cosmic rays) are rejected by iterative 3-sigma
// clipping with the most flexible order allowed, the scale taken from the median absolute
// deviation; the order with the lowest Bayesian information criterion on the kept samples is
// then taken, so curvature is fitted only where the residuals ask for it. An order needs at
// least three samples per term. spread is the sky's noise: from the differences of the
// residuals of horizontally neighbouring kept samples (what the surface misses of the sky's
// structure cancels there) when there are 20 such pairs, else the kept residuals' spread,
// both corrected for the clipping. The surface's variables are u = (x - x0) / scale,
// v = (y - y0) / scale. Order -1 (not fitted) when there are fewer than three samples.
BackgroundSurface fit_surface(std::span<const float> x, std::span<const float> y, std::span<const float> value,
                              double x0, double y0, double scale, int max_order);

// Fits work.surface to the annulus of counted, unmasked pixels between deathrad + kAnnulusBuffer
// and deathrad + kAnnulusBuffer + kAnnulusWidth around (xcen, ycen) (TheMask must hold the
// disc), and writes what it found to `log` (the coefficients as well when extlogs is 1).
// False, with work.surface not fitted, when the annulus holds too few pixels. With a galaxy
// `model` (the image's size) the surface is fitted to the image less the model.
bool fit_background(RemovalWork& work, ConstImageView image, float xcen, float ycen, float deathrad, int extlogs,
                    std::ostream& log, ConstImageView model = {});

}  // namespace zelvo
