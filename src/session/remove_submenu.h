// The remove-features submenu: stars, saturated stars with their bars, circular areas and
// columns removed from the active image, picked with the cursor or taken from an object list.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/zoom.h"
#include "numeric/image_view.h"
#include "numeric/tile_levels.h"
#include "platform/log_file.h"
#include "removal/constant_level.h"
#include "removal/object_list.h"
#include "removal/removal_work.h"

namespace zelvo {

class Console;
struct Session;

// Where the submenu reads and writes its files (the working folder by default).
struct RemovalFiles {
  std::filesystem::path object_list = "ZelvoRep.log";       // input list of options 8 and 9
  std::filesystem::path record = "ZelvoRepeat.log";         // kept removals, appended
  std::filesystem::path debug_log = "ZelvoDebug.log";       // appended per removal routine call
  std::filesystem::path isophotes = "ZelvoIsophotes.ecsv";  // option 5's last isophote table
};

// A removal-list entry: the nearest pixel to a handled object's centre.
struct MarkedObject {
  int32_t x = 0, y = 0;
};

// The state one visit keeps between objects.
struct RemovalVisit {
  std::vector<MarkedObject> marked;  // every object handled in the visit (also undone ones)
  LogFile record;                    // the removal record; closed when it could not be opened
  float xcen = 0.0f, ycen = 0.0f;    // centre of the current removal
  float deathrad = 0.0f;             // its radius
  int32_t kept = 0;                  // removals kept in the visit (each recorded)
  // Per-tile levels of the image for the sky limits, the saturation level and the rough sky,
  // made at first use. It lives only as long as the visit, in which nothing but the removals
  // and their undo change pixels, and every one of those tells it which pixels it changed.
  std::optional<TileLevels> levels;
};

// Prints the submenu between two empty lines.
void print_remove_options(Console& con);

// The whole visit: opens the removal record and appends its header, adds the constant level,
// runs the menu until 0 or an option that does not exist, and takes the level out again
// (also when the input ends inside the submenu). Pixels no removal touched come back with
// exactly their old values. An image whose level would exceed kLargestConstantLevel is
// refused with one line naming its smallest pixel, before anything is written or changed.
// Works on the session's active slot (marked modified at every option), its display state,
// zoom box, cursor, generator and removal work state. Returns the number of objects handled.
int32_t remove_submenu(Session& s, const RemovalFiles& files = {});

// Option 9: removes every object of the list without asking, with the radius from the
// point-spread estimate. Writes nothing to the removal record and does not redraw.
void remove_listed_automatically(Session& s, RemovalVisit& visit, const RemovalFiles& files = {});

// What option 9 did with its list, for a caller without a screen.
struct ListedRemoval {
  int32_t type = 0;
  float x = 0.0f, y = 0.0f, radius = 0.0f;  // the record's values: centre and radius removed
};
struct AutomaticRemovals {
  std::size_t listed = 0;              // objects read from the list
  std::vector<ListedRemoval> removed;  // those removed, in the list's order
  std::vector<std::string> problems;   // one line for each object or line not handled
};

// Option 9 as a whole visit without the menu or a question: the record's header, the constant
// level added (refused as the submenu refuses it), the list removed as option 9 removes it,
// a record line for each removed object, and the level taken out again.
AutomaticRemovals remove_list_unattended(Session& s, const RemovalFiles& files);

// Options 1, 2, 3 and 6: one object, picked with two cursor reads (the object, then its centre
// on the zoomed area), inspected, removed, and kept or undone.
void remove_clicked_object(Session& s, RemovalVisit& visit, int32_t option, const RemovalFiles& files = {});

// Option 8: the same for every object of the list, without the cursor reads.
void remove_listed_interactively(Session& s, RemovalVisit& visit, const RemovalFiles& files = {});

}  // namespace zelvo
