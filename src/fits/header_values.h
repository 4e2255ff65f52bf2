// Header values the program takes from a FITS file.
#pragma once

#include <string>

namespace zelvo {

// Values kept per image slot.
struct SlotHeader {
  float exptime = 0.0f;                 // EXPTIME
  std::string object = std::string(20, ' ');  // OBJECT, 20 characters, apostrophes blanked
};

// Values of the last loaded file, shared by the whole session (15 characters each).
struct HeaderTexts {
  std::string hdrst = std::string(15, ' ');
  std::string hdrra = std::string(15, ' ');
  std::string hdrdec = std::string(15, ' ');
  std::string hdrfilter = std::string(15, ' ');
};

}  // namespace zelvo
