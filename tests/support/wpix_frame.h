// The header cards of IRAF's M51 frame (tests/fits/data/wpix.fits.gz, a real TAN WCS), as the
// program loads them.
#pragma once

#include <string>
#include <vector>

#include "fits/fits_io.h"

namespace zelvo::test_images {

inline std::vector<std::string> wpix_cards() {
  return READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/fits/data/wpix.fits.gz").header.cards;
}

}  // namespace zelvo::test_images
