// The jobs of `zelvo run` and the session they run in: each loads the frame into slot 1 of a
// BatchDesk and runs its dialogue's code on it.
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <sstream>
#include <vector>

#include "display/display.h"
#include "fits/fits_io.h"
#include "fits/sky_coordinates.h"
#include "numeric/image_range.h"
#include "numeric/random.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "session/batch_run.h"
#include "session/find_stars.h"
#include "session/fits_reports.h"
#include "session/galaxy_menu.h"
#include "session/photometry_menu.h"
#include "session/remove_galaxy.h"
#include "session/remove_submenu.h"
#include "session/session.h"
#include "session/texts.h"

namespace zelvo {

namespace {

// A HISTORY card of the written frame, cut to 80 columns.
std::string history_card(const std::string& text) {
  std::string card = "HISTORY " + text;
  card.resize(80, ' ');
  return card;
}

// The numbers of an option value such as "2.5,9,12" (commas or blanks between them); none
// unless there are exactly `n` finite ones.
std::optional<std::vector<double>> numbers_of(const std::string& text, std::size_t n) {
  std::string t = text;
  for (char& c : t)
    if (c == ',') c = ' ';
  std::istringstream in(t);
  std::vector<double> v;
  for (std::string item; in >> item;) {
    char* end = nullptr;
    const double x = std::strtod(item.c_str(), &end);
    if (end == item.c_str() || *end != '\0' || !std::isfinite(x)) return std::nullopt;
    v.push_back(x);
  }
  if (v.size() != n) return std::nullopt;
  return v;
}

// Option 9 on the desk's frame with the list of `files`, its problems told; nothing when the
// work arrays did not fit in memory.
std::optional<AutomaticRemovals> remove_listed(BatchRun& run, BatchDesk& desk, const RemovalFiles& files) {
  AutomaticRemovals r;
  try {
    r = remove_list_unattended(desk.s, files);
  } catch (const std::bad_alloc&) {
    run.problem("not enough memory for the removal work arrays; nothing was removed");
    return std::nullopt;
  } catch (const EndOfInput&) {
    run.problem("the removal asked a question, which a run cannot answer; it stopped there");
  }
  for (const std::string& p : r.problems) run.problem(p);
  return r;
}

// --gain, --rdnoise and --exptime: O's options 5 and 3 as a job takes them (the header's values
// otherwise). False after a problem line for a value the dialogue would refuse.
bool detector_options(BatchRun& run, Detector& d, float& exptime) {
  const auto number = [&](std::string_view option, bool zero_allowed) -> std::optional<std::optional<float>> {
    const std::string* t = run.args.value(option);
    if (!t) return std::optional<float>();
    const std::optional<float> v = parse_real(*t);
    if (!v || !std::isfinite(*v) || *v < 0.0f || (!zero_allowed && *v == 0.0f)) {
      run.problem(std::string(option) + " " + one_line(*t) +
                  (zero_allowed ? " is not a number of 0 or more" : " is not a number above 0"));
      return std::nullopt;
    }
    return v;
  };
  const auto gain = number("--gain", false), noise = number("--rdnoise", true), time = number("--exptime", true);
  if (!gain || !noise || !time) return false;
  // The limits O's option 5 and the header cards have, so the job takes what the dialogue takes.
  if ((*gain && !plausible_gain(**gain)) || (*noise && !plausible_read_noise(**noise))) {
    run.problem("the gain must be 0.001 to 100000 e-/count and the read noise 0 to 100000 e-");
    return false;
  }
  if (*gain || *noise) {
    if (*gain) d.gain = **gain;
    if (*noise) d.read_noise = **noise;
    d.source = "typed";  // as O's option 5 names values the user gave
  }
  if (*time) exptime = **time;
  return true;
}

}  // namespace

BatchDesk::BatchDesk(BatchRun& r)
    : run(r),
      transcript(r.output("session.txt"), std::ios::binary),
      con(no_answers, transcript),
      gfx(con),
      s(con, gfx) {
  s.random.seed = r.args.seed ? *r.args.seed : INITRAN();
  s.display.state.greyflag = 1;
  s.display.state.scaling = 'n';
  s.settings.device = "/null";
  if (s.mainlog.open(r.output("Zelvo.log"), con, "the session is not logged")) {
    for (const auto& l : mainlog_header_lines()) s.mainlog.stream() << l << '\n';
    s.mainlog.stream().flush();
  }
}

BatchDesk::~BatchDesk() {
  con.flush();
  s.mainlog.close();
  // Every output the job could not write completely fails the run, each named.
  for (const std::string& line : con.log_failures()) run.lost_output(line);
  if (!transcript.flush())
    run.lost_output(output_name(run.args.frame, "session.txt") + " could not be written completely");
}

bool BatchDesk::load() {
  FitsRead r = read_fits_reported(con, run.args.frame);
  switch (r.outcome) {
    case ReadOutcome::loaded: break;
    case ReadOutcome::not_regular: run.problem("the frame is " + r.special_kind + ", not a regular file"); return false;
    case ReadOutcome::no_naxis: run.problem("the frame has no NAXIS1 and NAXIS2"); return false;
    case ReadOutcome::no_pixels: run.problem("the frame has an axis of length 0 or less"); return false;
    case ReadOutcome::too_large: run.problem("not enough memory for the frame"); return false;
    case ReadOutcome::refused: run.problem("the frame is refused: " + r.refusal); return false;
    case ReadOutcome::fits_error: {
      std::string why =
          "the frame cannot be read (FITSIO status " + std::to_string(r.error.status) + ": " + r.error.text;
      if (!r.error.stack.empty()) why += "; " + r.error.stack.front();
      run.problem(why + ")");
      return false;
    }
  }
  s.slots.active_number = 1;
  ImageSlot& sl = s.active();
  sl.image = std::move(r.image);
  sl.name = run.args.frame.substr(0, 80);
  sl.file = run.args.frame;
  sl.origin = r.origin;
  sl.exptime = r.header.exptime;
  sl.object = r.header.object;
  sl.cards = std::move(r.header.cards);
  sl.texts = r.texts;
  if (r.range.known) {
    s.display.state.minlim = r.range.lo;
    s.display.state.maxlim = r.range.hi;
  } else {
    const ValueRange range = finite_range(sl.image);
    s.display.state.minlim = range.lo;
    s.display.state.maxlim = range.hi;
  }
  return true;
}

bool BatchDesk::write(std::string_view what, const std::string& history) {
  ImageSlot& sl = s.active();
  std::vector<std::string> cards = sl.cards;
  if (!history.empty()) cards.push_back(history_card(history));
  const FitsError e = WRITE_FITS_2D_IMAGE(run.output(what).string(), sl.view(), cards);
  if (!e.failed()) return true;
  run.problem(output_name(run.args.frame, what) + " could not be written (FITSIO status " + std::to_string(e.status) +
              ": " + e.text + ")");
  return false;
}

int batch_photometry(BatchRun& run) {
  const std::string& list = *run.args.value("--list");
  const auto r = numbers_of(*run.args.value("--radii"), 3);
  const ApertureRadii radii =
      r ? ApertureRadii{static_cast<float>((*r)[0]), static_cast<float>((*r)[1]), static_cast<float>((*r)[2])}
        : ApertureRadii{NAN, NAN, NAN};
  if (!radii.valid()) {
    run.problem("--radii must be three numbers 0 < star < inner < outer, as \"2.5,9,12\"");
    return kJobRefused;
  }
  const SmallFile positions = read_small_file(list);
  if (!positions.read()) {
    run.problem(positions.refusal.empty() ? list + ": the star list cannot be read" : positions.refusal);
    return kJobRefused;
  }
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ImageSlot& sl = desk.s.active();
  const PhotometryFiles files{run.output("ZelvoApPhot.log"), run.output("ZelvoApPhot.ecsv"),
                              run.output("ZelvoApPhot.reg")};
  LogFile log;
  if (log.open(files.log, desk.con, "the measurements are not logged")) {
    for (const std::string& l : apphot_log_header()) log.stream() << l << '\n';
    log.stream().flush();
  }
  const SkyCoordinatesParse sky = parse_sky_coordinates(sl.cards);
  // O's settings for the whole frame, as its photometry loop makes them.
  TileLevels tiles = central_tile_levels(sl.view());
  const ImageLimits lim = image_limits(tiles);
  StarJob job;
  job.image = sl.view();
  job.psf.sky_lower = -50.0f;
  job.psf.sky_upper = lim.sky_upper;
  job.psf.saturation = lim.saturation;
  job.psf.rough_sky = lim.rough_sky;
  job.psf.search_radius = 15.0f;
  job.psf.centroid = true;
  job.radii = radii;
  job.exptime = std::max(sl.exptime, 0.0f);
  job.detector = detector_from_cards(sl.cards);
  for (const std::string& r : job.detector.refusals) desk.con.text(r);
  // The answers of O's options 3 and 5, given on the command line, replace the header's.
  if (!detector_options(run, job.detector, job.exptime)) return kJobRefused;
  job.file = run.args.frame;
  job.sky = &sky;
  job.log = log ? &log.stream() : nullptr;
  job.files = &files;
  std::size_t listed = 0, measured = 0, line_no = 0;
  std::istringstream lines(positions.text);
  for (std::string line; std::getline(lines, line);) {
    ++line_no;
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[line.find_first_not_of(" \t")] == '#') continue;
    ++listed;
    std::istringstream in(line);
    std::string xs, ys;
    in >> xs >> ys;
    const auto xy = numbers_of(xs + " " + ys, 2);
    if (!xy || (*xy)[0] < 0.5 || (*xy)[0] >= sl.nx() + 0.5 || (*xy)[1] < 0.5 || (*xy)[1] >= sl.ny() + 0.5) {
      run.problem(list + " line " + std::to_string(line_no) + ": not a position x y on the frame: " + one_line(line));
      continue;
    }
    const StarOutcome o = measure_star(job, static_cast<float>((*xy)[0]), static_cast<float>((*xy)[1]), desk.con);
    if (o.saturated) {
      run.problem(list + " line " + std::to_string(line_no) + ": the object is saturated; not measured");
      continue;
    }
    ++measured;
  }
  run.out << one_line(output_name(run.args.frame, "ZelvoApPhot.ecsv")) << ": " << measured << " of " << listed
          << " listed stars measured\n";
  return measured == listed ? 0 : kJobIncomplete;
}

int batch_profile(BatchRun& run) {
  const auto c = numbers_of(*run.args.value("--centre"), 2);
  const auto ext = numbers_of(*run.args.value("--extent"), 2);
  const auto shape = numbers_of(*run.args.value("--shape"), 2);
  if (!c || !ext || !shape) {
    run.problem("--centre x,y --extent R,step --shape e,pa take two numbers each, as \"250,310\"");
    return kJobRefused;
  }
  // --sky auto (the default): the sky measured beyond the extent; --sky VALUE: that level.
  SkyAnswer sky;
  if (const std::string* t = run.args.value("--sky"); t && *t != "auto") {
    const std::optional<float> v = parse_real(*t);
    if (!v || !std::isfinite(*v)) {
      run.problem("--sky " + one_line(*t) + " is neither auto nor a sky level");
      return kJobRefused;
    }
    sky = SkyAnswer{true, *v};
  }
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ImageSlot& sl = desk.s.active();
  ensure_display_levels(sl.view(), desk.s.display.state);
  ProfileImage in;
  in.image = sl.view();
  in.fglev = desk.s.display.state.fglev;
  in.bglev = desk.s.display.state.bglev;
  in.cards = &sl.cards;
  in.file = run.args.frame;
  in.sky_answer = sky;
  ProfileFiles files;
  files.log = run.output("ZelvoProfile1.log").string();
  files.catalogue = run.output("ZelvoProfile1.ecsv").string();
  const float pa = static_cast<float>((*shape)[1]);
  ProfileResult r;
  try {
    r = measure_profile(desk.con, desk.gfx, in, ProfileScale::flux, static_cast<float>((*c)[0]),
                        static_cast<float>((*c)[1]), static_cast<float>((*ext)[0]), static_cast<float>((*ext)[1]),
                        static_cast<float>((*shape)[0]), pa, files);
  } catch (const EndOfInput&) {
    run.problem("the profile asked a question, which a run cannot answer; it stopped there");
    return kJobIncomplete;
  }
  if (!r.done) {
    run.problem("the request cannot work on this frame (see " + output_name(run.args.frame, "session.txt") + ")");
    return kJobRefused;
  }
  run.out << one_line(output_name(run.args.frame, "ZelvoProfile1.ecsv")) << ": " << r.profile.nb()
          << " radial bins, sky " << format_real(r.sky)
          << (std::isfinite(r.sky_err) ? " +/- " + format_real(r.sky_err) : std::string()) << " (" << r.sky_source
          << ")" << (r.boxes.found ? "" : " (no empty sky was found beyond the extent)")
          << (r.falling ? " (the profile is still falling at the extent)" : "") << '\n';
  return 0;
}

int batch_remove(BatchRun& run) {
  const std::string& list = *run.args.value("--list");
  const SmallFile check = read_small_file(list);
  if (!check.read()) {
    run.problem(check.refusal.empty() ? list + ": the object list cannot be read" : check.refusal);
    return kJobRefused;
  }
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ensure_display_levels(desk.s.active().view(), desk.s.display.state);
  const RemovalFiles files{list, run.output("ZelvoRepeat.log"), run.output("ZelvoDebug.log")};
  const std::optional<AutomaticRemovals> removals = remove_listed(run, desk, files);
  if (!removals) return kJobRefused;
  const AutomaticRemovals& r = *removals;
  const std::string done =
      std::to_string(r.removed.size()) + " of " + std::to_string(r.listed) + " listed objects removed";
  if (!desk.write("clean.fits", "zelvo run remove: " + done)) return kJobRefused;
  run.out << one_line(output_name(run.args.frame, "clean.fits")) << ": " << done << '\n';
  return r.problems.empty() ? 0 : kJobIncomplete;
}

// The shape limits of `find`: --max-width W, --sharpness LO,HI, --roundness LO,HI (or R for
// -R,R); none when one is not a valid limit (said).
std::optional<ShapeLimits> shape_options(BatchRun& run) {
  ShapeLimits l;
  const auto pair = [&](const char* name, float& lo, float& hi, bool symmetric) {
    const std::string* t = run.args.value(name);
    if (!t) return;
    const std::size_t comma = t->find(',');
    const std::optional<float> a = parse_real(t->substr(0, comma));
    const std::optional<float> b = comma == std::string::npos ? std::nullopt : parse_real(t->substr(comma + 1));
    if (a && b) {
      lo = *a, hi = *b;
    } else if (a && symmetric && comma == std::string::npos) {
      lo = -*a, hi = *a;
    } else {
      lo = hi = std::numeric_limits<float>::quiet_NaN();
    }
  };
  if (const std::string* w = run.args.value("--max-width")) l.max_width = parse_real(*w).value_or(-1.0f);
  pair("--sharpness", l.sharp_lo, l.sharp_hi, false);
  pair("--roundness", l.round_lo, l.round_hi, true);
  if (!shape_limits_valid(l)) {
    run.problem("--max-width is 0 or from 1 to 5, --sharpness LO,HI and --roundness LO,HI (or R) run from low to high");
    return std::nullopt;
  }
  return l;
}

// `find`: option 4 without the editing, then option 9 on the list it wrote.
int batch_find(BatchRun& run) {
  float threshold = 5.0f, fwhm = 0.0f;
  if (const std::string* t = run.args.value("--threshold")) {
    const std::optional<float> k = parse_real(*t);
    if (!k || !(*k > 0.0f) || !(*k < 1e4f)) {
      run.problem("--threshold " + one_line(*t) + " is not a number of sigma above 0");
      return kJobRefused;
    }
    threshold = *k;
  }
  if (const std::string* f = run.args.value("--fwhm")) {
    const std::optional<float> v = parse_real(*f);
    if (!v || !(*v >= 0.0f && *v <= 50.0f)) {
      run.problem("--fwhm " + one_line(*f) + " is not a number of pixels from 0 to 50");
      return kJobRefused;
    }
    fwhm = *v;
  }
  const std::optional<ShapeLimits> shape = shape_options(run);
  if (!shape) return kJobRefused;
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ensure_display_levels(desk.s.active().view(), desk.s.display.state);
  const UnattendedFind found = find_stars_unattended(desk.s, threshold, fwhm, run.output("ZelvoRep.log"),
                                                     run.output("stars.ecsv"), run.output("stars.reg"), *shape);
  if (!found.problem.empty()) {
    run.problem(found.problem);
    return kJobRefused;
  }
  for (const std::string& n : found.notes) run.lost_output(n);  // each a catalogue not written
  const RemovalFiles files{run.output("ZelvoRep.log"), run.output("ZelvoRepeat.log"), run.output("ZelvoDebug.log")};
  const std::optional<AutomaticRemovals> removals = remove_listed(run, desk, files);
  if (!removals) return kJobRefused;
  const AutomaticRemovals& r = *removals;
  const std::string done = std::to_string(found.stars) + " stars found above " + format_real(threshold) + " sigma (" +
                           std::to_string(found.saturated) + " saturated), " + std::to_string(r.removed.size()) +
                           " removed";
  if (!desk.write("clean.fits", "zelvo run find: " + done)) return kJobRefused;
  run.out << one_line(output_name(run.args.frame, "clean.fits")) << ": " << done << '\n';
  return r.problems.empty() && found.notes.empty() ? 0 : kJobIncomplete;
}

// `model`: option 5 of R without the questions: the isophotes, the model and the residual.
int batch_model(BatchRun& run) {
  const auto c = numbers_of(*run.args.value("--centre"), 2);
  if (!c) {
    run.problem("--centre x,y takes two numbers, as \"250,310\"");
    return kJobRefused;
  }
  IsophoteRequest req;
  std::optional<EllipseShape> shape;
  if (const std::string* v = run.args.value("--shape")) {
    const auto s = numbers_of(*v, 2);
    if (!s || !((*s)[0] >= 0.0 && (*s)[0] < 1.0)) {
      run.problem("--shape e,pa takes an ellipticity from 0 to below 1 and an angle in degrees, as \"0.3,45\"");
      return kJobRefused;
    }
    shape = EllipseShape{(*c)[0], (*c)[1], (*s)[0], (*s)[1] / 57.29577951308232};
  }
  std::optional<double> sma0, maxsma;
  for (auto [name, value] : {std::pair{"--sma0", &sma0}, std::pair{"--maxsma", &maxsma}}) {
    const std::string* v = run.args.value(name);
    if (!v) continue;
    const auto x = numbers_of(*v, 1);
    if (!x || !((*x)[0] > 0.0 && (*x)[0] < 1e6)) {
      run.problem(std::string(name) + " " + one_line(*v) + " is not a semi-major axis above 0 (pixels)");
      return kJobRefused;
    }
    *value = (*x)[0];
  }
  if (const std::string* f = run.args.value("--fix")) {
    if (*f == "centre" || *f == "center") {
      req.fix = FixedGeometry::centre;
    } else if (*f == "shape") {
      req.fix = FixedGeometry::shape;
    } else {
      run.problem("--fix takes centre or shape, not " + one_line(*f));
      return kJobRefused;
    }
  }
  std::optional<ObjectList> masked;
  if (const std::string* m = run.args.value("--mask")) {
    const SmallFile f = read_small_file(*m);
    if (!f.read()) {
      run.problem(f.refusal.empty() ? one_line(*m) + ": the mask list cannot be read" : f.refusal);
      return kJobRefused;
    }
    masked = parse_list_file(*m, f.text);
    if (masked->bad_line) run.problem(bad_list_line_message(*m, masked->bad_line));
  }
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ImageSlot& sl = desk.s.active();
  const ConstImageView frame = sl.image.view();
  const double x = (*c)[0], y = (*c)[1];
  if (!(x >= 0.5 && x < sl.nx() + 0.5 && y >= 0.5 && y < sl.ny() + 0.5)) {
    run.problem("the centre " + format_real(static_cast<float>(x)) + "," + format_real(static_cast<float>(y)) +
                " lies outside the " + std::to_string(sl.nx()) + " x " + std::to_string(sl.ny()) + " frame");
    return kJobRefused;
  }
  req.start = shape ? *shape : starting_shape(frame, x, y, 2.0 * kDefaultSma0);
  req.maxsma = maxsma ? *maxsma : default_maxsma(frame, x, y);
  req.sma0 = sma0 ? *sma0 : std::min(kDefaultSma0, 0.5 * req.maxsma);
  if (req.sma0 > req.maxsma) {
    run.problem("--sma0 must not exceed --maxsma");
    return kJobRefused;
  }
  const std::vector<uint8_t> mask = masked ? mask_of_list(*masked, sl.nx(), sl.ny()) : std::vector<uint8_t>();
  req.mask = mask;
  IsophoteModel g;
  try {
    g = model_galaxy(frame, req);
  } catch (const std::bad_alloc&) {
    run.problem("not enough memory for the model of this frame");
    return kJobRefused;
  }
  if (g.fit.status != IsophoteFitStatus::ok) {
    run.problem(g.fit.problem);
    return kJobRefused;
  }
  const CatalogueWrite w = write_catalogue(run.output("isophotes.ecsv"), isophote_catalogue(g, req, run.args.frame));
  if (!w.ok) run.problem(output_name(run.args.frame, "isophotes.ecsv") + " could not be written: " + w.error);
  Image residual = residual_image(frame, g.model.view());
  const std::string sky = format_real(static_cast<float>(g.sky.level));
  sl.image = std::move(g.model);
  if (!desk.write("model.fits", "zelvo run model: isophote model, the light above the largest isophote's " + sky))
    return kJobRefused;
  sl.image = std::move(residual);
  if (!desk.write("residual.fits", "zelvo run model: frame - isophote model (level " + sky + " kept)"))
    return kJobRefused;
  run.out << one_line(output_name(run.args.frame, "residual.fits")) << ": " << g.fit.isophotes.size() << " isophotes, "
          << g.fit.converged << " converged out to sma " << format_real(static_cast<float>(g.fit.largest_converged))
          << ", model above " << sky << '\n';
  return w.ok && !(masked && masked->bad_line) ? 0 : kJobIncomplete;
}

std::span<const BatchJob> batch_jobs() {
  static const std::vector<BatchJob> jobs = {
      {"remove",
       {"--list"},
       {"--list"},
       "remove FRAME --list LIST --out DIR [--seed N]   option 9 of R: removes every object of LIST "
       "(type x y radius); writes <stem>.clean.fits",
       batch_remove},
      {"find",
       {"--threshold", "--fwhm", "--max-width", "--sharpness", "--roundness"},
       {},
       "find FRAME [--threshold K] [--fwhm F] [--max-width W] [--sharpness LO,HI] [--roundness LO,HI] --out DIR "
       "[--seed N]   option 4 of R without the editing, then 9: "
       "finds the stars K sigma high (default 5; FWHM F pixels, 0 or none: measured) whose width is at most W times "
       "the FWHM (default 0: from the scatter of the frame's stars' widths), sharpness LO to HI (default 0.2,1) and "
       "roundness LO to HI (default -1,1), writes them as "
       "<stem>.ZelvoRep.log with <stem>.stars.ecsv and <stem>.stars.reg, removes them; writes <stem>.clean.fits",
       batch_find},
      {"photometry",
       {"--list", "--radii", "--gain", "--rdnoise", "--exptime"},
       {"--list", "--radii"},
       "photometry FRAME --list LIST --radii rs,ri,ro [--gain G] [--rdnoise N] [--exptime T] --out DIR   option 4 "
       "of O: measures every star of LIST (x y per line) with the gain (e-/count), read noise (e-) and exposure "
       "time (s) given, or the header's; writes <stem>.ZelvoApPhot.log, .ecsv and .reg",
       batch_photometry},
      {"profile",
       {"--centre", "--extent", "--shape", "--sky"},
       {"--centre", "--extent", "--shape"},
       "profile FRAME --centre x,y --extent R,step --shape e,pa [--sky auto|VALUE] --out DIR   option 1 of G (pa "
       "in degrees from +x towards +y; the sky measured beyond the extent, or VALUE); writes "
       "<stem>.ZelvoProfile1.log and .ecsv",
       batch_profile},
      {"model",
       {"--centre", "--sma0", "--shape", "--maxsma", "--mask", "--fix"},
       {"--centre"},
       "model FRAME --centre x,y [--sma0 A] [--shape e,pa] [--maxsma R] [--mask LIST] [--fix centre|shape] --out DIR   "
       "option 5 of R: fits elliptical isophotes (e the ellipticity, pa in degrees from +x towards +y), masking the "
       "stars of LIST; writes <stem>.isophotes.ecsv, <stem>.model.fits and <stem>.residual.fits",
       batch_model},
  };
  return jobs;
}

}  // namespace zelvo
