// The jobs of `zelvo run` and the session they run in: each loads the frame into slot 1 of a
// BatchDesk and runs its dialogue's code on it.
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>

#include "display/display.h"
#include "fits/fits_io.h"
#include "numeric/image_range.h"
#include "numeric/random.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/log_file.h"
#include "session/batch_run.h"
#include "platform/list_io.h"
#include "session/find_stars.h"
#include "session/fits_reports.h"
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

int not_built(BatchRun& run) {
  std::cerr << "zelvo run " << run.args.job << ": not built yet\n";
  return kJobRefused;
}

}  // namespace

BatchDesk::BatchDesk(BatchRun& r)
    : run(r), transcript(r.output("session.txt"), std::ios::binary), con(no_answers, transcript), gfx(con), s(con, gfx) {
  s.ranseed = r.args.seed ? *r.args.seed : INITRAN();
  s.disp.greyflag = 1;
  s.disp.scaling = 'n';
  s.gdevice = "/null";
  if (s.mainlog.open(r.output("Zelvo.log"), con, "the session is not logged")) {
    for (const auto& l : mainlog_header_lines()) s.mainlog.stream() << l << '\n';
    s.mainlog.stream().flush();
  }
}

BatchDesk::~BatchDesk() {
  con.flush();
  s.mainlog.close();
}

bool BatchDesk::load() {
  FitsRead r = read_fits_reported(con, run.args.frame);
  switch (r.outcome) {
    case ReadOutcome::Loaded: break;
    case ReadOutcome::NotRegular: run.problem("the frame is " + r.special_kind + ", not a regular file"); return false;
    case ReadOutcome::NoNaxis: run.problem("the frame has no NAXIS1 and NAXIS2"); return false;
    case ReadOutcome::NoPixels: run.problem("the frame has an axis of length 0 or less"); return false;
    case ReadOutcome::TooLarge: run.problem("not enough memory for the frame"); return false;
    case ReadOutcome::FitsError: {
      std::string why = "the frame cannot be read (FITSIO status " + std::to_string(r.error.status) + ": " + r.error.text;
      if (!r.error.stack.empty()) why += "; " + r.error.stack.front();
      run.problem(why + ")");
      return false;
    }
  }
  s.activeslot = 1;
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
    s.disp.minlim = r.range.lo;
    s.disp.maxlim = r.range.hi;
  } else {
    finite_range(sl.image, s.disp.minlim, s.disp.maxlim);
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

int batch_remove(BatchRun& run) {
  const std::string& list = *run.args.value("--list");
  const SmallFile check = read_small_file(list);
  if (!check.read()) {
    run.problem(check.refusal.empty() ? list + ": the object list cannot be read" : check.refusal);
    return kJobRefused;
  }
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ensure_display_levels(desk.s.active().view(), desk.s.disp);
  const RemovalFiles files{list, run.output("ZelvoRepeat.log"), run.output("ZelvoDebug.log")};
  AutomaticRemovals r;
  try {
    r = remove_list_unattended(desk.s, files);
  } catch (const std::bad_alloc&) {
    run.problem("not enough memory for the removal work arrays; nothing was removed");
    return kJobRefused;
  } catch (const EndOfInput&) {
    run.problem("the removal asked a question, which a run cannot answer; it stopped there");
  }
  for (const std::string& p : r.problems) run.problem(p);
  const std::string done = std::to_string(r.removed.size()) + " of " + std::to_string(r.listed) + " listed objects removed";
  if (!desk.write("clean.fits", "zelvo run remove: " + done)) return kJobRefused;
  run.out << one_line(output_name(run.args.frame, "clean.fits")) << ": " << done << '\n';
  return r.problems.empty() ? 0 : kJobIncomplete;
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
  BatchDesk desk(run);
  if (!desk.load()) return kJobRefused;
  ensure_display_levels(desk.s.active().view(), desk.s.disp);
  const UnattendedFind found = find_stars_unattended(desk.s, threshold, fwhm, run.output("ZelvoRep.log"),
                                                     run.output("stars.ecsv"), run.output("stars.reg"));
  if (!found.problem.empty()) {
    run.problem(found.problem);
    return kJobRefused;
  }
  for (const std::string& n : found.notes) run.problem(n);
  const RemovalFiles files{run.output("ZelvoRep.log"), run.output("ZelvoRepeat.log"), run.output("ZelvoDebug.log")};
  AutomaticRemovals r;
  try {
    r = remove_list_unattended(desk.s, files);
  } catch (const std::bad_alloc&) {
    run.problem("not enough memory for the removal work arrays; nothing was removed");
    return kJobRefused;
  } catch (const EndOfInput&) {
    run.problem("the removal asked a question, which a run cannot answer; it stopped there");
  }
  for (const std::string& p : r.problems) run.problem(p);
  const std::string done = std::to_string(found.stars) + " stars found above " + format_real(threshold) +
                           " sigma (" + std::to_string(found.saturated) + " saturated), " +
                           std::to_string(r.removed.size()) + " removed";
  if (!desk.write("clean.fits", "zelvo run find: " + done)) return kJobRefused;
  run.out << one_line(output_name(run.args.frame, "clean.fits")) << ": " << done << '\n';
  return r.problems.empty() && found.notes.empty() ? 0 : kJobIncomplete;
}

std::span<const BatchJob> batch_jobs() {
  static const std::vector<BatchJob> jobs = {
      {"remove", {"--list"}, {"--list"},
       "remove FRAME --list LIST --out DIR [--seed N]   option 9 of R: removes every object of LIST "
       "(type x y radius); writes <stem>.clean.fits",
       batch_remove},
      {"find", {"--threshold", "--fwhm"}, {},
       "find FRAME [--threshold K] [--fwhm F] --out DIR [--seed N]   option 4 of R without the editing, then 9: "
       "finds the stars K sigma high (default 5; FWHM F pixels, 0 or none: measured), writes them as "
       "<stem>.ZelvoRep.log with <stem>.stars.ecsv and <stem>.stars.reg, removes them; writes <stem>.clean.fits",
       batch_find},
      {"photometry", {"--list", "--radii"}, {"--list", "--radii"},
       "photometry FRAME --list LIST --radii rs,ri,ro --out DIR   (not built yet)", not_built},
      {"profile", {"--centre", "--extent", "--shape"}, {"--centre", "--extent", "--shape"},
       "profile FRAME --centre x,y --extent R,step --shape e,pa --out DIR   (not built yet)", not_built},
  };
  return jobs;
}

}  // namespace zelvo
