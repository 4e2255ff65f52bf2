#include "photometry/apphot.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/box.h"
#include "geometry/digital_circle.h"

namespace zelvo {

namespace {

const std::vector<std::string>& header_lines() {
  static const std::vector<std::string> lines = {
      "",
      " This is the aperture photometry log of the Zelvo program; it",
      " contains these five lines and N lines, one for each star for ",
      " which aperture photometry was measured, with the coordinates ",
      " and brightness of the star in the following format: ",
      " x  y  flux  magnitude [-2.5 log10(flux/exptime); exptime 0: -2.5 log10(flux)]. ",
      "",
  };
  return lines;
}

Box bounding_box(std::span<const float> x, std::span<const float> y) {
  const GreatSmall gx = GREATSMALL(x), gy = GREATSMALL(y);
  return Box{static_cast<int32_t>(gx.small), static_cast<int32_t>(gx.great), static_cast<int32_t>(gy.small),
             static_cast<int32_t>(gy.great)};
}

}  // namespace

ApertureSums aperture_sums(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  ApertureSums out;
  // Trace the three rings first: the work area is their common bounding box.
  const float rs[3] = {radii.outer, radii.inner, radii.star};
  std::vector<float> rx[3], ry[3];
  DigitalRing ring;
  Box box;
  for (int k = 0; k < 3; ++k) {
    float traced = rs[k];
    // The apertures keep measuring pixel (i, j) as centred at (i + 0.5, j + 0.5) until they
    // become exact circles: the ring is traced about the centre moved by half a pixel.
    const EdgeStatus st = trace_digital_circle_near(ring, xcen - 0.5f, ycen - 0.5f, rs[k], traced);
    if (traced != rs[k]) out.retraced = true;
    if (st != EdgeStatus::ok) {
      out.status = st;
      out.failed_radius = rs[k];
      return out;
    }
    rx[k] = ring.x;
    ry[k] = ring.y;
    box = box_union(box, bounding_box(rx[k], ry[k]));
  }
  const Box inside = box.clipped(image.nx, image.ny);
  out.truncated = inside.x0 != box.x0 || inside.x1 != box.x1 || inside.y0 != box.y0 || inside.y1 != box.y1;
  if (inside.empty()) return out;  // every disc lies off the image: nothing to count

  // The mask covers the work area only; ring coordinates are shifted into it (exactly: they
  // are whole numbers) and the disc fill cuts each row to the area, i.e. to the image.
  const int32_t bw = inside.x1 - inside.x0 + 1, bh = inside.y1 - inside.y0 + 1;
  const float ox = static_cast<float>(inside.x0 - 1), oy = static_cast<float>(inside.y0 - 1);
  Image mask(bw, bh, 0.0f);
  Box disc;  // the part of the mask set by the last disc
  ApertureSum* sums[3] = {&out.outer, &out.inner, &out.star};
  for (int k = 0; k < 3; ++k) {
    std::vector<float> lx(rx[k].size()), ly(ry[k].size());
    for (std::size_t i = 0; i < lx.size(); ++i) {
      lx[i] = rx[k][i] - ox;
      ly[i] = ry[k][i] - oy;
    }
    fill_box(mask, disc, 0.0f);
    disc = fill_disc(mask, bw, bh, lx, ly, GREATSMALL(ly));
    // Image times mask, summed in image order: off-disc pixels add a zero and change nothing.
    // The count is kept as an integer (a float sum of ones would stall at 2^24).
    int32_t n = 0;
    float flux = 0.0f;
    for (int32_t y = 1; y <= bh; ++y)
      for (int32_t x = 1; x <= bw; ++x) {
        const float m = mask.at(x, y);
        if (m != 0.0f) ++n;
        flux += image.at(x + inside.x0 - 1, y + inside.y0 - 1) * m;
      }
    sums[k]->n = n;
    sums[k]->flux = flux;
  }
  return out;
}

std::optional<float> instrumental_magnitude(float flux) {
  if (!(flux > 0.0f) || !std::isfinite(flux)) return std::nullopt;
  return -2.5f * std::log10(flux);
}

std::optional<float> aperture_magnitude(float flux, float exptime) {
  if (!(exptime > 0.0f) || !std::isfinite(exptime)) return instrumental_magnitude(flux);
  if (!(flux > 0.0f) || !std::isfinite(flux)) return std::nullopt;
  // In double precision: flux / exptime of two floats can leave the float range.
  return static_cast<float>(-2.5 * std::log10(static_cast<double>(flux) / static_cast<double>(exptime)));
}

Photometry APPHOT(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, float exptime) {
  Photometry p;
  p.sums = aperture_sums(image, xcen, ycen, radii);
  if (!p.measured()) return p;
  p.annulus.n = p.sums.outer.n - p.sums.inner.n;
  p.annulus.flux = p.sums.outer.flux - p.sums.inner.flux;
  if (p.annulus.n > 0) p.avgback = p.annulus.flux / static_cast<float>(p.annulus.n);
  if (p.avgback) {
    const float c = p.sums.star.flux - static_cast<float>(p.sums.star.n) * *p.avgback;
    if (std::isfinite(c)) p.corrected = c;
  }
  if (p.corrected) p.magnitude = aperture_magnitude(*p.corrected, exptime);
  return p;
}

std::span<const std::string> apphot_log_header() { return header_lines(); }

}  // namespace zelvo
