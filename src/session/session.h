// The four image slots and the session values shared by all commands.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/display.h"
#include "fits/file_origin.h"
#include "fits/header_values.h"
#include "numeric/image_view.h"
#include "numeric/random.h"
#include "platform/graphics.h"
#include "platform/log_file.h"
#include "removal/removal_work.h"
#include "session/settings.h"

namespace zelvo {

class Console;
class Graphics;

inline constexpr const char* kEmptySlotName = "<empty image slot>";
inline constexpr const char* kUnnamedName = "<unnamed image>";
inline constexpr const char* kModifiedMarker = "<modified>";

struct ImageSlot {
  Image image;  // no pixels while the slot is empty
  std::string object = std::string(20, ' ');
  std::string name = kEmptySlotName;  // displayed name, at most 80 characters, no padding kept
  float exptime = 0.0f;
  // Every card of the loaded image's header as read, 80 columns each, END excluded (none for
  // new images). The one source of the header S and X write: the structural, scaling,
  // checksum and compression cards are left out when a file is written, not here.
  std::vector<std::string> cards;
  HeaderTexts texts;  // ST, RA, DEC and filter texts of the loaded file
  // Where X writes a modified image back: the file it was loaded from or last saved to,
  // the whole name as typed. Kept apart from `name`, so the 10-character rule and the
  // 80-character cut of the displayed name never decide whether or where work is saved.
  std::string file;
  FileOrigin origin;  // how `file` is stored and what it was at the load or write
  bool modified = false;

  int nx() const { return image.nx; }
  int ny() const { return image.ny; }
  bool empty() const { return image.empty(); }
  ImageView view() { return image.view(); }
  SlotHeader header() const { return SlotHeader{exptime, object, cards}; }
};

// Marks the slot modified: appends " <modified>" to a name that does not already end in
// "<modified>"; a name too long for both within 80 characters is shortened.
void mark_modified(ImageSlot& s);
// The displayed-name test of the modified marker: longer than 10 and ending in "<modified>".
bool name_marked_modified(const std::string& name);

// The four image slots and which of them the commands work on.
struct ImageSlots {
  std::array<ImageSlot, 4> all;
  int active_number = 1;  // 1 to 4

  ImageSlot& active() { return all[static_cast<std::size_t>(active_number - 1)]; }
  const ImageSlot& active() const { return all[static_cast<std::size_t>(active_number - 1)]; }
};

// What the windows show: the display levels and mapping, the zoom box and whether the help
// window is open.
struct DisplayPart {
  DisplayState state;  // greyflag, scaling, minlim, maxlim, printflag, levels, displaytr
  ZoomBox zoom;
  bool help_open = false;
};

// Where the last cursor read ended. A dialogue without a start position of its own (the
// box analysis, the star clicks, the column background) starts its read there.
struct CursorMemory {
  float x = 0.0f, y = 0.0f;
};

// The values fixed at start-up: the extended-log choice and the screen device.
struct SessionSettings {
  int extlogs = 0;     // 1: the removals write their detailed logs
  std::string device;  // screen device
  WindowSize window;   // screen window size from the window-size code
};

// The random stream of the removals' noise, repeatable from the start-up seed.
struct RandomState {
  int32_t seed = 0;
  Random rng;
};

// What the removals keep between commands.
struct RemovalState {
  std::string object_list;  // the list options 8 and 9 read when option 4 named one (else ZelvoRep.log)
  int marked_objects = 0;   // removal list count, reset at every main-menu command
  RemovalWork work;         // masks, ring and background model of the removals, kept for the run
  // Option 5's model of a galaxy (its light above the sky) and the pixels of the image it was
  // fitted on: stars removed from that image are painted over the model.
  Image galaxy_model;
  const float* galaxy_pixels = nullptr;
};

struct Session;
// The galaxy model that belongs to `image` (the same pixels and size), or an empty view.
ConstImageView galaxy_model_of(const Session& s, ConstImageView image);

struct Session {
  Session(Console& c, Graphics& g) : con(c), gfx(g) {}

  Console& con;
  Graphics& gfx;

  ImageSlots slots;
  DisplayPart display;
  CursorMemory cursor;
  SessionSettings settings;
  RandomState random;
  RemovalState removal;
  LogFile mainlog;  // "Zelvo.log"

  ImageSlot& active() { return slots.active(); }

  // The one cursor read of every dialogue: raises the graphics window, reads a click or key
  // starting at (x0, y0), gives the keyboard back to the command window and remembers where
  // the read ended in `cursor`. The click is the result.
  CursorRead read_cursor(float x0, float y0);
  // The same, starting where the last read ended.
  CursorRead read_cursor_again() { return read_cursor(cursor.x, cursor.y); }

  // A cursor read that asks for a position on the pixels `area` of `image` that the window
  // shows: a click or key whose nearest pixel lies outside is refused with one line and the
  // read repeated; q, Q or Esc give none (the user goes back). Where `relevel` is given the
  // view is a zoomed one: the key l flips its levels between zscale and the whole range,
  // `relevel` draws it again and the read goes on.
  std::optional<CursorRead> read_position(float x0, float y0, ConstImageView image, const Box& area,
                                          const std::function<void()>& relevel = {});
  // The key l of a zoomed view: flips the view's levels, says so and calls `redraw`.
  void flip_view_levels(const std::function<void()>& redraw);
  bool view_key_told = false;  // the line that names the key l has been printed
};

}  // namespace zelvo
