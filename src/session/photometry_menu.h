// The O submenu: zoom box, aperture radii, exposure time and the measurement of clicked stars.
#pragma once

#include <filesystem>
#include <iosfwd>

#include "display/display.h"
#include "display/zoom.h"
#include "session/mouse_menu.h"
#include "fits/sky_coordinates.h"
#include "numeric/image_view.h"
#include "photometry/apphot.h"

namespace zelvo {

class Console;
class Graphics;

// What the O submenu works on: the active image and its exposure time, the display state
// and zoom box of the session, the last cursor read, and the text and graphics windows.
struct PhotometryContext {
  ImageView image;
  float& exptime;
  const DisplayState& disp;
  ZoomBox& zoom;
  CursorState cursor;
  Console& con;
  Graphics& gfx;
  std::filesystem::path log_path = "ZelvoApPhot.log";
  // The image's WCS, for the sky position of each measured centre (none: no such line).
  const SkyCoordinatesParse* sky = nullptr;
};

// Measures the star at (xcen, ycen) with APPHOT and prints its report: the refusal of a star
// whose rings cannot be traced, the truncation and retrace notes, the annulus, star and
// corrected-flux lines (INDEF for a value that cannot be computed) with their notes, and
// appends the record "xcen ycen corrected magnitude" to `log` (when given).
Photometry report_apphot(const ImageView& image, float xcen, float ycen, const ApertureRadii& radii, Console& con,
                         std::ostream* log, float exptime = 0.0f);

// The aperture-photometry submenu: resets the zoom box to the whole image and the radii to
// their defaults, appends the log header, and runs the menu (zoom box, radii, exposure time,
// measuring clicked stars) until the user chooses 0.
void photometry_submenu(PhotometryContext ctx);

}  // namespace zelvo
