// The four-panel profile page: the image with its ellipses, the pixel values, the sky
// histogram, the binned profile and the rotation curve. Drawing only; the dialogue that
// runs it is session/galaxy_menu.cpp.
#include "display/profile_page.h"

#include <array>
#include <string>
#include <string_view>

#include "platform/graphics.h"

namespace zelvo {

namespace {

// The caption under the image panel.
constexpr std::string_view kImageCaption = "Image";

}  // namespace

void draw_image_panel(ConstImageView image, float xc, float yc, float fglev, float bglev, float R, float step, float e,
                      float pa, Graphics& gfx) {
  gfx.focus();
  gfx.erase();
  // Square pixels: the largest centred part of the panel with equal scales.
  gfx.viewport(0.1f, 0.45f, 0.1f, 0.45f);
  gfx.window_equal_scales(0.5f, static_cast<float>(image.nx) + 0.5f, 0.5f, static_cast<float>(image.ny) + 0.5f);
  gfx.box();
  const std::array<float, 6> tr{0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};  // pixel (i, j) centred on (i, j)
  gfx.image(image, Box{1, image.nx, 1, image.ny}, fglev, bglev, tr, true);
  gfx.char_height(1.0f);
  gfx.text(static_cast<float>(image.nx / 2), static_cast<float>(-image.ny / 5), 0.0f, 0.5f, std::string(kImageCaption));
  const float cx = xc, cy = yc;
  gfx.points({&cx, 1}, {&cy, 1}, 9);
  for (float r : ellipse_radii(R, step)) ELLIP(gfx, xc, yc, r, e, pa, 3);
  ELLIP(gfx, xc, yc, R, e, pa, 2);
  ELLIP(gfx, xc, yc, 2.0f * R, e, pa, 4);
}

void draw_pixel_panel(const PixelScan& scan, std::span<const float> values, float R, ProfileScale scale,
                      Graphics& gfx) {
  gfx.focus();
  gfx.viewport(0.1f, 0.45f, 0.55f, 0.9f);
  if (scale == ProfileScale::flux)
    gfx.window(0.0f, R, -3000.0f, scan.ymax);
  else
    gfx.window(0.0f, R, scan.ymax, scan.ymin);  // magnitudes: small values at the top
  gfx.points(scan.radii, values, -1);
  gfx.box();
  gfx.label("R (pixels)", scale == ProfileScale::flux ? "flux" : "magnitude", " ");
}

void draw_sky_histogram(std::span<const float> rsky, std::span<const float> skypr, float ymax2, Graphics& gfx) {
  gfx.focus();
  gfx.viewport(0.55f, 0.9f, 0.1f, 0.45f);
  gfx.window(-400.0f, 400.0f, 0.0f, 1.2f * ymax2);
  gfx.line(rsky, skypr);
  gfx.box();
  gfx.label("skypr (counts)", "N", " ");
}

void draw_sky_mark(float sky, float ymax2, Graphics& gfx) {
  gfx.focus();
  gfx.colour(3);
  const std::array<float, 2> sx{sky, sky}, sy{1.1f * ymax2, 1.2f * ymax2};
  gfx.line(sx, sy);
  gfx.colour(1);
}

void draw_profile_line(const BinnedProfile& p, Graphics& gfx) {
  gfx.focus();
  gfx.colour(2);
  gfx.line(p.rprof, p.prof);
  gfx.colour(1);
}

void draw_rotation_panel(const RotationCurve& c, float R, Graphics& gfx) {
  gfx.focus();
  gfx.viewport(0.55f, 0.9f, 0.55f, 0.9f);
  gfx.window(0.0f, R, 0.0f, 1.2f * c.vmax);
  // The last computed point is logged but not drawn.
  const std::size_t drawn = c.rrot.empty() ? 0 : c.rrot.size() - 1;
  const std::span<const float> rx(c.rrot.data(), drawn), vy(c.vrot.data(), drawn);
  gfx.points(rx, vy, 9);
  gfx.line(rx, vy);
  gfx.box();
  gfx.label("R (pixels)", "Vrot", " ");
}

void ELLIP(Graphics& gfx, float xc, float yc, float a, float e, float pa, int colour) {
  EllipsePath p = ellipse_points(xc, yc, a, e, pa);
  // Joined back to its first point, so the ellipse is drawn closed.
  if (!p.x.empty()) {
    p.x.push_back(p.x.front());
    p.y.push_back(p.y.front());
  }
  gfx.line_width(3);
  gfx.colour(colour);
  gfx.line(p.x, p.y);
  gfx.colour(1);
  gfx.line_width(3);
}

}  // namespace zelvo
