#include "removal/edge.h"

namespace zelvo {

namespace {

// Copies a traced ring into the removal's ring table: background and sigma 0, every point accepted.
void keep_ring(RemovalWork& work, const DigitalRing& ring) {
  const std::size_t n = ring.x.size();
  work.nRing = static_cast<int32_t>(n);
  work.TheRing.x = ring.x;
  work.TheRing.y = ring.y;
  work.TheRing.back.assign(n, 0.0f);
  work.TheRing.sigma.assign(n, 0.0f);
  work.RingWeight.assign(n, 1.0f);
}

}  // namespace

EdgeStatus FINDEDGE(RemovalWork& work, float xcen, float ycen, float r) {
  work.TheRing.clear();
  work.RingWeight.clear();
  work.nRing = 0;
  DigitalRing ring;
  const EdgeStatus st = trace_digital_circle(ring, xcen, ycen, r);
  if (st == EdgeStatus::ok) keep_ring(work, ring);
  return st;
}

TracedRing trace_edge_ring(RemovalWork& work, float xcen, float ycen, float r) {
  work.TheRing.clear();
  work.RingWeight.clear();
  work.nRing = 0;
  DigitalRing ring;
  const NearTrace near = trace_digital_circle_near(ring, xcen, ycen, r);
  TracedRing traced;
  traced.status = near.status;
  traced.traced_radius = near.radius;
  if (traced.status == EdgeStatus::ok) keep_ring(work, ring);
  return traced;
}

}  // namespace zelvo
