// Header values the program takes from a FITS file.
#pragma once

#include <string>
#include <vector>

namespace zelvo {

// Values kept per image slot.
struct SlotHeader {
  float exptime = 0.0f;                 // EXPTIME
  std::string object = std::string(20, ' ');  // OBJECT, 20 characters, apostrophes blanked
  // Every header card of the loaded image HDU as read (80 columns each, in file order);
  // empty for images made in the session.
  std::vector<std::string> cards;
};

// Values of the last loaded file, shared by the whole session (15 characters each).
struct HeaderTexts {
  std::string hdrst = std::string(15, ' ');
  std::string hdrra = std::string(15, ' ');
  std::string hdrdec = std::string(15, ' ');
  std::string hdrfilter = std::string(15, ' ');
};

}  // namespace zelvo
