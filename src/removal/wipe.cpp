#include "removal/wipe.h"

#include <cmath>
#include <ostream>

#include "numeric/random.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"

namespace zelvo {

std::string WIPEOUT(RemovalWork& work, ImageView image, float xcen, float ycen, float deathrad,
                    const RemovalContext& ctx, std::ostream& log) {
  std::string note = list_record({"Maxangle, minangle = ", work.MaxAngle, work.MinAngle});
  const bool detail = ctx.extlogs == 1;
  // Noise with the spread of the ring's background sigma (one draw per pixel, as ever).
  const double hi = kUniformHalfWidthPerSigma * static_cast<double>(work.TheSigma), lo = -hi;
  const float range = work.MaxBack - work.MinBack;
  // Quarter-turn apart means a saddle, half a turn a plane.
  const bool saddle = std::fabs(work.MaxAngle - work.MinAngle) <= 3.0f;
  const Box b = work.mask_box;  // the disc; TheMask is zero elsewhere
  for (int32_t x = b.x0; x <= b.x1; ++x) {
    for (int32_t y = b.y0; y <= b.y1; ++y) {
      float& mask = work.TheMask.at(x, y);
      if (mask != 1.0f) continue;
      const double noise = ctx.rng.RND(ctx.ranseed, lo, hi);
      const float ddx = static_cast<float>(x) + 0.5f - xcen, ddy = static_cast<float>(y) + 0.5f - ycen;
      const float dista = std::sqrt(ddx * ddx + ddy * ddy);
      float fii = std::atan2(static_cast<float>(x) - xcen, static_cast<float>(y) - ycen) - work.MinAngle;
      if (fii <= 0.0f) fii += kTwoPiReal;
      // 0 at the rim towards MinAngle, 1/2 at the centre, 1 at the opposite rim.
      const float isoD = (std::cos(fii + kPiReal) * dista / deathrad + 1.0f) / 2.0f;
      if (detail) log_record(log, {"dista, fii, isoD = ", dista, fii, isoD});
      float& px = image.at(x, y);
      mask = px;
      float model;
      if (saddle) {
        model = (fii <= kHalfPiReal || fii >= 3.0f * kHalfPiReal) ? range * 2.0f * isoD + work.MinBack
                                                                  : range * (2.0f - 2.0f * isoD) + work.MinBack;
      } else {
        model = range * isoD + work.MinBack;
      }
      px = static_cast<float>(static_cast<double>(model) + noise);
    }
  }
  work.undo_ready = true;
  return note;
}

bool UNWIPE(const RemovalWork& work, ImageView image) {
  if (!work.undo_ready || image.empty() || image.nx != work.NX || image.ny != work.NY ||
      work.TheMask.nx != image.nx || work.TheMask.ny != image.ny) {
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
