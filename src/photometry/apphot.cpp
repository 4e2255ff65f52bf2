#include "photometry/apphot.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/clipped_mean.h"
#include "photometry/exact_overlap.h"

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

// The pixels within `r` of (xc, yc), cut to the image: first and last column and row.
struct PixelRange {
  int64_t x0, x1, y0, y1;
  bool cut;
};
PixelRange pixels_within(ConstImageView image, double xc, double yc, double r) {
  const double rr = std::max(r, 0.0) + 0.5;
  const double fx0 = std::floor(xc - rr), fx1 = std::ceil(xc + rr), fy0 = std::floor(yc - rr), fy1 = std::ceil(yc + rr);
  PixelRange p{1, 0, 1, 0, true};
  if (!std::isfinite(xc) || !std::isfinite(yc) || !std::isfinite(r)) return p;  // nothing to visit
  // Clamped in double first, so centres far off the image never overflow an integer.
  p.x0 = static_cast<int64_t>(std::clamp(fx0, 0.0, image.nx + 1.0));
  p.x1 = static_cast<int64_t>(std::clamp(fx1, 0.0, image.nx + 1.0));
  p.y0 = static_cast<int64_t>(std::clamp(fy0, 0.0, image.ny + 1.0));
  p.y1 = static_cast<int64_t>(std::clamp(fy1, 0.0, image.ny + 1.0));
  p.cut = fx0 < 1.0 || fx1 > image.nx || fy0 < 1.0 || fy1 > image.ny;
  p.x0 = std::max<int64_t>(p.x0, 1);
  p.y0 = std::max<int64_t>(p.y0, 1);
  p.x1 = std::min<int64_t>(p.x1, image.nx);
  p.y1 = std::min<int64_t>(p.y1, image.ny);
  return p;
}

}  // namespace

namespace {

// The exact-overlap sum of one circle. Row by row: the pixels wholly inside form one run that
// is summed plainly; only the few pixels the circle's edge crosses at either end of the row
// get their share, from the corner values F(x, y) (the signed area of the circle between the
// axes and the corner) on the pixel grid.
//
// Outside the circle, with a = min(|x|, r) and b = min(|y|, r), F is P(a) + P(b) - pi r^2 / 4,
// where P(u) = (u sqrt(r^2 - u^2) + r^2 asin(u / r)) / 2 is the circle's area over [0, u] on one
// side of the axis; inside it is x y. P is computed once per grid line, so no corner needs a
// square root or an arc sine.
//
// A pixel index from a coordinate, clamped to 0 .. n + 1 in double precision first, so a
// centre or radius far off the image never overflows an integer.
int64_t index_near(double v, int64_t n) {
  return static_cast<int64_t>(std::clamp(v, 0.0, static_cast<double>(n) + 1.0));
}

// One axis' grid lines of a circle: for line k, |t| (t its offset from the centre), t^2, the
// sign of t and P(min(|t|, r)).
struct GridLines {
  double* abs;
  double* sq;
  double* sign;
  double* arc;
};

// The scratch of the grid lines, kept from one measurement to the next (no allocation per
// star); given back when a huge aperture made it large.
std::vector<double>& line_scratch() {
  thread_local std::vector<double> s;
  return s;
}

void fill_lines(GridLines g, std::size_t n, double first, double r) {
  const double r2 = r * r, quarter = 0.25 * M_PI * r2;
  for (std::size_t k = 0; k < n; ++k) {
    const double t = first + static_cast<double>(k);
    const double a = std::fabs(t);
    g.abs[k] = a;
    g.sq[k] = a * a;
    g.sign[k] = t < 0.0 ? -1.0 : 1.0;
    if (a >= r) {
      g.arc[k] = quarter;
    } else {
      const double s = std::sqrt(r2 - a * a);
      g.arc[k] = 0.5 * (a * s + r2 * std::asin(a / r));
    }
  }
}

ApertureSum circle_sum(ConstImageView image, double xc, double yc, double r) {
  ApertureSum out;
  if (!(r > 0.0)) return out;
  const double r2 = r * r, quarter = 0.25 * M_PI * r2;
  // The columns and rows whose pixels may touch the circle (cut to the image).
  const int64_t i0 = std::max<int64_t>(1, index_near(std::floor(xc - r - 0.5), image.nx));
  const int64_t i1 = std::min<int64_t>(image.nx, index_near(std::ceil(xc + r + 0.5), image.nx));
  const int64_t j0 = std::max<int64_t>(1, index_near(std::floor(yc - r - 0.5), image.ny));
  const int64_t j1 = std::min<int64_t>(image.ny, index_near(std::ceil(yc + r + 0.5), image.ny));
  if (i0 > i1 || j0 > j1) return out;
  // Column line k is the left edge of column i0 + k, row line k the lower edge of row j0 + k.
  const auto ncol = static_cast<std::size_t>(i1 - i0 + 2), nrow = static_cast<std::size_t>(j1 - j0 + 2);
  std::vector<double>& scratch = line_scratch();
  if (scratch.size() < 4 * (ncol + nrow)) scratch.resize(4 * (ncol + nrow));  // grown only, never filled anew
  const GridLines cx{scratch.data(), scratch.data() + ncol, scratch.data() + 2 * ncol, scratch.data() + 3 * ncol};
  double* const rows = scratch.data() + 4 * ncol;
  const GridLines cy{rows, rows + nrow, rows + 2 * nrow, rows + 3 * nrow};
  fill_lines(cx, ncol, static_cast<double>(i0) - 0.5 - xc, r);
  fill_lines(cy, nrow, static_cast<double>(j0) - 0.5 - yc, r);
  // F without the sign of the column line's offset (the caller applies it once per line).
  const auto corner = [&](std::size_t a, std::size_t b) {
    const double v = cx.sq[a] + cy.sq[b] <= r2 ? cx.abs[a] * cy.abs[b] : cx.arc[a] + cy.arc[b] - quarter;
    return v * cy.sign[b];
  };
  double area = 0.0, flux = 0.0;
  for (int64_t j = j0; j <= j1; ++j) {
    const double dy = std::fabs(static_cast<double>(j) - yc);
    const double ny = std::max(dy - 0.5, 0.0), fy = dy + 0.5;
    if (ny >= r) continue;
    const double reach = std::sqrt(r2 - ny * ny);  // pixel i touches the circle when |i - xc| < 0.5 + reach
    const int64_t ilo = std::max<int64_t>(i0, index_near(std::floor(xc - 0.5 - reach) + 1.0, image.nx));
    const int64_t ihi = std::min<int64_t>(i1, index_near(std::ceil(xc + 0.5 + reach) - 1.0, image.nx));
    if (ilo > ihi) continue;
    // Wholly inside: |i - xc| + 0.5 <= sqrt(r^2 - fy^2).
    int64_t flo = ihi + 1, fhi = ihi;  // empty unless some pixel is whole
    if (fy < r) {
      const double half = std::sqrt(r2 - fy * fy) - 0.5;
      if (half >= 0.0) {
        flo = std::max(ilo, index_near(std::ceil(xc - half), image.nx));
        fhi = std::min(ihi, index_near(std::floor(xc + half), image.nx));
        if (flo > fhi) {
          flo = ihi + 1;
          fhi = ihi;
        }
      }
    }
    const float* row = &image.at(1, static_cast<int>(j)) - 1;  // row[i] is pixel (i, j)
    const auto b = static_cast<std::size_t>(j - j0);
    // Columns a .. c, each with its share: the strip value G (the circle's area in the row left
    // of a column line) is shared by the two pixels of that line.
    const auto partial = [&](int64_t a, int64_t c) {
      double pa = 0.0, pf = 0.0;
      auto k = static_cast<std::size_t>(a - i0);
      double g = cx.sign[k] * (corner(k, b + 1) - corner(k, b));
      for (int64_t i = a; i <= c; ++i) {
        ++k;
        const double gn = cx.sign[k] * (corner(k, b + 1) - corner(k, b));
        const double w = std::max(gn - g, 0.0);
        g = gn;
        pa += w;
        pf += w > 0.0 ? w * row[i] : 0.0;  // a pixel the circle only touches adds nothing, even a NaN
      }
      area += pa;
      flux += pf;
    };
    if (flo > fhi) {
      partial(ilo, ihi);
      continue;
    }
    if (ilo < flo) partial(ilo, flo - 1);
    // Four partial sums, so the run's additions need not wait on each other.
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    int64_t i = flo;
    for (; i + 3 <= fhi; i += 4) {
      s0 += row[i];
      s1 += row[i + 1];
      s2 += row[i + 2];
      s3 += row[i + 3];
    }
    for (; i <= fhi; ++i) s0 += row[i];
    flux += (s0 + s1) + (s2 + s3);
    area += static_cast<double>(fhi - flo + 1);
    if (fhi < ihi) partial(fhi + 1, ihi);
  }
  if (scratch.capacity() > (std::size_t{1} << 16)) std::vector<double>().swap(scratch);
  out.area = area;
  out.flux = flux;
  return out;
}

// Asks the memory for the rows of the outer circle's box before they are read: on a large
// image every row lies on its own page, and the requests overlap instead of waiting in turn.
void prefetch_box(ConstImageView image, double xc, double yc, double r) {
  const int64_t i0 = std::max<int64_t>(1, index_near(std::floor(xc - r - 0.5), image.nx));
  const int64_t i1 = std::min<int64_t>(image.nx, index_near(std::ceil(xc + r + 0.5), image.nx));
  const int64_t j0 = std::max<int64_t>(1, index_near(std::floor(yc - r - 0.5), image.ny));
  const int64_t j1 = std::min<int64_t>(image.ny, index_near(std::ceil(yc + r + 0.5), image.ny));
  if (i0 > i1 || j0 > j1 || j1 - j0 > 256) return;  // a huge box gains nothing from it
  constexpr int64_t kLine = 64 / sizeof(float);
  for (int64_t j = j0; j <= j1; ++j) {
    const float* row = &image.at(1, static_cast<int>(j)) - 1;
    for (int64_t i = i0; i <= i1 + kLine - 1; i += kLine) __builtin_prefetch(row + std::min(i, i1));
  }
}

}  // namespace

ApertureSums aperture_sums(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  ApertureSums out;
  const double xc = xcen, yc = ycen;
  const double rmax = std::max(
      {static_cast<double>(radii.star), static_cast<double>(radii.inner), static_cast<double>(radii.outer), 0.0});
  // A circle crosses the border when its bounding box does.
  out.truncated = pixels_within(image, xc, yc, rmax).cut;
  if (!std::isfinite(xc) || !std::isfinite(yc) || image.empty()) return out;
  if (std::isfinite(rmax)) prefetch_box(image, xc, yc, rmax);
  out.star = circle_sum(image, xc, yc, radii.star);
  out.inner = circle_sum(image, xc, yc, radii.inner);
  out.outer = circle_sum(image, xc, yc, radii.outer);
  return out;
}

SkyLevel annulus_sky(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  SkyLevel s;
  const double xc = xcen, yc = ycen, ro = radii.outer;
  if (!std::isfinite(xc) || !std::isfinite(yc) || !(ro > 0.0) || image.empty()) return s;
  const double ri = radii.inner, ri2 = ri * ri, ro2 = ro * ro;
  // The values are gathered in a buffer kept from one measurement to the next.
  thread_local std::vector<float> v;
  std::size_t count = 0;
  const int64_t j0 = std::max<int64_t>(1, index_near(std::ceil(yc - ro), image.ny));
  const int64_t j1 = std::min<int64_t>(image.ny, index_near(std::floor(yc + ro), image.ny));
  // Room for every looked-at pixel (its size only grows, so it is not filled anew each time).
  const auto box_rows = static_cast<std::size_t>(std::max<int64_t>(0, j1 - j0 + 1));
  const auto box_cols = static_cast<std::size_t>(std::min(static_cast<double>(image.nx), 2.0 * ro + 3.0));
  if (v.size() < box_rows * box_cols) v.resize(box_rows * box_cols);
  // In each row the pixels inside the outer circle are one run and those inside the inner
  // circle another within it: both ends of each run are found from square roots and then
  // settled by the distance test itself (which decides a pixel on the edge), and the pixels
  // between the runs' ends are taken untested.
  for (int64_t j = j0; j <= j1; ++j) {
    const double dy = static_cast<double>(j) - yc, dy2 = dy * dy;
    if (dy2 >= ro2) continue;
    const auto d2 = [&](int64_t i) {
      const double dx = static_cast<double>(i) - xc;
      return dx * dx + dy2;
    };
    const double reach = std::sqrt(ro2 - dy2);
    int64_t a = std::max<int64_t>(1, index_near(std::ceil(xc - reach), image.nx));
    int64_t b = std::min<int64_t>(image.nx, index_near(std::floor(xc + reach), image.nx));
    while (a > 1 && d2(a - 1) < ro2) --a;
    while (a <= b && !(d2(a) < ro2)) ++a;
    while (b < image.nx && d2(b + 1) < ro2) ++b;
    while (b >= a && !(d2(b) < ro2)) --b;
    if (a > b) continue;
    int64_t c = b + 1, d = b;  // the run inside the inner circle (none yet)
    if (dy2 < ri2) {
      const double hole = std::sqrt(ri2 - dy2);
      c = std::max(a, index_near(std::ceil(xc - hole), image.nx));
      d = std::min(b, index_near(std::floor(xc + hole), image.nx));
      while (c > a && d2(c - 1) < ri2) --c;
      while (c <= d && !(d2(c) < ri2)) ++c;
      while (d < b && d2(d + 1) < ri2) ++d;
      while (d >= c && !(d2(d) < ri2)) --d;
      if (c > d) c = b + 1, d = b;
    }
    const float* row = &image.at(1, static_cast<int>(j)) - 1;
    // Every value is written and the count advanced only for the finite ones.
    float* out = v.data();
    const auto take = [&](int64_t from, int64_t to) {
      for (int64_t i = from; i <= to; ++i) {
        const float x = row[i];
        out[count] = x;
        count += static_cast<std::size_t>(std::isfinite(x));
      }
    };
    take(a, c - 1);
    take(d + 1, b);
  }
  const ClippedMean c = clipped_mean(std::span<const float>(v.data(), count));
  if (v.capacity() > (std::size_t{1} << 20)) std::vector<float>().swap(v);
  s.sky = c.mean;
  s.sigma = c.sigma;
  s.n = c.n;
  s.rejected = c.rejected;
  return s;
}

std::optional<double> flux_error(double flux, double gain, double area, double sky_sigma, int32_t n_sky) {
  if (!(gain > 0.0) || n_sky <= 0 || !std::isfinite(flux)) return std::nullopt;
  const double s2 = sky_sigma * sky_sigma;
  const double var = std::max(flux, 0.0) / gain + area * s2 + area * area * s2 / n_sky;
  return std::sqrt(var);
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

Photometry APPHOT(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii, float exptime,
                  double gain) {
  Photometry p;
  p.sums = aperture_sums(image, xcen, ycen, radii);
  p.annulus.area = p.sums.outer.area - p.sums.inner.area;
  p.annulus.flux = p.sums.outer.flux - p.sums.inner.flux;
  p.sky = annulus_sky(image, xcen, ycen, radii);
  if (p.sky.sky) {
    const double c = p.sums.star.flux - p.sums.star.area * *p.sky.sky;
    if (std::isfinite(c)) p.corrected = c;
  }
  if (p.corrected) {
    p.flux_err = flux_error(*p.corrected, gain, p.sums.star.area, p.sky.sigma, p.sky.n);
    p.magnitude = aperture_magnitude(static_cast<float>(*p.corrected), exptime);
    if (p.magnitude && p.flux_err) p.mag_err = 1.0857 * *p.flux_err / *p.corrected;
  }
  return p;
}

std::span<const std::string> apphot_log_header() { return header_lines(); }

}  // namespace zelvo
