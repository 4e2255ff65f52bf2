// The zoom box (the part of the image that mouse operations work on and the graphics
// window shows enlarged) and the pixel analysis under the cursor.
#pragma once

#include "display/display.h"
#include "fits/sky_coordinates.h"
#include "geometry/box.h"
#include "numeric/image_view.h"
#include "numeric/statistics.h"

namespace zelvo {

// The first lines of the menus that work with the zoom box (mouse operations, photometry).
inline constexpr const char* kZoomMenuHead = "What do you want to do?   [N.B. You must display an image] ";
inline constexpr const char* kZoomMenuSetBox = "  1) Set the zoom box size for operations and zoom in; ";
inline constexpr const char* kZoomMenuBoxSize = "      current box size (width x height) = ";

class Console;
class Graphics;

// The last cursor read: position in world (pixel) coordinates and the key or button.
struct CursorState {
  float& cursorx;
  float& cursory;
  char& cursorkey;
};

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
PixelRange zoom_pixels(const ZoomBox& zoom);

// The pixels of the box that lie on the image.
PixelRange zoom_draw_range(const ZoomBox& zoom, int nx, int ny);

// Draws the box's pixels so that they fill the frame with square pixels, with the levels
// of the last display (the file label is not drawn). The window then shows exactly the
// area whose clicks the box accepts.
void draw_zoom(const ImageView& image, const DisplayState& disp, const ZoomBox& zoom, Graphics& gfx);

// SETZOOMBOX: asks for the box size and, unless the box is the whole image, reads the click
// on the area to zoom to (starting at the image centre) and draws that area enlarged. A box
// of the image's size is the whole image again, centred on it and drawn whole.
void SETZOOMBOX(const ImageView& image, const DisplayState& disp, ZoomBox& zoom, CursorState cursor,
                Console& con, Graphics& gfx);

// Clicks accepted by the analysis: those on a pixel of the box.
PixelRange acceptance_box(const ZoomBox& zoom);

// Whether the pixel nearest to a click at (x, y) lies within the box (limits included) and
// on the image. A position that is not a number is never accepted.
bool click_accepted(const PixelRange& box, float x, float y, const ImageView& image);

// Whether a cursor key ends a loop of clicks as a click outside would: q, Q or Esc.
bool ends_click_loop(char key);

// Statistics of the (2h + 1) x (2h + 1) box around a click: the pixels at
// (NINT(x) + a, NINT(y) + b) for a, b = -h .. h that lie inside the image, the box centred
// on the pixel under the click.
struct BoxAnalysis {
  AverageSigma stats;     // AVERAGESIGMA of the inside pixels with 2-sigma clipping
  float minimum = 0.0f;   // smallest and largest finite inside pixel
  float maximum = 0.0f;
  int count = 0;          // number of inside pixels
};
BoxAnalysis analyse_box(const ImageView& image, float x, float y, int h);

// Prints the clicked pixel (the one nearest to the click), its sky position when `sky` holds a celestial WCS, and the
// 5 x 5, 9 x 9 and 15 x 15 box statistics around (x, y); the click must be accepted (on a
// pixel of the image).
void report_pixel_analysis(const ImageView& image, float x, float y, Console& con,
                           const SkyCoordinatesParse* sky = nullptr);

// The analysis loop: reads clicks (starting where the cursor was last) and reports each one
// until a click outside the acceptance box, which is reported and ends the loop, or the key
// q, Q or Esc, which ends it at once.
void analysis_loop(const ImageView& image, const ZoomBox& zoom, CursorState cursor, Console& con,
                   Graphics& gfx, const SkyCoordinatesParse* sky = nullptr);

}  // namespace zelvo
