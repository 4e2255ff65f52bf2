// Tabulated cubic spline: second derivatives through n points, and evaluation by bisection.
#pragma once

#include <functional>
#include <span>
#include <vector>

namespace zelvo {

// End slopes above this value select the natural condition (second derivative 0) at that
// end. It is the single-precision value of 0.99e30, so 9.9e29 itself still counts as a slope.
inline constexpr float kNaturalSlope = 0.99e30f;

// SPLINE: second derivatives y2a(1..n) of the cubic spline through (xa, ya), xa strictly
// increasing, with end slopes yp1 and ypn (above kNaturalSlope: natural end). All
// arithmetic in 32-bit floats. Any n works; fewer than two points give all zeros.
std::vector<float> SPLINE(std::span<const float> xa, std::span<const float> ya, float yp1, float ypn);

// SPLINT: the spline value at x, finding the bracketing interval by bisection; outside the
// table the first or last interval's cubic is extended. Two equal abscissae around x cannot
// be interpolated: then `alarm` is called (when given; the dialogue's splint_alarm shows the
// alarm and waits for Enter) and the mean of the two ordinates is returned. An empty table
// gives 0.
float SPLINT(std::span<const float> xa, std::span<const float> ya, std::span<const float> y2a, float x,
             const std::function<void()>& alarm = {});

}  // namespace zelvo
