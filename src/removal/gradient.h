// The background model under a removed feature: a plane or a saddle fitted around the ring.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>

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

// GRADIENT: rejects unusual ring points (CLIPSIGMA), then models the background around the
// ring as a simple gradient or, when four consecutive smoothed ring values from the minimum
// look like one, a saddle; fills TheSigma, MinAngle, MaxAngle, MinBack and MaxBack and
// writes its lines to `log`. False (model untouched) when no ring point is accepted.
bool GRADIENT(RemovalWork& work, float xcen, float ycen, std::ostream& log);

}  // namespace zelvo
