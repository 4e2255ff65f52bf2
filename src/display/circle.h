// Circles and ellipses drawn over the displayed image to mark objects and areas.
#pragma once

#include <array>

namespace zelvo {

class Graphics;

// The 361 points of a circle of radius r (pixels) around (xc, yc), at 0, 1, ..., 360 degrees,
// computed in double precision and stored as 32-bit floats: the last point is the first
// again, so the drawn circle is closed.
struct CirclePoints {
  std::array<float, 361> x, y;
};
CirclePoints circle_points(float xc, float yc, float r);

// CIRCLE: draws the circle in world (pixel) coordinates with line width 3 in colour index ci,
// and leaves the device with colour index 1 and line width 3.
void CIRCLE(float xc, float yc, float r, int ci, Graphics& gfx);

// The outline of an ellipse around (xc, yc): semi-major axis a, eccentricity e, position angle
// pa (radians, from +x towards +y), as 361 points in colour index ci; leaves colour index 1.
void draw_ellipse_outline(float xc, float yc, float a, float e, float pa, int ci, Graphics& gfx);

}  // namespace zelvo
