// O: the aperture-photometry submenu on the active image.
#include "session/photometry_menu.h"

#include <cmath>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

#include "display/circle.h"
#include "display/zoom.h"
#include "session/mouse_menu.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {

namespace {

// The value written in place of a number that cannot be computed (IRAF's convention).
constexpr const char* kIndef = "INDEF";

constexpr const char* kAnnulusLine = "The nro of pixels and total flux within background annulus = ";
constexpr const char* kStarLine = "The number of pixels and total flux within star radius = ";
constexpr const char* kCorrectedLine = "The corrected flux and corresponding magnitude = ";
constexpr const char* kTruncated =
    "The apertures cross the image border: measured from the pixels inside the image only (truncated).";
constexpr const char* kRetraced =
    "An aperture circle had a gap at its radius; it was traced 0.05 to 0.5 pixel wider or narrower.";
constexpr const char* kEmptyAnnulus =
    "The background annulus holds no pixels: no background, so flux and magnitude are INDEF.";
constexpr const char* kNoMagnitude = "The corrected flux is not positive, so its magnitude is INDEF.";
constexpr const char* kNotFiniteFlux =
    "The apertures hold pixels that are not finite numbers (NaN or Inf): the flux cannot be measured.";

// Why a ring could not be traced, for the refusal line.
const char* ring_failure(EdgeStatus s) {
  switch (s) {
    case EdgeStatus::no_start: return "no pixel above the centre lies on it";
    case EdgeStatus::stuck: return "the walk around it found no next pixel";
    case EdgeStatus::no_closure: return "it did not close";
    case EdgeStatus::ok: break;
  }
  return "";
}

// A free-format item for an optional value: the number, or INDEF.
ListValue value_or_indef(const std::optional<float>& v) {
  if (v) return ListValue(*v);
  return ListValue(kIndef);
}

}  // namespace

Photometry report_apphot(const ImageView& image, float xcen, float ycen, const ApertureRadii& radii, Console& con,
                         std::ostream* log, float exptime) {
  const Photometry p = APPHOT(image, xcen, ycen, radii, exptime);
  if (!p.measured()) {
    con.record({"The aperture circle of radius", p.sums.failed_radius,
                std::string("cannot be traced around this centre (") + ring_failure(p.sums.status) +
                    "); star not measured."});
    return p;
  }
  if (p.sums.truncated) con.text(kTruncated);
  if (p.sums.retraced) con.text(kRetraced);
  con.record({kAnnulusLine, p.annulus.n, p.annulus.flux});
  if (p.annulus.n <= 0) con.text(kEmptyAnnulus);
  con.record({kStarLine, p.sums.star.n, p.sums.star.flux});
  if (!std::isfinite(p.sums.star.flux) || !std::isfinite(p.annulus.flux)) con.text(kNotFiniteFlux);
  con.record({kCorrectedLine, value_or_indef(p.corrected), value_or_indef(p.magnitude)});
  if (p.corrected && !p.magnitude) con.text(kNoMagnitude);

  if (log) {
    *log << list_record({xcen, ycen, value_or_indef(p.corrected), value_or_indef(p.magnitude)}) << '\n';
    log->flush();
  }
  return p;
}

namespace {

constexpr const char* kMenuRadii = "  2) Set the aperture photometry radii; current radii (star,";
constexpr const char* kMenuRadiiValues = "      inner background, outer background) = ";
constexpr const char* kMenuExptime = "  3) Set variables; current image exposure time = ";
constexpr const char* kMenuTail[] = {
    "  4) Get aperture photometry of a clicked object ",
    "      [Click anywhere outside the image to return to menu]",
    "  0) Return back to the main options ",
};
constexpr const char* kRadiiPrompt[] = {
    "Give radii for apertures of the star, and inner and ",
    " outer edge of the background annulus: ",
};
constexpr const char* kRadiiRefused = "Star radius must < inner edge that must < outer edge. ";
constexpr const char* kExptimePrompt = "Give image exposure time: ";
constexpr const char* kClickPrompt[] = {
    "Click on the centre of the aperture photometry object. ",
    " [N.B. The program will find the actual centre for you.] ",
};
constexpr const char* kSaturated = "Object was saturated, can not proceed...";
constexpr const char* kSaturatedRecord = " saturated star ";

}  // namespace

namespace {

void print_menu(const PhotometryContext& ctx, const ApertureRadii& radii) {
  Console& con = ctx.con;
  con.blank();
  con.text(kZoomMenuHead);
  con.text(kZoomMenuSetBox);
  con.record({kZoomMenuBoxSize, ctx.zoom.zoomw, " x ", ctx.zoom.zoomh});
  con.text(kMenuRadii);
  con.record({kMenuRadiiValues, radii.star, radii.inner, radii.outer});
  con.record({kMenuExptime, ctx.exptime});
  for (const char* l : kMenuTail) con.text(l);
  con.blank();
}

void radii_dialogue(Console& con, ApertureRadii& radii) {
  for (const char* l : kRadiiPrompt) con.text(l);
  ApertureRadii typed = radii;
  con.read_list({&typed.star, &typed.inner, &typed.outer});
  if (typed.valid()) {
    radii = typed;
  } else {
    con.text(kRadiiRefused);
    radii = ApertureRadii{};
  }
}

// Colours of the circles drawn at each measured star: the star aperture, the annulus.
constexpr int kApertureColour = 3;  // green
constexpr int kAnnulusColour = 2;   // red

// Clicks stars one after another until a click outside the zoom box, the key q, Q or Esc,
// or a saturated object. Each measured star gets its aperture and annulus circles drawn at
// the measured centre.
// `shown` is the box the user set (the area on display). Clicks are judged against it, not
// against the session's zoom box, which every centroid moves onto the last object: judged
// that way, a click on a displayed star far from the previous one would end the loop, and
// every later visit of this option too.
void photometry_loop(PhotometryContext& ctx, const ApertureRadii& radii, const ZoomBox& shown,
                     std::ostream* log) {
  Console& con = ctx.con;
  // The image does not change in this loop, so its limits and rough sky are the same for
  // every click: one pass over the image here, none per measurement.
  TileLevels tiles = central_tile_levels(ctx.image);
  const ImageLimits lim = image_limits(tiles);
  PsfRequest req;
  req.sky_lower = -50.0f;
  req.sky_upper = lim.sky_upper;
  req.saturation = lim.saturation;
  req.rough_sky = lim.rough_sky;
  req.search_radius = 15.0f;
  req.centroid = true;
  for (;;) {
    con.blank();
    for (const char* l : kClickPrompt) con.text(l);
    ctx.gfx.focus();
    const CursorRead c = ctx.gfx.cursor(ctx.cursor.cursorx, ctx.cursor.cursory);
    con.focus_command();
    ctx.cursor.cursorx = c.x;
    ctx.cursor.cursory = c.y;
    ctx.cursor.cursorkey = c.key;
    if (ends_click_loop(c.key)) return;
    const PixelRange limits = acceptance_box(shown);
    con.record({"You clicked at ", c.x, c.y});
    if (!click_accepted(limits, c.x, c.y, ctx.image)) return;

    const PsfEstimate e = GETPSF(ctx.image, c.x, c.y, req);
    for (const std::string& l : e.notes) con.line(l);
    // The zoom box follows the centroid's last working pixel.
    if (e.centroid_pixel) std::tie(ctx.zoom.zoomx, ctx.zoom.zoomy) = *e.centroid_pixel;
    if (e.saturated) {
      con.text(kSaturated);
      if (log) {
        *log << list_record({c.x, c.y, kSaturatedRecord}) << '\n';
        log->flush();
      }
      return;
    }
    con.record({"Actual centre: ", e.xcen, e.ycen});
    if (ctx.sky)
      if (const auto line = sky_report_line("Sky position of the centre: ", *ctx.sky, e.xcen, e.ycen))
        con.text(*line);
    const Photometry p = report_apphot(ctx.image, e.xcen, e.ycen, radii, con, log, ctx.exptime);
    if (p.measured()) {
      CIRCLE(e.xcen, e.ycen, radii.star, kApertureColour, ctx.gfx);
      CIRCLE(e.xcen, e.ycen, radii.inner, kAnnulusColour, ctx.gfx);
      CIRCLE(e.xcen, e.ycen, radii.outer, kAnnulusColour, ctx.gfx);
    }
  }
}

}  // namespace

void photometry_submenu(PhotometryContext ctx) {
  Console& con = ctx.con;
  const ZoomBox whole = whole_image_box(ctx.image.nx, ctx.image.ny);
  ctx.zoom = whole;
  ZoomBox shown = whole;
  ApertureRadii radii;
  // The window shows the whole image, as the clicks are judged against it.
  draw_zoom(ctx.image, ctx.disp, shown, ctx.gfx);

  LogFile logfile;
  std::ostream* log = nullptr;
  if (logfile.open(ctx.log_path, con, "the measurements are not logged")) {
    for (const std::string& l : apphot_log_header()) logfile.stream() << l << '\n';
    logfile.stream().flush();
    log = &logfile.stream();
  }

  for (;;) {
    print_menu(ctx, radii);
    const int32_t choice = con.read_int();
    if (choice == 0) return;
    if (choice == 1) {
      SETZOOMBOX(ctx.image, ctx.disp, ctx.zoom, ctx.cursor, con, ctx.gfx);
      // A box of the image's size is the whole image, wherever a centroid left its centre.
      const bool all = ctx.zoom.zoomw == ctx.image.nx && ctx.zoom.zoomh == ctx.image.ny;
      shown = all ? whole : ctx.zoom;
    }
    if (choice == 2) radii_dialogue(con, radii);
    if (choice == 3) {
      con.text(kExptimePrompt);
      con.read_list({&ctx.exptime});
    }
    if (choice == 4) photometry_loop(ctx, radii, shown, log);
  }
}

void command_photometry(Session& s) {
  if (refuse_empty_slot(s)) return;
  ImageSlot& a = s.active();
  ensure_display_levels(a.view(), s.disp);
  const SkyCoordinatesParse sky = parse_sky_coordinates(a.cards);
  PhotometryContext ctx{a.view(), a.exptime, s.disp, s.zoom, CursorState{s.cursorx, s.cursory, s.cursorkey},
                        s.con, s.gfx};
  ctx.sky = &sky;
  photometry_submenu(ctx);
}

}  // namespace zelvo
