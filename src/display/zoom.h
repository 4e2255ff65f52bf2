// The zoom box (the part of the image that mouse operations work on and the graphics
// window shows enlarged), its drawing and the box statistics under the cursor.
#pragma once

#include "display/display.h"
#include "numeric/box.h"
#include "numeric/image_view.h"
#include "numeric/statistics.h"

namespace zelvo {

class Graphics;

// The box covering the whole nx x ny image, centred at ((nx + 1)/2, (ny + 1)/2) (integer
// divisions): the middle pixel, or the pixel left of (below) the middle of an even size.
ZoomBox whole_image_box(int nx, int ny);

// Raises the box size to at least 50 and lowers it to at most the image size.
void clamp_zoom_size(ZoomBox& zoom, int nx, int ny);

// Centres the box on the pixel nearest to (cursorx, cursory), then moves it so that its
// pixels (see zoom_pixels) stay inside the image: the upper edge first, then the lower edge.
void centre_zoom_box(ZoomBox& zoom, float cursorx, float cursory, int nx, int ny);

// The zoomw x zoomh pixels of the box: columns zoomx - (zoomw - 1)/2 .. zoomx + zoomw/2 and
// rows likewise (integer divisions; an even size has its extra pixel right of and above the
// centre). A box of the image's size covers every pixel of the image.
Box zoom_pixels(const ZoomBox& zoom);

// The pixels of the box that lie on the image.
Box zoom_draw_range(const ZoomBox& zoom, int nx, int ny);

// Draws the box's pixels so that they fill the frame with square pixels, with the levels
// of the last display (the file label is not drawn). The window then shows exactly the
// area whose clicks the box accepts.
void draw_zoom(ConstImageView image, const DisplayState& disp, const ZoomBox& zoom, Graphics& gfx);

// Clicks accepted by the analysis: those on a pixel of the box.
Box acceptance_box(const ZoomBox& zoom);

// Whether the pixel nearest to a click at (x, y) lies within the box (limits included) and
// on the image. A position that is not a number is never accepted.
bool click_accepted(const Box& box, float x, float y, ConstImageView image);

// Whether a cursor key ends a loop of clicks as a click outside would: q, Q or Esc.
bool ends_click_loop(char key);

// Statistics of the (2h + 1) x (2h + 1) box around a click: the pixels at
// (NINT(x) + a, NINT(y) + b) for a, b = -h .. h that lie inside the image, the box centred
// on the pixel under the click.
struct BoxAnalysis {
  AverageSigma stats;    // AVERAGESIGMA of the inside pixels with 2-sigma clipping
  float minimum = 0.0f;  // smallest and largest finite inside pixel
  float maximum = 0.0f;
  int count = 0;  // number of inside pixels
};
BoxAnalysis analyse_box(ConstImageView image, float x, float y, int h);

}  // namespace zelvo
