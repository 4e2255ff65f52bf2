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

ApertureSums aperture_sums(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  ApertureSums out;
  const double xc = xcen, yc = ycen;
  const double rs[3] = {radii.star, radii.inner, radii.outer};
  const double rmax = std::max({rs[0], rs[1], rs[2], 0.0});
  const PixelRange p = pixels_within(image, xc, yc, rmax);
  // A circle crosses the border when its bounding box does.
  out.truncated = p.cut;
  double area[3] = {0, 0, 0}, flux[3] = {0, 0, 0};
  if (p.x0 > p.x1 || p.y0 > p.y1) return out;
  const double r2[3] = {rs[0] * rs[0], rs[1] * rs[1], rs[2] * rs[2]};
  // The corner values of each circle, computed once and shared by the four pixels that meet at
  // a corner: corner (a, b) of the range lies at (x0 - 0.5 + a, y0 - 0.5 + b).
  const std::size_t cw = static_cast<std::size_t>(p.x1 - p.x0 + 2), ch = static_cast<std::size_t>(p.y1 - p.y0 + 2);
  std::vector<double> corners(3 * cw * ch, NAN);
  const auto corner = [&](int k, std::size_t a, std::size_t b) {
    double& c = corners[(static_cast<std::size_t>(k) * ch + b) * cw + a];
    if (std::isnan(c))
      c = circle_corner_area(rs[k], static_cast<double>(p.x0) - 0.5 + static_cast<double>(a) - xc,
                             static_cast<double>(p.y0) - 0.5 + static_cast<double>(b) - yc);
    return c;
  };
  for (int64_t j = p.y0; j <= p.y1; ++j) {
    const double dy = std::fabs(static_cast<double>(j) - yc);
    const double ny = std::max(dy - 0.5, 0.0), fy = dy + 0.5;
    const float* row = &image.at(1, static_cast<int>(j));
    const auto b = static_cast<std::size_t>(j - p.y0);
    for (int64_t i = p.x0; i <= p.x1; ++i) {
      const double dx = std::fabs(static_cast<double>(i) - xc);
      const double nx = std::max(dx - 0.5, 0.0), fx = dx + 0.5;
      const double near2 = nx * nx + ny * ny, far2 = fx * fx + fy * fy;
      if (near2 >= r2[2] && near2 >= r2[1] && near2 >= r2[0]) continue;
      const double v = row[i - 1];
      const auto a = static_cast<std::size_t>(i - p.x0);
      for (int k = 0; k < 3; ++k) {
        if (!(rs[k] > 0.0) || near2 >= r2[k]) continue;
        double w = 1.0;
        if (far2 > r2[k])
          w = corner(k, a + 1, b + 1) - corner(k, a, b + 1) - corner(k, a + 1, b) + corner(k, a, b);
        area[k] += w;
        flux[k] += w * v;
      }
    }
  }
  out.star = {area[0], flux[0]};
  out.inner = {area[1], flux[1]};
  out.outer = {area[2], flux[2]};
  return out;
}

SkyLevel annulus_sky(ConstImageView image, float xcen, float ycen, const ApertureRadii& radii) {
  SkyLevel s;
  const double xc = xcen, yc = ycen;
  const double ri2 = static_cast<double>(radii.inner) * radii.inner, ro2 = static_cast<double>(radii.outer) * radii.outer;
  const PixelRange p = pixels_within(image, xc, yc, radii.outer);
  std::vector<double> v;
  for (int64_t j = p.y0; j <= p.y1; ++j) {
    const double dy = static_cast<double>(j) - yc;
    for (int64_t i = p.x0; i <= p.x1; ++i) {
      const double dx = static_cast<double>(i) - xc;
      const double d2 = dx * dx + dy * dy;
      if (d2 < ri2 || d2 >= ro2) continue;
      const float x = image.at(static_cast<int>(i), static_cast<int>(j));
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
