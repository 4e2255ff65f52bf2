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
  const double fx0 = std::floor(xc - rr), fx1 = std::ceil(xc + rr), fy0 = std::floor(yc - rr),
               fy1 = std::ceil(yc + rr);
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
// get their share, from the strip values G(x) (the circle's area in the row left of the
// column edge x), each computed once and shared by the two pixels of an edge.
// A pixel index from a coordinate, clamped to 0 .. n + 1 in double precision first, so a
// centre or radius far off the image never overflows an integer.
int64_t index_near(double v, int64_t n) { return static_cast<int64_t>(std::clamp(v, 0.0, static_cast<double>(n) + 1.0)); }

ApertureSum circle_sum(ConstImageView image, double xc, double yc, double r) {
  ApertureSum out;
  if (!(r > 0.0)) return out;
  const double r2 = r * r;
  const int64_t j0 = std::max<int64_t>(1, index_near(std::floor(yc - r - 0.5), image.ny));
  const int64_t j1 = std::min<int64_t>(image.ny, index_near(std::ceil(yc + r + 0.5), image.ny));
  double area = 0.0, flux = 0.0;
  // The corner values F(x, y) by column edge on the pixel-edge lines y = L + 0.5 - yc: the upper
  // line of one row is the lower line of the next, so each corner is computed once. Line L is
  // kept in slot L % 2, valid where its stamp says L.
  const int64_t base = std::max<int64_t>(1, index_near(std::floor(xc - r - 1.5), image.nx));
  const std::size_t width =
      static_cast<std::size_t>(std::min<int64_t>(image.nx, index_near(std::ceil(xc + r + 1.5), image.nx)) - base + 2);
  std::vector<double> value(2 * width);
  std::vector<int64_t> stamp(2 * width, INT64_MIN);
  for (int64_t j = j0; j <= j1; ++j) {
    const double ylo = static_cast<double>(j) - 0.5 - yc, yhi = ylo + 1.0;
    const double dy = std::fabs(static_cast<double>(j) - yc);
    const double ny = std::max(dy - 0.5, 0.0), fy = dy + 0.5;
    if (ny >= r) continue;
    const double reach = std::sqrt(r2 - ny * ny);  // pixel i touches the circle when |i - xc| < 0.5 + reach
    const int64_t ilo = std::max<int64_t>(1, index_near(std::floor(xc - 0.5 - reach) + 1.0, image.nx));
    const int64_t ihi = std::min<int64_t>(image.nx, index_near(std::ceil(xc + 0.5 + reach) - 1.0, image.nx));
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
    const auto line_value = [&](int64_t line, std::size_t k, double x, double y) {
      const std::size_t at = static_cast<std::size_t>(line & 1) * width + k;
      if (stamp[at] != line) {
        stamp[at] = line;
        value[at] = circle_corner_area(r, x, y);
      }
      return value[at];
    };
    const auto strip = [&](int64_t i) {  // G at the left edge of column i
      const double x = static_cast<double>(i) - 0.5 - xc;
      const auto k = static_cast<std::size_t>(i - base);
      if (k >= width) return circle_corner_area(r, x, yhi) - circle_corner_area(r, x, ylo);
      return line_value(j, k, x, yhi) - line_value(j - 1, k, x, ylo);
    };
    const auto partial = [&](int64_t a, int64_t b) {  // columns a .. b, each with its share
      if (a > b) return;
      double g = strip(a);
      for (int64_t i = a; i <= b; ++i) {
        const double gn = strip(i + 1);
        const double w = gn - g;
        g = gn;
        if (w <= 0.0) continue;
        area += w;
        flux += w * row[i];
      }
    };
    if (flo > fhi) {
      partial(ilo, ihi);
      continue;
    }
    partial(ilo, flo - 1);
    double run = 0.0;
    for (int64_t i = flo; i <= fhi; ++i) run += row[i];
    flux += run;
    area += static_cast<double>(fhi - flo + 1);
    partial(fhi + 1, ihi);
  }
  out.area = area;
  out.flux = flux;
  return out;
}

}  // namespace

ApertureSums aperture_sums(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  ApertureSums out;
  const double xc = xcen, yc = ycen;
  const double rmax = std::max({static_cast<double>(radii.star), static_cast<double>(radii.inner),
                                static_cast<double>(radii.outer), 0.0});
  // A circle crosses the border when its bounding box does.
  out.truncated = pixels_within(image, xc, yc, rmax).cut;
  if (!std::isfinite(xc) || !std::isfinite(yc) || image.empty()) return out;
  out.star = circle_sum(image, xc, yc, radii.star);
  out.inner = circle_sum(image, xc, yc, radii.inner);
  out.outer = circle_sum(image, xc, yc, radii.outer);
  return out;
}

SkyLevel annulus_sky(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  SkyLevel s;
  const double xc = xcen, yc = ycen, ro = radii.outer;
  if (!std::isfinite(xc) || !std::isfinite(yc) || !(ro > 0.0) || image.empty()) return s;
  const double ri2 = static_cast<double>(radii.inner) * radii.inner, ro2 = ro * ro;
  std::vector<float> v;
  v.reserve(static_cast<std::size_t>(std::min(4.0 * ro2 + 8.0 * ro + 8.0, 1e7)));
  // Row by row, only the columns within the outer radius are looked at.
  const int64_t j0 = std::max<int64_t>(1, index_near(std::ceil(yc - ro), image.ny));
  const int64_t j1 = std::min<int64_t>(image.ny, index_near(std::floor(yc + ro), image.ny));
  for (int64_t j = j0; j <= j1; ++j) {
    const double dy = static_cast<double>(j) - yc, dy2 = dy * dy;
    if (dy2 >= ro2) continue;
    const double reach = std::sqrt(ro2 - dy2);
    const int64_t i0 = std::max<int64_t>(1, index_near(std::ceil(xc - reach), image.nx));
    const int64_t i1 = std::min<int64_t>(image.nx, index_near(std::floor(xc + reach), image.nx));
    const float* row = &image.at(1, static_cast<int>(j)) - 1;
    for (int64_t i = i0; i <= i1; ++i) {
      const double dx = static_cast<double>(i) - xc;
      const double d2 = dx * dx + dy2;
      if (d2 < ri2 || d2 >= ro2) continue;
      const float x = row[i];
      if (std::isfinite(x)) v.push_back(x);
    }
  }
  const ClippedMean c = clipped_mean(v);
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
