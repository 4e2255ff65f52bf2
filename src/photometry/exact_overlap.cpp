#include "photometry/exact_overlap.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {

// The area of the circle (radius r, about the origin) inside [0, x] x [0, y] for x, y >= 0.
// Below the height y the circle is cut by the line v = y from u = 0 to u* = sqrt(r^2 - y^2);
// beyond u* it is bounded by its own arc, whose integral is P(u) = (u s(u) + r^2 asin(u / r)) / 2
// with s(u) = sqrt(r^2 - u^2).
double quadrant_area(double r, double x, double y) {
  if (x <= 0.0 || y <= 0.0) return 0.0;
  const double r2 = r * r;
  if (x * x + y * y <= r2) return x * y;  // the whole rectangle lies in the circle
  if (x > r) x = r;
  if (y > r) y = r;
  const double us = std::sqrt(std::max(0.0, r2 - y * y));
  const double sx = std::sqrt(std::max(0.0, r2 - x * x));
  // arc(x) - arc(us), with asin(x / r) - asin(us / r) as one asin (both angles lie in
  // [0, pi / 2], so their difference does too): sqrt(r^2 - us^2) = y.
  const double dangle = std::asin(std::clamp((x * y - us * sx) / r2, -1.0, 1.0));
  return y * us + 0.5 * (x * sx - us * y) + 0.5 * r2 * dangle;
}

}  // namespace

double circle_corner_area(double r, double x, double y) {
  const double a = quadrant_area(r, std::fabs(x), std::fabs(y));
  return ((x < 0.0) != (y < 0.0)) ? -a : a;
}

double circle_rectangle_area(double r, double x0, double x1, double y0, double y1) {
  if (!(r > 0.0)) return 0.0;
  return circle_corner_area(r, x1, y1) - circle_corner_area(r, x0, y1) - circle_corner_area(r, x1, y0) +
         circle_corner_area(r, x0, y0);
}

double pixel_fraction_in_circle(double xc, double yc, double r, int i, int j) {
  if (!(r > 0.0)) return 0.0;
  const double dx = std::fabs(i - xc), dy = std::fabs(j - yc);
  const double nx = std::max(dx - 0.5, 0.0), ny = std::max(dy - 0.5, 0.0);
  const double r2 = r * r;
  if (nx * nx + ny * ny >= r2) return 0.0;  // the nearest point of the pixel is outside
  const double fx = dx + 0.5, fy = dy + 0.5;
  if (fx * fx + fy * fy <= r2) return 1.0;  // the farthest corner is inside
  // By symmetry the pixel may be folded into the first quadrant about the centre.
  return circle_rectangle_area(r, dx - 0.5, dx + 0.5, dy - 0.5, dy + 0.5);
}

}  // namespace zelvo
