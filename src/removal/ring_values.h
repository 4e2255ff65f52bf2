// The disc mask of a removal and the background measured around its edge ring.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

#include "numeric/image_view.h"
#include "removal/edge.h"
#include "removal/removal_work.h"

namespace zelvo {

// MASKCIRCLE: sets work.TheMask to 1.0 on every pixel of the disc enclosed by the ring
// points (x, y), ring pixels included, and to 0.0 elsewhere: each row crossed by the ring is
// filled from its leftmost to its rightmost ring pixel. yrange holds the largest and the
// smallest ring y (GREATSMALL). Only pixels inside the NX x NY image are written; the disc's
// bounding box is kept in work.mask_box. work.NX, work.NY and TheMask must be prepared.
void MASKCIRCLE(RemovalWork& work, std::span<const float> x, std::span<const float> y, GreatSmall yrange);

// Statistics of the samples found at one sampling radius around a ring point.
struct RadiusSamples {
  float sum = 0.0f;     // S(k): sum of the samples kept after 2-sigma clipping
  float sigma = 0.0f;   // SIG(k): their spread about their own mean
  float count = 0.0f;   // N(k): number kept, as a float
  bool usable = false;  // at least two samples before and after clipping
};

// Clips one sample buffer at its mean +- 2 sigma (values on a limit stay) and measures
// what is left; writes the two extended-log lines when `log` is given. The buffer is
// compacted in place. box is the sampling box (x0, x1, y0, y1) shown in the log line.
RadiusSamples clip_radius_samples(std::span<float> samples, const Box& box, std::ostream* log);

// Background level and scatter of one ring point from its three sampling radii (2, 4, 6):
// the annulus means weighted by T - SIG(k), T = SIG(1) + SIG(2) + SIG(3) + 1. Not measured when a
// radius had too few samples, two radii kept the same count, or the result is not finite:
// then `measured` is false and both values are 0.
struct RingBackground {
  float back = 0.0f;
  float sigma = 0.0f;
  bool measured = false;
};
RingBackground ring_background(const RadiusSamples (&s)[3]);

// RINGVALUES: for every ring point, the background level and scatter (TheRing.back and
// .sigma) from the unmasked pixels above 0.01 within 2, 4 and 6 pixels, each set clipped once
// at 2 sigma. Points where that cannot be measured get RingWeight 0.0 and back = sigma = 0.
// Reads TheMask (which must hold the disc), uses TheAux as work space, reads only image
// pixels inside the image; the per-point log lines go to `log` when extlogs is 1.
void RINGVALUES(RemovalWork& work, ConstImageView image, int extlogs, std::ostream& log);

// The sky pixels around a disc that its background surface is fitted to.
struct AnnulusSamples {
  std::vector<float> x, y, value;  // pixel positions (pixel (x, y) centred at (x, y)) and values
};

// The counted pixels of the image whose centre lies more than `inner` and at most `outer`
// pixels from (xcen, ycen) and that are not on the disc (TheMask 0), row by row. Reads
// TheMask, which must hold the disc.
AnnulusSamples annulus_samples(const RemovalWork& work, ConstImageView image, float xcen, float ycen, float inner,
                               float outer);

}  // namespace zelvo
