#include "session/remove_submenu.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "display/circle.h"
#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "numeric/random.h"
#include "numeric/statistics.h"
#include "numeric/stop_request.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "removal/deathstar.h"
#include "removal/line_repair.h"
#include "removal/removal_context.h"
#include "removal/wipe.h"
#include "session/display_menu.h"
#include "session/find_stars.h"
#include "session/session.h"

namespace zelvo {

namespace {

// --- texts ---------------------------------------------------------------------------

// REMOVEOPTIONS: the submenu, printed between two empty lines.
constexpr std::array<std::string_view, 12> kRemoveOptionsLines = {
    "What do you want to do? ",
    "  1) Remove a star ",
    "  2) Remove a saturated star ",
    "  3) Remove an area of user-defined radius ",
    "  4) Find stars and write the object list",
    "  5) Remove a galaxy [NOT IMPLEMENTED YET] ",
    "  6) Remove columns ",
    "  7) Remove rows ",
    "  8) Remove objects interactively using pre-recorded coordinates",
    "  9) Remove objects automatically using pre-recorded coordinates",
    "     (Options 8 and 9 require the existence of ZelvoRep.log) ",
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

// Per-object flow.
constexpr std::string_view kClickObject = "Click on the object you want to remove.";
constexpr std::string_view kClickCentre = "Click on the object centre.";
constexpr std::string_view kYouClickedAt = "You clicked at ";
constexpr std::string_view kRegularToMainLog = "Entering centre/radius finding for regular stars...";
constexpr std::string_view kSaturatedToMainLog = "Entering centre/radius finding for saturated stars...";
constexpr std::string_view kSaturatedRetry = "Object was saturated, trying again.";
constexpr std::string_view kSkyLevelLead = "Estimated background sky level = ";
constexpr std::string_view kSkySigmaLead = "Estimated background sky sigma = ";
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
constexpr std::string_view kRadiusSetLead = "Star removal radius set to ";
constexpr std::string_view kRadiusPrompt = "Give (absolute) value to the removal radius:";
constexpr std::string_view kDisplayLevelsLead = "Display levels: low, high = ";
constexpr std::string_view kUndoPrompt = "Do you want to UNDO previous removal (y/n)? ";
constexpr std::string_view kBlinkHint = "(Or type blink to flip between the area before and after the removal.)";
constexpr std::string_view kBlinkWord = "blink";
constexpr std::string_view kBlinkKeys =
    "Blink: press b in the graphics window to flip before/after; any other key or a click ends it.";
constexpr std::string_view kShowingBefore = "Showing the area before the removal.";
constexpr std::string_view kShowingAfter = "Showing the area after the removal.";

// Object lists.
constexpr std::string_view kListCountLead = "ZelvoRep.log contained ";
constexpr std::string_view kListCountTail = " lines (= objects).";
constexpr std::string_view kReadAutomaticLead = "Read (ch0, xc, yc, deathrad) = ";
constexpr std::string_view kReadInteractiveLead = "Read (ch1, xc, yc, deathrad) = ";
constexpr std::array<std::string_view, 2> kIncorrectDataLines = {
    "ZelvoRep.log contains incorrect data. ",
    "Please check and try again.",
};

// Failures this program reports in its own words.
constexpr std::string_view kListUnreadable =
    "ZelvoRep.log cannot be read (missing, or not a readable file); options 8 and 9 need it in the "
    "working folder.";
// What a removal record that cannot be opened or written means (after the reason).
constexpr std::string_view kRecordUnwritable = "kept removals are not recorded";
constexpr std::string_view kListOffImageTail = ": the centre lies outside the image; the object is skipped.";
constexpr std::string_view kCentreOffImage = "The centre lies outside the image; nothing is removed.";
constexpr std::string_view kObjectLeft = "This object is left as it was; nothing is recorded.";
// What a debug log that cannot be opened or written means (after the reason).
constexpr std::string_view kNoDebugLogText = "the removal goes on without it";

// --- the dialogue --------------------------------------------------------------------

// The zoomed area and the stamp reach this far from their centre pixel.
constexpr int32_t kAreaHalf = 50;
constexpr int32_t kStampSide = 2 * kAreaHalf + 1;
constexpr float kSkyLower = -50.0f;
constexpr float kSearchRadius = 15.0f;
constexpr float kColumnSearchRadius = 10.0f;
// Circles: the removal list, and the 10 and 20 pixel radii of the inspection display.
constexpr float kMarkRadius = 10.0f;
constexpr int kMarkColour = 3;
constexpr int kInnerColour = 4;
constexpr int kOuterColour = 2;
constexpr int kSkyLineColour = 3;
// The removal radius shown in the inspection display is kept within these limits (except
// for a star's own radius, see Inspection::star).
constexpr float kShownRadiusMin = 19.0f;
constexpr float kShownRadiusMax = 39.0f;
// A star's inspection page: levels from this many sigma below its local background, and the
// profile out to this many times its radius (at least kStarProfileLeast pixels).
constexpr float kStarLevelSigmas = 5.0f;
constexpr float kStarProfileTimes = 3.0f;
constexpr float kStarProfileLeast = 10.0f;
// Pixel (i, j) of the stamp is centred on world (i, j).
constexpr std::array<float, 6> kStampTr = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
// The column option: the 20 x 20 box, offsets -9 .. 10, with 1-sigma clipping.
constexpr int32_t kColumnBoxFrom = -9;
constexpr int32_t kColumnBoxTo = 10;
constexpr int32_t kColumnDummyPoints = 20;
// The radius a column's record line carries (no ring is traced for it).
constexpr float kColumnRecordRadius = 19.0f;

enum ObjectType : int32_t { kStar = 1, kSaturated = 2, kArea = 3, kColumns = 6, kRows = 7 };

// What one visit works on: the session with its active slot, and the files.
struct Dialogue {
  Dialogue(Session& session, const RemovalFiles& f)
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
};

// The user's display levels, moved by the visit's constant level.
DisplayState shifted_levels(const Dialogue& ctx) {
  DisplayState st = ctx.s.display.state;
  st.lowlev += ctx.shift;
  st.highlev += ctx.shift;
  set_display_polarity(st);
  return st;
}

RemovalContext removal_context(const Dialogue& ctx, std::ostream* log) {
  return RemovalContext{ctx.s.random.rng, ctx.s.random.seed, ctx.s.settings.extlogs, log, ctx.con.stop_request()};
}

void print_notes(Console& con, const std::vector<std::string>& notes) {
  for (const std::string& l : notes) con.line(l);
}

// The debug log of one removal routine call: the file is opened for appending at every
// call (a refusal told once per session) and closed when the call's lines are written.
class RoutineLog {
 public:
  explicit RoutineLog(Dialogue& ctx) { file_.open(ctx.files.debug_log, ctx.con, std::string(kNoDebugLogText)); }
  std::ostream* stream() { return &file_.stream(); }

 private:
  LogFile file_;
};

void main_log(Dialogue& ctx, std::string_view text) {
  std::ostream& mainlog = ctx.s.mainlog.stream();
  mainlog << list_record({text}) << '\n';
  mainlog.flush();
}

// Whether the pixel nearest to (x, y) is a pixel of the image (never for a NaN).
bool on_image(ConstImageView image, float x, float y) { return image.inside(NINT_PIXEL(x), NINT_PIXEL(y)); }

void blank_apostrophes(std::string& text) { std::replace(text.begin(), text.end(), '\'', ' '); }

// The whole image again, at the levels the user had (not automatic ones).
void redisplay_image(Dialogue& ctx) {
  DisplayState shown = shifted_levels(ctx);
  DISPLAYIMAGE(DisplaySource{ctx.image, ctx.slot.object, ctx.slot.name}, shown, ctx.slot.texts, false, ctx.con, ctx.gfx,
               true);
}

void mark_listed_objects(Dialogue& ctx, const RemovalVisit& visit) {
  for (const MarkedObject& m : visit.marked)
    CIRCLE(static_cast<float>(m.x), static_cast<float>(m.y), kMarkRadius, kMarkColour, ctx.gfx);
}

// The visit's cache of the image's levels (see RemovalVisit::levels).
TileLevels& levels_of(Dialogue& ctx, RemovalVisit& visit) {
  if (!visit.levels || !visit.levels->covers(ctx.image)) visit.levels = central_tile_levels(ctx.image);
  return *visit.levels;
}

void note_change(RemovalVisit& visit, const Box& b) {
  if (visit.levels && !b.empty()) visit.levels->touched(b.x0, b.x1, b.y0, b.y1);
}

// The sky limits and saturation level of the image as it is now, for the point-spread estimate.
PsfRequest psf_request(Dialogue& ctx, RemovalVisit& visit) {
  const ImageLimits lim = image_limits(levels_of(ctx, visit));
  PsfRequest req;
  req.sky_lower = kSkyLower;
  req.sky_upper = lim.sky_upper;
  req.search_radius = kSearchRadius;
  req.centroid = true;
  req.saturation = lim.saturation;
  return req;
}

// The point-spread estimate at the current centre; the centre follows the centroid (when one
// is asked for) and the radius becomes the half-flux radius when the estimate completes.
// The rough sky is that of the image as it is at this call (a bar may have gone since the
// request was made).
PsfEstimate estimate(Dialogue& ctx, RemovalVisit& visit, PsfRequest req) {
  req.rough_sky = rough_sky(levels_of(ctx, visit));
  PsfEstimate e = GETPSF(ctx.image, visit.xcen, visit.ycen, req);
  print_notes(ctx.con, e.notes);
  // The zoom box follows the centroid's last working pixel.
  if (e.centroid_pixel) std::tie(ctx.s.display.zoom.zoomx, ctx.s.display.zoom.zoomy) = *e.centroid_pixel;
  visit.xcen = e.xcen;
  visit.ycen = e.ycen;
  if (e.deathrad) visit.deathrad = *e.deathrad;
  return e;
}

// Regular star: centroid and estimate, retried once without centroiding when saturated
// (the object is then removed anyway).
PsfEstimate estimate_star(Dialogue& ctx, RemovalVisit& visit, PsfRequest req) {
  main_log(ctx, kRegularToMainLog);
  PsfEstimate e = estimate(ctx, visit, req);
  if (e.saturated) {
    ctx.con.text(kSaturatedRetry);
    req.centroid = false;
    e = estimate(ctx, visit, req);
  }
  return e;
}

// What one object changed, for the undo and for a removal the engine refuses.
struct ObjectChanges {
  SatBarResult bar;
  bool disc = false;
};

// Every change to the pixels within a visit goes through the next three functions, which
// tell the visit's level cache what they changed.

// REMOVESATBAR (mode 2) at (xc, yc) with the given sky.
SatBarResult remove_bar(Dialogue& ctx, RemovalVisit& visit, float xc, float yc, float bgmean, float bgsigma) {
  SatBarResult bar = [&] {
    RoutineLog log(ctx);
    return REMOVESATBAR(ctx.image, xc, yc, bgmean, bgsigma, 2, visit.band, removal_context(ctx, log.stream()));
  }();
  print_notes(ctx.con, bar.notes);
  if (bar.removed) note_change(visit, bar.changed);
  return bar;
}

// A bad column or row through (xc, yc) repaired from the lines beside it (sigma: the noise
// painted; 0 or less: the noise measured beside the line).
SatBarResult repair(Dialogue& ctx, RemovalVisit& visit, float xc, float yc, float sigma, LineAxis axis) {
  SatBarResult bar = [&] {
    RoutineLog log(ctx);
    return repair_line(ctx.image, xc, yc, sigma, axis, removal_context(ctx, log.stream()));
  }();
  print_notes(ctx.con, bar.notes);
  if (bar.removed) note_change(visit, bar.changed);
  return bar;
}

// DEATHSTAR at the visit's centre and radius; the tiles of a repainted disc are marked changed.
// Its first line, the radius and centre, comes before a refusal of the debug log.
RemovalResult remove_disc(Dialogue& ctx, RemovalVisit& visit) {
  LogFile log;
  const LogFile::Opening opening = log.open_untold(ctx.files.debug_log, ctx.con, std::string(kNoDebugLogText));
  const RemovalResult r = DEATHSTAR(ctx.s.removal.work, ctx.image, visit.xcen, visit.ycen, visit.deathrad,
                                    removal_context(ctx, &log.stream()));
  log.close();
  for (std::size_t i = 0; i < r.notes.size(); ++i) {
    ctx.con.line(r.notes[i]);
    if (i == 0 && !opening.opened) ctx.con.log_failure(ctx.files.debug_log.filename().string(), opening.refusal);
  }
  if (r.changed()) note_change(visit, ctx.s.removal.work.mask_box);
  return r;
}

// Puts back what the object changed: the disc first (it was painted last), then the bar.
void undo_object(Dialogue& ctx, RemovalVisit& visit, const ObjectChanges& ch) {
  if (ch.disc) {
    const Box disc = ctx.s.removal.work.mask_box;
    if (UNWIPE(ctx.s.removal.work, ctx.image)) note_change(visit, disc);
  }
  restore_satbar(ch.bar, ctx.image);
  if (ch.bar.removed) note_change(visit, ch.bar.changed);
}

// FINDCENTRE at the visit's centre, its lines printed.
CentreResult find_centre(Dialogue& ctx, RemovalVisit& visit) {
  CentreResult c = [&] {
    RoutineLog log(ctx);
    return FINDCENTRE(ctx.image, visit.xcen, visit.ycen, removal_context(ctx, log.stream()));
  }();
  print_notes(ctx.con, c.notes);
  return c;
}

// Saturated star: centre and sky from the five rows, the bar removed, then the estimate at
// that centre without centroiding. None when the centre cannot be measured (nothing changed).
std::optional<PsfEstimate> estimate_saturated(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges& ch) {
  main_log(ctx, kSaturatedToMainLog);
  const CentreResult c = find_centre(ctx, visit);
  if (!c.ok()) return std::nullopt;
  visit.xcen = c.xc;
  visit.ycen = c.yc;
  visit.deathrad = c.radius;
  ch.bar = remove_bar(ctx, visit, visit.xcen, visit.ycen, c.bgmean, c.bgsigma);
  ctx.con.record({kSkyLevelLead, c.bgmean});
  ctx.con.record({kSkySigmaLead, c.bgsigma});
  req.centroid = false;
  return estimate(ctx, visit, req);
}

// Area from a list: the five-row centre is tried, but a centre that moves by more than
// 2 pixels from the recorded one is not taken.
void estimate_listed_area(Dialogue& ctx, RemovalVisit& visit, PsfRequest req) {
  const float rx = visit.xcen, ry = visit.ycen;
  const CentreResult c = find_centre(ctx, visit);
  if (c.ok()) {
    visit.xcen = c.xc;
    visit.ycen = c.yc;
    visit.deathrad = c.radius;
    ctx.con.record({kSkyLevelLead, c.bgmean});
    ctx.con.record({kSkySigmaLead, c.bgsigma});
  }
  req.centroid = false;
  (void)estimate(ctx, visit, req);
  if (std::hypot(visit.xcen - rx, visit.ycen - ry) > 2.0f) {
    visit.xcen = rx;
    visit.ycen = ry;
  }
}

// Background of a column: the inside pixels of the 20 x 20 box at offsets -9 .. 10 from the
// centre, clipped once at 1 sigma. Its sigma is kept_sigma, the spread of the kept values
// about their own mean: measured about the unclipped mean, a bright column in the box would
// make the sky look many times noisier than it is and the fill would paint that noise.
AverageSigma column_background(ConstImageView image, float xcen, float ycen) {
  std::vector<float> v;
  v.reserve(400);
  for (int32_t dx = kColumnBoxFrom; dx <= kColumnBoxTo; ++dx)
    for (int32_t dy = kColumnBoxFrom; dy <= kColumnBoxTo; ++dy) {
      const int32_t x = INT(xcen + static_cast<float>(dx)), y = INT(ycen + static_cast<float>(dy));
      if (image.inside(x, y)) v.push_back(image.at(x, y));
    }
  return AVERAGESIGMA(v, 1);
}

// The list, announced with its line count; none (after one message) when it cannot be read.
std::optional<ObjectList> open_object_list(Dialogue& ctx) {
  const SmallFile list = read_small_file(ctx.files.object_list);
  if (!list.read()) {
    ctx.con.text(kListUnreadable);
    return std::nullopt;
  }
  ObjectList objects = parse_list_file(ctx.files.object_list, list.text);
  const bool regions = ctx.files.object_list.extension() == ".reg";  // counted as circles, not lines
  ctx.con.record(
      {kListCountLead, regions ? static_cast<int32_t>(objects.objects.size()) : LINENOS(list.text), kListCountTail});
  return objects;
}

void report_incorrect_data(Console& con) {
  for (std::string_view l : kIncorrectDataLines) con.text(l);
}

std::string off_image_message(const Dialogue& ctx, const ListedObject& o) {
  return list_line_reference(ctx.files.object_list, o.line).append(kListOffImageTail);
}

// --- inspection display --------------------------------------------------------------

// The centre of the zoomed area: the nearest pixel, kept 50 pixels inside the image.
void area_centre(ConstImageView image, float xc, float yc, int32_t& ixc, int32_t& iyc) {
  ixc = NINT_PIXEL(xc);
  iyc = NINT_PIXEL(yc);
  if (ixc > image.nx - kAreaHalf) ixc = image.nx - kAreaHalf;
  if (iyc > image.ny - kAreaHalf) iyc = image.ny - kAreaHalf;
  if (ixc < kAreaHalf) ixc = kAreaHalf;
  if (iyc < kAreaHalf) iyc = kAreaHalf;
}

// The world window of the area: its 101 x 101 pixels whole, each centred on its index.
void area_window(Graphics& gfx, int32_t ixc, int32_t iyc) {
  gfx.window(static_cast<float>(ixc - kAreaHalf) - 0.5f, static_cast<float>(ixc + kAreaHalf) + 0.5f,
             static_cast<float>(iyc - kAreaHalf) - 0.5f, static_cast<float>(iyc + kAreaHalf) + 0.5f);
}

// The zoomed area on the full-frame viewport, with the levels of the last display.
void draw_area(Dialogue& ctx, int32_t ixc, int32_t iyc) {
  Graphics& gfx = ctx.gfx;
  gfx.focus();
  gfx.erase();
  gfx.viewport(0.1f, 0.9f, 0.1f, 0.9f);
  // Square pixels: the largest centred square of the frame.
  gfx.window_equal_scales(static_cast<float>(ixc - kAreaHalf) - 0.5f, static_cast<float>(ixc + kAreaHalf) + 0.5f,
                          static_cast<float>(iyc - kAreaHalf) - 0.5f, static_cast<float>(iyc + kAreaHalf) + 0.5f);
  if (ctx.s.display.state.greyflag == 0 || ctx.s.display.state.greyflag == 1) {
    const DisplayState st = shifted_levels(ctx);
    gfx.image(ctx.image, ixc - kAreaHalf, ixc + kAreaHalf, iyc - kAreaHalf, iyc + kAreaHalf, st.fglev, st.bglev,
              st.displaytr, st.greyflag == 1, st.stretch);
  }
  gfx.box();
}

// The 101 x 101 cut-out around (ixc, iyc); pixels of the last column and row and those off
// the image hold 65000.0.
Image cut_stamp(ConstImageView image, int32_t ixc, int32_t iyc) {
  Image stamp(kStampSide, kStampSide);
  for (int32_t dy = -kAreaHalf; dy <= kAreaHalf; ++dy)
    for (int32_t dx = -kAreaHalf; dx <= kAreaHalf; ++dx) {
      const int32_t x = ixc + dx, y = iyc + dy;
      const bool in = x > 0 && x < image.nx && y > 0 && y < image.ny;
      stamp.at(dx + kAreaHalf + 1, dy + kAreaHalf + 1) = in ? image.at(x, y) : kStampOffImage;
    }
  return stamp;
}

// Smallest and largest finite value, the range then widened by a tenth at each end (the
// upper end by a tenth of the range from the lowered lower end). False for no finite value.
bool widened_range(std::span<const float> values, float& lo, float& hi) {
  bool any = false;
  float a = 0.0f, b = 0.0f;
  for (const float v : values) {
    if (!counted_pixel(v)) continue;
    a = any ? std::min(a, v) : v;
    b = any ? std::max(b, v) : v;
    any = true;
  }
  if (!any) return false;
  lo = a - (b - a) / 10.0f;
  hi = b + (b - lo) / 10.0f;
  return true;
}

// What the inspection display shows.
struct Inspection {
  std::vector<float> radii, values;  // the profile: pixel values against distance
  float sky = 0.0f;                  // drawn as a line from 0 to 1.1 x the search radius
  float search_radius = kSearchRadius;
  float lev1 = 0.0f, lev2 = 0.0f;  // profile display levels
  // Set for a star that meets its local background: the page is scaled to that star (its
  // background, noise and peak, and its radius) instead of to the brightest pixel around it.
  std::optional<StarRadius> star;
  bool own_radius = false;  // the radius offered is the star's own (not kept within 19 .. 39)
};

// Profile and levels from the collected pixels of an estimate; with none collected (a
// saturated or edge object) the levels come from the zoomed area.
void take_profile(Inspection& insp, const PsfEstimate& e, ConstImageView image, int32_t ixc, int32_t iyc) {
  insp.radii = e.radii;
  insp.values = e.values;
  insp.sky = e.sky;
  if (e.star.found && e.star.peak > e.star.background) {
    // From a few sigma below the star's local background to a tenth above its peak.
    insp.star = e.star;
    insp.sky = e.star.background;
    insp.lev1 = e.star.background - kStarLevelSigmas * std::max(e.star.noise, 1.0f);
    insp.lev2 = e.star.peak + (e.star.peak - insp.lev1) / 10.0f;
    return;
  }
  if (widened_range(insp.values, insp.lev1, insp.lev2)) return;
  std::vector<float> area;
  const Box b = Box{ixc - kAreaHalf, ixc + kAreaHalf, iyc - kAreaHalf, iyc + kAreaHalf}.clipped(image.nx, image.ny);
  for (int32_t y = b.y0; y <= b.y1; ++y)
    for (int32_t x = b.x0; x <= b.x1; ++x) area.push_back(image.at(x, y));
  (void)widened_range(area, insp.lev1, insp.lev2);
}

void draw_stamp(Dialogue& ctx, Image& stamp, float fg, float bg) {
  ctx.gfx.viewport(0.3f, 0.7f, 0.1f, 0.5f);
  ctx.gfx.window_equal_scales(0.5f, static_cast<float>(kStampSide) + 0.5f, 0.5f, static_cast<float>(kStampSide) + 0.5f);
  ctx.gfx.image(stamp.view(), 1, kStampSide, 1, kStampSide, fg, bg, kStampTr, ctx.s.display.state.greyflag == 1,
                ctx.s.display.state.stretch);
}

// The inspection display: the profile with the sky line above, the stamp below with the
// 10 and 20 pixel circles. The stamp levels are kept within the image's data range (this
// changes insp.lev1 and insp.lev2).
void draw_inspection(Dialogue& ctx, Inspection& insp, RemovalVisit& visit, int32_t ixc, int32_t iyc) {
  Graphics& gfx = ctx.gfx;
  gfx.focus();
  gfx.erase();
  gfx.viewport(0.25f, 0.75f, 0.55f, 0.9f);
  float y1 = insp.lev1, y2 = insp.lev2;
  if (!(y1 != y2)) {  // a flat profile (or no level) still needs a window of some height
    y1 = std::isfinite(y1) ? y1 - 1.0f : -1.0f;
    y2 = y1 + 2.0f;
  }
  // A star's profile is shown out to three times the radius where it meets the background (and
  // at least to the radius offered).
  const float xmax = insp.star
                         ? std::max({kStarProfileTimes * insp.star->radius, kStarProfileLeast, visit.deathrad + 1.0f})
                         : visit.deathrad + 1.0f;
  gfx.window(0.0f, xmax, y1, y2);
  if (!insp.radii.empty()) gfx.points(insp.radii, insp.values, -4);
  gfx.box();
  gfx.colour(kSkyLineColour);
  const std::array<float, 2> lx = {0.0f, 1.1f * insp.search_radius};
  const std::array<float, 2> ly = {insp.sky, insp.sky};
  gfx.line(lx, ly);
  gfx.colour(1);

  const FiniteLevels range = levels_of(ctx, visit).whole();
  if (insp.lev1 > range.maximum) insp.lev1 = range.maximum;
  if (insp.lev2 < range.minimum) insp.lev2 = range.minimum;
  Image stamp = cut_stamp(ctx.image, ixc, iyc);
  draw_stamp(ctx, stamp, insp.lev1, insp.lev2);
  area_window(gfx, ixc, iyc);
  gfx.box();
  CIRCLE(visit.xcen, visit.ycen, 10.0f, kInnerColour, gfx);
  CIRCLE(visit.xcen, visit.ycen, 20.0f, kOuterColour, gfx);
}

// The area after the removal (or the `before` stamp): the stamp alone, at the user's levels.
void draw_result(Dialogue& ctx, int32_t ixc, int32_t iyc, Image* before = nullptr) {
  Image stamp = before ? Image() : cut_stamp(ctx.image, ixc, iyc);
  const DisplayState st = shifted_levels(ctx);
  if (!before) ctx.con.record({kDisplayLevelsLead, st.lowlev, st.highlev});
  ctx.gfx.focus();
  ctx.gfx.erase();
  draw_stamp(ctx, before ? *before : stamp, st.fglev, st.bglev);
  area_window(ctx.gfx, ixc, iyc);
  ctx.gfx.box();
}

// Flips the result view between the area before and after the removal at each b key
// (typed with the cursor position where the device has no cursor) until another key.
void blink(Dialogue& ctx, Image& before, int32_t ixc, int32_t iyc) {
  ctx.con.text(kBlinkKeys);
  bool showing_before = false;
  for (;;) {
    showing_before = !showing_before;
    draw_result(ctx, ixc, iyc, showing_before ? &before : nullptr);
    ctx.con.text(showing_before ? kShowingBefore : kShowingAfter);
    const CursorRead c = ctx.s.read_cursor(static_cast<float>(ixc), static_cast<float>(iyc));
    if (c.key != 'b' && c.key != 'B') break;
  }
  if (showing_before) {
    draw_result(ctx, ixc, iyc);
    ctx.con.text(kShowingAfter);
  }
}

// The column option's background: the box values, kept, typed, or measured again around a
// click before being typed.
// True when the user typed the values (kept ones: false).
bool column_levels(Dialogue& ctx, float& average, float& sigma) {
  ctx.con.text(kColumnChoice);
  const char answer = ctx.con.read_char();
  if (answer == 'y') return false;
  if (answer == 'c') {
    ctx.con.text(kClickBackground);
    const CursorRead c = ctx.s.read_cursor_again();
    const float x = c.x, y = c.y;
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

// --- the kinds of object --------------------------------------------------------------

// Star: the estimate with centroid (again without, when saturated); the shown radius is 3.5
// times the half-flux radius.
bool inspect_star(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, int32_t ixc, int32_t iyc, Inspection& insp,
                  ObjectChanges&) {
  const PsfEstimate e = estimate_star(ctx, visit, req);
  take_profile(insp, e, ctx.image, ixc, iyc);
  // The radius where the star meets its local background is offered as it is; without one,
  // 3.5 times the half-flux radius.
  insp.own_radius = insp.star.has_value();
  if (!insp.own_radius) visit.deathrad = 3.5f * visit.deathrad;
  return true;
}

// Saturated star: the bar goes first; the object is left when its centre cannot be measured.
bool inspect_saturated(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, int32_t ixc, int32_t iyc, Inspection& insp,
                       ObjectChanges& ch) {
  visit.deathrad = 0.0f;
  const std::optional<PsfEstimate> e = estimate_saturated(ctx, visit, req, ch);
  if (!e) {
    ctx.con.text(kObjectLeft);
    return false;
  }
  take_profile(insp, *e, ctx.image, ixc, iyc);
  visit.deathrad = 20.0f;
  return true;
}

// Area: the estimate at the clicked centre, without centroid.
bool inspect_area(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, int32_t ixc, int32_t iyc, Inspection& insp,
                  ObjectChanges&) {
  visit.deathrad = 0.0f;
  req.centroid = false;
  const PsfEstimate e = estimate(ctx, visit, req);
  take_profile(insp, e, ctx.image, ixc, iyc);
  visit.deathrad = 12.0f;
  return true;
}

// Columns and rows: the background from the box (kept, typed or measured again), then the
// line repair, which is the whole removal.
bool inspect_lines(Dialogue& ctx, RemovalVisit& visit, Inspection& insp, ObjectChanges& ch, LineAxis axis) {
  const AverageSigma s = column_background(ctx.image, visit.xcen, visit.ycen);
  float average = s.clipped_mean, sigma = s.kept_sigma;
  ctx.con.record({kAverageSigmaLead, average, sigma});
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
  ch.bar = repair(ctx, visit, visit.xcen, visit.ycen, typed ? sigma : 0.0f, axis);
  return true;
}

bool inspect_columns(Dialogue& ctx, RemovalVisit& visit, PsfRequest, int32_t, int32_t, Inspection& insp,
                     ObjectChanges& ch) {
  return inspect_lines(ctx, visit, insp, ch, LineAxis::column);
}

bool inspect_rows(Dialogue& ctx, RemovalVisit& visit, PsfRequest, int32_t, int32_t, Inspection& insp,
                  ObjectChanges& ch) {
  return inspect_lines(ctx, visit, insp, ch, LineAxis::row);
}

// Option 9's steps before the disc: whether a disc is to be removed at the visit's radius.
bool listed_star(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges&) {
  (void)estimate_star(ctx, visit, req);
  return true;
}

bool listed_saturated(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges& ch) {
  if (estimate_saturated(ctx, visit, req, ch)) return true;
  ctx.con.text(kObjectLeft);
  return false;
}

bool listed_area(Dialogue& ctx, RemovalVisit& visit, PsfRequest req, ObjectChanges&) {
  estimate_listed_area(ctx, visit, req);
  return true;
}

bool listed_lines(Dialogue& ctx, RemovalVisit& visit, ObjectChanges& ch, LineAxis axis) {
  const AverageSigma s = column_background(ctx.image, visit.xcen, visit.ycen);
  ctx.con.record({kAverageSigmaLead, s.clipped_mean, s.kept_sigma});
  ch.bar = repair(ctx, visit, visit.xcen, visit.ycen, 0.0f, axis);  // the noise measured beside the line
  return false;
}

bool listed_columns(Dialogue& ctx, RemovalVisit& visit, PsfRequest, ObjectChanges& ch) {
  return listed_lines(ctx, visit, ch, LineAxis::column);
}

bool listed_rows(Dialogue& ctx, RemovalVisit& visit, PsfRequest, ObjectChanges& ch) {
  return listed_lines(ctx, visit, ch, LineAxis::row);
}

// What options 1, 2, 3, 6 and 7 and the types of a list's lines remove, and how.
struct ObjectKind {
  int32_t type;  // the option, the list's type and the record's first value
  // Picked (options 1, 2, 3, 6, 7 and 8): estimates, removes what goes before the disc and fills
  // the inspection display; false when the object is left as it was (after saying so).
  bool (*inspect)(Dialogue&, RemovalVisit&, PsfRequest, int32_t ixc, int32_t iyc, Inspection&, ObjectChanges&);
  // Option 9: the same without questions; true when the disc is to be removed.
  bool (*automatic)(Dialogue&, RemovalVisit&, PsfRequest, ObjectChanges&);
  bool disc;  // removed as a disc after the radius question (columns: the bar removal is all)
};

constexpr std::array<ObjectKind, 5> kObjectKinds = {{
    {kStar, inspect_star, listed_star, true},
    {kSaturated, inspect_saturated, listed_saturated, true},
    {kArea, inspect_area, listed_area, true},
    {kColumns, inspect_columns, listed_columns, false},
    {kRows, inspect_rows, listed_rows, false},
}};

const ObjectKind* object_kind(int32_t type) {
  for (const ObjectKind& k : kObjectKinds)
    if (k.type == type) return &k;
  return nullptr;
}

// The disc removal after the radius question; false (the object left) when the removal
// changed nothing, with what went before it taken back. A list's radius is taken for an
// answer of 0 or less.
bool remove_asked_disc(Dialogue& ctx, RemovalVisit& visit, ObjectChanges& ch, std::optional<float> listed_radius) {
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

// One line of the removal record: type, centre and the radius the ring was traced at.
void record_removal(RemovalVisit& visit, int32_t type, float radius) {
  if (!visit.record.is_open()) return;
  visit.record.stream() << list_record({type, visit.xcen, visit.ycen, radius}) << '\n';
  visit.record.stream().flush();
}

// The result shown, then kept (a record line) or undone.
void keep_or_undo(Dialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, Image& before, int32_t ixc, int32_t iyc,
                  ObjectChanges& ch) {
  draw_result(ctx, ixc, iyc);
  char answer = ' ';
  for (;;) {
    ctx.con.text(kBlinkHint);
    ctx.con.text(kUndoPrompt);
    const std::string line = ctx.con.read_line();
    if (trim_right(line) != kBlinkWord) {
      answer = line.empty() ? ' ' : line[0];
      break;
    }
    blink(ctx, before, ixc, iyc);
  }
  if (answer == 'Y' || answer == 'y') {
    undo_object(ctx, visit, ch);
  } else {
    record_removal(visit, kind.type, visit.deathrad);
  }
  ch = ObjectChanges{};  // kept or undone: nothing is left to take back
}

// Where the object is: the list line's centre, or a click on the image; none (after a
// message) for a listed centre off the image.
std::optional<std::pair<float, float>> object_position(Dialogue& ctx, const ListedObject* listed) {
  if (listed) {
    if (on_image(ctx.image, listed->x, listed->y)) return std::pair{listed->x, listed->y};
    ctx.con.text(off_image_message(ctx, *listed));
    return std::nullopt;
  }
  ctx.con.text(kClickObject);
  const CursorRead c = ctx.s.read_cursor(static_cast<float>(ctx.image.nx / 2), static_cast<float>(ctx.image.ny / 2));
  const float xc = c.x, yc = c.y;
  ctx.con.record({kYouClickedAt, xc, " ", yc});
  return std::pair{xc, yc};
}

// One object of options 1, 2, 3, 6, 7 or 8 (the kind says which), picked with the cursor or
// taken from a list line. Steps: mark the list, zoom, estimate, inspect, remove, keep or undo.
void handle_object_steps(Dialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, const ListedObject* listed,
                         ObjectChanges& ch) {
  mark_listed_objects(ctx, visit);
  const std::optional<std::pair<float, float>> at = object_position(ctx, listed);
  if (!at) return;
  auto [xc, yc] = *at;
  int32_t ixc = 0, iyc = 0;
  area_centre(ctx.image, xc, yc, ixc, iyc);
  Image before = cut_stamp(ctx.image, ixc, iyc);  // for the blink of the result view
  draw_area(ctx, ixc, iyc);
  const auto finish = [&] {
    blank_apostrophes(ctx.slot.object);
    if (!listed) redisplay_image(ctx);
  };
  if (!listed) {
    ctx.con.text(kClickCentre);
    const CursorRead c = ctx.s.read_cursor(static_cast<float>(ixc), static_cast<float>(iyc));
    xc = c.x;
    yc = c.y;
    if (!on_image(ctx.image, xc, yc)) {
      ctx.con.text(kCentreOffImage);
      return finish();
    }
  }

  visit.marked.push_back(MarkedObject{NINT_PIXEL(xc), NINT_PIXEL(yc)});
  visit.xcen = xc;
  visit.ycen = yc;
  Inspection insp;
  if (!kind.inspect(ctx, visit, psf_request(ctx, visit), ixc, iyc, insp, ch)) return finish();

  if (!insp.own_radius) {
    if (!(visit.deathrad >= kShownRadiusMin)) visit.deathrad = kShownRadiusMin;  // NaN too
    if (visit.deathrad > kShownRadiusMax) visit.deathrad = kShownRadiusMax;
  }
  // A list's radius above 0 is the removal radius offered (and taken for an answer of 0 or less).
  const std::optional<float> listed_radius =
      listed && listed->radius > 0.0f && kind.disc ? std::optional<float>(listed->radius) : std::nullopt;
  if (listed_radius) visit.deathrad = *listed_radius;
  draw_inspection(ctx, insp, visit, ixc, iyc);
  const bool removed = kind.disc ? remove_asked_disc(ctx, visit, ch, listed_radius) : ch.bar.removed;
  if (!removed) {
    ctx.con.text(kObjectLeft);
    return finish();
  }
  keep_or_undo(ctx, visit, kind, before, ixc, iyc, ch);
  finish();
}

// One object as above; a Ctrl-C at one of its questions takes back what it changed so far,
// so an abandoned object is never left half removed or removed without its record line.
void handle_object(Dialogue& ctx, RemovalVisit& visit, const ObjectKind& kind, const ListedObject* listed) {
  ObjectChanges ch;
  try {
    handle_object_steps(ctx, visit, kind, listed, ch);
  } catch (const Interrupted&) {
    undo_object(ctx, visit, ch);
    throw;
  }
}

// Adds the constant level for the visit and takes it out again at its end, also when the
// input ends inside the submenu. A pixel that still holds its old value plus the level gets
// its old value back exactly; the level and the removals would otherwise round the low bits
// of every pixel, which matters for images with a large negative blank value.
class ConstantLevel {
 public:
  ConstantLevel(ImageView image, int32_t level)
      : image_(image), level_(static_cast<float>(level)), original_(image.px, image.px + image.size()) {
    for (std::size_t k = 0; k < original_.size(); ++k) image_.px[k] += level_;
  }
  ~ConstantLevel() {
    for (std::size_t k = 0; k < original_.size(); ++k) {
      float& v = image_.px[k];
      const float was = original_[k];
      v = (v == was + level_) ? was : v - level_;
    }
  }
  ConstantLevel(const ConstantLevel&) = delete;
  ConstantLevel& operator=(const ConstantLevel&) = delete;

 private:
  ImageView image_;
  float level_;
  std::vector<float> original_;
};

void open_record(Dialogue& ctx, RemovalVisit& visit) {
  if (!visit.record.open(ctx.files.record, ctx.con, std::string(kRecordUnwritable))) return;
  for (std::string_view l : kRecordHeaderLines)
    visit.record.stream() << (l.empty() ? std::string() : list_record({l})) << '\n';
  visit.record.stream().flush();
}

// The smallest finite pixel value (0.0 when there is none).
float smallest_finite(ConstImageView image) {
  bool any = false;
  float low = 0.0f;
  const std::size_t n = image.size();
  for (std::size_t k = 0; k < n; ++k) {
    const float v = image.px[k];
    if (!counted_pixel(v)) continue;
    if (!any || v < low) low = v;
    any = true;
  }
  return low;
}

// `report`, when given, collects what became of each line (for a run without a screen).
void remove_listed_automatically(Dialogue& ctx, RemovalVisit& visit, AutomaticRemovals* report = nullptr) {
  const auto problem = [&](std::string line) {
    if (report) report->problems.push_back(std::move(line));
  };
  const std::optional<ObjectList> list = open_object_list(ctx);
  if (!list) return problem(ctx.files.object_list.string() + ": cannot be read");
  if (report) report->listed = list->objects.size();
  // "object k of n" under the output while the list is worked through (terminals only).
  struct ProgressEnd {
    Console& con;
    ~ProgressEnd() { con.progress_done(); }
  } progress_end{ctx.con};
  const std::string of_all = " of " + std::to_string(list->objects.size());
  std::size_t done = 0;
  const auto stop_line = [&](std::size_t finished) {
    return "Ctrl-C: the list was stopped after " + std::to_string(finished) + of_all +
           " objects; those are removed, the rest of the image is untouched.";
  };
  const StopRequest stop = ctx.con.stop_request();
  for (const ListedObject& o : list->objects) {
    if (stop.requested()) throw Interrupted(stop_line(done));
    ctx.con.progress("object " + std::to_string(++done) + of_all);
    ctx.con.record({kReadAutomaticLead, o.type, o.x, o.y, o.radius});
    const ObjectKind* kind = object_kind(o.type);
    if (!kind) {
      problem(list_line_reference(ctx.files.object_list, o.line) + ": type " + std::to_string(o.type) +
              " is not 1, 2, 3, 6 or 7; the list stops there");
      return report_incorrect_data(ctx.con);
    }
    if (!on_image(ctx.image, o.x, o.y)) {
      ctx.con.text(off_image_message(ctx, o));
      problem(off_image_message(ctx, o));
      continue;
    }
    visit.marked.push_back(MarkedObject{NINT_PIXEL(o.x), NINT_PIXEL(o.y)});
    visit.xcen = o.x;
    visit.ycen = o.y;
    visit.deathrad = o.radius;
    ObjectChanges ch;
    const bool disc = kind->automatic(ctx, visit, psf_request(ctx, visit), ch);
    bool kept = ch.bar.removed;
    if (disc) {
      // A listed radius above 0 is the radius the ring is traced at, as a typed one is; the
      // estimate only stands in for 0 or less.
      if (o.radius > 0.0f) visit.deathrad = o.radius - 1.0f;
      ctx.con.record({kRadiusSetLead, visit.deathrad});
      const RemovalResult r = remove_disc(ctx, visit);
      kept = r.changed();
      if (!r.changed()) {
        undo_object(ctx, visit, ch);
        if (r.status == RemovalStatus::stopped) throw Interrupted(stop_line(done - 1));
        ctx.con.text(kObjectLeft);
      }
    }
    // Kept removals are recorded as the interactive ones are, so the record repeats the visit.
    const float recorded_radius = disc ? visit.deathrad : kColumnRecordRadius;
    if (kept) record_removal(visit, kind->type, recorded_radius);
    if (report && kept) report->removed.push_back({o.type, visit.xcen, visit.ycen, recorded_radius});
    if (!kept) problem(list_line_reference(ctx.files.object_list, o.line) + ": nothing was removed there");
    blank_apostrophes(ctx.slot.object);
  }
  if (list->bad_line) {
    ctx.con.text(bad_list_line_message(ctx.files.object_list, list->bad_line));
    problem(bad_list_line_message(ctx.files.object_list, list->bad_line));
  }
}

void remove_clicked_object(Dialogue& ctx, RemovalVisit& visit, int32_t option) {
  if (const ObjectKind* kind = object_kind(option)) handle_object(ctx, visit, *kind, nullptr);
}

void remove_listed_interactively(Dialogue& ctx, RemovalVisit& visit) {
  const std::optional<ObjectList> list = open_object_list(ctx);
  if (!list) return;
  bool stopped = false;
  for (const ListedObject& o : list->objects) {
    ctx.con.record({kReadInteractiveLead, o.type, o.x, o.y, o.radius});
    visit.deathrad = o.radius;
    const ObjectKind* kind = object_kind(o.type);
    if (!kind) {
      report_incorrect_data(ctx.con);
      stopped = true;
      break;
    }
    handle_object(ctx, visit, *kind, &o);
  }
  if (!stopped && list->bad_line) ctx.con.text(bad_list_line_message(ctx.files.object_list, list->bad_line));
  redisplay_image(ctx);
  mark_listed_objects(ctx, visit);
}

int32_t run_visit(Dialogue& ctx) {
  const float low = smallest_finite(ctx.image);
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
    REMOVEOPTIONS(ctx.con);
    const int32_t option = ctx.con.read_int();
    if (option == 0) break;
    mark_modified(ctx.slot);
    if (object_kind(option)) {
      remove_clicked_object(ctx, visit, option);
    } else if (option == 8) {
      remove_listed_interactively(ctx, visit);
    } else if (option == 9) {
      remove_listed_automatically(ctx, visit);
    } else if (option == 4) {
      find_stars_dialogue(ctx.s, ctx.files);
      if (!ctx.s.removal.object_list.empty()) ctx.files.object_list = ctx.s.removal.object_list;
    } else {
      for (std::string_view l : kWrongOptionLines) ctx.con.text(l);
      break;
    }
  }
  return static_cast<int32_t>(visit.marked.size());
}

}  // namespace

int32_t constant_level(ConstImageView image) { return INT(std::fabs(smallest_finite(image)) + 1.0f); }

void REMOVEOPTIONS(Console& con) {
  con.blank();
  for (std::string_view l : kRemoveOptionsLines) con.text(l);
  con.blank();
}

int32_t remove_submenu(Session& s, const RemovalFiles& files) {
  Dialogue ctx(s, files);
  ctx.shift = static_cast<float>(constant_level(ctx.image));
  return run_visit(ctx);
}

void remove_listed_automatically(Session& s, RemovalVisit& visit, const RemovalFiles& files) {
  Dialogue ctx(s, files);
  remove_listed_automatically(ctx, visit);
}

AutomaticRemovals remove_list_unattended(Session& s, const RemovalFiles& files) {
  Dialogue ctx(s, files);
  AutomaticRemovals report;
  const float low = smallest_finite(ctx.image);
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

void remove_clicked_object(Session& s, RemovalVisit& visit, int32_t option, const RemovalFiles& files) {
  Dialogue ctx(s, files);
  remove_clicked_object(ctx, visit, option);
}

void remove_listed_interactively(Session& s, RemovalVisit& visit, const RemovalFiles& files) {
  Dialogue ctx(s, files);
  remove_listed_interactively(ctx, visit);
}

}  // namespace zelvo
