// M: the mouse-operations submenu (zoom box and pixel analysis) and the dialogues of the
// zoom box that the photometry submenu shares.
#pragma once

#include <string_view>

#include "display/display.h"
#include "display/zoom.h"
#include "fits/sky_coordinates.h"
#include "numeric/image_view.h"

namespace zelvo {

// The first lines of the menus that work with the zoom box (mouse operations, photometry).
inline constexpr std::string_view kZoomMenuHead = "What do you want to do?   [N.B. You must display an image] ";
inline constexpr std::string_view kZoomMenuSetBox = "  1) Set the zoom box size for operations and zoom in; ";
inline constexpr std::string_view kZoomMenuBoxSize = "      current box size (width x height) = ";

class Console;
struct Session;

// SETZOOMBOX on the active image: asks for the box size and, unless the box is the whole
// image, reads the click on the area to zoom to (starting at the image centre) and draws that
// area enlarged. A box of the image's size is the whole image again, centred on it and drawn
// whole. The click must fall on the pixels the window shows (those of the session's zoom
// box); q or Esc leaves the box as it was.
void SETZOOMBOX(Session& s);
// The same where the window shows the pixels of `shown`.
void set_zoom_box(Session& s, const ZoomBox& shown);

// Prints the clicked pixel (the one nearest to the click), its sky position when `sky` holds a celestial WCS, and the
// 5 x 5, 9 x 9 and 15 x 15 box statistics around (x, y); the click must be accepted (on a
// pixel of the image).
void report_pixel_analysis(ConstImageView image, float x, float y, Console& con,
                           const SkyCoordinatesParse* sky = nullptr);

// The analysis loop on the active image: reads clicks (starting where the cursor was last)
// and reports each one until a click outside the session's zoom box, which is reported and
// ends the loop, or the key q, Q or Esc, which ends it at once.
void analysis_loop(Session& s, const SkyCoordinatesParse* sky = nullptr);

}  // namespace zelvo
