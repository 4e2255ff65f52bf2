// What the files of the remove-features submenu share: the visit's context, the kinds of
// object with their steps, and the steps the per-object flow (remove_object.cpp), the list
// flows (remove_lists.cpp) and the visit (remove_submenu.cpp) call in one another.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "display/display.h"
#include "display/inspection_page.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/log_file.h"
#include "removal/deathstar.h"
#include "removal/line_repair.h"
#include "removal/object_list.h"
#include "removal/satbar.h"
#include "session/remove_submenu.h"
#include "session/session.h"

namespace zelvo {

// What one visit works on: the session with its active slot, and the files.
struct RemovalDialogue {
  RemovalDialogue(Session& session, const RemovalFiles& f)
      : s(session), slot(session.active()), image(slot.view()), con(session.con), gfx(session.gfx), files(f) {
    if (!session.removal.object_list.empty()) files.object_list = session.removal.object_list;  // named at option 4
  }
  Session& s;
  ImageSlot& slot;
  ImageView image;  // changed in place
  Console& con;
  Graphics& gfx;
  RemovalFiles files;
  // The constant level the visit added to every pixel: the user's display levels are drawn
  // this much higher, so the picture looks as it did before the visit.
  float shift = 0.0f;
  // While a list is removed without questions, each object's working notes go to this log
  // (the debug log) instead of the command window; the last one is kept for a problem line.
  LogFile* notes_log = nullptr;
  std::string last_note;

  // A working note of the object in hand: shown, or written to the debug log at once, so
  // that it stands among the routines' own debug lines in the order they came.
  void note(std::string line) {
    if (!notes_log) return con.line(line);
    if (*notes_log) notes_log->stream() << line << '\n' << std::flush;
    last_note = std::move(line);
  }
};

// The user's display levels, moved by the visit's constant level.
DisplayState shifted_levels(const RemovalDialogue& ctx);

// The whole image again, at the levels the user had (not automatic ones).
void redisplay_image(RemovalDialogue& ctx);

// A circle at every entry of the removal list.
void mark_listed_objects(RemovalDialogue& ctx, const RemovalVisit& visit);

// Apostrophes in the object name become blanks (after every object).
void blank_apostrophes(std::string& text);

// What one object changed, for the undo and for a removal the engine refuses.
struct ObjectChanges {
  SatBarResult bar;
  bool disc = false;
};

// The kinds of object: the option, the list's type and the record's first value.
enum class ObjectType : int32_t { star = 1, saturated = 2, area = 3, columns = 6, rows = 7 };

// What options 1, 2, 3, 6 and 7 and the types of a list's lines remove, and how.
struct ObjectKind {
  ObjectType type;
  // Picked (options 1, 2, 3, 6, 7 and 8): estimates, removes what goes before the disc and fills
  // the inspection page; false when the object is left as it was (after saying so).
  bool (*inspect)(RemovalDialogue&, RemovalVisit&, PsfRequest, AreaCentre, Inspection&, ObjectChanges&);
  // Option 9: the same without questions; true when the disc is to be removed.
  bool (*automatic)(RemovalDialogue&, RemovalVisit&, PsfRequest, ObjectChanges&);
  bool disc;  // removed as a disc after the radius question (columns: the bar removal is all)
};

// The kind of an option or list type; none for any other number.
const ObjectKind* object_kind(int32_t type);

// --- the steps (remove_steps.cpp) ---

// The visit's cache of the image's levels (see RemovalVisit::levels).
TileLevels& levels_of(RemovalDialogue& ctx, RemovalVisit& visit);

// The sky limits and saturation level of the image as it is now, for the point-spread estimate.
PsfRequest psf_request(RemovalDialogue& ctx, RemovalVisit& visit);

// The point-spread estimate at the visit's centre, which follows the centroid; the radius
// becomes the half-flux radius when the estimate completes.
PsfEstimate estimate(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req);
// Regular star: with centroid, retried once without when saturated.
PsfEstimate estimate_star(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req);
// Saturated star: the five-row centre and sky, the bar removed (into ch), then the estimate
// without centroid. None when the centre cannot be measured (nothing changed).
std::optional<PsfEstimate> estimate_saturated(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req,
                                              ObjectChanges& ch);
// Area from a list: the five-row centre, kept only within 2 pixels of the recorded one.
void estimate_listed_area(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req);

// A bad column or row through (xc, yc) repaired from the lines beside it (sigma: the noise
// painted; 0 or less: the noise measured beside the line).
SatBarResult repair(RemovalDialogue& ctx, RemovalVisit& visit, float xc, float yc, float sigma, LineAxis axis);
// The bad run already found (and named to the user) repaired.
SatBarResult repair(RemovalDialogue& ctx, RemovalVisit& visit, const LineDefect& defect, float sigma);

// DEATHSTAR at the visit's centre and radius; the tiles of a repainted disc are marked changed.
RemovalResult remove_disc(RemovalDialogue& ctx, RemovalVisit& visit);

// Puts back what the object changed: the disc first (it was painted last), then the bar.
void undo_object(RemovalDialogue& ctx, RemovalVisit& visit, const ObjectChanges& ch);

// --- the per-object flow (remove_object.cpp) ---

// A kept removal: one line of the removal record (type, centre and the radius the ring was
// traced at) and a HISTORY card of the slot's header saying what was removed where, which
// is returned ("star removed at (120.31, 88.02), radius 12.0").
std::string record_removal(RemovalDialogue& ctx, RemovalVisit& visit, int32_t type, float radius);

// One object of options 1, 2, 3, 6, 7 or 8, picked with the cursor (listed: none) or taken
// from a list line; a Ctrl-C at one of its questions takes back what it changed so far.
void handle_object(RemovalDialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, const ListedObject* listed);

// The message for a listed object whose centre lies off the image.
std::string off_image_message(const RemovalDialogue& ctx, const ListedObject& o);

// The flows of the menu's options within a visit. `report`, when given, collects what
// option 9 made of each line (for a run without a screen).
void remove_clicked_object(RemovalDialogue& ctx, RemovalVisit& visit, int32_t option);
void remove_listed_interactively(RemovalDialogue& ctx, RemovalVisit& visit);
void remove_listed_automatically(RemovalDialogue& ctx, RemovalVisit& visit, AutomaticRemovals* report = nullptr);

}  // namespace zelvo
