#include "removal/ring_values.h"

#include <array>
#include <climits>
#include <cmath>
#include <ostream>
#include <utility>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "removal/log_lines.h"

namespace zelvo {

namespace {

// Sum of squared deviations about `about`, in single precision and index order.
float squares_about(std::span<const float> v, float about) {
  float q = 0.0f;
  for (float s : v) q += (s - about) * (s - about);
  return q;
}

float plain_sum(std::span<const float> v) {
  float s = 0.0f;
  for (float x : v) s += x;
  return s;
}

}  // namespace

void MASKCIRCLE(RemovalWork& work, std::span<const float> x, std::span<const float> y, GreatSmall yrange) {
  // The previous disc (or undo store) is the only non-zero part of the mask.
  work.clear_mask();
  work.mask_box = fill_disc(work.TheMask, work.NX, work.NY, x, y, yrange);
}

RadiusSamples clip_radius_samples(std::span<float> samples, const Box& box, std::ostream* log) {
  RadiusSamples r;
  const auto n = static_cast<int32_t>(samples.size());
  const float sum1 = plain_sum(samples);
  const float avg1 = n > 0 ? sum1 / static_cast<float>(n) : 0.0f;
  if (log) {
    log_record(*log, {"count, auxxmin, auxxmax, auxymin, auxymax, sum1, avg1 = ", n, box.x0, box.x1, box.y0, box.y1,
                      sum1, avg1});
  }
  const float sigma1 = n > 1 ? std::sqrt(squares_about(samples, avg1) / static_cast<float>(n - 1)) : 0.0f;

  // One clipping pass at 2 sigma; samples exactly on a limit stay. Kept samples move to the
  // front in their order.
  const float hi = avg1 + 2.0f * sigma1;
  const float lo = avg1 - 2.0f * sigma1;
  int32_t m = 0;
  for (int32_t i = 0; i < n; ++i) {
    const float v = samples[static_cast<std::size_t>(i)];
    if (v > hi || v < lo) continue;
    samples[static_cast<std::size_t>(m++)] = v;
  }
  if (log) log_record(*log, {"Trashed ", n - m, "values from edge backs"});

  const auto kept = samples.first(static_cast<std::size_t>(m));
  r.sum = plain_sum(kept);
  const float avg2 = m > 0 ? r.sum / static_cast<float>(m) : 0.0f;
  r.sigma = m > 1 ? std::sqrt(squares_about(kept, avg2) / static_cast<float>(m - 1)) : 0.0f;
  r.count = static_cast<float>(m);
  r.usable = n >= 2 && m >= 2;
  return r;
}

RingBackground ring_background(const RadiusSamples (&s)[3]) {
  for (const auto& k : s)
    if (!k.usable) return {};
  // Annulus means need a different count at each radius.
  if (s[1].count == s[0].count || s[2].count == s[1].count) return {};
  const float a1 = s[0].sum / s[0].count;
  const float a2 = (s[1].sum - s[0].sum) / (s[1].count - s[0].count);
  const float a3 = (s[2].sum - s[1].sum) / (s[2].count - s[1].count);
  // Each annulus mean is weighted by T - SIG(k): the noisier radii count less; the
  // weights add up to 2T + 1.
  const float t = s[0].sigma + s[1].sigma + s[2].sigma + 1.0f;
  const float b = ((t - s[1].sigma) * a2 + (t - s[0].sigma) * a1 + (t - s[2].sigma) * a3) / (2.0f * t + 1.0f);
  const float g = (s[0].sigma + s[1].sigma + s[2].sigma) / 3.0f;
  if (!std::isfinite(b) || !std::isfinite(g)) return {};
  return {b, g, true};
}

void RINGVALUES(RemovalWork& work, ConstImageView image, int extlogs, std::ostream& log) {
  const int32_t n = work.nRing;
  if (n == 0) return;
  std::ostream* const detail = extlogs == 1 ? &log : nullptr;
  const auto gx = GREATSMALL(work.TheRing.x);
  const auto gy = GREATSMALL(work.TheRing.y);
  // The sampling box: the ring's extent plus 8 pixels, inside the image.
  const Box box =
      Box{INT(gx.small) - 8, INT(gx.great) + 8, INT(gy.small) - 8, INT(gy.great) + 8}.clipped(work.NX, work.NY);

  constexpr float kRadius[3] = {2.0f, 4.0f, 6.0f};
  std::array<float, 300> buffer{};
  for (int32_t i = 0; i < n; ++i) {
    const auto ii = static_cast<std::size_t>(i);
    const float xi = work.TheRing.x[ii], yi = work.TheRing.y[ii];
    // Only pixels closer than 6 to the ring point can be samples: work in that window of the
    // box. Clearing and scanning the window instead of the whole box gives the same samples
    // in the same (row by row) order.
    fill_box(work.TheAux, work.aux_box, 0.0f);
    const Box win = Box{std::max(box.x0, INT(xi) - 6), std::min(box.x1, INT(xi) + 6), std::max(box.y0, INT(yi) - 6),
                        std::min(box.y1, INT(yi) + 6)};
    work.aux_box = win.empty() ? Box{} : win;

    RadiusSamples stats[3];
    for (int k = 0; k < 3; ++k) {
      std::size_t count = 0;
      for (int32_t y = win.y0; y <= win.y1; ++y) {
        for (int32_t x = win.x0; x <= win.x1; ++x) {
          const float dx = static_cast<float>(x) - xi, dy = static_cast<float>(y) - yi;
          const float d = std::sqrt(dx * dx + dy * dy);
          float& aux = work.TheAux.at(x, y);
          aux = d >= kRadius[k] ? 0.0f : 1.0f - work.TheMask.at(x, y);
          aux *= image.at(x, y);
          // Pixels of 0.01 or less count as absent; so do non-finite ones.
          if (aux > 0.01f && counted_pixel(aux)) buffer[count++] = aux;
        }
      }
      stats[k] = clip_radius_samples(std::span<float>(buffer.data(), count), box, detail);
    }
    const RingBackground b = ring_background(stats);
    if (!b.measured) work.RingWeight[ii] = 0.0f;
    work.TheRing.back[ii] = b.back;
    work.TheRing.sigma[ii] = b.sigma;
  }
}

AnnulusSamples annulus_samples(const RemovalWork& work, ConstImageView image, float xcen, float ycen, float inner,
                               float outer) {
  AnnulusSamples a;
  if (image.empty() || !(outer > inner) || !std::isfinite(xcen) || !std::isfinite(ycen) || !std::isfinite(outer)) {
    return a;
  }
  const Box box = Box{INT(std::floor(xcen - outer)), INT(std::ceil(xcen + outer)), INT(std::floor(ycen - outer)),
                      INT(std::ceil(ycen + outer))}
                      .clipped(image.nx, image.ny);
  const bool masked = work.TheMask.nx == image.nx && work.TheMask.ny == image.ny;
  const double in2 = static_cast<double>(inner) * inner, out2 = static_cast<double>(outer) * outer;
  for (int32_t y = box.y0; y <= box.y1; ++y) {
    for (int32_t x = box.x0; x <= box.x1; ++x) {
      const double dx = x - static_cast<double>(xcen), dy = y - static_cast<double>(ycen);
      const double d2 = dx * dx + dy * dy;
      if (d2 <= in2 || d2 > out2) continue;
      if (masked && work.TheMask.at(x, y) != 0.0f) continue;
      const float v = image.at(x, y);
      if (!counted_pixel(v)) continue;
      a.x.push_back(static_cast<float>(x));
      a.y.push_back(static_cast<float>(y));
      a.value.push_back(v);
    }
  }
  return a;
}

}  // namespace zelvo
