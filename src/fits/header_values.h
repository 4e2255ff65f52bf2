// Header values the program takes from a FITS file.
#pragma once

#include <string>
#include <vector>

#include "text/header_texts.h"

namespace zelvo {

// Values kept per image slot.
struct SlotHeader {
  float exptime = 0.0f;                       // EXPTIME, or ITIME when there is no EXPTIME
  std::string object = std::string(20, ' ');  // OBJECT, 20 characters, apostrophes blanked
  // Every header card of the loaded image HDU as read (80 columns each, in file order, END
  // excluded; of a tile-compressed image, the header of the image as CFITSIO restores it);
  // empty for images made in the session. Kept whole: S and X leave out the structural,
  // scaling, checksum and compression cards when they write a file.
  std::vector<std::string> cards;
};

}  // namespace zelvo
