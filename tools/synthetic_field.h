// A deterministic synthetic sky field: sample data for the demo and the tests.
//
// The field holds a sky with a gentle gradient, stars with Moffat or Gaussian profiles,
// one saturated star with a vertical bleeding column, an elliptical galaxy with an
// exponential or de Vaucouleurs profile, Gaussian read noise plus photon noise, and the
// header cards the loader reads. The same options (seed included) give the same pixels.
// Coordinates are 1-based pixel coordinates with pixel (x, y) centred on (x, y).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo {

enum class StarProfile { Moffat, Gaussian };
enum class GalaxyProfile { None, Exponential, DeVaucouleurs };

struct FieldOptions {
  int nx = 512;
  int ny = 512;
  uint64_t seed = 7;

  float sky = 1000.0f;        // sky level at the field centre [counts]
  float sky_slope_x = 0.03f;  // sky gradient [counts per pixel]
  float sky_slope_y = -0.02f;
  float noise = 10.0f;  // Gaussian noise of the sky [counts]
  float gain = 5.0f;    // electrons per count, for the photon noise of objects (0: none)

  int stars = 30;  // ordinary (unsaturated) stars
  StarProfile star_profile = StarProfile::Moffat;
  float fwhm = 3.5f;  // [pixels]
  float moffat_beta = 3.0f;
  float faintest_flux = 2000.0f;  // total counts of the faintest and brightest ordinary star
  float brightest_flux = 400000.0f;

  bool saturated_star = true;
  float saturation = 60000.0f;  // level at which pixels clip [counts]

  GalaxyProfile galaxy = GalaxyProfile::DeVaucouleurs;
  float galaxy_surface_brightness = 150.0f;  // at the effective radius [counts per pixel]

  // Header values.
  std::string object = "NGC 3379";
  float exptime = 300.0f;      // [s]
  double ra_deg = 161.956667;  // pointing (J2000) [degrees]
  double dec_deg = 12.581667;
  double st_hours = 9.209361;  // sidereal time at the start [hours]
  char filter = 'R';
  int bitpix = -32;  // -32 (float) or 16 (unsigned 16-bit with BZERO 32768)
};

struct FieldStar {
  double x = 0.0, y = 0.0;  // centre
  double flux = 0.0;        // total counts above the sky, before clipping
  double peak = 0.0;        // peak value of the noiseless profile above the sky
};

struct FieldGalaxy {
  GalaxyProfile profile = GalaxyProfile::None;
  double x = 0.0, y = 0.0;      // centre
  double r_eff = 0.0;           // effective (half-light) radius along the major axis [pixels]
  double axis_ratio = 1.0;      // minor / major
  double position_angle = 0.0;  // major axis, degrees from +x towards +y
  double flux = 0.0;            // total counts above the sky
};

// The column of saturated pixels that the saturated star bleeds along.
struct BleedColumn {
  int x = 0;
  int y_first = 0, y_last = 0;  // inclusive; empty when y_last < y_first
};

struct SyntheticField {
  Image image;
  std::vector<FieldStar> stars;  // the ordinary stars
  bool has_saturated = false;
  FieldStar saturated;  // the saturated star (flux before clipping)
  BleedColumn bleed;
  FieldGalaxy galaxy;
  // The noiseless sky: sky_centre at (cx, cy), sloping by slope_x, slope_y per pixel.
  double sky_centre = 0.0, slope_x = 0.0, slope_y = 0.0;
  double cx = 0.0, cy = 0.0;

  double sky_at(double x, double y) const { return sky_centre + slope_x * (x - cx) + slope_y * (y - cy); }
};

// Builds the field. Sizes below 1 give an empty image; small fields hold what fits.
SyntheticField synthetic_field(const FieldOptions& options);

// The header cards (80 columns each) written after the mandatory ones: OBJECT, EXPTIME,
// a world-coordinate block, RA, DEC and ST with their texts in columns 35-45 (46 for DEC),
// and the filter pair: a HIERARCH card with "FILTER  " in columns 32-39 followed by one
// with the filter letter in column 32.
std::vector<std::string> field_header_cards(const FieldOptions& options);

// Writes `image` with the header cards of `options` as a new FITS file (BITPIX of the
// options). An existing file is refused (CFITSIO status 105) unless `overwrite`.
// Returns the CFITSIO status, 0 on success; a failed write leaves no file behind.
int write_field_fits(const std::string& path, const Image& image, const FieldOptions& options, bool overwrite = false);

}  // namespace zelvo
