// The O submenu: zoom box, aperture radii, exposure time, gain and the measurement of stars.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "photometry/apphot.h"
#include "photometry/psf.h"

namespace zelvo {

class Console;
struct Session;
struct SkyCoordinatesParse;

// Where the O submenu appends its measurements (the working folder by default): the text log,
// the ECSV catalogue (one row per measurement) and the DS9 region file of the apertures.
struct PhotometryFiles {
  std::filesystem::path log = "ZelvoApPhot.log";
  std::filesystem::path catalogue = "ZelvoApPhot.ecsv";
  std::filesystem::path regions = "ZelvoApPhot.reg";
};

// Gain (electrons per count) and read noise (electrons) of the detector, and where they came
// from: the header (GAIN or EGAIN, RDNOISE or READNOIS), typed in O, or unknown (gain 1).
struct Detector {
  double gain = 1.0;
  std::optional<double> read_noise;
  std::string source = "none in the header, 1 assumed";
  std::vector<std::string> refusals;  // one line for each header value that was not plausible
};
Detector detector_from_cards(const std::vector<std::string>& cards);
// The gains (e-/count, 0.001 to 100000) and read noises (e-, 0 to 100000) taken as a detector's,
// from a header, O's option 5 or the photometry job alike.
bool plausible_gain(double g);
bool plausible_read_noise(double r);

// The saturation level a header gives (SATURATE, else SATLEVEL; above 0), or none.
std::optional<double> saturation_from_cards(const std::vector<std::string>& cards);

// Everything the measurement of one star needs besides its position.
struct StarJob {
  ConstImageView image;
  PsfRequest psf;  // the centroid and saturation test
  ApertureRadii radii;
  float exptime = 0.0f;
  Detector detector;
  std::string file;                          // the image's file name, for the catalogue
  const SkyCoordinatesParse* sky = nullptr;  // pixel -> sky for the catalogue and the report
  std::ostream* log = nullptr;               // the text log (none: not logged)
  const PhotometryFiles* files = nullptr;    // the catalogue and regions (none: not written)
};

// What became of one star.
struct StarOutcome {
  bool saturated = false;
  float xcen = 0.0f, ycen = 0.0f;  // the measured centre
  std::optional<std::pair<int32_t, int32_t>> centroid_pixel;
  Photometry p;
};

// O's work on one star at (x, y): GETPSF refines the centre and tests saturation (its lines
// printed); a saturated star gets its log record; otherwise the centre and its sky position
// are printed, the star measured and reported (report_apphot), and its row and apertures
// appended to the catalogue and the region file. Shared by O and `zelvo run photometry`.
StarOutcome measure_star(const StarJob& job, float x, float y, Console& con);

// Measures the star at (xcen, ycen) with APPHOT and prints its report: the truncation note, the
// annulus, star and corrected-flux lines (INDEF for a value that cannot be computed), the flux
// and magnitude errors with the gain used, and the sky subtracted; appends the record
// "xcen ycen corrected magnitude" to `log` (when given).
Photometry report_apphot(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, Console& con,
                         std::ostream* log, float exptime = 0.0f, const Detector& detector = {});

// The catalogue row of one measurement (columns x, y, ra, dec, r_star, r_in, r_out, area,
// flux, flux_err, sky, sky_sigma, n_sky, mag, mag_err, exptime, file) appended to
// files.catalogue, and its three circles to files.regions; a notice or failure is printed.
void catalogue_star(const PhotometryFiles& files, const StarJob& job, float xcen, float ycen, const Photometry& p,
                    Console& con);

// The aperture-photometry submenu on the active image: resets the zoom box to the whole
// image and the radii to their defaults, appends the log header, and runs the menu (zoom
// box, radii, exposure time, gain, measuring clicked stars) until the user chooses 0.
void photometry_submenu(Session& s, const PhotometryFiles& files = {});

}  // namespace zelvo
