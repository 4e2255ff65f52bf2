// The header texts the display's summary line shows, as the FITS reader takes them from a file.
#pragma once

#include <string>

namespace zelvo {

// ST, RA, DEC and filter texts of one loaded file, kept with its slot (15 characters each,
// blank when the file has no such card).
struct HeaderTexts {
  std::string hdrst = std::string(15, ' ');
  std::string hdrra = std::string(15, ' ');
  std::string hdrdec = std::string(15, ' ');
  std::string hdrfilter = std::string(15, ' ');
};

}  // namespace zelvo
