// The digital circle: the closed chain of pixels at a given radius around a centre, and the
// disc it encloses. Removal and aperture photometry both measure on these pixels.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "numeric/box.h"
#include "numeric/image_view.h"

namespace zelvo {

enum class EdgeStatus {
  ok,
  no_start,   // no pixel above the centre lies within 0.5 of the radius
  stuck,      // a step found no neighbour within 0.6 of the circle
  no_closure  // the walk reached its capacity without closing the ring
};

// The ring's pixel indices as whole-number floats, in walking order (clockwise with y
// upwards, starting above the centre).
struct DigitalRing {
  std::vector<float> x, y;
};

// Walks once around (xcen, ycen) along the digital circle of radius r (pixels), always to
// the neighbour whose centre lies closest to the circle; pixel (i, j) is centred at (i, j)
// here as everywhere, so the ring is symmetric about the centre it is given. On failure the
// ring is left empty and the status says why; the walk never runs past INT(2 pi r) + 10 points.
EdgeStatus trace_digital_circle(DigitalRing& ring, float xcen, float ycen, float r);

// Like trace_digital_circle, but when the walk cannot be completed at exactly r the radii
// r + 0.05, r - 0.05, r + 0.10, ... up to r -/+ 0.5 are tried in turn and the first ring that
// closes is kept, and its radius returned. The status is that of the walk at r when no
// radius works (the ring is then empty and the radius r).
struct NearTrace {
  EdgeStatus status = EdgeStatus::ok;
  float radius = 0.0f;  // the radius of the ring kept
};
NearTrace trace_digital_circle_near(DigitalRing& ring, float xcen, float ycen, float r);

// The largest and the smallest of a list of values.
struct GreatSmall {
  float great;
  float small;
};

// GREATSMALL: maximum and minimum in index order (later values replace the running extreme
// only when strictly beyond it). An empty list gives (-FLT_MAX, +FLT_MAX).
GreatSmall GREATSMALL(std::span<const float> values);

// Sets to 1.0 every pixel of `mask` on the disc enclosed by the ring points (x, y), ring
// pixels included: each row crossed by the ring is filled from its leftmost to its rightmost
// ring pixel. yrange holds the largest and the smallest ring y (GREATSMALL). Only pixels
// inside the first nx x ny pixels of the mask are written; returns the bounding box of
// what was set (pixels outside the disc are left as they were).
Box fill_disc(Image& mask, int32_t nx, int32_t ny, std::span<const float> x, std::span<const float> y,
              GreatSmall yrange);

}  // namespace zelvo
