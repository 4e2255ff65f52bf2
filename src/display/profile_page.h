// The four-panel profile page of the galaxy submenu: the image with its ellipses (lower
// left), every pixel value with the binned profile (upper left), the sky histogram (lower
// right) and the rotation curve (upper right). Drawing only.
#pragma once

#include <span>

#include "galaxy/profile.h"
#include "galaxy/rotation.h"
#include "numeric/image_view.h"

namespace zelvo {

class Graphics;

// The lower-left panel: the page erased, the image in grey with the centre marked, the
// ellipses of the bins, of the extent R (red) and of 2R (blue).
void draw_image_panel(ConstImageView image, float xc, float yc, float fglev, float bglev, float R, float step, float e,
                      float pa, Graphics& gfx);

// The upper-left panel: every pixel value against its elliptical radius (`values` after the
// sky is taken off for the flux scale; magnitudes run downward).
void draw_pixel_panel(const PixelScan& scan, std::span<const float> values, float R, ProfileScale scale, Graphics& gfx);

// The lower-right panel: the sky histogram, and the mark of the chosen sky level above it.
void draw_sky_histogram(std::span<const float> rsky, std::span<const float> skypr, float ymax2, Graphics& gfx);
void draw_sky_mark(float sky, float ymax2, Graphics& gfx);

// The binned profile as a red polyline over the pixel panel.
void draw_profile_line(const BinnedProfile& p, Graphics& gfx);

// The upper-right panel: the rotation curve (the last computed point is not drawn).
void draw_rotation_panel(const RotationCurve& c, float R, Graphics& gfx);

// ELLIP: draws the ellipse of semi-major axis a, eccentricity e, position angle pa (radians)
// around the centre in colour index `colour`, with line width 3.
void ELLIP(Graphics& gfx, float xc, float yc, float a, float e, float pa, int colour);

}  // namespace zelvo
