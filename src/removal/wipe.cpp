#include "removal/wipe.h"

#include <cmath>
#include <ostream>

#include "numeric/random.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"

namespace zelvo {

namespace {

// A standard Gaussian deviate from two uniform draws of the session's generator (Box-Muller).
double gaussian(Random& rng, int32_t& seed) {
  const double u1 = rng.RAN(seed), u2 = rng.RAN(seed);  // both strictly inside (0, 1)
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.141592653589793 * u2);
}

}  // namespace

std::string WIPEOUT(RemovalWork& work, ImageView image, float xcen, float ycen, float deathrad,
                    const RemovalContext& ctx, std::ostream& log) {
  std::string note = list_record({"Maxangle, minangle = ", work.MaxAngle, work.MinAngle});
  const BackgroundSurface& surface = work.surface;
  if (!surface.fitted()) {
    // Nothing to paint with: the disc is left as it is and there is nothing to undo.
    work.clear_mask();
    return note;
  }
  const bool detail = ctx.extlogs == 1;
  const Box b = work.mask_box;  // the disc; TheMask is zero elsewhere
  for (int32_t x = b.x0; x <= b.x1; ++x) {
    for (int32_t y = b.y0; y <= b.y1; ++y) {
      float& mask = work.TheMask.at(x, y);
      if (mask != 1.0f) continue;
      // Sky noise: Gaussian with the sky's spread about the fitted surface.
      const double noise = surface.spread * gaussian(ctx.rng, ctx.ranseed);
      if (detail) {
        // The ring model's view of this pixel (pixel (x, y) centred at (x, y)), for the log.
        const float ddx = static_cast<float>(x) - xcen, ddy = static_cast<float>(y) - ycen;
        const float dista = std::sqrt(ddx * ddx + ddy * ddy);
        float fii = std::atan2(ddx, ddy) - work.MinAngle;
        if (fii <= 0.0f) fii += kTwoPiReal;
        const float isoD = (std::cos(fii + kPiReal) * dista / deathrad + 1.0f) / 2.0f;
        log_record(log, {"dista, fii, isoD = ", dista, fii, isoD});
      }
      float& px = image.at(x, y);
      mask = px;
      const bool model =
          ctx.galaxy_model.nx == image.nx && ctx.galaxy_model.ny == image.ny && !ctx.galaxy_model.empty();
      px = static_cast<float>(surface.painted(x, y) + noise + (model ? ctx.galaxy_model.at(x, y) : 0.0f));
    }
  }
  work.undo_ready = true;
  return note;
}

bool UNWIPE(const RemovalWork& work, ImageView image) {
  if (!work.undo_ready || image.empty() || image.nx != work.NX || image.ny != work.NY || work.TheMask.nx != image.nx ||
      work.TheMask.ny != image.ny) {
    return false;
  }
  const Box b = work.mask_box;
  for (int32_t y = b.y0; y <= b.y1; ++y) {
    for (int32_t x = b.x0; x <= b.x1; ++x) {
      const float saved = work.TheMask.at(x, y);
      // Zero marks a pixel the removal did not touch; a saved NaN is put back as well.
      if (!(std::fabs(saved) <= 1.0e-6f)) image.at(x, y) = saved;
    }
  }
  return true;
}

}  // namespace zelvo
