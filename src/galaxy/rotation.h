// Rotation curve of a flat disc whose surface density is the binned profile (one unit of
// mass per unit of flux, gravitational constant 1), from the radial force at each test radius.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "galaxy/profile.h"
#include "numeric/stop_request.h"

namespace zelvo {

// Number of curve points for extent R and step: INT(R / step + 1.5).
int32_t rotation_points(float R, float step);

// The test radii and the radial force sums: rrot(1) = 0 with force 0; for ipro >= 2 the
// test radius rr = (ipro - 1) step and the sum over integer offsets (i, j), |i|, |j| <= M =
// INT(R + 1.5), i outer and j inner, of the offsets with r < rr, of cos(theta) s / d^2
// (s the spline at r, d and theta the distance and direction from the test point (rr, 0)).
// The spline is evaluated once per offset and the force terms are added in the same order
// and with the same single-precision arithmetic as a term-by-term loop, so the sums are
// identical to such a loop to the last bit.
struct RotationForces {
  std::vector<float> rrot, force;
  bool stopped = false;  // `stop` asked before every point was computed; the sums are incomplete
};
// `progress`, when given, is told (points done, points in all) after every test radius;
// `stop` is polled before each test radius.
RotationForces rotation_forces(const BinnedProfile& p, std::span<const float> y2, float R, float step,
                               const std::function<void(int32_t, int32_t)>& progress = {}, StopRequest stop = {});

// The number of force terms rotation_forces adds up for extent R and step: about
// pi R^3 / (3 step), the offsets inside each test radius summed over the test radii.
double rotation_terms(float R, float step);

// Seconds rotation_forces is expected to take on this machine class: the terms times the
// cost of one term (measured by bench/galaxy_bench: the cosine comes from a table for
// whole-number test radii and is computed otherwise).
double rotation_seconds(float R, float step);

// The curve from the force sums: v = sqrt(-force * rr) for ipro >= 2 (the first point stays
// 0). A point whose force points outward (-force * rr < 0) keeps its force value and is
// listed in `outward` (0-based) with that product; the other points are `logged`.
struct RotationCurve {
  std::vector<float> rrot, vrot;
  std::vector<bool> logged;
  struct Outward {
    std::size_t index;
    float product;
  };
  std::vector<Outward> outward;
  float vmax = 0.0f;
};
RotationCurve rotation_curve(const RotationForces& f);

}  // namespace zelvo
