#include "display/circle.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/graphics.h"

namespace zelvo {

CirclePoints circle_points(float xc, float yc, float r) {
  CirclePoints p;
  for (int i = 0; i <= 360; ++i) {
    const double angle = i * std::numbers::pi / 180.0;
    p.x[static_cast<std::size_t>(i)] = static_cast<float>(xc + static_cast<double>(r) * std::cos(angle));
    p.y[static_cast<std::size_t>(i)] = static_cast<float>(yc + static_cast<double>(r) * std::sin(angle));
  }
  p.x[360] = p.x[0];  // exactly closed
  p.y[360] = p.y[0];
  return p;
}

void CIRCLE(float xc, float yc, float r, int ci, Graphics& gfx) {
  const CirclePoints p = circle_points(xc, yc, r);
  gfx.focus();
  gfx.line_width(3);
  gfx.colour(ci);
  gfx.line(p.x, p.y);
  gfx.colour(1);
  gfx.line_width(3);
}

void draw_ellipse_outline(float xc, float yc, float a, float e, float pa, int ci, Graphics& gfx) {
  std::vector<float> x, y;
  const float b = a * std::sqrt(1.0f - e * e);
  for (int t = 0; t <= 360; ++t) {
    const double th = t * 3.141592653589793 / 180.0;
    const double u = a * std::cos(th), v = b * std::sin(th);
    x.push_back(static_cast<float>(xc + u * std::cos(pa) - v * std::sin(pa)));
    y.push_back(static_cast<float>(yc + u * std::sin(pa) + v * std::cos(pa)));
  }
  gfx.colour(ci);
  gfx.line(x, y);
  gfx.colour(1);
}

}  // namespace zelvo
