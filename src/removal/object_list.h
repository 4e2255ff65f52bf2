// Object lists of the remove-features submenu: one object per line, "type x y radius".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

// One object of a list.
struct ListedObject {
  int32_t line = 0;          // line number in the file, from 1
  int32_t type = 0;          // 1 star, 2 saturated star, 3 area, 6 columns, 7 rows (others are refused later)
  float x = 0.0f, y = 0.0f;  // centre, pixels
  float radius = 0.0f;       // recorded removal radius: above 0 the ring radius, else estimated
};

// A list as read: the objects up to the first line that is not four numbers.
struct ObjectList {
  std::vector<ListedObject> objects;
  int32_t bad_line = 0;  // line number of that line, 0 when every line was good
};

// LINENOS: the number of lines of a list's text that hold anything besides blanks, the count
// a one-item free-format read per record makes.
int32_t LINENOS(std::string_view text);

// An object list from the text of its file: blank lines are skipped; every other line must
// hold exactly four numbers, a whole-number type and three reals.
ObjectList parse_object_list(std::string_view text);

// An object list from a DS9 region file of circles in image coordinates: every
// "circle(x,y,r)" is a star (type 1) of radius r, and a circle drawn red ("# color=red") a
// saturated star (type 2); every region of a line counts (DS9 separates them with ";").
// Comments, global settings and the "image" line are skipped; the
// list stops (bad_line) at a line of any other shape or in another coordinate system
// (fk5, wcs, physical, ...), whose positions are not image pixels.
ObjectList parse_region_list(std::string_view text);

// The list in a file's text: a region file when the name ends in ".reg", otherwise a list of
// "type x y radius" lines.
ObjectList parse_list_file(const std::filesystem::path& file, std::string_view text);

// "ZelvoRep.log, line N": where a message about one line of a list points.
std::string list_line_reference(const std::filesystem::path& file, int32_t line);

// The one-line message for a line that is not four numbers: names the file and the line.
std::string bad_list_line_message(const std::filesystem::path& file, int32_t line);

}  // namespace zelvo
