#include "galaxy/profile.h"

#include <algorithm>
#include <cmath>

#include "galaxy/colour.h"
#include "galaxy/spline.h"
#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "text/list_format.h"

namespace zelvo {

namespace {
constexpr double kPi = 3.141592653589793;
// Steps finer than this give no more information and would only multiply the work of the
// rotation curve (one force sum over the disc per step).
constexpr float kSmallestStep = 0.01f;
}  // namespace

ProfileRequestCheck check_profile_request(const ProfileRequest& rq, int nx, int ny) {
  using Status = ProfileRequestCheck::Status;
  const auto refuse = [](Status status, std::string line) { return ProfileRequestCheck{status, std::move(line)}; };
  if (nx < 1 || ny < 1) return refuse(Status::empty_image, "The image is empty; there is no galaxy to measure.");
  if (!(rq.xc >= 1.0f && rq.xc <= static_cast<float>(nx) && rq.yc >= 1.0f && rq.yc <= static_cast<float>(ny)))
    return refuse(Status::centre_outside, "The centre must lie inside the image (x 1 to " + std::to_string(nx) +
                                              ", y 1 to " + std::to_string(ny) + "); nothing done.");
  const double diagonal = std::sqrt(static_cast<double>(nx) * nx + static_cast<double>(ny) * ny);
  if (!(rq.R > 0.0f) || rq.R > diagonal)
    return refuse(Status::extent, "The extent must be larger than 0 and at most the image diagonal (" +
                                      format_real(static_cast<float>(diagonal)) + " pixels); nothing done.");
  if (!(rq.step >= kSmallestStep)) return refuse(Status::step, "The step must be at least 0.01 pixels; nothing done.");
  if (!(rq.e >= 0.0f && rq.e < 1.0f))
    return refuse(Status::eccentricity, "The eccentricity must lie in 0 <= e < 1; nothing done.");
  return {};
}

float position_angle_radians(float degrees) { return static_cast<float>(static_cast<double>(degrees) * kPi / 180.0); }

namespace {

// The elliptical radius for one ellipse, its constants worked out once: with u the offset's
// component along the major axis, rho^2 = (r^2 - e^2 u^2) / (1 - e^2), which is
// r / sqrt((1 - e^2) / (1 - e^2 cos^2 phi)) with cos phi = u / r (phi the angle of the offset
// from the major axis), without an angle per pixel.
struct EllipticalRadius {
  float cpa, spa, e2, over;
  EllipticalRadius(float e, float pa) : cpa(std::cos(pa)), spa(std::sin(pa)), e2(e * e), over(1.0f / (1.0f - e * e)) {}
  float operator()(float dx, float dy) const {
    const float r2 = dx * dx + dy * dy;
    const float u = dx * cpa + dy * spa;
    return std::sqrt(std::max(0.0f, (r2 - e2 * (u * u)) * over));
  }
};

}  // namespace

float elliptical_radius(float dx, float dy, float e, float pa) { return EllipticalRadius(e, pa)(dx, dy); }

EllipsePath ellipse_points(float xc, float yc, float a, float e, float pa) {
  EllipsePath p;
  p.x.resize(360);
  p.y.resize(360);
  const float b = a * std::sqrt(1.0f - e * e);
  const float cpa = std::cos(pa), spa = std::sin(pa);
  for (int t = 1; t <= 360; ++t) {
    const float theta = static_cast<float>(t * kPi / 180.0);
    const float u = a * std::sin(theta), v = b * std::cos(theta);
    p.x[static_cast<std::size_t>(t - 1)] = xc + u * cpa - v * spa;
    p.y[static_cast<std::size_t>(t - 1)] = yc + u * spa + v * cpa;
  }
  return p;
}

std::vector<float> ellipse_radii(float R, float step) {
  std::vector<float> radii;
  if (!(step > 5.0f)) return radii;
  const int32_t n = INT(R / step);
  float r = step;
  for (int32_t k = 1; k <= n; ++k, r += step) radii.push_back(r);
  return radii;
}

float sky_bin_centre(int k) { return (static_cast<float>(k) - 0.5f) * 5.0f - 200.0f; }

int32_t sky_bin_index(float v) {
  const float t = (v + 200.0f) / 5.0f;
  if (!(t >= 0.0f && t < static_cast<float>(kSkyBins))) return 0;  // NaN fails too
  return static_cast<int32_t>(t) + 1;
}

PixelScan scan_profile_pixels(ConstImageView image, float xc, float yc, float R, float e, float pa, ProfileScale scale,
                              StopRequest stop) {
  PixelScan s;
  const bool flux = scale == ProfileScale::flux;
  if (flux) s.skypr.assign(kSkyBins, 0.0f);
  if (image.empty()) return s;
  const double M = INT(R + 1.5f);
  // The scan square, cut to the pixels that can count (never the outermost rows/columns).
  const auto first = [](double v) { return static_cast<int64_t>(std::max(std::ceil(v), -1e9)); };
  const auto last = [](double v) { return static_cast<int64_t>(std::min(std::floor(v), 1e9)); };
  const int64_t x1 = std::max<int64_t>(first(xc - 2 * M), 2), x2 = std::min<int64_t>(last(xc + 2 * M), image.nx - 1);
  const int64_t y1 = std::max<int64_t>(first(yc - 2 * M), 2), y2 = std::min<int64_t>(last(yc + 2 * M), image.ny - 1);
  const EllipticalRadius radius_of(e, pa);
  // Room for every pixel of the square at once (pages are only taken as they are filled).
  if (x2 >= x1 && y2 >= y1) {
    const auto square = static_cast<std::size_t>((x2 - x1 + 1) * (y2 - y1 + 1));
    s.radii.reserve(square);
    s.values.reserve(square);
  }
  for (int64_t x = x1; x <= x2; ++x) {
    if (stop.requested()) {
      s.stopped = true;
      return s;
    }
    for (int64_t y = y1; y <= y2; ++y) {
      const float v = image.at(static_cast<int>(x), static_cast<int>(y));
      if (!(flux ? counted_in_flux_profile(v) : counted_in_magnitude_profile(v))) continue;
      const float rho =
          radius_of(static_cast<float>(static_cast<double>(x) - xc), static_cast<float>(static_cast<double>(y) - yc));
      if (rho < R) {
        s.radii.push_back(rho);
        s.values.push_back(v);
        s.ymin = std::min(s.ymin, v);
        s.ymax = std::max(s.ymax, v);
        const auto k = static_cast<std::size_t>(INT(rho)) + 1;
        if (k > s.binsum.size()) {
          s.binsum.resize(k, 0.0f);
          s.bincount.resize(k, 0);
        }
        s.binsum[k - 1] += v;
        s.bincount[k - 1] += 1;
      } else if (flux) {
        const int32_t k = sky_bin_index(v);
        if (k >= 1) s.skypr[static_cast<std::size_t>(k - 1)] += 1.0f;
        s.iskycnt += 1;
      }
    }
  }
  return s;
}

SkyEstimate sky_from_histogram(std::span<const float> skypr) {
  SkyEstimate est;
  const int n = static_cast<int>(skypr.size());
  for (int k = 1; k <= n; ++k) {
    if (skypr[static_cast<std::size_t>(k - 1)] > est.ymax2) {  // strictly larger: the first bin wins ties
      est.ymax2 = skypr[static_cast<std::size_t>(k - 1)];
      est.kmax = k;
    }
  }
  if (est.kmax == 0 || n < 5) return est;
  est.found = true;
  int k0 = est.kmax;
  if (k0 < 3) k0 += 2;
  if (k0 > n - 2) k0 -= 2;
  float sw = 0.0f, sc = 0.0f;
  for (int k = k0 - 2; k <= k0 + 2; ++k) {
    sw += sky_bin_centre(k) * skypr[static_cast<std::size_t>(k - 1)];
    sc += skypr[static_cast<std::size_t>(k - 1)];
  }
  est.sky = sw / sc;
  return est;
}

BinnedProfile bin_profile(const PixelScan& scan, float sky, float R) {
  BinnedProfile p;
  // Each bin's spread, in double precision and about its own mean (two passes over the
  // listed pixels, so a high sky level costs no precision).
  const std::size_t nbins = scan.binsum.size();
  std::vector<double> sum(nbins, 0.0), ss(nbins, 0.0);
  const auto bin_of = [&](std::size_t i) { return static_cast<std::size_t>(INT(scan.radii[i])); };
  for (std::size_t i = 0; i < scan.values.size(); ++i)
    if (const std::size_t k = bin_of(i); k < nbins) sum[k] += scan.values[i];
  for (std::size_t i = 0; i < scan.values.size(); ++i)
    if (const std::size_t k = bin_of(i); k < nbins && scan.bincount[k] > 0) {
      const double d = scan.values[i] - sum[k] / scan.bincount[k];
      ss[k] += d * d;
    }
  for (std::size_t i = 0; i < nbins; ++i) {
    const int k = static_cast<int>(i) + 1;
    if (!(static_cast<float>(k) - 0.5f < R)) break;
    if (scan.bincount[i] == 0) continue;  // no pixel at this radius: no mean to give
    const float bsum = scan.binsum[i] - static_cast<float>(scan.bincount[i]) * sky;
    const int32_t n = scan.bincount[i];
    p.rprof.push_back(static_cast<float>(k) - 0.5f);
    p.prof.push_back(bsum / static_cast<float>(n));
    p.npix.push_back(n);
    p.err.push_back(n > 1 ? static_cast<float>(std::sqrt(ss[i] / (n - 1) / n)) : NAN);
  }
  return p;
}

bool still_falling(const BinnedProfile& p, float R) {
  double sw = 0.0, swr = 0.0, swp = 0.0;
  int used = 0;
  const auto outer = [&](std::size_t k) {
    return p.rprof[k] >= 0.75f * R && k < p.err.size() && std::isfinite(p.err[k]) && p.err[k] > 0.0f;
  };
  for (std::size_t k = 0; k < p.nb(); ++k)
    if (outer(k)) {
      const double w = 1.0 / (static_cast<double>(p.err[k]) * p.err[k]);
      sw += w;
      swr += w * p.rprof[k];
      swp += w * p.prof[k];
      ++used;
    }
  if (used < 4) return false;
  const double rbar = swr / sw, pbar = swp / sw;
  double sxx = 0.0, sxy = 0.0;
  for (std::size_t k = 0; k < p.nb(); ++k)
    if (outer(k)) {
      const double w = 1.0 / (static_cast<double>(p.err[k]) * p.err[k]);
      sxx += w * (p.rprof[k] - rbar) * (p.rprof[k] - rbar);
      sxy += w * (p.rprof[k] - rbar) * (p.prof[k] - pbar);
    }
  if (!(sxx > 0.0)) return false;
  const double slope = sxy / sxx, se = 1.0 / std::sqrt(sxx);
  return slope < -3.0 * se;
}

double position_angle_north_east(double ra0, double dec0, double ra1, double dec1) {
  const double d = kPi / 180.0;
  const double da = (ra1 - ra0) * d;
  const double y = std::sin(da) * std::cos(dec1 * d);
  const double x = std::cos(dec0 * d) * std::sin(dec1 * d) - std::sin(dec0 * d) * std::cos(dec1 * d) * std::cos(da);
  double pa = std::atan2(y, x) / d;  // of the direction towards the second point
  pa = std::fmod(pa, 180.0);         // an axis: pa and pa + 180 are the same
  if (pa < 0.0) pa += 180.0;
  return pa;
}

std::vector<float> profile_spline(const BinnedProfile& p) {
  const std::size_t nb = p.nb();
  if (nb < 2) return {};
  const float yp1 = (p.prof[1] - p.prof[0]) / (p.rprof[1] - p.rprof[0]);
  const float ypn = (p.prof[nb - 1] - p.prof[nb - 2]) / (p.rprof[nb - 1] - p.rprof[nb - 2]);
  return SPLINE(p.rprof, p.prof, yp1, ypn);
}

SplineSamples spline_samples(const BinnedProfile& p, std::span<const float> y2, float R) {
  SplineSamples s;
  const int32_t ns = INT(R / 0.2f + 1.5f);
  if (ns < 1 || y2.size() < 2) return s;
  s.x.reserve(static_cast<std::size_t>(ns));
  s.y.reserve(static_cast<std::size_t>(ns));
  for (int32_t i = 1; i <= ns; ++i) {
    const float x = static_cast<float>(i - 1) * 0.2f;
    s.x.push_back(x);
    s.y.push_back(SPLINT(p.rprof, p.prof, y2, x));
  }
  return s;
}

}  // namespace zelvo
