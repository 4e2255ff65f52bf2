#include "display/zoom.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "platform/graphics.h"

namespace zelvo {

namespace {

constexpr int kMinZoomSize = 50;
// Room for the largest box, 15 x 15 values.
constexpr int kMaxBoxValues = 225;

}  // namespace

ZoomBox whole_image_box(int nx, int ny) { return ZoomBox{nx, ny, (nx + 1) / 2, (ny + 1) / 2}; }

void clamp_zoom_size(ZoomBox& zoom, int nx, int ny) {
  if (zoom.zoomw < kMinZoomSize) zoom.zoomw = kMinZoomSize;
  if (zoom.zoomh < kMinZoomSize) zoom.zoomh = kMinZoomSize;
  if (zoom.zoomw > nx) zoom.zoomw = nx;
  if (zoom.zoomh > ny) zoom.zoomh = ny;
}

void centre_zoom_box(ZoomBox& zoom, float cursorx, float cursory, int nx, int ny) {
  zoom.zoomx = nint_pixel(cursorx);
  zoom.zoomy = nint_pixel(cursory);
  if (zoom.zoomx > nx - zoom.zoomw / 2) zoom.zoomx = nx - zoom.zoomw / 2;
  if (zoom.zoomy > ny - zoom.zoomh / 2) zoom.zoomy = ny - zoom.zoomh / 2;
  if (zoom.zoomx < 1 + (zoom.zoomw - 1) / 2) zoom.zoomx = 1 + (zoom.zoomw - 1) / 2;
  if (zoom.zoomy < 1 + (zoom.zoomh - 1) / 2) zoom.zoomy = 1 + (zoom.zoomh - 1) / 2;
}

Box zoom_pixels(const ZoomBox& zoom) {
  return Box{zoom.zoomx - (zoom.zoomw - 1) / 2, zoom.zoomx + zoom.zoomw / 2, zoom.zoomy - (zoom.zoomh - 1) / 2,
             zoom.zoomy + zoom.zoomh / 2};
}

Box zoom_draw_range(const ZoomBox& zoom, int nx, int ny) {
  const Box r = zoom_pixels(zoom);
  return Box{std::max(1, r.x0), std::min(nx, r.x1), std::max(1, r.y0), std::min(ny, r.y1)};
}

void draw_zoom(ConstImageView image, const DisplayState& disp, const ZoomBox& zoom, Graphics& gfx) {
  gfx.erase();
  gfx.viewport(0.1f, 0.9f, 0.1f, 0.9f);
  const Box box = zoom_pixels(zoom);
  const WorldWindow w = pixel_window(box);
  gfx.window_equal_scales(w.x1, w.x2, w.y1, w.y2);
  const Box shown_pixels = zoom_draw_range(zoom, image.nx, image.ny);
  // A part of the image gets its own levels (the main display's may leave it flat); the whole
  // image is shown as the display showed it.
  const bool whole =
      shown_pixels.x0 == 1 && shown_pixels.y0 == 1 && shown_pixels.x1 == image.nx && shown_pixels.y1 == image.ny;
  const DisplayState shown = whole ? disp : view_state(image, shown_pixels, disp);
  if (shown.greyflag == 0 || shown.greyflag == 1) {
    gfx.image(image, shown_pixels, shown.fglev, shown.bglev, shown.displaytr, shown.greyflag == 1, shown.stretch);
  }
  gfx.box();
  gfx.colour_bar(level_caption(shown, !whole));
}

Box acceptance_box(const ZoomBox& zoom) { return zoom_pixels(zoom); }

bool click_accepted(const Box& box, float x, float y, ConstImageView image) {
  // The nearest pixel lies in x0..x1 exactly when x0 - 0.5 <= x < x1 + 0.5. Written as
  // "inside" so that a NaN position fails every comparison and is refused.
  const double dx = x, dy = y;
  const bool in_box = dy >= box.y0 - 0.5 && dy < box.y1 + 0.5 && dx >= box.x0 - 0.5 && dx < box.x1 + 0.5;
  // The box can reach past the image when another routine has moved its centre.
  return in_box && image.inside(nint_pixel(dx), nint_pixel(dy));
}

bool ends_click_loop(char key) { return key == 'q' || key == 'Q' || key == '\x1b'; }

BoxAnalysis analyse_box(ConstImageView image, float x, float y, int h) {
  std::array<float, kMaxBoxValues> buffer{};
  const int side = 2 * h + 1;
  if (side * side > kMaxBoxValues) return BoxAnalysis{};
  // The centre pixel, kept near the image so that adding the offsets cannot overflow.
  const int cx = std::clamp(nint_pixel(x), -kMaxBoxValues, image.nx + kMaxBoxValues);
  const int cy = std::clamp(nint_pixel(y), -kMaxBoxValues, image.ny + kMaxBoxValues);
  int m = 0;
  for (int a = -h; a <= h; ++a) {
    for (int b = -h; b <= h; ++b) {
      const int px = cx + a, py = cy + b;
      if (image.inside(px, py)) buffer[static_cast<std::size_t>(m++)] = image.at(px, py);
    }
  }
  BoxAnalysis r;
  r.count = m;
  const std::span<const float> values(buffer.data(), static_cast<std::size_t>(m));
  r.stats = AVERAGESIGMA(values, 2);  // undefined (non-finite) pixels are left out
  bool any = false;
  for (float v : values) {
    if (!counted_pixel(v)) continue;
    if (!any || v < r.minimum) r.minimum = v;
    if (!any || v > r.maximum) r.maximum = v;
    any = true;
  }
  return r;
}

}  // namespace zelvo
