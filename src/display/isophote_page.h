// The page of a galaxy's isophotes: the image with the isophotes drawn over it, and the
// intensity (or surface brightness), ellipticity, position angle and centre against the
// semi-major axis. Drawing only; the dialogue that runs it is session/remove_galaxy.cpp.
#pragma once

#include <optional>
#include <span>

#include "display/display.h"
#include "galaxy/isophote_fit.h"
#include "numeric/image_view.h"

namespace zelvo {

class Graphics;

// An ellipse of semi-major axis a, ellipticity eps and angle pa (radians from +x towards +y)
// around (x0, y0), drawn closed in colour index `colour` over the current window.
void draw_ellipse(Graphics& gfx, double x0, double y0, double a, double eps, double pa, int colour);

// What the page shows besides the image.
struct IsophotePage {
  std::span<const Isophote> isophotes;
  double sky = 0.0;                  // subtracted before the surface brightness is taken
  std::optional<double> zero_point;  // magnitudes: the top panel shows zp - 2.5 log10(I - sky)
};

// The whole page: erased, the image at the levels `shown` (left) with every isophote drawn
// (green where fitted, red where the geometry was carried or fixed), and four panels on the
// right against the semi-major axis.
void draw_isophote_page(Graphics& gfx, ConstImageView image, const DisplayState& shown, const IsophotePage& page);

}  // namespace zelvo
