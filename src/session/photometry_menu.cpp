// O: the aperture-photometry submenu on the active image.
#include "session/photometry_menu.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>

#include "display/circle.h"
#include "display/zoom.h"
#include "fits/sky_coordinates.h"
#include "photometry/psf.h"
#include "platform/catalogue.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "session/commands.h"
#include "session/mouse_menu.h"
#include "session/session.h"
#include "text/list_parse.h"

namespace zelvo {

namespace {

// The value written in place of a number that cannot be computed (IRAF's convention).
constexpr std::string_view kIndef = "INDEF";

constexpr std::string_view kAnnulusLine = "The nro of pixels and total flux within background annulus = ";
constexpr std::string_view kStarLine = "The number of pixels and total flux within star radius = ";
constexpr std::string_view kCorrectedLine = "The corrected flux and corresponding magnitude = ";
constexpr std::string_view kErrorLine = "The flux error and magnitude error = ";
constexpr std::string_view kSkyUsedLine =
    "The sky subtracted (clipped mean of the annulus pixels whose centres lie in it), its spread and pixel count = ";
constexpr std::string_view kTruncated =
    "The apertures cross the image border: measured from the pixels inside the image only (truncated).";
constexpr std::string_view kEmptyAnnulus =
    "The background annulus holds no usable pixels: no background, so flux and magnitude are INDEF.";
constexpr std::string_view kNoMagnitude = "The corrected flux is not positive, so its magnitude is INDEF.";
constexpr std::string_view kNotFiniteFlux =
    "The apertures hold pixels that are not finite numbers (NaN or Inf): the flux cannot be measured.";

// A free-format item for an optional value: the number, or INDEF.
// Printed and logged as REALs, as the log's records always were.
template <class T>
ListValue value_or_indef(const std::optional<T>& v) {
  if (v) return ListValue(static_cast<float>(*v));
  return ListValue(kIndef);
}
ListValue real(double v) { return ListValue(static_cast<float>(v)); }

// A catalogue cell for an optional value: the number, or missing.
template <class T>
CatalogueValue cell(const std::optional<T>& v) {
  if (v) return static_cast<double>(*v);
  return std::monostate{};
}

// The value of a numeric header card `key` (80-column cards), or none. The value is read as
// FITS writes numbers, Fortran's D exponent included (1.5D3).
std::optional<double> card_number(const std::vector<std::string>& cards, std::string_view key) {
  std::optional<double> found;
  for (const std::string& c : cards) {
    if (c.size() < 10 || c.compare(8, 2, "= ") != 0) continue;
    std::string_view kw(c.data(), 8);
    while (!kw.empty() && kw.back() == ' ') kw.remove_suffix(1);
    if (kw != key) continue;
    std::string_view value = std::string_view(c).substr(10);
    value = value.substr(0, value.find('/'));
    const auto first = value.find_first_not_of(' ');
    if (first == std::string_view::npos) continue;
    value = value.substr(first, value.find_last_not_of(' ') - first + 1);
    if (const auto v = parse_double(value)) found = v;  // the last card of a name wins
  }
  return found;
}

// The gains and read noises taken as the detector's: a value outside them is a damaged or
// misread card (or a mistyped answer), whose errors would be wrong by orders of magnitude.
constexpr double kLowestGain = 1e-3, kHighestGain = 1e5, kHighestReadNoise = 1e5;

}  // namespace

bool plausible_gain(double g) { return g >= kLowestGain && g <= kHighestGain; }
bool plausible_read_noise(double r) { return r >= 0.0 && r <= kHighestReadNoise; }

Detector detector_from_cards(const std::vector<std::string>& cards) {
  Detector d;
  for (std::string_view key : {"GAIN", "EGAIN"})
    if (const auto g = card_number(cards, key)) {
      if (!plausible_gain(*g)) {
        d.refusals.push_back("The header's " + std::string(key) + " = " + format_double(*g) +
                             " is not a plausible gain (0.001 to 100000 e-/count); it is not used.");
        continue;
      }
      d.gain = *g;
      d.source = "header " + std::string(key);
      break;
    }
  for (std::string_view key : {"RDNOISE", "READNOIS"})
    if (const auto r = card_number(cards, key)) {
      if (!plausible_read_noise(*r)) {
        d.refusals.push_back("The header's " + std::string(key) + " = " + format_double(*r) +
                             " is not a plausible read noise (0 to 100000 e-); it is not used.");
        continue;
      }
      d.read_noise = *r;
      break;
    }
  return d;
}

std::optional<double> saturation_from_cards(const std::vector<std::string>& cards) {
  for (std::string_view key : {"SATURATE", "SATLEVEL"})
    if (const auto v = card_number(cards, key); v && *v > 0.0) return v;
  return std::nullopt;
}

Photometry report_apphot(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, Console& con,
                         std::ostream* log, float exptime, const Detector& detector) {
  const Photometry p = APPHOT(image, xcen, ycen, radii, exptime, detector.gain);
  if (p.sums.truncated) con.text(kTruncated);
  con.record({kAnnulusLine, real(p.annulus.area), real(p.annulus.flux)});
  if (!p.sky.sky) con.text(kEmptyAnnulus);
  con.record({kStarLine, real(p.sums.star.area), real(p.sums.star.flux)});
  if (!std::isfinite(p.sums.star.flux) || !std::isfinite(p.annulus.flux)) con.text(kNotFiniteFlux);
  con.record({kCorrectedLine, value_or_indef(p.corrected), value_or_indef(p.magnitude)});
  if (p.corrected && !p.magnitude) con.text(kNoMagnitude);
  {
    std::string gain = "(gain " + format_double(detector.gain) + " e-/count, " + detector.source;
    if (detector.read_noise) gain += "; read noise " + format_double(*detector.read_noise) + " e-";
    con.record({kErrorLine, value_or_indef(p.flux_err), value_or_indef(p.mag_err), gain + ")"});
  }
  con.record({kSkyUsedLine, value_or_indef(p.sky.sky), real(p.sky.sigma), p.sky.n});

  if (log) {
    *log << list_record({xcen, ycen, value_or_indef(p.corrected), value_or_indef(p.magnitude)}) << '\n';
    log->flush();
  }
  return p;
}

namespace {

// A REAL as the double its shortest decimal text gives (0.8f is written 0.8, not 0.800000011920929).
double real_value(float v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

Catalogue star_catalogue() {
  Catalogue t;
  t.columns = {
      {"x", "float64", "pix", "centre, pixel (i, j) centred on (i, j), from 1"},
      {"y", "float64", "pix", ""},
      {"ra", "float64", "deg", "sky position of the centre (empty without a WCS)"},
      {"dec", "float64", "deg", ""},
      {"r_star", "float64", "pix", "star aperture radius"},
      {"r_in", "float64", "pix", "inner radius of the sky annulus"},
      {"r_out", "float64", "pix", "outer radius of the sky annulus"},
      {"area", "float64", "pix2", "exact area of the star aperture inside the image"},
      {"flux", "float64", "count", "star aperture sum minus area times sky"},
      {"flux_err", "float64", "count", "sqrt(flux/gain + area sky_sigma^2 + area^2 sky_sigma^2/n_sky)"},
      {"sky", "float64", "count", "clipped mean of the annulus pixels whose centres lie in it"},
      {"sky_sigma", "float64", "count", "spread of those pixels"},
      {"n_sky", "int64", "", "number of those pixels"},
      {"mag", "float64", "mag", "-2.5 log10(flux / exptime), or -2.5 log10(flux) when exptime is 0"},
      {"mag_err", "float64", "mag", "1.0857 flux_err / flux"},
      {"exptime", "float64", "s", "0: unknown, instrumental magnitude"},
      {"file", "string", "", "image file"},
  };
  t.meta = {{"writer", std::string("Zelvo aperture photometry")},
            {"apertures", std::string("exact circle/pixel overlap")}};
  return t;
}

}  // namespace

void catalogue_star(const PhotometryFiles& files, const StarJob& job, float xcen, float ycen, const Photometry& p,
                    Console& con) {
  Catalogue t = star_catalogue();
  CatalogueValue ra = std::monostate{}, dec = std::monostate{};
  if (job.sky && job.sky->wcs)
    if (const auto sp = job.sky->wcs->sky_at(xcen, ycen)) {
      ra = sp->lng;
      dec = sp->lat;
    }
  t.rows.push_back(
      {real_value(xcen), real_value(ycen), ra, dec, real_value(job.radii.star), real_value(job.radii.inner),
       real_value(job.radii.outer), p.sums.star.area, cell(p.corrected), cell(p.flux_err), cell(p.sky.sky),
       p.sky.n > 0 ? CatalogueValue(p.sky.sigma) : CatalogueValue(std::monostate{}), static_cast<int64_t>(p.sky.n),
       cell(p.magnitude), cell(p.mag_err), real_value(std::max(job.exptime, 0.0f)), job.file});
  // A failed write is told as a failed log is: once per file, and a run fails on it.
  const auto report = [&con](const std::filesystem::path& file, const CatalogueWrite& w) {
    if (!w.notice.empty()) con.text(w.notice);
    if (!w.ok) con.log_failure(file.filename().string(), w.error);
  };
  report(files.catalogue, append_catalogue(files.catalogue, t));
  report(files.regions, append_regions(files.regions, {{xcen, ycen, job.radii.star, "green", ""},
                                                       {xcen, ycen, job.radii.inner, "red", ""},
                                                       {xcen, ycen, job.radii.outer, "red", ""}}));
}

namespace {

constexpr std::string_view kSaturated = "Object was saturated, can not proceed...";
constexpr std::string_view kSaturatedRecord = " saturated star ";
constexpr std::string_view kSkyOfCentre = "Sky position of the centre: ";

}  // namespace

StarOutcome measure_star(const StarJob& job, float x, float y, Console& con) {
  StarOutcome out;
  const PsfEstimate e = GETPSF(job.image, x, y, job.psf);
  for (const std::string& l : e.notes) con.line(l);
  out.centroid_pixel = e.centroid_pixel;
  if (e.saturated) {
    out.saturated = true;
    con.text(kSaturated);
    if (job.log) {
      *job.log << list_record({x, y, kSaturatedRecord}) << '\n';
      job.log->flush();
    }
    return out;
  }
  out.xcen = e.xcen;
  out.ycen = e.ycen;
  con.record({"Actual centre: ", e.xcen, e.ycen});
  if (job.sky)
    if (const auto line = sky_report_line(kSkyOfCentre, *job.sky, e.xcen, e.ycen)) con.text(*line);
  out.p = report_apphot(job.image, e.xcen, e.ycen, job.radii, con, job.log, job.exptime, job.detector);
  if (job.files) catalogue_star(*job.files, job, e.xcen, e.ycen, out.p, con);
  return out;
}

namespace {

constexpr std::string_view kMenuRadii = "  2) Set the aperture photometry radii; current radii (star,";
constexpr std::string_view kMenuRadiiValues = "      inner background, outer background) = ";
constexpr std::string_view kMenuExptime = "  3) Set variables; current image exposure time = ";
constexpr std::array<std::string_view, 3> kMenuTail = {
    "  4) Get aperture photometry of a clicked object ",
    "      [Click outside the zoom box, or press q or Esc, to return to menu]",
    "  0) Return back to the main options ",
};
constexpr std::string_view kMenuGain = "  5) Set the detector gain (e-/count) and read noise (e-); current:";
constexpr std::string_view kMenuGainIndent = "      ";
constexpr std::array<std::string_view, 2> kRadiiPrompt = {
    "Give radii for apertures of the star, and inner and ",
    " outer edge of the background annulus: ",
};
constexpr std::string_view kRadiiRefused = "Star radius must < inner edge that must < outer edge. ";
constexpr std::string_view kExptimePrompt = "Give image exposure time: ";
constexpr std::string_view kExptimeNegative = "An exposure time cannot be negative; the exposure time stays ";
constexpr std::string_view kGainPrompt = "Give the gain (electrons per count) and the read noise (electrons): ";
constexpr std::string_view kGainRefused =
    "The gain must be 0.001 to 100000 and the read noise 0 to 100000; the values stay as they were.";
constexpr std::array<std::string_view, 2> kClickPrompt = {
    "Click on the centre of the aperture photometry object. ",
    " [N.B. The program will find the actual centre for you.] ",
};

// "gain 1.0 e-/count (none in the header, 1 assumed), read noise unknown".
std::string detector_text(const Detector& d) {
  return "gain " + format_double(d.gain) + " e-/count (" + d.source + "), read noise " +
         (d.read_noise ? format_double(*d.read_noise) + " e-" : std::string("unknown"));
}

void print_menu(Session& s, const ApertureRadii& radii, const Detector& detector) {
  Console& con = s.con;
  con.blank();
  con.text(kZoomMenuHead);
  con.text(kZoomMenuSetBox);
  con.record({kZoomMenuBoxSize, s.display.zoom.zoomw, " x ", s.display.zoom.zoomh});
  con.text(kMenuRadii);
  con.record({kMenuRadiiValues, radii.star, radii.inner, radii.outer});
  con.record({kMenuExptime, s.active().exptime});
  con.text(kMenuTail[0]);
  con.text(kMenuTail[1]);
  con.text(kMenuGain);
  con.text(std::string(kMenuGainIndent) + detector_text(detector));
  con.text(kMenuTail[2]);
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

// A negative (or non-numeric) exposure time is refused and the old one kept; 0 means unknown,
// which gives instrumental magnitudes.
void exptime_dialogue(Console& con, float& exptime) {
  con.text(kExptimePrompt);
  float typed = exptime;
  con.read_list({&typed});
  if (typed >= 0.0f && std::isfinite(typed))
    exptime = typed;
  else
    con.record({kExptimeNegative, exptime});
}

void gain_dialogue(Console& con, Detector& d) {
  con.text(kGainPrompt);
  float gain = static_cast<float>(d.gain), noise = d.read_noise ? static_cast<float>(*d.read_noise) : 0.0f;
  con.read_list({&gain, &noise});
  if (!plausible_gain(gain) || !plausible_read_noise(noise)) {
    con.text(kGainRefused);
    return;
  }
  d.gain = gain;
  d.read_noise = noise;
  d.source = "typed";
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
void photometry_loop(Session& s, StarJob job, const ZoomBox& shown) {
  Console& con = s.con;
  const ConstImageView image = s.active().view();
  // The image does not change in this loop, so its limits and rough sky are the same for
  // every click: one pass over the image here, none per measurement.
  TileLevels tiles = central_tile_levels(image);
  const ImageLimits lim = image_limits(tiles);
  job.psf.sky_lower = -50.0f;
  job.psf.sky_upper = lim.sky_upper;
  job.psf.saturation = lim.saturation;
  job.psf.rough_sky = lim.rough_sky;
  job.psf.search_radius = 15.0f;
  job.psf.centroid = true;
  for (;;) {
    con.blank();
    for (std::string_view l : kClickPrompt) con.text(l);
    const CursorRead c = s.read_cursor_again();
    if (ends_click_loop(c.key)) return;
    if (c.key == 'l' || c.key == 'L') {
      s.flip_view_levels([&] { draw_zoom(image, s.display.state, shown, s.gfx); });
      continue;
    }
    const Box limits = acceptance_box(shown);
    con.record({"You clicked at ", c.x, c.y});
    if (!click_accepted(limits, c.x, c.y, image)) return;

    const StarOutcome o = measure_star(job, c.x, c.y, con);
    // The zoom box follows the centroid's last working pixel.
    if (o.centroid_pixel) std::tie(s.display.zoom.zoomx, s.display.zoom.zoomy) = *o.centroid_pixel;
    if (o.saturated) return;
    // The apertures are drawn where they were measured: about the measured centre.
    CIRCLE(o.xcen, o.ycen, job.radii.star, kApertureColour, s.gfx);
    CIRCLE(o.xcen, o.ycen, job.radii.inner, kAnnulusColour, s.gfx);
    CIRCLE(o.xcen, o.ycen, job.radii.outer, kAnnulusColour, s.gfx);
  }
}

}  // namespace

void photometry_submenu(Session& s, const PhotometryFiles& files) {
  Console& con = s.con;
  ImageSlot& a = s.active();
  const ConstImageView image = a.view();
  // The header does not change while the submenu runs: its WCS is read once per visit.
  const SkyCoordinatesParse sky = parse_sky_coordinates(a.cards);
  Detector detector = detector_from_cards(a.cards);
  for (const std::string& r : detector.refusals) con.text(r);
  const ZoomBox whole = whole_image_box(image.nx, image.ny);
  s.display.zoom = whole;
  ZoomBox shown = whole;
  ApertureRadii radii;
  // The window shows the whole image, as the clicks are judged against it.
  draw_zoom(image, s.display.state, shown, s.gfx);

  LogFile logfile;
  std::ostream* log = nullptr;
  if (logfile.open(files.log, con, "the measurements are not logged")) {
    for (const std::string& l : apphot_log_header()) logfile.stream() << l << '\n';
    logfile.stream().flush();
    log = &logfile.stream();
  }

  for (;;) {
    print_menu(s, radii, detector);
    const int32_t choice = con.read_int();
    if (choice == 0) return;
    if (choice == 1) {
      set_zoom_box(s, shown);
      // A box of the image's size is the whole image, wherever a centroid left its centre.
      const bool all = s.display.zoom.zoomw == image.nx && s.display.zoom.zoomh == image.ny;
      shown = all ? whole : s.display.zoom;
    }
    if (choice == 2) radii_dialogue(con, radii);
    if (choice == 3) exptime_dialogue(con, a.exptime);
    if (choice == 5) gain_dialogue(con, detector);
    if (choice == 4) {
      StarJob job;
      job.image = image;
      job.radii = radii;
      job.exptime = a.exptime;
      job.detector = detector;
      job.file = a.file.empty() ? a.name : a.file;
      job.sky = &sky;
      job.log = log;
      job.files = &files;
      photometry_loop(s, job, shown);
    }
  }
}

void command_photometry(Session& s) {
  if (refuse_empty_slot(s)) return;
  ensure_display_levels(s.active().view(), s.display.state);
  photometry_submenu(s);
}

}  // namespace zelvo
