// The edge ring of a removal: the closed chain of pixels at a given radius.
#pragma once

#include <cstdint>
#include <span>

#include "geometry/digital_circle.h"
#include "removal/removal_work.h"

namespace zelvo {

// FINDEDGE: walks once around (xcen, ycen) along the digital circle of radius r (pixels),
// always to the neighbour whose centre (pixel (i, j) is centred at (i, j)) lies closest to
// the circle.
// On success fills work.TheRing (x, y; back and sigma 0), work.nRing and work.RingWeight
// (all 1.0). On failure the ring is left empty (nRing 0) and the status says why; the walk
// never runs past INT(2 pi r) + 10 points.
EdgeStatus FINDEDGE(RemovalWork& work, float xcen, float ycen, float r);

// Like FINDEDGE, but when the walk cannot be completed at exactly r (small radii can leave
// a step without any neighbour near the circle) the radii r + 0.05, r - 0.05, r + 0.10, ...
// up to r -/+ 0.5 are tried in turn and the first ring that closes is kept. The status is
// that of the walk at r when no radius works.
struct TracedRing {
  EdgeStatus status = EdgeStatus::ok;
  float traced_radius = 0.0f;  // the radius the ring was traced at (r itself whenever that works)
};
TracedRing trace_edge_ring(RemovalWork& work, float xcen, float ycen, float r);

}  // namespace zelvo
