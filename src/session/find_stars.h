// Option 4 of the remove-features submenu: the stars of the image found, shown, edited by
// the user and written as the object list options 8 and 9 read, with a catalogue
// (ZelvoStars.ecsv) and a DS9 region file (ZelvoStars.reg) beside it.
#pragma once

#include <filesystem>
#include <string>

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

// The catalogue and region file written beside a list.
inline constexpr const char* kStarCatalogue = "ZelvoStars.ecsv";
inline constexpr const char* kStarRegions = "ZelvoStars.reg";

}  // namespace zelvo
