// The steps of a removal within a visit: the point-spread estimates, the five-row centre,
// the bar removal, the line repair, the disc removal and the undo. Each prints the lines its
// routine reports and tells the visit's level cache which pixels it changed.
#include <algorithm>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "numeric/random.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "removal/deathstar.h"
#include "removal/find_centre.h"
#include "removal/line_repair.h"
#include "removal/removal_context.h"
#include "removal/satbar.h"
#include "removal/wipe.h"
#include "session/photometry_menu.h"
#include "session/remove_dialogue.h"
#include "session/remove_texts.h"
#include "session/session.h"

namespace zelvo {

namespace {

// The lines the steps print.
constexpr std::string_view kRegularToMainLog = "Entering centre/radius finding for regular stars...";
constexpr std::string_view kSaturatedToMainLog = "Entering centre/radius finding for saturated stars...";
constexpr std::string_view kSaturatedRetry = "Object was saturated, trying again.";
constexpr std::string_view kSkyLevelLead = "Estimated background sky level = ";
constexpr std::string_view kSkySigmaLead = "Estimated background sky sigma = ";

constexpr float kSkyLower = -50.0f;

RemovalContext removal_context(const RemovalDialogue& ctx, std::ostream* log) {
  return RemovalContext{ctx.s.random.rng,       ctx.s.random.seed,
                        ctx.s.settings.extlogs, log,
                        ctx.con.stop_request(), galaxy_model_of(ctx.s, ctx.image)};
}

void print_notes(RemovalDialogue& ctx, const std::vector<std::string>& notes) {
  for (const std::string& l : notes) ctx.note(l);
}

// The debug log of one removal routine call: the file is opened for appending at every
// call (a refusal told once per session) and closed when the call's lines are written.
class RoutineLog {
 public:
  explicit RoutineLog(RemovalDialogue& ctx) { file_.open(ctx.files.debug_log, ctx.con, std::string(kNoDebugLogText)); }
  std::ostream* stream() { return &file_.stream(); }

 private:
  LogFile file_;
};

void main_log(RemovalDialogue& ctx, std::string_view text) {
  std::ostream& mainlog = ctx.s.mainlog.stream();
  mainlog << list_record({text}) << '\n';
  mainlog.flush();
}

void note_change(RemovalVisit& visit, const Box& b) {
  if (visit.levels && !b.empty()) visit.levels->touched(b);
}

// Every change to the pixels within a visit goes through remove_bar, repair and remove_disc,
// which tell the visit's level cache what they changed.

// Runs a routine that repaints lines (a bar, a bad column or row) with its debug log, prints
// its lines and tells the visit's level cache what it changed.
template <typename Routine>
SatBarResult repaint_lines(RemovalDialogue& ctx, RemovalVisit& visit, Routine routine) {
  SatBarResult bar = [&] {
    RoutineLog log(ctx);
    return routine(removal_context(ctx, log.stream()));
  }();
  print_notes(ctx, bar.notes);
  if (bar.removed) note_change(visit, bar.changed);
  return bar;
}

// REMOVESATBAR at (xc, yc) with the given sky.
SatBarResult remove_bar(RemovalDialogue& ctx, RemovalVisit& visit, float xc, float yc, float bgmean, float bgsigma) {
  return repaint_lines(ctx, visit,
                       [&](const RemovalContext& rc) { return REMOVESATBAR(ctx.image, xc, yc, bgmean, bgsigma, rc); });
}

// FINDCENTRE at the visit's centre, its lines printed.
CentreResult find_centre(RemovalDialogue& ctx, RemovalVisit& visit) {
  CentreResult c = [&] {
    RoutineLog log(ctx);
    return FINDCENTRE(ctx.image, visit.xcen, visit.ycen, removal_context(ctx, log.stream()));
  }();
  print_notes(ctx, c.notes);
  return c;
}

}  // namespace

// The visit's cache of the image's levels (see RemovalVisit::levels).
TileLevels& levels_of(RemovalDialogue& ctx, RemovalVisit& visit) {
  if (!visit.levels || !visit.levels->covers(ctx.image)) visit.levels = central_tile_levels(ctx.image);
  return *visit.levels;
}

// The point-spread estimate at the current centre; the centre follows the centroid (when one
// is asked for) and the radius becomes the half-flux radius when the estimate completes.
// The rough sky is that of the image as it is at this call (a bar may have gone since the
// request was made).
PsfEstimate estimate(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req) {
  req.rough_sky = rough_sky(levels_of(ctx, visit));
  PsfEstimate e = GETPSF(ctx.image, visit.xcen, visit.ycen, req);
  print_notes(ctx, e.notes);
  // The zoom box follows the centroid's last working pixel.
  if (e.centroid_pixel) std::tie(ctx.s.display.zoom.zoomx, ctx.s.display.zoom.zoomy) = *e.centroid_pixel;
  visit.xcen = e.xcen;
  visit.ycen = e.ycen;
  if (e.deathrad) visit.deathrad = *e.deathrad;
  return e;
}

// Regular star: centroid and estimate, retried once without centroiding when saturated
// (the object is then removed anyway).
PsfEstimate estimate_star(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req) {
  main_log(ctx, kRegularToMainLog);
  PsfEstimate e = estimate(ctx, visit, req);
  if (e.saturated) {
    ctx.note(text_line(kSaturatedRetry));
    req.centroid = false;
    e = estimate(ctx, visit, req);
  }
  return e;
}

// A bad column or row through (xc, yc) repaired from the lines beside it (sigma: the noise
// painted; 0 or less: the noise measured beside the line).
SatBarResult repair(RemovalDialogue& ctx, RemovalVisit& visit, float xc, float yc, float sigma, LineAxis axis) {
  return repaint_lines(ctx, visit,
                       [&](const RemovalContext& rc) { return repair_line(ctx.image, xc, yc, sigma, axis, rc); });
}

SatBarResult repair(RemovalDialogue& ctx, RemovalVisit& visit, const LineDefect& defect, float sigma) {
  return repaint_lines(ctx, visit, [&](const RemovalContext& rc) {
    return repair_line(ctx.image, defect, visit.xcen, visit.ycen, sigma, rc);
  });
}

// Saturated star: centre and sky from the five rows, the bar removed, then the estimate at
// that centre without centroiding. None when the centre cannot be measured (nothing changed).
std::optional<PsfEstimate> estimate_saturated(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req,
                                              ObjectChanges& ch) {
  main_log(ctx, kSaturatedToMainLog);
  const float given_x = visit.xcen, given_y = visit.ycen;
  const CentreResult c = find_centre(ctx, visit);
  if (!c.ok()) return std::nullopt;
  visit.xcen = c.xc;
  visit.ycen = c.yc;
  visit.deathrad = c.radius;
  // The wings, symmetric about the flat top whatever the bleed does, give the centre when
  // they can; the bar is then followed along the column nearest to it.
  if (const std::optional<WingCentre> w = wing_centre(ctx.image, given_x, given_y, c.bgmean)) {
    visit.xcen = w->x;
    visit.ycen = w->y;
  }
  ch.bar = remove_bar(ctx, visit, std::round(visit.xcen), std::round(visit.ycen), c.bgmean, c.bgsigma);
  ctx.note(list_record({kSkyLevelLead, c.bgmean}));
  ctx.note(list_record({kSkySigmaLead, c.bgsigma}));
  req.centroid = false;
  return estimate(ctx, visit, req);
}

// Area from a list: the five-row centre is tried, but a centre that moves by more than
// 2 pixels from the recorded one is not taken.
void estimate_listed_area(RemovalDialogue& ctx, RemovalVisit& visit, PsfRequest req) {
  const float rx = visit.xcen, ry = visit.ycen;
  const CentreResult c = find_centre(ctx, visit);
  if (c.ok()) {
    visit.xcen = c.xc;
    visit.ycen = c.yc;
    visit.deathrad = c.radius;
    ctx.note(list_record({kSkyLevelLead, c.bgmean}));
    ctx.note(list_record({kSkySigmaLead, c.bgsigma}));
  }
  req.centroid = false;
  (void)estimate(ctx, visit, req);
  if (std::hypot(visit.xcen - rx, visit.ycen - ry) > 2.0f) {
    visit.xcen = rx;
    visit.ycen = ry;
  }
}

// The sky limits and saturation level of the image as it is now, for the point-spread estimate.
PsfRequest psf_request(RemovalDialogue& ctx, RemovalVisit& visit) {
  const ImageLimits lim = image_limits(levels_of(ctx, visit));
  PsfRequest req;
  req.sky_lower = kSkyLower;
  req.sky_upper = lim.sky_upper;
  req.search_radius = kRemovalSearchRadius;
  req.centroid = true;
  const std::optional<double> header = saturation_from_cards(ctx.slot.cards);
  req.saturation = header ? static_cast<int32_t>(std::min(*header, 2.0e9)) : lim.saturation;
  return req;
}

// DEATHSTAR at the visit's centre and radius; the tiles of a repainted disc are marked changed.
// Its first line, the radius and centre, comes before a refusal of the debug log.
RemovalResult remove_disc(RemovalDialogue& ctx, RemovalVisit& visit) {
  LogFile log;
  const LogFile::Opening opening = log.open_untold(ctx.files.debug_log, ctx.con, std::string(kNoDebugLogText));
  const RemovalResult r = DEATHSTAR(ctx.s.removal.work, ctx.image, visit.xcen, visit.ycen, visit.deathrad,
                                    removal_context(ctx, &log.stream()));
  visit.deathrad = r.radius;
  log.close();
  for (std::size_t i = 0; i < r.notes.size(); ++i) {
    ctx.note(r.notes[i]);
    if (i == 0 && !opening.opened) ctx.con.log_failure(ctx.files.debug_log.filename().string(), opening.refusal);
  }
  if (r.changed()) note_change(visit, ctx.s.removal.work.mask_box);
  return r;
}

// Puts back what the object changed: the disc first (it was painted last), then the bar.
void undo_object(RemovalDialogue& ctx, RemovalVisit& visit, const ObjectChanges& ch) {
  if (ch.disc) {
    const Box disc = ctx.s.removal.work.mask_box;
    if (UNWIPE(ctx.s.removal.work, ctx.image)) note_change(visit, disc);
  }
  restore_satbar(ch.bar, ctx.image);
  if (ch.bar.removed) note_change(visit, ch.bar.changed);
}

}  // namespace zelvo
