// Option 4 of the remove-features submenu: the stars of the image found, shown, edited by
// the user and written as the object list options 8 and 9 read, with a catalogue
// (ZelvoStars.ecsv) and a DS9 region file (ZelvoStars.reg) beside it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zelvo {

struct Session;
struct RemovalFiles;

// The dialogue on the session's active slot. Asks the threshold (or takes the name of a list
// or region file for options 8 and 9 instead) and the FWHM, finds the stars, draws them
// (green: stars, red: saturated stars), lets the user drop, add and exclude stars with the
// cursor, and writes the list: an existing list is replaced, appended to or kept under
// another name only as the user says, and a failed write leaves it as it was. The name
// written becomes the session's list (Session::object_list).
void find_stars_dialogue(Session& s, const RemovalFiles& files);

// Option 4 without the editing, for `zelvo run find`: the stars of the active slot found with
// threshold k and the FWHM (0: measured) as the dialogue finds them, written as a new list at
// `list` with the catalogue and region file at `catalogue` and `regions` (none of the three may
// exist). Returns the stars written, or the one-line reason why nothing was.
// What a star may look like, against the frame's own stars (the finder's limits; see
// removal/finder.h): the largest width over their FWHM (0: from the scatter of their widths),
// the range of DAOFIND's sharpness and of its roundness.
struct ShapeLimits {
  float max_width = 0.0f;
  float sharp_lo = 0.2f, sharp_hi = 1.0f;
  float round_lo = -1.0f, round_hi = 1.0f;
};
// A width limit of 0 or from 1 to 5, and two ranges from low to high.
bool shape_limits_valid(const ShapeLimits& l);

struct UnattendedFind {
  std::size_t stars = 0, saturated = 0;
  float fwhm = 0.0f;
  std::string limits;              // the shape limits used, one line
  std::string problem;             // empty when the list was written
  std::vector<std::string> notes;  // lines about the catalogues (a failed write, a file set aside)
};
UnattendedFind find_stars_unattended(Session& s, float threshold, float fwhm, const std::filesystem::path& list,
                                     const std::filesystem::path& catalogue, const std::filesystem::path& regions,
                                     const ShapeLimits& shape = {});

// The catalogue and region file written beside a list.
inline constexpr const char* kStarCatalogue = "ZelvoStars.ecsv";
inline constexpr const char* kStarRegions = "ZelvoStars.reg";

}  // namespace zelvo
