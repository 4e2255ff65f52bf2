#include "galaxy/profile_page.h"

#include <array>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>

#include "galaxy/galaxy_texts.h"
#include "galaxy/spline.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"

namespace zelvo {

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

namespace {

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

// The lower-left panel: the image in grey with the centre marked and the ellipses.
void draw_image_panel(const ImageView& image, int xc, int yc, float fglev, float bglev, float R, float step,
                      float e, float pa, Graphics& gfx) {
  gfx.focus();
  gfx.erase();
  // Square pixels: the largest centred part of the panel with equal scales.
  gfx.viewport(0.1f, 0.45f, 0.1f, 0.45f);
  gfx.window_equal_scales(0.5f, static_cast<float>(image.nx) + 0.5f, 0.5f, static_cast<float>(image.ny) + 0.5f);
  gfx.box();
  const std::array<float, 6> tr{0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};  // pixel (i, j) centred on (i, j)
  gfx.image(image, 1, image.nx, 1, image.ny, fglev, bglev, tr, true);
  gfx.char_height(1.0f);
  gfx.text(static_cast<float>(image.nx / 2), static_cast<float>(-image.ny / 5), 0.0f, 0.5f, std::string(kImageCaption));
  const float cx = static_cast<float>(xc), cy = static_cast<float>(yc);
  gfx.points({&cx, 1}, {&cy, 1}, 9);
  for (float r : ellipse_radii(R, step)) ELLIP(gfx, xc, yc, r, e, pa, 3);
  ELLIP(gfx, xc, yc, R, e, pa, 2);
  ELLIP(gfx, xc, yc, 2.0f * R, e, pa, 4);
}

// The upper-left panel: every pixel value against its elliptical radius.
void draw_pixel_panel(const PixelScan& scan, std::span<const float> values, float R, ProfileScale scale,
                      Graphics& gfx) {
  gfx.focus();
  gfx.viewport(0.1f, 0.45f, 0.55f, 0.9f);
  if (scale == ProfileScale::flux)
    gfx.window(0.0f, R, -3000.0f, scan.ymax);
  else
    gfx.window(0.0f, R, scan.ymax, scan.ymin);  // magnitudes: small values at the top
  gfx.points(scan.radii, values, -1);
  gfx.box();
  gfx.label("R (pixels)", scale == ProfileScale::flux ? "flux" : "magnitude", " ");
}

// The sky histogram with its table, the peak, the sky dialogue and the mark of the level.
void sky_dialogue(ProfileResult& res, ProfileLog& log, Console& con, Graphics& gfx) {
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

  gfx.focus();
  gfx.viewport(0.55f, 0.9f, 0.1f, 0.45f);
  gfx.window(-400.0f, 400.0f, 0.0f, 1.2f * ymax2);
  gfx.line(rsky, res.scan.skypr);
  gfx.box();
  gfx.label("skypr (counts)", "N", " ");
  con.focus_command();

  if (!res.histogram.found) con.text(kNoSkyInHistogram);
  float sky = res.histogram.sky;
  con.record({std::string(kBackgroundLead), sky});
  for (auto l : percentage_prompt_lines()) con.text(l);
  float percent = 0.0f;
  con.read_list({&percent});
  sky = (percent / 100.0f + 1.0f) * sky;
  res.sky = sky;

  gfx.focus();
  gfx.colour(3);
  const std::array<float, 2> sx{sky, sky}, sy{1.1f * ymax2, 1.2f * ymax2};
  gfx.line(sx, sy);
  gfx.colour(1);
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

// The binned profile as a red polyline over the pixel panel.
void draw_profile_line(const BinnedProfile& p, Graphics& gfx, Console& con) {
  gfx.focus();
  gfx.colour(2);
  gfx.line(p.rprof, p.prof);
  gfx.colour(1);
  con.focus_command();
}

// The rotation curve: computed, reported, logged and drawn in the upper-right panel.
void rotation_phase(ProfileResult& res, float R, float step, ProfileLog& log, Console& con, Graphics& gfx) {
  con.text(kRotationSlow);
  const double seconds = rotation_seconds(R, step);
  if (seconds > 60.0) con.text(rotation_duration_line(seconds));
  int32_t points_done = 1;  // the first point (radius 0) needs no work
  const RotationForces forces = rotation_forces(
      res.profile, res.y2, R, step,
      [&](int32_t done, int32_t all) {
        points_done = done;
        con.progress("rotation curve: point " + std::to_string(done) + " of " + std::to_string(all));
      },
      con.stop_request());
  con.progress_done();
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
  gfx.focus();
  gfx.viewport(0.55f, 0.9f, 0.55f, 0.9f);
  gfx.window(0.0f, R, 0.0f, 1.2f * c.vmax);
  // The last computed point is logged but not drawn.
  const std::size_t drawn = c.rrot.empty() ? 0 : c.rrot.size() - 1;
  const std::span<const float> rx(c.rrot.data(), drawn), vy(c.vrot.data(), drawn);
  gfx.points(rx, vy, 9);
  gfx.line(rx, vy);
  gfx.box();
  gfx.label("R (pixels)", "Vrot", " ");
  con.focus_command();
}

ProfileResult run_profile(ProfileScale scale, const ImageView& image, int xc, int yc, float fglev, float bglev,
                          float R, float step, float e, float& pa, const ProfileOutput& out) {
  Console& con = out.con;
  Graphics& gfx = out.gfx;
  ProfileResult res;
  if (const auto refusal = refuse_profile_request(ProfileRequest{xc, yc, R, step, e, pa}, image.nx, image.ny)) {
    con.text(*refusal);
    return res;
  }
  const bool flux = scale == ProfileScale::flux;
  std::optional<ProfileLog> log;
  if (flux) {
    log.emplace(out.log_path, con);
    log->blank();
    log->record({std::string(kProfileLogTitle)});
    log->blank();
  }
  pa = position_angle_radians(pa);
  if (flux) con.record({image.nx, image.ny});

  draw_image_panel(image, xc, yc, fglev, bglev, R, step, e, pa, gfx);
  res.scan = scan_profile_pixels(image, xc, yc, R, e, pa, scale, con.stop_request());
  if (res.scan.stopped) throw Interrupted("Ctrl-C: the profile was stopped while its pixels were scanned; no image was changed.");

  std::vector<float> values = res.scan.values;
  if (flux) {
    sky_dialogue(res, *log, con, gfx);
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
  }
  const bool spline = res.profile.nb() >= 2;
  if (spline)
    fit_spline(res, R, flux ? &*log : nullptr, con);
  else
    con.text(kTooFewBins);
  draw_profile_line(res.profile, gfx, con);
  if (flux && spline) rotation_phase(res, R, step, *log, con, gfx);

  con.focus_command();
  con.text(flux ? kFinished : kFinishedMagnitude);
  con.blank();
  res.done = true;
  return res;
}

}  // namespace

ProfileRequest read_profile_request(Console& con) {
  ProfileRequest rq;
  con.text(kCentrePrompt);
  con.read_list({&rq.xc, &rq.yc});
  con.text(kExtentPrompt);
  con.read_list({&rq.R, &rq.step});
  for (auto l : ellipse_prompt_lines()) con.text(l);
  con.read_list({&rq.e, &rq.pa});
  return rq;
}

ProfileResult profile_option(ProfileScale scale, const ImageView& image, float fglev, float bglev,
                             const ProfileOutput& out) {
  ProfileRequest rq = read_profile_request(out.con);
  if (scale == ProfileScale::magnitude) out.gfx.focus();
  return run_profile(scale, image, rq.xc, rq.yc, fglev, bglev, rq.R, rq.step, rq.e, rq.pa, out);
}

void ELLIP(Graphics& gfx, int xc, int yc, float a, float e, float pa, int colour) {
  EllipsePath p = ellipse_points(xc, yc, a, e, pa);
  // Joined back to its first point, so the ellipse is drawn closed.
  if (!p.x.empty()) {
    p.x.push_back(p.x.front());
    p.y.push_back(p.y.front());
  }
  gfx.line_width(3);
  gfx.colour(colour);
  gfx.line(p.x, p.y);
  gfx.colour(1);
  gfx.line_width(3);
}

ProfileResult THEPROFILE(const ImageView& image, int xc, int yc, float fglev, float bglev, float R, float step,
                         float e, float& pa, const ProfileOutput& out) {
  return run_profile(ProfileScale::flux, image, xc, yc, fglev, bglev, R, step, e, pa, out);
}

ProfileResult MAGPROFILE(const ImageView& image, int xc, int yc, float fglev, float bglev, float R, float step,
                         float e, float& pa, const ProfileOutput& out) {
  return run_profile(ProfileScale::magnitude, image, xc, yc, fglev, bglev, R, step, e, pa, out);
}

}  // namespace zelvo
