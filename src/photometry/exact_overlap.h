// The exact area a circle shares with a pixel: each pixel of an aperture counts with the
// fraction of its area inside the circle, so an aperture's area is the circle's, pi r^2.
#pragma once

namespace zelvo {

// Area of the circle of radius r about the origin inside the rectangle [x0, x1] x [y0, y1]
// (x0 <= x1, y0 <= y1). Closed form: the signed area of the circle in the quarter planes
// of the four corners, added with the corners' signs.
double circle_rectangle_area(double r, double x0, double x1, double y0, double y1);

// The signed area of that circle inside the rectangle between the axes and the corner (x, y):
// positive in the first and third quadrants, odd in x and in y. A rectangle's area is the sum of
// its four corners' values with alternating signs, so neighbouring pixels share their corners.
double circle_corner_area(double r, double x, double y);

// The fraction of the area of pixel (i, j) - the unit square centred on (i, j), as the
// image's pixel (i, j) is centred on (i, j) - inside the circle of radius r about (xc, yc).
double pixel_fraction_in_circle(double xc, double yc, double r, int i, int j);

}  // namespace zelvo
