// M: the mouse-operations submenu (zoom box and pixel analysis) and the dialogues of the
// zoom box that the photometry submenu shares.
#pragma once

#include "display/display.h"
#include "display/zoom.h"
#include "fits/sky_coordinates.h"
#include "numeric/image_view.h"

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

// SETZOOMBOX: asks for the box size and, unless the box is the whole image, reads the click
// on the area to zoom to (starting at the image centre) and draws that area enlarged. A box
// of the image's size is the whole image again, centred on it and drawn whole.
void SETZOOMBOX(const ImageView& image, const DisplayState& disp, ZoomBox& zoom, CursorState cursor,
                Console& con, Graphics& gfx);

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
