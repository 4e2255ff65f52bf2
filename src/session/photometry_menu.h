// The O submenu: zoom box, aperture radii, exposure time and the measurement of clicked stars.
#pragma once

#include <filesystem>
#include <iosfwd>

#include "numeric/image_view.h"
#include "photometry/apphot.h"

namespace zelvo {

class Console;
struct Session;

// Where the O submenu appends its measurements (the working folder by default).
struct PhotometryFiles {
  std::filesystem::path log = "ZelvoApPhot.log";
};

// Measures the star at (xcen, ycen) with APPHOT and prints its report: the refusal of a star
// whose rings cannot be traced, the truncation and retrace notes, the annulus, star and
// corrected-flux lines (INDEF for a value that cannot be computed) with their notes, and
// appends the record "xcen ycen corrected magnitude" to `log` (when given).
Photometry report_apphot(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, Console& con,
                         std::ostream* log, float exptime = 0.0f);

// The aperture-photometry submenu on the active image: resets the zoom box to the whole
// image and the radii to their defaults, appends the log header, and runs the menu (zoom
// box, radii, exposure time, measuring clicked stars) until the user chooses 0.
void photometry_submenu(Session& s, const PhotometryFiles& files = {});

}  // namespace zelvo
