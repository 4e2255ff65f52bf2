// The per-object flow of the remove-features submenu (options 1, 2, 3, 6, 7 and each object
// of the lists of options 8 and 9): where the object is, its estimate, the inspection page,
// the removal, and keep or undo.
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "display/inspection_page.h"
#include "numeric/fortran.h"
#include "numeric/statistics.h"
#include "numeric/stop_request.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "removal/line_repair.h"
#include "removal/object_area.h"
#include "session/edit_history.h"
#include "session/remove_dialogue.h"
#include "session/remove_texts.h"
#include "session/session.h"

namespace zelvo {

namespace {

// The lines this flow prints.
constexpr std::string_view kClickObject = "Click on the object you want to remove.";
constexpr std::string_view kClickCentre = "Click on the object centre.";
constexpr std::string_view kYouClickedAt = "You clicked at ";
constexpr std::string_view kAverageSigmaLead = "Average & sigma are ";
constexpr std::string_view kColumnChoice = "Enter 'y' to keep, 'm' to modify, or 'c' to redetermine";
constexpr std::string_view kClickBackground = "Click on background you wish to estimate values from:";
constexpr std::array<std::string_view, 3> kBackgroundBoxLeads = {
    "Values for a 5x5 box were (average and sigma): ",
    "Values for a 9x9 box were (average and sigma): ",
    "Values for a 15x15 box were (average and sigma): ",
};
constexpr std::string_view kNewAverageSigma = "Give new average and sigma values:";
constexpr std::string_view kCirclesNote = "Circles on the image are at 10 and 20 pixel radii.";
constexpr std::string_view kRadiusPrompt = "Give (absolute) value to the removal radius:";
constexpr std::string_view kDisplayLevelsLead = "Display levels: low, high = ";
constexpr std::string_view kBlinkHint = "(Or type blink to flip between the area before and after the removal.)";
constexpr std::string_view kBlinkWord = "blink";
constexpr std::string_view kBlinkKeys =
    "Blink: press b in the graphics window to flip before/after; any other key or a click ends it.";
constexpr std::string_view kShowingBefore = "Showing the area before the removal.";
constexpr std::string_view kShowingAfter = "Showing the area after the removal.";

constexpr float kColumnSearchRadius = 10.0f;
// The removal radius shown on the inspection page is kept within these limits (except
// for a star's own radius, see Inspection::star).
constexpr float kShownRadiusMin = 19.0f;
constexpr float kShownRadiusMax = 39.0f;
// The column option's dummy profile.
constexpr int32_t kColumnDummyPoints = 20;

// --- the pages ------------------------------------------------------------------------

// The pixels of the zoomed area around c.
Box area_box(AreaCentre c) { return Box{c.x - kAreaHalf, c.x + kAreaHalf, c.y - kAreaHalf, c.y + kAreaHalf}; }

// The result page (or the `before` stamp): the stamp alone, at the user's levels; the
// levels are told for the area as it is now.
void show_result(RemovalDialogue& ctx, AreaCentre c, const Image* before = nullptr) {
  const Image stamp = before ? Image() : cut_stamp(ctx.image, c.x, c.y);
  // The levels of the area as it is now (after the removal), also for its blink partner.
  const DisplayState st = view_state(ctx.image, area_box(c), shifted_levels(ctx));
  if (!before) ctx.con.record({kDisplayLevelsLead, st.lowlev, st.highlev});
  draw_result(ctx.gfx, before ? *before : stamp, st, c);
}

// Flips the result view between the area before and after the removal at each b key
// (typed with the cursor position where the device has no cursor) until another key.
void blink(RemovalDialogue& ctx, const Image& before, AreaCentre area) {
  ctx.con.text(kBlinkKeys);
  bool showing_before = false;
  for (;;) {
    showing_before = !showing_before;
    show_result(ctx, area, showing_before ? &before : nullptr);
    ctx.con.text(showing_before ? kShowingBefore : kShowingAfter);
    const CursorRead c = ctx.s.read_cursor(static_cast<float>(area.x), static_cast<float>(area.y));
    if (c.key != 'b' && c.key != 'B') break;
  }
  if (showing_before) {
    show_result(ctx, area);
    ctx.con.text(kShowingAfter);
  }
}

// The column option's background: the box values, kept, typed, or measured again around a
// click before being typed.
// True when the user typed the values (kept ones: false).
bool column_levels(RemovalDialogue& ctx, float& average, float& sigma) {
  ctx.con.text(kColumnChoice);
  const char answer = ctx.con.read_char();
  if (answer == 'y') return false;
  if (answer == 'c') {
    ctx.con.text(kClickBackground);
    const std::optional<CursorRead> c =
        ctx.s.read_position(ctx.s.cursor.x, ctx.s.cursor.y, ctx.image, Box{1, ctx.image.nx, 1, ctx.image.ny});
    if (!c) {  // q: no measurement, the values are typed
      ctx.con.text(kNewAverageSigma);
      ctx.con.read_list({&average, &sigma});
      return true;
    }
    const float x = c->x, y = c->y;
    ctx.con.record({kYouClickedAt, x, " ", y});
    constexpr int kHalfWidths[] = {2, 4, 7};
    for (std::size_t i = 0; i < kBackgroundBoxLeads.size(); ++i) {
      const BoxAnalysis a = analyse_box(ctx.image, x, y, kHalfWidths[i]);
      ctx.con.record({kBackgroundBoxLeads[i], a.stats.clipped_mean, a.stats.kept_sigma});
    }
  }
  ctx.con.text(kNewAverageSigma);
  ctx.con.read_list({&average, &sigma});
  return true;
}

// The bad run a line repair is about to replace, in words: "Row 110 is 36 counts low (9.1
// sigma) from x = 1 to 512; that run will be repaired."
std::string defect_line(const LineDefect& d) {
  const bool row = d.axis == LineAxis::row;
  const float size = std::fabs(d.offset);
  std::string t = std::string(row ? "Row " : "Column ") + std::to_string(d.line) + " is " +
                  format_real(std::round(size * 10.0f) / 10.0f) + " counts " + (d.offset < 0.0f ? "low" : "high");
  if (d.sigma > 0.0f) t += " (" + format_real(std::round(size / d.sigma * 10.0f) / 10.0f) + " sigma)";
  t += std::string(" from ") + (row ? "x" : "y") + " = " + std::to_string(d.from) + " to " + std::to_string(d.to) +
       "; that run will be repaired";
  if (d.neighbours_bad) t += ", with the stretches of the neighbouring lines that are off as well";
  return t + ".";
}

// --- the kinds of object --------------------------------------------------------------

// Star: the estimate with centroid (again without, when saturated); the shown radius is 3.5
// times the half-flux radius.
bool inspect_star(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req, AreaCentre area, Inspection& insp,
                  ObjectChanges&) {
  const PsfEstimate e = estimate_star(ctx, visit, req);
  take_profile(insp, e, ctx.image, area);
  // The radius where the star meets its local background is offered as it is; without one,
  // 3.5 times the half-flux radius.
  insp.own_radius = insp.star.has_value();
  if (!insp.own_radius) visit.deathrad = 3.5f * visit.deathrad;
  return true;
}

// Saturated star: the bar goes first; the object is left when its centre cannot be measured.
bool inspect_saturated(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req, AreaCentre area, Inspection& insp,
                       ObjectChanges& ch) {
  visit.deathrad = 0.0f;
  const std::optional<PsfEstimate> e = estimate_saturated(ctx, visit, req, ch);
  if (!e) {
    ctx.con.text(kObjectLeft);
    return false;
  }
  take_profile(insp, *e, ctx.image, area);
  visit.deathrad = 20.0f;
  return true;
}

// Area: the estimate at the clicked centre, without centroid.
bool inspect_area(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req, AreaCentre area, Inspection& insp,
                  ObjectChanges&) {
  visit.deathrad = 0.0f;
  req.centroid = false;
  const PsfEstimate e = estimate(ctx, visit, req);
  take_profile(insp, e, ctx.image, area);
  visit.deathrad = 12.0f;
  return true;
}

// Columns and rows: the background from the box (kept, typed or measured again), then the
// line repair, which is the whole removal.
bool inspect_lines(RemovalDialogue& ctx, RemovalVisit& visit, Inspection& insp, ObjectChanges& ch, LineAxis axis) {
  const AverageSigma s = column_background(ctx.image, visit.xcen, visit.ycen);
  float average = s.clipped_mean, sigma = s.kept_sigma;
  ctx.con.record({kAverageSigmaLead, average, sigma});
  // The run is found along the whole line and named before the question.
  const LineDefect defect = find_line_defect(ctx.image, visit.xcen, visit.ycen, axis);
  if (!defect.found) {
    ctx.con.text(defect.refusal);
    ctx.con.text(kObjectLeft);
    return false;
  }
  ctx.con.text(defect_line(defect));
  insp.search_radius = kColumnSearchRadius;
  visit.deathrad = 12.0f;
  insp.radii.assign(kColumnDummyPoints, 1.0f);
  insp.values.assign(kColumnDummyPoints, 1.0f);
  const FiniteLevels range = levels_of(ctx, visit).whole();
  insp.lev1 = range.maximum;
  insp.lev2 = range.minimum;
  // The repair paints the noise it measures beside the line (a box on a galaxy overstates it),
  // or the sigma the user typed.
  const bool typed = column_levels(ctx, average, sigma);
  insp.sky = average;
  ch.bar = repair(ctx, visit, defect, typed ? sigma : 0.0f);
  return true;
}

bool inspect_columns(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest, AreaCentre, Inspection& insp,
                     ObjectChanges& ch) {
  return inspect_lines(ctx, visit, insp, ch, LineAxis::column);
}

bool inspect_rows(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest, AreaCentre, Inspection& insp,
                  ObjectChanges& ch) {
  return inspect_lines(ctx, visit, insp, ch, LineAxis::row);
}

// Option 9's steps before the disc: whether a disc is to be removed at the visit's radius.
bool listed_star(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges&) {
  (void)estimate_star(ctx, visit, req);
  return true;
}

bool listed_saturated(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges& ch) {
  if (estimate_saturated(ctx, visit, req, ch)) return true;
  ctx.note(text_line(kObjectLeft));
  return false;
}

bool listed_area(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges&) {
  estimate_listed_area(ctx, visit, req);
  return true;
}

bool listed_lines(RemovalDialogue& ctx, RemovalVisit& visit, ObjectChanges& ch, LineAxis axis) {
  const AverageSigma s = column_background(ctx.image, visit.xcen, visit.ycen);
  ctx.note(list_record({kAverageSigmaLead, s.clipped_mean, s.kept_sigma}));
  const LineDefect defect = find_line_defect(ctx.image, visit.xcen, visit.ycen, axis);
  if (defect.found) {
    ctx.note(defect_line(defect));
    ch.bar = repair(ctx, visit, defect, 0.0f);  // the noise measured beside the line
  } else {
    ctx.note(std::string(defect.refusal));
  }
  return false;
}

bool listed_columns(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest, ObjectChanges& ch) {
  return listed_lines(ctx, visit, ch, LineAxis::column);
}

bool listed_rows(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest, ObjectChanges& ch) {
  return listed_lines(ctx, visit, ch, LineAxis::row);
}

// The kinds, in the order of the options.
constexpr std::array<ObjectKind, 5> kObjectKinds = {{
    {ObjectType::star, inspect_star, listed_star, true},
    {ObjectType::saturated, inspect_saturated, listed_saturated, true},
    {ObjectType::area, inspect_area, listed_area, true},
    {ObjectType::columns, inspect_columns, listed_columns, false},
    {ObjectType::rows, inspect_rows, listed_rows, false},
}};

// The disc removal after the radius question; false (the object left) when the removal
// changed nothing, with what went before it taken back. A list's radius is taken for an
// answer of 0 or less.
bool remove_asked_disc(RemovalDialogue& ctx, RemovalVisit& visit, ObjectChanges& ch,
                       std::optional<float> listed_radius) {
  ctx.con.text(kCirclesNote);
  ctx.con.record({kRadiusSetLead, visit.deathrad});
  ctx.con.text(kRadiusPrompt);
  const float r = ctx.con.read_real();
  visit.deathrad = r - 1.0f;
  if (listed_radius && !(r > 0.0f)) visit.deathrad = *listed_radius - 1.0f;
  if (visit.deathrad <= 0.0f) visit.deathrad = 10.0f;
  ch.disc = remove_disc(ctx, visit).changed();
  if (ch.disc) return true;
  undo_object(ctx, visit, ch);
  return false;
}

// The result shown, then kept (a record line) or undone.
void keep_or_undo(RemovalDialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, const Image& before,
                  AreaCentre area, ObjectChanges& ch) {
  show_result(ctx, area);
  char answer = ' ';
  for (;;) {
    ctx.con.text(kBlinkHint);
    ctx.con.text(kUndoPrompt);
    const std::string line = ctx.con.read_line();
    if (trim_right(line) != kBlinkWord) {
      answer = line.empty() ? ' ' : line[0];
      break;
    }
    blink(ctx, before, area);
  }
  if (answer == 'Y' || answer == 'y') {
    undo_object(ctx, visit, ch);
  } else {
    record_removal(ctx, visit, static_cast<int32_t>(kind.type), visit.deathrad);
  }
  ch = ObjectChanges{};  // kept or undone: nothing is left to take back
}

// Where the object is: the list line's centre, or a click on the image; none (after a
// message) for a listed centre off the image.
std::optional<std::pair<float, float>> object_position(RemovalDialogue& ctx, const ListedObject* listed) {
  if (listed) {
    if (on_image(ctx.image, listed->x, listed->y)) return std::pair{listed->x, listed->y};
    ctx.con.text(off_image_message(ctx, *listed));
    return std::nullopt;
  }
  ctx.con.text(kClickObject);
  const std::optional<CursorRead> c =
      ctx.s.read_position(static_cast<float>(ctx.image.nx / 2), static_cast<float>(ctx.image.ny / 2), ctx.image,
                          Box{1, ctx.image.nx, 1, ctx.image.ny});
  if (!c) return std::nullopt;  // q or Esc: back to the menu
  const float xc = c->x, yc = c->y;
  ctx.con.record({kYouClickedAt, xc, " ", yc});
  return std::pair{xc, yc};
}

// One object of options 1, 2, 3, 6, 7 or 8 (the kind says which), picked with the cursor or
// taken from a list line. Steps: mark the list, zoom, estimate, inspect, remove, keep or undo.
void handle_object_steps(RemovalDialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, const ListedObject* listed,
                         ObjectChanges& ch) {
  mark_listed_objects(ctx, visit);
  const std::optional<std::pair<float, float>> at = object_position(ctx, listed);
  if (!at) return;
  auto [xc, yc] = *at;
  const AreaCentre area = area_centre(ctx.image, xc, yc);
  const Image before = cut_stamp(ctx.image, area.x, area.y);  // for the blink of the result view
  draw_area(ctx.gfx, ctx.image, shifted_levels(ctx), area);
  const auto finish = [&] {
    blank_apostrophes(ctx.slot.object);
    if (!listed) redisplay_image(ctx);
  };
  if (!listed) {
    ctx.con.text(kClickCentre);
    const auto relevel = [&] { draw_area(ctx.gfx, ctx.image, shifted_levels(ctx), area); };
    const std::optional<CursorRead> c =
        ctx.s.read_position(static_cast<float>(area.x), static_cast<float>(area.y), ctx.image, area_box(area), relevel);
    if (!c) return finish();  // q or Esc: the object is left
    xc = c->x;
    yc = c->y;
  }

  visit.marked.push_back(MarkedObject{nint_pixel(xc), nint_pixel(yc)});
  visit.xcen = xc;
  visit.ycen = yc;
  Inspection insp;
  if (!kind.inspect(ctx, visit, psf_request(ctx, visit), area, insp, ch)) return finish();

  if (!insp.own_radius) {
    if (!(visit.deathrad >= kShownRadiusMin)) visit.deathrad = kShownRadiusMin;  // NaN too
    if (visit.deathrad > kShownRadiusMax) visit.deathrad = kShownRadiusMax;
  }
  // A list's radius above 0 is the removal radius offered (and taken for an answer of 0 or less).
  const std::optional<float> listed_radius =
      listed && listed->radius > 0.0f && kind.disc ? std::optional<float>(listed->radius) : std::nullopt;
  if (listed_radius) visit.deathrad = *listed_radius;
  draw_inspection(ctx.gfx, ctx.image, insp, levels_of(ctx, visit).whole(), visit.xcen, visit.ycen, visit.deathrad,
                  shifted_levels(ctx), area);
  const bool removed = kind.disc ? remove_asked_disc(ctx, visit, ch, listed_radius) : ch.bar.removed;
  if (!removed) {
    ctx.con.text(kObjectLeft);
    return finish();
  }
  keep_or_undo(ctx, visit, kind, before, area, ch);
  finish();
}

}  // namespace

const ObjectKind* object_kind(int32_t type) {
  for (const ObjectKind& k : kObjectKinds)
    if (static_cast<int32_t>(k.type) == type) return &k;
  return nullptr;
}

namespace {

// What the HISTORY card of a kept removal says was done.
std::string removal_history(int32_t type, float xcen, float ycen, float radius) {
  const std::string at = "at (" + fixed(xcen, 2) + ", " + fixed(ycen, 2) + "), radius " + fixed(radius, 1);
  switch (static_cast<ObjectType>(type)) {
    case ObjectType::star: return "star removed " + at;
    case ObjectType::saturated: return "saturated star and its bar removed " + at;
    case ObjectType::area: return "area removed " + at;
    case ObjectType::columns: return "bad column at x = " + std::to_string(nint_pixel(xcen)) + " repaired";
    case ObjectType::rows: return "bad row at y = " + std::to_string(nint_pixel(ycen)) + " repaired";
  }
  if (type == 5)
    return "galaxy model subtracted, centre (" + fixed(xcen, 2) + ", " + fixed(ycen, 2) + "), largest sma " +
           fixed(radius, 1);
  return "object of type " + std::to_string(type) + " removed " + at;
}

}  // namespace

std::string record_removal(RemovalDialogue& ctx, RemovalVisit& visit, int32_t type, float radius) {
  std::string what = removal_history(type, visit.xcen, visit.ycen, radius);
  note_edit(ctx.slot, 'R', what);
  ++visit.kept;
  if (visit.record.is_open()) {
    visit.record.stream() << list_record({type, visit.xcen, visit.ycen, radius}) << '\n';
    visit.record.stream().flush();
  }
  return what;
}

// A Ctrl-C at one of the object's questions takes back what it changed so far, so an
// abandoned object is never left half removed or removed without its record line.
void handle_object(RemovalDialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, const ListedObject* listed) {
  ObjectChanges ch;
  try {
    handle_object_steps(ctx, visit, kind, listed, ch);
  } catch (const Interrupted&) {
    undo_object(ctx, visit, ch);
    throw;
  }
}

void remove_clicked_object(RemovalDialogue& ctx, RemovalVisit& visit, int32_t option) {
  if (const ObjectKind* kind = object_kind(option)) handle_object(ctx, visit, *kind, nullptr);
}

void remove_clicked_object(Session& s, RemovalVisit& visit, int32_t option, const RemovalFiles& files) {
  RemovalDialogue ctx(s, files);
  remove_clicked_object(ctx, visit, option);
}

}  // namespace zelvo
