// The remove-features submenu: one visit, with its constant level, its removal record and
// its menu loop.
#include "session/remove_submenu.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "display/circle.h"
#include "numeric/fortran.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "removal/constant_level.h"
#include "session/display_menu.h"
#include "session/find_stars.h"
#include "session/remove_dialogue.h"
#include "session/remove_galaxy.h"
#include "session/session.h"

namespace zelvo {

namespace {

// The submenu, printed between two empty lines.
constexpr std::array<std::string_view, 12> kRemoveOptionsLines = {
    "What do you want to do? ",
    "  1) Remove a star ",
    "  2) Remove a saturated star ",
    "  3) Remove an area of user-defined radius ",
    "  4) Find stars and write the object list",
    "  5) Remove a galaxy (fit elliptical isophotes, subtract the model)",
    "  6) Remove columns ",
    "  7) Remove rows ",
    "  8) Remove objects interactively using pre-recorded coordinates",
    "  9) Remove objects automatically using pre-recorded coordinates",
    "     (Options 8 and 9 read ZelvoRep.log, or the list option 4 named)",
    "  0) Return back to the main options ",
};

// Appended to the removal record at every visit; the last line is empty.
constexpr std::array<std::string_view, 5> kRecordHeaderLines = {
    "This log file is written by Zelvo (Galaxy and Star Image Tools); it",
    "contains these four lines and N lines, one for each removed",
    "star, with the star type (regular, saturated, ...), centre in",
    "x- and y-coordinates, and removal radius (= 4 values / star).",
    "",
};

constexpr std::string_view kConstantLevelLead = "Added constant level ";
constexpr std::string_view kConstantLevelTail = " to your image. ";
constexpr std::string_view kConstantLevelNote = "It will be taken out after the removal processes end. ";
// A level above 2^24 cannot be added to 32-bit pixels without rounding them to steps of 2 or more.
constexpr std::string_view kLevelTooLargeLead = "The smallest pixel value of this image is ";
constexpr std::string_view kLevelTooLargeTail =
    "; the constant level that would make every pixel positive is beyond 2^24 (16777216), where adding it"
    " rounds the pixels' values. Nothing removed; the image is unchanged.";

constexpr std::array<std::string_view, 2> kWrongOptionLines = {
    "The option you selected is not currently available ",
    "or you pressed a wrong key. Please, try again.",
};

// What a removal record that cannot be opened or written means (after the reason).
constexpr std::string_view kRecordUnwritable = "kept removals are not recorded";
// Circles at the entries of the removal list.
constexpr float kMarkRadius = 10.0f;
constexpr int kMarkColour = 3;

void open_record(RemovalDialogue& ctx, RemovalVisit& visit) {
  if (!visit.record.open(ctx.files.record, ctx.con, std::string(kRecordUnwritable))) return;
  for (std::string_view l : kRecordHeaderLines)
    visit.record.stream() << (l.empty() ? std::string() : list_record({l})) << '\n';
  visit.record.stream().flush();
}

int32_t run_visit(RemovalDialogue& ctx) {
  const float low = smallest_finite_pixel(ctx.image);
  const int32_t level = INT(std::fabs(low) + 1.0f);
  if (level > kLargestConstantLevel) {
    ctx.con.text(std::string(kLevelTooLargeLead) + format_real(low) + std::string(kLevelTooLargeTail));
    return 0;
  }
  RemovalVisit visit;
  // The work arrays and the copy that takes the constant level out again are made before
  // anything else: when memory is short the submenu is refused with the image untouched.
  std::optional<ConstantLevel> added;
  try {
    ctx.s.removal.work.prepare(ctx.image.nx, ctx.image.ny);
    added.emplace(ctx.image, level);
  } catch (const std::bad_alloc&) {
    ctx.con.text("Not enough memory for the removal work arrays of this " + std::to_string(ctx.image.nx) + " x " +
                 std::to_string(ctx.image.ny) + " image; nothing was changed.");
    return 0;
  }
  open_record(ctx, visit);
  ctx.con.blank();
  ctx.con.record({kConstantLevelLead, level, kConstantLevelTail});
  ctx.con.text(kConstantLevelNote);
  ctx.con.blank();
  for (;;) {
    print_remove_options(ctx.con);
    const int32_t option = ctx.con.read_int();
    if (option == 0) break;
    mark_modified(ctx.slot);
    if (object_kind(option)) {
      remove_clicked_object(ctx, visit, option);
    } else if (option == 8) {
      remove_listed_interactively(ctx, visit);
    } else if (option == 9) {
      const std::size_t marked = visit.marked.size();
      remove_listed_automatically(ctx, visit);
      if (visit.marked.size() != marked) redisplay_image(ctx);  // the image as the removals left it
    } else if (option == 5) {
      remove_galaxy(ctx, visit, nullptr, nullptr, false);
    } else if (option == 4) {
      find_stars_dialogue(ctx.s, ctx.files);
      if (!ctx.s.removal.object_list.empty()) ctx.files.object_list = ctx.s.removal.object_list;
      redisplay_image(ctx);  // the list's marks go with the finder
    } else {
      for (std::string_view l : kWrongOptionLines) ctx.con.text(l);
      break;
    }
  }
  return static_cast<int32_t>(visit.marked.size());
}

}  // namespace

DisplayState shifted_levels(const RemovalDialogue& ctx) {
  DisplayState st = ctx.s.display.state;
  st.lowlev += ctx.shift;
  st.highlev += ctx.shift;
  set_display_polarity(st);
  return st;
}

void redisplay_image(RemovalDialogue& ctx) {
  DisplayState shown = shifted_levels(ctx);
  DISPLAYIMAGE(DisplaySource{ctx.image, ctx.slot.object, ctx.slot.name}, shown, ctx.slot.texts, false, ctx.con, ctx.gfx,
               true);
}

void mark_listed_objects(RemovalDialogue& ctx, const RemovalVisit& visit) {
  for (const MarkedObject& m : visit.marked)
    CIRCLE(static_cast<float>(m.x), static_cast<float>(m.y), kMarkRadius, kMarkColour, ctx.gfx);
}

void blank_apostrophes(std::string& text) { std::replace(text.begin(), text.end(), '\'', ' '); }

void print_remove_options(Console& con) {
  con.blank();
  for (std::string_view l : kRemoveOptionsLines) con.text(l);
  con.blank();
}

int32_t remove_submenu(Session& s, const RemovalFiles& files) {
  RemovalDialogue ctx(s, files);
  ctx.shift = static_cast<float>(constant_level(ctx.image));
  return run_visit(ctx);
}

AutomaticRemovals remove_list_unattended(Session& s, const RemovalFiles& files) {
  RemovalDialogue ctx(s, files);
  AutomaticRemovals report;
  const float low = smallest_finite_pixel(ctx.image);
  const int32_t level = INT(std::fabs(low) + 1.0f);
  if (level > kLargestConstantLevel) {
    report.problems.push_back(std::string(kLevelTooLargeLead) + format_real(low) + std::string(kLevelTooLargeTail));
    return report;
  }
  RemovalVisit visit;
  ctx.s.removal.work.prepare(ctx.image.nx, ctx.image.ny);
  const ConstantLevel added(ctx.image, level);
  open_record(ctx, visit);
  ctx.con.blank();
  ctx.con.record({kConstantLevelLead, level, kConstantLevelTail});
  ctx.con.text(kConstantLevelNote);
  ctx.con.blank();
  mark_modified(ctx.slot);
  remove_listed_automatically(ctx, visit, &report);  // records each removal it keeps
  return report;
}

}  // namespace zelvo
