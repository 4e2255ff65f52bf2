// Option 5 of the remove-features submenu: the galaxy's centre clicked (or taken from a list),
// its starting ellipse and largest semi-major axis offered, the stars to mask chosen, the
// isophotes fitted and shown, and the residual kept or undone.
#include "session/remove_galaxy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/isophote_page.h"
#include "numeric/fortran.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "removal/object_area.h"
#include "session/remove_dialogue.h"
#include "session/remove_texts.h"
#include "session/session.h"
#include "text/list_format.h"
#include "text/list_parse.h"

namespace zelvo {

namespace {

constexpr double kDeg = 57.29577951308232;

constexpr std::string_view kClickGalaxy = "Click on the centre of the galaxy.";
constexpr std::string_view kCentreOffImage = "The centre lies outside the image; nothing is removed.";
constexpr std::string_view kShapeLead = "Starting ellipse: ellipticity, position angle (degrees) = ";
constexpr std::string_view kLargestLead = "Largest semi-major axis (pixels) = ";
constexpr std::string_view kDrawnNote = "The first ellipse and the largest one are drawn on the image.";
constexpr std::string_view kShapePrompt =
    "Give the starting ellipticity and position angle (degrees), or press Enter to keep them:";
constexpr std::string_view kShapeWrong = "Two numbers please: an ellipticity from 0 to below 1 and an angle.";
constexpr std::string_view kLargestPrompt = "Give the largest semi-major axis, or press Enter to keep it:";
constexpr std::string_view kLargestWrong = "One number please: a semi-major axis above the first one (pixels).";
constexpr std::string_view kMaskPrompt = "Stars to mask: 1) the object list, 2) a DS9 region file, 0) none (Enter: 1):";
constexpr std::string_view kRegionPrompt = "Give the name of the DS9 region file:";
constexpr std::string_view kZeroPointPrompt =
    "Give a zero point to show surface brightness (magnitudes), or press Enter for intensities:";
constexpr std::string_view kFitting = "Fitting elliptical isophotes...";
constexpr std::string_view kBlinkHint = "(Or type blink to flip between the frame and the residual.)";
constexpr std::string_view kBlinkWord = "blink";
constexpr std::string_view kBlinkKeys =
    "Blink: press b in the graphics window to flip frame/residual; any other key or a click ends it.";
constexpr std::string_view kShowingFrame = "Showing the frame.";
constexpr std::string_view kShowingResidual = "Showing the residual.";
constexpr std::string_view kModelKept =
    "The frame is back; stars removed from it now are painted over the galaxy model.";

const char* stop_name(IsophoteStop s) {
  switch (s) {
    case IsophoteStop::fixed: return "fixed";
    case IsophoteStop::converged: return "converged";
    case IsophoteStop::flagged: return "flagged";
    case IsophoteStop::max_iterations: return "max_iterations";
    case IsophoteStop::too_few_points: return "too_few_points";
    case IsophoteStop::carried: return "carried";
  }
  return "";
}

// Numbers typed on one line: none unless there are exactly n.
std::optional<std::vector<double>> typed_numbers(const std::string& line, std::size_t n) {
  bool slash = false;
  std::vector<double> v;
  for (const ListItem& item : split_list_items(line, slash)) {
    const std::optional<double> x = parse_double(item.text);
    if (!x || !std::isfinite(*x)) return std::nullopt;
    v.push_back(*x);
  }
  if (v.size() != n) return std::nullopt;
  return v;
}

// Asks until the answer is empty (the default kept) or n numbers that `valid` accepts.
template <typename Valid>
std::optional<std::vector<double>> ask_numbers(Console& con, std::string_view prompt, std::string_view wrong,
                                               std::size_t n, Valid valid) {
  for (;;) {
    con.text(prompt);
    const std::string line = con.read_line();
    if (trim_right(line).find_first_not_of(' ') == std::string::npos) return std::nullopt;
    const auto v = typed_numbers(line, n);
    if (v && valid(*v)) return v;
    con.text(wrong);
  }
}

// The stars to mask, as the user chooses them.
std::vector<uint8_t> ask_mask(RemovalDialogue& ctx) {
  const int nx = ctx.image.nx, ny = ctx.image.ny;
  for (;;) {
    ctx.con.text(kMaskPrompt);
    const std::string line = ctx.con.read_line();
    const std::string t = trim_right(line);
    const char c = t.empty() ? '1' : t[t.find_first_not_of(' ') == std::string::npos ? 0 : t.find_first_not_of(' ')];
    if (c == '0') return {};
    std::filesystem::path file = ctx.files.object_list;
    if (c == '2') {
      ctx.con.text(kRegionPrompt);
      file = ctx.con.read_file_name();
    } else if (c != '1' && c != ' ') {
      continue;
    }
    const SmallFile f = read_small_file(file);
    if (!f.read()) {
      ctx.con.text(file.string() + " cannot be read; no stars are masked.");
      return {};
    }
    const ObjectList list = parse_list_file(file, f.text);
    if (list.bad_line) ctx.con.text(bad_list_line_message(file, list.bad_line));
    ctx.con.text(std::to_string(list.objects.size()) + " objects of " + file.filename().string() + " are masked.");
    return mask_of_list(list, nx, ny);
  }
}

// Draws the whole image again with the starting and the largest ellipse over it.
void show_request(RemovalDialogue& ctx, const IsophoteRequest& req) {
  redisplay_image(ctx);
  draw_ellipse(ctx.gfx, req.start.x0, req.start.y0, req.sma0, req.start.eps, req.start.pa, 3);
  draw_ellipse(ctx.gfx, req.start.x0, req.start.y0, req.maxsma, req.start.eps, req.start.pa, 2);
  ctx.gfx.flush();
}

void put_pixels(ImageView to, const Image& from) { std::copy(from.px.begin(), from.px.end(), to.px); }

// Flips the whole image between frame and residual at each b key; ends on the residual.
void blink(RemovalDialogue& ctx, const Image& frame, const Image& residual) {
  ctx.con.text(kBlinkKeys);
  bool frame_shown = false;
  for (;;) {
    frame_shown = !frame_shown;
    put_pixels(ctx.image, frame_shown ? frame : residual);
    redisplay_image(ctx);
    ctx.con.text(frame_shown ? kShowingFrame : kShowingResidual);
    const CursorRead c = ctx.s.read_cursor(static_cast<float>(ctx.image.nx / 2), static_cast<float>(ctx.image.ny / 2));
    if (c.key != 'b' && c.key != 'B') break;
  }
  put_pixels(ctx.image, residual);
  if (frame_shown) {
    redisplay_image(ctx);
    ctx.con.text(kShowingResidual);
  }
}

bool keep_asked(RemovalDialogue& ctx, const Image& frame, const Image& residual) {
  for (;;) {
    ctx.con.text(kBlinkHint);
    ctx.con.text(kUndoPrompt);
    const std::string line = ctx.con.read_line();
    if (trim_right(line) != kBlinkWord) return !(!line.empty() && (line[0] == 'y' || line[0] == 'Y'));
    blink(ctx, frame, residual);
  }
}

void write_table(RemovalDialogue& ctx, const IsophoteModel& g, const IsophoteRequest& req) {
  const CatalogueWrite w = write_catalogue(
      ctx.files.isophotes, isophote_catalogue(g, req, ctx.slot.file.empty() ? ctx.slot.name : ctx.slot.file));
  if (!w.ok)
    ctx.con.text(ctx.files.isophotes.string() + " could not be written: " + w.error);
  else
    ctx.con.text("Isophotes written to " + ctx.files.isophotes.string() + ".");
}

bool run_galaxy(RemovalDialogue& ctx, RemovalVisit& visit, const ListedObject* listed, const ObjectList* list,
                bool automatic, Image& frame) {
  float xc = 0.0f, yc = 0.0f;
  if (listed) {
    xc = listed->x;
    yc = listed->y;
    if (!on_image(ctx.image, xc, yc)) {
      ctx.con.text(off_image_message(ctx, *listed));
      return false;
    }
  } else {
    ctx.con.text(kClickGalaxy);
    // A click off the image is refused and asked again; q or Esc go back.
    const std::optional<CursorRead> c =
        ctx.s.read_position(static_cast<float>(ctx.image.nx / 2), static_cast<float>(ctx.image.ny / 2), ctx.image,
                            Box{1, ctx.image.nx, 1, ctx.image.ny});
    if (!c) return false;
    xc = c->x;
    yc = c->y;
    ctx.con.record({"You clicked at ", xc, " ", yc});
    if (!on_image(ctx.image, xc, yc)) {
      ctx.con.text(kCentreOffImage);
      return false;
    }
  }
  visit.marked.push_back(MarkedObject{nint_pixel(xc), nint_pixel(yc)});
  IsophoteRequest req;
  req.start = starting_shape(ctx.image, xc, yc, 2.0 * kDefaultSma0);
  req.maxsma = listed && listed->radius > 0.0f ? listed->radius : default_maxsma(ctx.image, xc, yc);
  req.sma0 = std::min(kDefaultSma0, 0.5 * req.maxsma);
  req.stop = ctx.con.stop_request();
  std::vector<uint8_t> mask;
  std::optional<double> zero_point;
  ctx.con.record({kShapeLead, static_cast<float>(req.start.eps), static_cast<float>(req.start.pa * kDeg)});
  ctx.con.record({kLargestLead, static_cast<float>(req.maxsma)});
  if (automatic) {
    if (list) mask = mask_of_list(*list, ctx.image.nx, ctx.image.ny);
  } else {
    show_request(ctx, req);
    ctx.con.text(kDrawnNote);
    if (const auto v = ask_numbers(ctx.con, kShapePrompt, kShapeWrong, 2,
                                   [](const std::vector<double>& v) { return v[0] >= 0.0 && v[0] < 1.0; })) {
      req.start.eps = (*v)[0];
      req.start.pa = (*v)[1] / kDeg;
    }
    if (const auto v = ask_numbers(ctx.con, kLargestPrompt, kLargestWrong, 1,
                                   [&](const std::vector<double>& v) { return v[0] > 1.0 && v[0] < 1e6; })) {
      req.maxsma = (*v)[0];
      req.sma0 = std::min(kDefaultSma0, 0.5 * req.maxsma);
    }
    mask = ask_mask(ctx);
    if (const auto v = ask_numbers(ctx.con, kZeroPointPrompt, "One number please.", 1,
                                   [](const std::vector<double>&) { return true; }))
      zero_point = (*v)[0];
  }
  req.mask = mask;
  ctx.con.text(kFitting);
  ctx.con.flush();
  const IsophoteModel g = model_galaxy(ctx.image, req);
  if (g.fit.status == IsophoteFitStatus::stopped) throw Interrupted();
  if (g.fit.status != IsophoteFitStatus::ok) {
    ctx.con.text("The isophotes cannot be fitted: " + g.fit.problem + ".");
    return false;
  }
  for (const std::string& l : galaxy_summary(g)) ctx.con.text(l);
  write_table(ctx, g, req);
  const Isophote& nucleus = g.fit.isophotes.front();
  visit.xcen = static_cast<float>(nucleus.shape.x0);
  visit.ycen = static_cast<float>(nucleus.shape.y0);
  visit.deathrad = static_cast<float>(req.maxsma);

  Image residual = residual_image(ctx.image, g.model.view());
  frame = Image(ctx.image.nx, ctx.image.ny);
  std::copy(ctx.image.px, ctx.image.px + ctx.image.size(), frame.px.begin());
  if (!automatic)
    draw_isophote_page(ctx.gfx, ctx.image, shifted_levels(ctx),
                       IsophotePage{g.fit.isophotes, g.sky.beyond, zero_point});
  put_pixels(ctx.image, residual);
  visit.levels.reset();
  const bool keep = automatic || keep_asked(ctx, frame, residual);
  if (!keep) {
    put_pixels(ctx.image, frame);
    visit.levels.reset();
    ctx.s.removal.galaxy_model = g.model;
    ctx.s.removal.galaxy_pixels = ctx.image.px;
    ctx.con.text(kModelKept);
    return false;
  }
  if (ctx.s.removal.galaxy_pixels == ctx.image.px) {
    ctx.s.removal.galaxy_model = Image();
    ctx.s.removal.galaxy_pixels = nullptr;
  }
  record_removal(ctx, visit, 5, static_cast<float>(req.maxsma));
  return true;
}

}  // namespace

ConstImageView galaxy_model_of(const Session& s, ConstImageView image) {
  const Image& m = s.removal.galaxy_model;
  if (s.removal.galaxy_pixels == nullptr || s.removal.galaxy_pixels != image.px || m.nx != image.nx || m.ny != image.ny)
    return {};
  return m.view();
}

Catalogue isophote_catalogue(const IsophoteModel& g, const IsophoteRequest& req, const std::string& frame) {
  Catalogue t;
  const auto col = [&](const char* name, const char* type, const char* unit, const char* what) {
    t.columns.push_back({name, type, unit, what});
  };
  col("sma", "float64", "pix", "semi-major axis");
  col("intens", "float64", "", "mean intensity on the isophote (sky included)");
  col("intens_err", "float64", "", "its error: rms / sqrt(ndata)");
  col("eps", "float64", "", "ellipticity 1 - b/a");
  col("eps_err", "float64", "", "");
  col("pa", "float64", "deg", "major axis from +x towards +y");
  col("pa_err", "float64", "deg", "");
  col("x0", "float64", "pix", "centre; pixel (i, j) centred at (i, j)");
  col("x0_err", "float64", "pix", "");
  col("y0", "float64", "pix", "");
  col("y0_err", "float64", "pix", "");
  col("grad", "float64", "", "dI/dsma");
  col("grad_err", "float64", "", "");
  for (const char* h : {"a3", "b3", "a4", "b4"}) {
    col(h, "float64", "", "harmonic amplitude / (sma |grad|)");
    col((std::string(h) + "_err").c_str(), "float64", "", "");
  }
  col("ndata", "int64", "", "samples used");
  col("nflag", "int64", "", "samples off the image, masked or clipped");
  col("niter", "int64", "", "iterations");
  col("stop", "int64", "", "0 converged, 1 flagged, 2 max iterations, 3 too few points, 4 geometry carried, -1 fixed");
  col("stop_name", "string", "", "");
  t.meta = {{"frame", frame},
            {"model_base", g.sky.level},
            {"sky_beyond", g.sky.beyond},
            {"sky_beyond_sigma", g.sky.sigma},
            {"sky_beyond_pixels", static_cast<double>(g.sky.pixels)},
            {"sma0", req.sma0},
            {"maxsma", req.maxsma},
            {"step", req.step},
            {"growth", std::string(req.linear ? "linear" : "geometric")},
            {"fix", std::string(req.fix == FixedGeometry::centre  ? "centre"
                                : req.fix == FixedGeometry::shape ? "shape"
                                                                  : "none")},
            {"model", std::string("model = isophote intensity - model_base; residual = frame - model")}};
  for (const Isophote& i : g.fit.isophotes) {
    t.rows.push_back({i.sma,
                      i.intens,
                      i.intens_err,
                      i.shape.eps,
                      i.eps_err,
                      i.shape.pa * kDeg,
                      i.pa_err * kDeg,
                      i.shape.x0,
                      i.x0_err,
                      i.shape.y0,
                      i.y0_err,
                      i.grad,
                      i.grad_err,
                      i.a3,
                      i.a3_err,
                      i.b3,
                      i.b3_err,
                      i.a4,
                      i.a4_err,
                      i.b4,
                      i.b4_err,
                      int64_t{i.ndata},
                      int64_t{i.nflag},
                      int64_t{i.niter},
                      int64_t{static_cast<int32_t>(i.stop)},
                      std::string(stop_name(i.stop))});
  }
  return t;
}

std::vector<uint8_t> mask_of_list(const ObjectList& list, int nx, int ny) {
  std::vector<uint8_t> mask(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny), 0);
  for (const ListedObject& o : list.objects)
    if (o.type >= 1 && o.type <= 3) mask_circle(mask, nx, ny, o.x, o.y, o.radius > 0.0f ? o.radius : kDefaultStarMask);
  return mask;
}

double default_maxsma(ConstImageView image, double x, double y) {
  const double edge = std::min({x - 0.5, image.nx + 0.5 - x, y - 0.5, image.ny + 0.5 - y});
  return std::max(std::floor(edge), 2.0 * kDefaultSma0);
}

std::vector<std::string> galaxy_summary(const IsophoteModel& g) {
  int carried = 0, fixed = 0;
  for (const Isophote& i : g.fit.isophotes) {
    carried += i.stop == IsophoteStop::carried || i.stop == IsophoteStop::too_few_points ? 1 : 0;
    fixed += i.stop == IsophoteStop::fixed ? 1 : 0;
  }
  const Isophote& last = g.fit.isophotes.back();
  const Isophote& nucleus = g.fit.isophotes.front();
  std::vector<std::string> lines;
  lines.push_back(std::to_string(g.fit.isophotes.size()) + " isophotes out to sma " +
                  format_real(static_cast<float>(last.sma)) + ": " + std::to_string(g.fit.converged) +
                  " converged (out to " + format_real(static_cast<float>(g.fit.largest_converged)) + "), " +
                  std::to_string(carried) + " with the geometry carried from inside, " + std::to_string(fixed) +
                  " sampled at a fixed geometry.");
  lines.push_back(
      "Nucleus at " + format_real(static_cast<float>(nucleus.shape.x0)) + " " +
      format_real(static_cast<float>(nucleus.shape.y0)) + "; the model is the light above the largest isophote's " +
      "intensity, " + format_real(static_cast<float>(g.sky.level)) + " (the sky beyond it " +
      format_real(static_cast<float>(g.sky.beyond)) + ", from " + std::to_string(g.sky.pixels) + " pixels).");
  return lines;
}

bool remove_galaxy(RemovalDialogue& ctx, RemovalVisit& visit, const ListedObject* listed, const ObjectList* list,
                   bool automatic) {
  Image frame;
  bool kept = false;
  try {
    kept = run_galaxy(ctx, visit, listed, list, automatic, frame);
  } catch (const Interrupted&) {
    if (!frame.empty()) put_pixels(ctx.image, frame);  // the frame as it was
    visit.levels.reset();
    throw;
  }
  blank_apostrophes(ctx.slot.object);
  if (!automatic && !listed) redisplay_image(ctx);
  return kept;
}

}  // namespace zelvo
