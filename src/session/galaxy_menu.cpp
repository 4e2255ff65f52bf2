// G: the galaxy submenu. Profiles of the active image, and the colour and calibrated images
// written into the active slot from the other slots.
#include "session/galaxy_menu.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>

#include "display/display.h"
#include "display/profile_page.h"
#include "fits/sky_coordinates.h"
#include "galaxy/colour.h"
#include "galaxy/spline.h"
#include "platform/catalogue.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "platform/progress_meter.h"
#include "session/commands.h"
#include "session/edit_history.h"
#include "session/loop.h"
#include "session/session.h"
#include "text/list_parse.h"

namespace zelvo {

namespace {

constexpr std::array<std::string_view, 6> kMenu = {
    "What do you want to do? ",
    "  1) Extract the profile of a galaxy (flux scale)",
    "  2) Extract the profile of a galaxy (magnitude scale)",
    "  3) Make the calibrated (B-I) colour image of two slots",
    "  4) Make the calibrated I-band image (mag/arcsec^2)",
    "  0) Return back to the main options ",
};
constexpr std::array<std::string_view, 2> kSplintAlarm = {"Bad xa input in splint!", "Hit <ENTER> to continue..."};

// Profile request.
constexpr std::string_view kCentrePrompt = "Give the centre of your galaxy (x-pixel, y-pixel): ";
constexpr std::string_view kExtentPrompt = "Give the extent (radius) of the profile and stepsize: ";
constexpr std::string_view kPaConvention =
    " [the position angle is counted from +x towards +y, counter-clockwise on the image; 0 = along +x]";

// Profile run.
constexpr std::string_view kProfileLogTitle = "Zelvo Profile ";
constexpr std::string_view kSkyTableTitle = "Compute skypr histogram (rsky,skypr)...";
constexpr std::string_view kBinTableTitle = "Variable rprof (1-1000)";
constexpr std::string_view kSplineFitting = "Fitting a spline curve to the binned radial profile...";
constexpr std::string_view kSplinePlotting = "Plotting the spline over the data...";
constexpr std::string_view kSplineTableTitle = "Plotting the spline over the data (w,d)...";
constexpr std::string_view kBackgroundLead = "Background level set at: ";
constexpr std::array<std::string_view, 2> kPercentage = {"Give a number by how many percent the background",
                                                         "should be changed (e.g. -10, 0, or 10):"};
constexpr std::string_view kFinished = "Finished!";
constexpr std::string_view kAbsoluteSky = "or '=' and the sky level itself (e.g. =150.2):";
constexpr std::string_view kBadSkyAnswer =
    "Expected a percentage (e.g. -10) or '=' and the sky level (e.g. =150.2); please type it again.";
constexpr std::string_view kSkyUsedLead = "Sky used: ";
constexpr std::string_view kFalling =
    "The profile is still falling at the extent: the sky, measured beyond it, may hold galaxy light.";
constexpr std::string_view kParameters = "Parameters: centre x, y, extent, step, eccentricity, position angle (deg) =";
constexpr std::string_view kPaNote = "Position angle counted from +x towards +y (counter-clockwise on the image)";
constexpr std::string_view kPaNorthEast = "Position angle north through east (deg) = ";
constexpr std::string_view kProfileTableLead = "Profile table: ";
constexpr std::string_view kFinishedMagnitude = "Finished with the magnitude profile!";
// What a profile log that cannot be opened or written means (after the reason).
constexpr std::string_view kNoLog = "the tables are not logged";

// Rotation curve.
constexpr std::string_view kRotationTableTitle = "Compute rotation curve from force law (rrot,vrot)...";
constexpr std::string_view kHorrendous = "A horrendous error in computing rotation curve...";
constexpr std::string_view kHorrendousProduct = "-vrot(ipro)*rrot(ipro) = ";

// Colour and calibrated images.
constexpr std::string_view kColourSlotsPrompt = "Give the image slot numbers containing B and I images: ";
constexpr std::array<std::string_view, 2> kColourCoefficients = {
    "Give kappa (constant), lambda (airmass coefficient), ", "  my (colour coefficient), and airmass: "};
constexpr std::array<std::string_view, 2> kCalibrationCoefficients = {
    "Give alpha (constant), beta (colour coefficient), ", " and gamma, (airmass coefficient): "};
constexpr std::array<std::string_view, 2> kCalibrationSlots = {" Give image slot for instrumental I-band image ",
                                                               " and image slot for corrected (B-I) image: "};
constexpr std::string_view kAirmassScalePrompt = "Give airmass and pixel scale (how many arcsec per pixel): ";
constexpr std::string_view kZeroLevelPrompt = "Give extra zero-level correction (in magnitudes): ";
constexpr std::string_view kExposureLeadB = "Change B-band exposure time if needed; current value = ";
constexpr std::string_view kExposureLeadI = "Change I-band exposure time if needed; current value = ";
constexpr std::string_view kExposureTail = " or give 0 to keep the current value: ";
constexpr std::string_view kBadSlotNumber = "Image slots are numbered 1 to 4; nothing done.";
constexpr std::string_view kActiveSlotEmpty = "The active image slot is empty; nothing done.";
constexpr std::string_view kZeroExposure = "An exposure time of 0 cannot be divided by; nothing done.";
constexpr std::string_view kZeroScale = "A pixel scale of 0 arcsec per pixel is not possible; nothing done.";

std::string size_text(ConstImageView v) { return std::to_string(v.nx) + " x " + std::to_string(v.ny); }

// The one-line refusal for a source slot number, or nothing when the slot can be used.
ImageSlot& slot_of(Session& s, int k) { return s.slots.all[static_cast<std::size_t>(k - 1)]; }

std::optional<std::string> refuse_source(Session& s, int k) {
  if (k < 1 || k > 4) return std::string(kBadSlotNumber);
  const ConstImageView v = slot_of(s, k).view();
  const ConstImageView a = s.active().view();
  if (v.empty()) return "Image slot " + std::to_string(k) + " is empty; nothing done.";
  if (v.nx != a.nx || v.ny != a.ny)
    return "Image slot " + std::to_string(k) + " (" + size_text(v) + ") is not the size of the active image (" +
           size_text(a) + "); nothing done.";
  return std::nullopt;
}

bool refuse_slots(Session& s, std::initializer_list<int> ks) {
  Console& con = s.con;
  if (s.active().empty()) {
    con.text(kActiveSlotEmpty);
    return true;
  }
  for (int k : ks)
    if (const auto refusal = refuse_source(s, k)) {
      con.text(*refusal);
      return true;
    }
  return false;
}

// The exposure-time question for one band: 0 keeps `current`, anything else replaces it.
// Returns the time to use, or nothing (after one line) when it would be 0.
std::optional<float> ask_exposure(std::string_view lead, float current, Console& con) {
  con.record({std::string(lead), current, std::string(kExposureTail)});
  float answer = 0.0f;
  con.read_list({&answer});
  const float t = answer != 0.0f ? answer : current;
  if (t == 0.0f) {
    con.text(kZeroExposure);
    return std::nullopt;
  }
  return t;
}

// The profile log, or nothing when it could not be opened (the profile goes on unlogged).
// Every line is flushed as it is written, so an abrupt end loses at most that line.
class ProfileLog {
 public:
  ProfileLog(const std::string& path, Console& con) { file_.open(path, con, std::string(kNoLog)); }
  void record(std::initializer_list<ListValue> items) {
    if (file_) file_.stream() << list_record(items) + '\n' << std::flush;
  }
  void blank() {
    if (file_) file_.stream() << '\n' << std::flush;
  }

 private:
  LogFile file_;
};

// The line that says where the sky was measured, or that no empty sky was found.
std::string sky_boxes_line(const SkyBoxes& b, const SkyEstimate& h) {
  const std::string side = std::to_string(b.box) + " x " + std::to_string(b.box) + " pixels";
  if (!b.found)
    return "No empty sky was found: fewer than " + std::to_string(kFewestSkyBoxes) + " boxes of " + side +
           " lie beyond the extent; the sky is the histogram's peak and may hold galaxy light.";
  return "Sky beyond the extent: " + std::to_string(b.used) + " of " + std::to_string(b.beyond) + " boxes of " + side +
         " give " + format_real(b.sky) + " +/- " + format_real(b.err) + " (scatter between boxes " +
         format_real(b.scatter) + ", pixel spread " + format_real(b.sigma) + "; histogram peak " +
         (h.found ? format_real(h.sky) : std::string("none")) + ")";
}

// The answer to the sky question, asked again until it is a percentage or '=' and a level.
SkyAnswer ask_sky(Console& con) {
  for (auto l : kPercentage) con.text(l);
  con.text(kAbsoluteSky);
  for (;;) {
    const std::string line = con.read_line();
    if (line.find_first_not_of(" \t,") == std::string::npos) continue;  // free format reads on
    if (const auto a = parse_sky_answer(line)) return *a;
    con.text(kBadSkyAnswer);
  }
}

// The sky histogram with its table, the sky measured in boxes beyond the extent, the sky
// dialogue and the mark of the level.
void sky_dialogue(ProfileResult& res, ProfileLog& log, Console& con, Graphics& gfx, std::optional<SkyAnswer> given) {
  con.focus_command();
  log.record({std::string(kSkyTableTitle)});
  std::vector<float> rsky(static_cast<std::size_t>(kSkyBins));
  for (int k = 1; k <= kSkyBins; ++k) {
    rsky[static_cast<std::size_t>(k - 1)] = sky_bin_centre(k);
    log.record({rsky[static_cast<std::size_t>(k - 1)], res.scan.skypr[static_cast<std::size_t>(k - 1)]});
  }
  res.histogram = sky_from_histogram(res.scan.skypr);
  const float ymax2 = res.histogram.ymax2;
  con.record({"ymax = ", res.scan.ymax, "ymax2 = ", ymax2});

  draw_sky_histogram(rsky, res.scan.skypr, ymax2, gfx);
  con.focus_command();

  // The histogram's 5-count bins only show the sky's distribution; galaxy light beyond the
  // extent moves its peak. The level comes from the boxes that hold no galaxy light.
  const std::string where = sky_boxes_line(res.boxes, res.histogram);
  con.text(where);
  log.record({where});
  if (!res.boxes.found && !res.histogram.found) con.text(kNoSkyInHistogram);
  res.sky_measured = res.boxes.found ? res.boxes.sky : res.histogram.sky;
  if (res.boxes.found) res.sky_err = res.boxes.err;
  con.record({std::string(kBackgroundLead), res.sky_measured});
  const SkyAnswer answer = given ? *given : ask_sky(con);
  res.sky_source = res.boxes.found ? "boxes beyond the extent" : "histogram peak";
  if (answer.absolute) {
    res.sky = answer.value;
    res.sky_source = "typed";
  } else {
    res.sky = (answer.value / 100.0f + 1.0f) * res.sky_measured;
    if (answer.value != 0.0f) res.sky_source += ", changed by " + format_real(answer.value) + " %";
  }
  const std::string used = std::string(kSkyUsedLead) + format_real(res.sky) + " +/- " +
                           (std::isfinite(res.sky_err) ? format_real(res.sky_err) : std::string("unknown")) + " (" +
                           res.sky_source + ")";
  con.text(used);
  log.record({used});

  draw_sky_mark(res.sky, ymax2, gfx);
  con.focus_command();
}

// The spline of the binned profile and its samples (logged for the flux scale).
void fit_spline(ProfileResult& res, float R, ProfileLog* log, Console& con) {
  con.text(kSplineFitting);
  res.y2 = profile_spline(res.profile);
  res.samples = spline_samples(res.profile, res.y2, R);
  con.text(kSplinePlotting);
  if (!log) return;
  log->record({std::string(kSplineTableTitle)});
  for (std::size_t i = 0; i < res.samples.x.size(); ++i) log->record({res.samples.x[i], res.samples.y[i]});
}

// The binned profile over the pixel panel, then back to the command window.
void show_profile_line(const BinnedProfile& p, Graphics& gfx, Console& con) {
  draw_profile_line(p, gfx);
  con.focus_command();
}

// The rotation curve: computed, reported, logged and drawn in the upper-right panel.
void rotation_phase(ProfileResult& res, float R, float step, ProfileLog& log, Console& con, Graphics& gfx) {
  con.text(kRotationSlow);
  const double seconds = rotation_seconds(R, step);
  if (seconds > 60.0) con.text(rotation_duration_line(seconds));
  int32_t points_done = 1;  // the first point (radius 0) needs no work
  std::optional<ProgressMeter> meter;
  meter.emplace(con, "rotation curve: point", static_cast<std::size_t>(std::max(rotation_points(R, step), 1)));
  const RotationForces forces = rotation_forces(
      res.profile, res.y2, R, step,
      [&](int32_t done, int32_t) {
        points_done = done;
        meter->update(static_cast<std::size_t>(done));
      },
      con.stop_request());
  meter.reset();
  if (forces.stopped) {
    log.record({"Rotation curve stopped by Ctrl-C after point", points_done, "of", rotation_points(R, step)});
    throw Interrupted("Ctrl-C: the rotation curve was stopped after " + std::to_string(points_done) + " of " +
                      std::to_string(rotation_points(R, step)) +
                      " points; the profile tables are logged and no image was changed.");
  }
  res.curve = rotation_curve(forces);
  const RotationCurve& c = res.curve;
  log.record({std::string(kRotationTableTitle)});
  std::size_t next_outward = 0;
  for (std::size_t k = 0; k < c.rrot.size(); ++k) {
    if (next_outward < c.outward.size() && c.outward[next_outward].index == k) {
      con.text(kHorrendous);
      con.record({std::string(kHorrendousProduct), c.outward[next_outward].product});
      ++next_outward;
      continue;
    }
    log.record({c.rrot[k], c.vrot[k]});
  }
  draw_rotation_panel(c, R, gfx);
  con.focus_command();
}

// A REAL as the double its shortest decimal text gives (0.8f is written 0.8, not 0.800000011920929).
double real_value(float v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

// The ECSV table of a flux profile, replacing the last one (the log keeps every run).
void write_profile_table(const ProfileResult& res, const ProfileImage& in, float xc, float yc, float R, float step,
                         float e, float pa_degrees, const ProfileFiles& files, Console& con) {
  Catalogue t;
  t.columns = {{"radius", "float64", "pix", "elliptical radius of the bin (semi-major axis)"},
               {"flux", "float64", "count", "mean pixel value of the bin minus the sky"},
               {"flux_err", "float64", "count", "spread of the bin / sqrt(npix), and sky_err, in quadrature"},
               {"npix", "int64", "", "pixels in the bin"}};
  const double ellipticity = 1.0 - std::sqrt(1.0 - static_cast<double>(e) * e);
  t.meta = {{"image", in.file},
            {"x_centre", real_value(xc)},
            {"y_centre", real_value(yc)},
            {"extent", real_value(R)},
            {"step", real_value(step)},
            {"eccentricity", real_value(e)},
            {"ellipticity", ellipticity},
            {"pa_deg", real_value(pa_degrees)},
            {"pa_convention", std::string("from +x towards +y")},
            {"sky", real_value(res.sky)},
            {"sky_source", res.sky_source},
            {"sky_measured", real_value(res.sky_measured)},
            {"sky_box_size", static_cast<double>(res.boxes.box)},
            {"sky_boxes", static_cast<double>(res.boxes.used)},
            {"sky_box_scatter", real_value(res.boxes.scatter)},
            {"sky_sigma", real_value(res.boxes.sigma)}};
  if (std::isfinite(res.sky_err)) t.meta.push_back({"sky_err", real_value(res.sky_err)});
  if (res.pa_north_east) t.meta.push_back({"pa_north_east_deg", *res.pa_north_east});
  for (std::size_t k = 0; k < res.profile.nb(); ++k) {
    const double err =
        std::hypot(static_cast<double>(res.profile.err[k]), std::isfinite(res.sky_err) ? res.sky_err : 0.0);
    t.rows.push_back(
        {real_value(res.profile.rprof[k]), real_value(res.profile.prof[k]),
         std::isfinite(err) ? CatalogueValue(real_value(static_cast<float>(err))) : CatalogueValue(std::monostate{}),
         static_cast<int64_t>(res.profile.npix[k])});
  }
  const CatalogueWrite w = write_catalogue(files.catalogue_path(), t);
  if (!w.notice.empty()) con.text(w.notice);
  if (!w.ok) con.log_failure(std::filesystem::path(files.catalogue_path()).filename().string(), w.error);
}

// The position angle north through east of the major axis at the centre, with a WCS.
std::optional<double> north_east_angle(const ProfileImage& in, float xc, float yc, float pa) {
  if (!in.cards) return std::nullopt;
  const SkyCoordinatesParse sky = parse_sky_coordinates(*in.cards);
  if (!sky.wcs) return std::nullopt;
  const auto p0 = sky.wcs->sky_at(xc, yc);
  const auto p1 = sky.wcs->sky_at(xc + std::cos(static_cast<double>(pa)), yc + std::sin(static_cast<double>(pa)));
  if (!p0 || !p1) return std::nullopt;
  return position_angle_north_east(p0->lng, p0->lat, p1->lng, p1->lat);
}

}  // namespace

ProfileResult measure_profile(Console& con, Graphics& gfx, const ProfileImage& in, ProfileScale scale, float xc,
                              float yc, float R, float step, float e, float pa_degrees, const ProfileFiles& files) {
  const ConstImageView image = in.image;
  const float fglev = in.fglev, bglev = in.bglev;
  ProfileResult res;
  if (const ProfileRequestCheck check =
          check_profile_request(ProfileRequest{xc, yc, R, step, e, pa_degrees}, image.nx, image.ny);
      !check.usable()) {
    con.text(check.refusal);
    return res;
  }
  const bool flux = scale == ProfileScale::flux;
  std::optional<ProfileLog> log;
  if (flux) {
    log.emplace(files.log, con);
    log->blank();
    log->record({std::string(kProfileLogTitle)});
    log->blank();
  }
  const float pa = position_angle_radians(pa_degrees);
  res.pa_radians = pa;
  if (flux) {
    res.pa_north_east = north_east_angle(in, xc, yc, pa);
    log->record({"Image:", in.file});
    log->record({std::string(kParameters), xc, yc, R, step, e, pa_degrees});
    log->record({std::string(kPaNote)});
    if (res.pa_north_east) log->record({std::string(kPaNorthEast), *res.pa_north_east});
    con.record({image.nx, image.ny});
    if (res.pa_north_east) con.record({std::string(kPaNorthEast), *res.pa_north_east});
  }

  draw_image_panel(image, xc, yc, fglev, bglev, R, step, e, pa, gfx);
  res.scan = scan_profile_pixels(image, xc, yc, R, e, pa, scale, con.stop_request());
  if (res.scan.stopped)
    throw Interrupted("Ctrl-C: the profile was stopped while its pixels were scanned; no image was changed.");

  std::vector<float> values = res.scan.values;
  if (flux) {
    res.boxes = sky_from_boxes(image, xc, yc, R, e, pa, con.stop_request());
    if (res.boxes.stopped)
      throw Interrupted("Ctrl-C: the profile was stopped while its sky was measured; no image was changed.");
    sky_dialogue(res, *log, con, gfx, in.sky_answer);
    for (float& v : values) v -= res.sky;
    con.record({"icnt, iskycnt, ymin, ymax = ", static_cast<long long>(res.scan.icnt()), res.scan.iskycnt,
                res.scan.ymin, res.scan.ymax});
  }
  draw_pixel_panel(res.scan, values, R, scale, gfx);
  con.focus_command();

  res.profile = bin_profile(res.scan, flux ? res.sky : 0.0f, R);
  if (flux) {
    log->record({std::string(kBinTableTitle)});
    for (std::size_t k = 0; k < res.profile.nb(); ++k) log->record({res.profile.rprof[k], res.profile.prof[k]});
    res.falling = still_falling(res.profile, R);
    if (res.falling) {
      con.text(kFalling);
      log->record({std::string(kFalling)});
    }
    write_profile_table(res, in, xc, yc, R, step, e, pa_degrees, files, con);
    log->record({std::string(kProfileTableLead) + files.catalogue_path()});
  }
  const bool spline = res.profile.nb() >= 2;
  if (spline)
    fit_spline(res, R, flux ? &*log : nullptr, con);
  else
    con.text(kTooFewBins);
  show_profile_line(res.profile, gfx, con);
  if (flux && spline) rotation_phase(res, R, step, *log, con, gfx);

  con.focus_command();
  con.text(flux ? kFinished : kFinishedMagnitude);
  con.blank();
  res.done = true;
  return res;
}

namespace {

ProfileResult run_profile(Session& s, ProfileScale scale, float xc, float yc, float R, float step, float e, float pa,
                          const ProfileFiles& files) {
  ImageSlot& a = s.active();
  ProfileImage in;
  in.image = a.view();
  in.fglev = s.display.state.fglev;
  in.bglev = s.display.state.bglev;
  in.cards = &a.cards;
  in.file = a.file.empty() ? a.name : a.file;
  return measure_profile(s.con, s.gfx, in, scale, xc, yc, R, step, e, pa, files);
}

}  // namespace

std::optional<SkyAnswer> parse_sky_answer(std::string_view text) {
  std::string t(text);
  const std::size_t first = t.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  SkyAnswer a;
  a.absolute = t[first] == '=';
  bool slash = false;
  const std::vector<ListItem> items = split_list_items(a.absolute ? t.substr(first + 1) : t, slash);
  if (items.size() != 1 || items[0].null) return std::nullopt;
  const std::optional<float> v = parse_real(items[0].text);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  a.value = *v;
  return a;
}

std::string ProfileFiles::catalogue_path() const {
  if (!catalogue.empty()) return catalogue;
  return std::filesystem::path(log).replace_extension(".ecsv").string();
}

std::string rotation_duration_line(double seconds) {
  const long minutes = std::lround(seconds / 60.0);
  std::string amount;
  if (minutes < 120)
    amount = std::to_string(minutes) + " minutes";
  else if (minutes < 48 * 60)
    amount = std::to_string(std::lround(seconds / 3600.0)) + " hours";
  else
    amount = std::to_string(std::lround(seconds / 86400.0)) + " days";
  return "The rotation curve of this extent and step will take about " + amount +
         " (it grows as extent^3 / step); Ctrl-C stops it.";
}

std::function<void()> splint_alarm(Console& con) {
  return [&con] {
    for (auto l : kSplintAlarm) con.text(l);
    (void)con.read_line();
  };
}

namespace {

// Asks for the centre, the extent and step, the eccentricity and position angle.
ProfileRequest read_profile_request(Console& con) {
  ProfileRequest rq;
  con.text(kCentrePrompt);
  con.read_list({&rq.xc, &rq.yc});
  con.text(kExtentPrompt);
  con.read_list({&rq.R, &rq.step});
  for (auto l : kEllipsePrompt) con.text(l);
  con.text(kPaConvention);
  con.read_list({&rq.e, &rq.pa});
  return rq;
}

}  // namespace

ProfileResult profile_option(Session& s, ProfileScale scale, const ProfileFiles& files) {
  ProfileRequest rq = read_profile_request(s.con);
  if (scale == ProfileScale::magnitude) s.gfx.focus();
  return run_profile(s, scale, rq.xc, rq.yc, rq.R, rq.step, rq.e, rq.pa, files);
}

ProfileResult THEPROFILE(Session& s, float xc, float yc, float R, float step, float e, float pa,
                         const ProfileFiles& files) {
  return run_profile(s, ProfileScale::flux, xc, yc, R, step, e, pa, files);
}

ProfileResult MAGPROFILE(Session& s, float xc, float yc, float R, float step, float e, float pa) {
  return run_profile(s, ProfileScale::magnitude, xc, yc, R, step, e, pa, ProfileFiles{});
}

SlotChanges colour_image_dialogue(Session& s) {
  Console& con = s.con;
  const int activeslot = s.slots.active_number;
  SlotChanges changes;
  con.text(kColourSlotsPrompt);
  int32_t bs = 0, is = 0;
  con.read_list({&bs, &is});
  if (refuse_slots(s, {bs, is})) return changes;

  // The answers are kept apart until everything is known to work, so a refusal changes nothing.
  const auto tb = ask_exposure(kExposureLeadB, slot_of(s, bs).exptime, con);
  if (!tb) return changes;
  const auto ti = ask_exposure(kExposureLeadI, is == bs ? *tb : slot_of(s, is).exptime, con);
  if (!ti) return changes;

  for (auto l : kColourCoefficients) con.text(l);
  ColourCoefficients k;
  con.read_list({&k.kappa, &k.lambda, &k.my, &k.airmass});

  slot_of(s, bs).exptime = *tb;
  slot_of(s, is).exptime = *ti;
  changes.history = "(B-I) colour image from B " + slot_label(bs, slot_of(s, bs)) + " and I " +
                    slot_label(is, slot_of(s, is)) + ", kappa " + format_real(k.kappa) + ", lambda " +
                    format_real(k.lambda) + ", my " + format_real(k.my) + ", airmass " + format_real(k.airmass);
  // Both slots end as count rates; a slot given as both bands is divided once.
  for (int band : is != bs ? std::vector<int>{bs, is} : std::vector<int>{bs}) {
    ImageSlot& sl = slot_of(s, band);
    divide_by_exposure(sl.view(), sl.exptime);
    note_edit(sl, 'G', "divided by the exposure time " + format_real(sl.exptime) + " s (count rates)");
  }
  make_colour_image(slot_of(s, bs).view(), slot_of(s, is).view(), s.active().view(), k);
  for (int k : {activeslot, bs, is})
    if (std::find(changes.pixels_changed.begin(), changes.pixels_changed.end(), k) == changes.pixels_changed.end())
      changes.pixels_changed.push_back(k);
  changes.header_from = is;
  return changes;
}

SlotChanges calibrated_image_dialogue(Session& s) {
  Console& con = s.con;
  SlotChanges changes;
  for (auto l : kCalibrationCoefficients) con.text(l);
  CalibrationCoefficients k;
  con.read_list({&k.alpha, &k.beta, &k.gamma});
  for (auto l : kCalibrationSlots) con.text(l);
  int32_t is = 0, cs = 0;
  con.read_list({&is, &cs});
  if (refuse_slots(s, {is, cs})) return changes;
  con.text(kAirmassScalePrompt);
  con.read_list({&k.airmass, &k.scale});
  if (k.scale == 0.0f) {
    con.text(kZeroScale);
    return changes;
  }
  con.text(kZeroLevelPrompt);
  con.read_list({&k.dz});
  const auto ti = ask_exposure(kExposureLeadI, slot_of(s, is).exptime, con);
  if (!ti) return changes;

  slot_of(s, is).exptime = *ti;
  changes.history = "calibrated I-band image (mag/arcsec^2) from I " + slot_label(is, slot_of(s, is)) + " and (B-I) " +
                    slot_label(cs, slot_of(s, cs)) + ", alpha " + format_real(k.alpha) + ", beta " +
                    format_real(k.beta) + ", gamma " + format_real(k.gamma) + ", airmass " + format_real(k.airmass) +
                    ", scale " + format_real(k.scale) + " arcsec/pixel, zero-level " + format_real(k.dz) +
                    ", exposure " + format_real(*ti) + " s";
  make_calibrated_image(slot_of(s, is).view(), slot_of(s, cs).view(), *ti, s.active().view(), k);
  changes.pixels_changed = {s.slots.active_number};
  changes.header_from = is;
  return changes;
}

void command_galaxy(Session& s) {
  s.con.blank();
  for (auto l : kMenu) s.con.text(l);
  s.con.blank();
  int32_t choice = 0;
  s.con.read_list({&choice});
  if (choice < 1 || choice > 4) return;
  // A refusal is followed by a pause, so its line can be read before the menu comes back.
  if (refuse_empty_slot(s)) {
    pause(s);
    return;
  }

  if (choice == 1 || choice == 2) {
    ensure_display_levels(s.active().view(), s.display.state);
    const ProfileResult r = profile_option(s, choice == 1 ? ProfileScale::flux : ProfileScale::magnitude);
    if (!r.done) pause(s);
    return;
  }

  const SlotChanges changes = choice == 3 ? colour_image_dialogue(s) : calibrated_image_dialogue(s);
  if (changes.pixels_changed.empty()) {
    pause(s);
    return;
  }
  for (int k : changes.pixels_changed) mark_modified(s.slots.all[static_cast<std::size_t>(k - 1)]);
  if (changes.header_from != s.slots.active_number)
    s.active().cards = s.slots.all[static_cast<std::size_t>(changes.header_from - 1)].cards;
  note_edit(s.active(), 'G', changes.history);
}

}  // namespace zelvo
