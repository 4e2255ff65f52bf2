// Independent sky positions for the WCS tests: astropy.wcs run by Debian's python3.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fits/sky_coordinates.h"

namespace zelvo::testing {

class ScratchFolder;

// Runs `script` with Debian's /usr/bin/python3 (which has astropy and photutils) in `dir`,
// with `args` appended to the command line (the caller quotes them); its standard output, or
// "" when it failed.
std::string run_python(const ScratchFolder& dir, const char* script, const std::string& args);

struct AstropySky {
  std::vector<SkyPoint> sky;  // one per pixel position, degrees (NaN where astropy has none)
  std::string radesys;        // astropy's wcs.radesys ('-' when blank) and wcs.equinox (0 when undefined)
  double equinox = 0.0;
};

// The sky positions astropy.wcs.WCS(header).all_pix2world gives for pixel positions in FITS
// coordinates (origin 1). `cards` are 80-column header cards. Nothing when
// /usr/bin/python3 cannot import astropy (the caller skips its test then); fewer positions
// than pixels when astropy failed on the header.
std::optional<AstropySky> astropy_sky(const std::vector<std::string>& cards,
                                      const std::vector<std::pair<double, double>>& pixels);

// Several headers at once (one python run): the sky positions of each query's pixels, in
// query order. Nothing when astropy is missing.
struct SkyQuery {
  std::vector<std::string> cards;
  std::vector<std::pair<double, double>> pixels;
  char key = ' ';  // the description: ' ' the primary one, 'A'-'Z' an alternate
};
std::optional<std::vector<AstropySky>> astropy_sky_batch(const std::vector<SkyQuery>& queries);

// The header cards of the primary HDU of a FITS file, as astropy reads them (80 columns each).
std::vector<std::string> astropy_cards(const std::string& fits_path);

// A wide-field plate: rotated CD matrix, third-order SIP distortion and its inverse, ICRS.
std::vector<std::string> sip_header_cards();

// Angular distance between two sky positions, in arcseconds.
double separation_arcsec(const SkyPoint& a, const SkyPoint& b);

// A 80-column card "NAME    = value" (value right-aligned in columns 11-30, as FITS writes numbers;
// strings are given with their quotes and start in column 11).
std::string card(const std::string& name, const std::string& value);

}  // namespace zelvo::testing
