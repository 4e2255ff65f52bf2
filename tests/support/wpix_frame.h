// The header cards of IRAF's M51 frame (tests/fits/data/wpix.fits.gz, a real TAN WCS), as the
// program loads them.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "platform/console.h"

namespace zelvo::test_images {

inline std::vector<std::string> wpix_cards() {
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  int status = 0;
  std::ostringstream sink;
  Console con(std::cin, sink, false);
  READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/fits/data/wpix.fits.gz", img, hdr, texts, status, con);
  return hdr.cards;
}

}  // namespace zelvo::test_images
