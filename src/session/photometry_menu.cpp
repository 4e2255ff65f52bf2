// O: the aperture-photometry submenu on the active image.
#include "session/photometry_menu.h"

#include <array>
#include <cmath>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
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
constexpr std::string_view kIndef = "INDEF";

constexpr std::string_view kAnnulusLine = "The nro of pixels and total flux within background annulus = ";
constexpr std::string_view kStarLine = "The number of pixels and total flux within star radius = ";
constexpr std::string_view kCorrectedLine = "The corrected flux and corresponding magnitude = ";
constexpr std::string_view kTruncated =
    "The apertures cross the image border: measured from the pixels inside the image only (truncated).";
constexpr std::string_view kRetraced =
    "An aperture circle had a gap at its radius; it was traced 0.05 to 0.5 pixel wider or narrower.";
constexpr std::string_view kEmptyAnnulus =
    "The background annulus holds no pixels: no background, so flux and magnitude are INDEF.";
constexpr std::string_view kNoMagnitude = "The corrected flux is not positive, so its magnitude is INDEF.";
constexpr std::string_view kNotFiniteFlux =
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

Photometry report_apphot(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, Console& con,
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

constexpr std::string_view kMenuRadii = "  2) Set the aperture photometry radii; current radii (star,";
constexpr std::string_view kMenuRadiiValues = "      inner background, outer background) = ";
constexpr std::string_view kMenuExptime = "  3) Set variables; current image exposure time = ";
constexpr std::array<std::string_view, 3> kMenuTail = {
    "  4) Get aperture photometry of a clicked object ",
    "      [Click anywhere outside the image to return to menu]",
    "  0) Return back to the main options ",
};
constexpr std::array<std::string_view, 2> kRadiiPrompt = {
    "Give radii for apertures of the star, and inner and ",
    " outer edge of the background annulus: ",
};
constexpr std::string_view kRadiiRefused = "Star radius must < inner edge that must < outer edge. ";
constexpr std::string_view kExptimePrompt = "Give image exposure time: ";
constexpr std::array<std::string_view, 2> kClickPrompt = {
    "Click on the centre of the aperture photometry object. ",
    " [N.B. The program will find the actual centre for you.] ",
};
constexpr std::string_view kSaturated = "Object was saturated, can not proceed...";
constexpr std::string_view kSaturatedRecord = " saturated star ";
constexpr std::string_view kSkyOfCentre = "Sky position of the centre: ";

void print_menu(Session& s, const ApertureRadii& radii) {
  Console& con = s.con;
  con.blank();
  con.text(kZoomMenuHead);
  con.text(kZoomMenuSetBox);
  con.record({kZoomMenuBoxSize, s.zoom.zoomw, " x ", s.zoom.zoomh});
  con.text(kMenuRadii);
  con.record({kMenuRadiiValues, radii.star, radii.inner, radii.outer});
  con.record({kMenuExptime, s.active().exptime});
  for (std::string_view l : kMenuTail) con.text(l);
  con.blank();
}

void radii_dialogue(Console& con, ApertureRadii& radii) {
  for (std::string_view l : kRadiiPrompt) con.text(l);
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
void photometry_loop(Session& s, const ApertureRadii& radii, const ZoomBox& shown, const SkyCoordinatesParse& sky,
                     std::ostream* log) {
  Console& con = s.con;
  const ConstImageView image = s.active().view();
  // The image does not change in this loop, so its limits and rough sky are the same for
  // every click: one pass over the image here, none per measurement.
  TileLevels tiles = central_tile_levels(image);
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
    for (std::string_view l : kClickPrompt) con.text(l);
    const CursorRead c = s.read_cursor(s.cursorx, s.cursory);
    if (ends_click_loop(c.key)) return;
    const Box limits = acceptance_box(shown);
    con.record({"You clicked at ", c.x, c.y});
    if (!click_accepted(limits, c.x, c.y, image)) return;

    const PsfEstimate e = GETPSF(image, c.x, c.y, req);
    for (const std::string& l : e.notes) con.line(l);
    // The zoom box follows the centroid's last working pixel.
    if (e.centroid_pixel) std::tie(s.zoom.zoomx, s.zoom.zoomy) = *e.centroid_pixel;
    if (e.saturated) {
      con.text(kSaturated);
      if (log) {
        *log << list_record({c.x, c.y, kSaturatedRecord}) << '\n';
        log->flush();
      }
      return;
    }
    con.record({"Actual centre: ", e.xcen, e.ycen});
    if (const auto line = sky_report_line(kSkyOfCentre, sky, e.xcen, e.ycen)) con.text(*line);
    const Photometry p = report_apphot(image, e.xcen, e.ycen, radii, con, log, s.active().exptime);
    if (p.measured()) {
      CIRCLE(e.xcen, e.ycen, radii.star, kApertureColour, s.gfx);
      CIRCLE(e.xcen, e.ycen, radii.inner, kAnnulusColour, s.gfx);
      CIRCLE(e.xcen, e.ycen, radii.outer, kAnnulusColour, s.gfx);
    }
  }
}

}  // namespace

void photometry_submenu(Session& s, const PhotometryFiles& files) {
  Console& con = s.con;
  ImageSlot& a = s.active();
  const ConstImageView image = a.view();
  // The header does not change while the submenu runs: its WCS is read once per visit.
  const SkyCoordinatesParse sky = parse_sky_coordinates(a.cards);
  const ZoomBox whole = whole_image_box(image.nx, image.ny);
  s.zoom = whole;
  ZoomBox shown = whole;
  ApertureRadii radii;
  // The window shows the whole image, as the clicks are judged against it.
  draw_zoom(image, s.disp, shown, s.gfx);

  LogFile logfile;
  std::ostream* log = nullptr;
  if (logfile.open(files.log, con, "the measurements are not logged")) {
    for (const std::string& l : apphot_log_header()) logfile.stream() << l << '\n';
    logfile.stream().flush();
    log = &logfile.stream();
  }

  for (;;) {
    print_menu(s, radii);
    const int32_t choice = con.read_int();
    if (choice == 0) return;
    if (choice == 1) {
      SETZOOMBOX(s);
      // A box of the image's size is the whole image, wherever a centroid left its centre.
      const bool all = s.zoom.zoomw == image.nx && s.zoom.zoomh == image.ny;
      shown = all ? whole : s.zoom;
    }
    if (choice == 2) radii_dialogue(con, radii);
    if (choice == 3) {
      con.text(kExptimePrompt);
      con.read_list({&a.exptime});
    }
    if (choice == 4) photometry_loop(s, radii, shown, sky, log);
  }
}

void command_photometry(Session& s) {
  if (refuse_empty_slot(s)) return;
  ensure_display_levels(s.active().view(), s.disp);
  photometry_submenu(s);
}

}  // namespace zelvo
