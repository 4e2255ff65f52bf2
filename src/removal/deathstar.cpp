#include "removal/deathstar.h"

#include <ostream>
#include <string>

#include "removal/edge.h"
#include "removal/gradient.h"
#include "removal/log_lines.h"
#include "removal/removal_texts.h"
#include "removal/ring_values.h"
#include "removal/wipe.h"

namespace zelvo {

namespace {

std::string_view edge_failure_text(EdgeStatus s) {
  switch (s) {
    case EdgeStatus::no_start: return kNoStartText;
    case EdgeStatus::stuck: return kStuckText;
    default: return kNoClosureText;
  }
}

// Number of disc pixels: the sum of the mask in single precision, x fastest.
int32_t mask_sum(const RemovalWork& w) {
  float s = 0.0f;
  const Box& b = w.mask_box;
  for (int32_t y = b.y0; y <= b.y1; ++y)
    for (int32_t x = b.x0; x <= b.x1; ++x) s += w.TheMask.at(x, y);
  return static_cast<int32_t>(s);
}

}  // namespace

RemovalResult DEATHSTAR(RemovalWork& work, ImageView image, float xcen, float ycen, float deathrad,
                        const RemovalContext& ctx) {
  RemovalResult result;
  if (!image.empty()) work.prepare(image.nx, image.ny);
  deathrad = deathrad + 1.0f;
  result.radius = deathrad;
  result.notes.push_back(list_record({"deathrad = ", deathrad, ", xcen = ", xcen, ", ycen = ", ycen}));

  DebugLog debug(ctx.log);
  std::ostream& log = debug.out();
  log << '\n';
  for (std::string_view line : kDebugAdviceLines) log_record(log, {line});
  log_record(log, {"The star centre = ", xcen, ycen, " and radius = ", deathrad});

  const auto fail = [&](RemovalStatus status, std::string_view text) {
    result.notes.push_back(list_record({text}));
    log_record(log, {text});
    result.status = status;
    return result;
  };
  if (image.empty()) return fail(RemovalStatus::no_image, kNoImageText);
  const auto nx = static_cast<float>(image.nx), ny = static_cast<float>(image.ny);
  if (!(deathrad > 0.0f && deathrad <= nx + ny)) return fail(RemovalStatus::bad_radius, kBadRadiusText);
  // Pixel (i, j) is centred at (i, j): the disc must reach at least one pixel centre along each axis.
  if (!(xcen > 1.0f - deathrad && xcen < nx + deathrad && ycen > 1.0f - deathrad && ycen < ny + deathrad)) {
    return fail(RemovalStatus::outside, kOutsideText);
  }

  const TracedRing ring = trace_edge_ring(work, xcen, ycen, deathrad);
  if (ring.status != EdgeStatus::ok) return fail(RemovalStatus::no_edge_ring, edge_failure_text(ring.status));
  const float traced = ring.traced_radius;
  if (traced != deathrad) {
    // The digital circle at exactly this radius has a gap; a ring a hair wider or narrower closes.
    result.notes.push_back(list_record(
        {"The ring could not be traced at radius", deathrad, "; it was traced at radius", traced, "instead."}));
    log_record(log,
               {"The ring could not be traced at radius", deathrad, "; it was traced at radius", traced, "instead."});
  }
  log_record(log, {"Finished FindEdge"});

  MASKCIRCLE(work, work.TheRing.x, work.TheRing.y, GREATSMALL(work.TheRing.y));
  log_record(log, {"Finished MaskCircle"});
  result.mask_size = mask_sum(work);
  if (result.mask_size == 0) return fail(RemovalStatus::outside, kOutsideText);

  RINGVALUES(work, image, ctx.extlogs, log);
  log_record(log, {"sum(TheMask) = ", result.mask_size});
  if (ctx.extlogs == 1) {
    log_record(log, {"TheRing (x, y, background value, background sigma): "});
    for (std::size_t i = 0; i < work.TheRing.x.size(); ++i) {
      log_record(log, {work.TheRing.x[i], work.TheRing.y[i], work.TheRing.back[i], work.TheRing.sigma[i]});
    }
  }

  // The ring model goes to the debug log; the background painted is the surface fitted to
  // the sky just beyond the disc.
  if (!GRADIENT(work, xcen, ycen, log) ||
      !fit_background(work, image, xcen, ycen, deathrad, ctx.extlogs, log, ctx.galaxy_model)) {
    work.clear_mask();
    result.mask_size = 0;
    return fail(RemovalStatus::no_background, kNoBackgroundText);
  }
  if (ctx.stop.requested()) {
    work.clear_mask();
    result.mask_size = 0;
    log_record(log, {"Stopped by Ctrl-C before the repaint; nothing changed."});
    result.status = RemovalStatus::stopped;
    return result;
  }
  result.notes.push_back(WIPEOUT(work, image, xcen, ycen, deathrad, ctx, log));
  return result;
}

}  // namespace zelvo
