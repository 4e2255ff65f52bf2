#include "photometry/star_width.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// The sample radius: at first the 15 x 15 analysis box, then twice the measured FWHM
// (the Moffat wings and enough sky to pin the background), within these limits.
constexpr int kFirstRadius = 7;
constexpr int kMaxRadius = 25;
constexpr int kRounds = 3;
// The brightest pixel this close to the click is the first centre.
constexpr int kPeakSearch = 2;
// Moffat's power is kept within these limits (beyond 30 the profile is a Gaussian).
constexpr double kMinBeta = 0.6;
constexpr double kMaxBeta = 30.0;
constexpr double kMinWidth = 0.2;
// A star stands out when its fitted peak exceeds this many times the scatter about the fit.
constexpr double kMinSignificance = 5.0;
// Narrower profiles fit single pixels of noise (or cosmic-ray hits): no star is that sharp.
constexpr double kMinFwhm = 1.0;

struct Pixel {
  double x, y, v;
};

// One profile: `n` parameters (peak, sky, x0, y0, then the widths); value and gradient at
// offset (dx, dy) from the centre are given by `eval`.
template <std::size_t N>
struct Fit {
  std::array<double, N> p{};
  double chi2 = 0.0;
  bool converged = false;
};

// Solves the N x N system a x = b in place by Gauss elimination with partial pivoting.
template <std::size_t N>
bool solve(std::array<std::array<double, N>, N> a, std::array<double, N>& b) {
  for (std::size_t c = 0; c < N; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < N; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (!(std::fabs(a[piv][c]) > 0.0)) return false;
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (std::size_t r = c + 1; r < N; ++r) {
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < N; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  for (std::size_t c = N; c-- > 0;) {
    double s = b[c];
    for (std::size_t k = c + 1; k < N; ++k) s -= a[c][k] * b[k];
    b[c] = s / a[c][c];
  }
  return true;
}

// Levenberg-Marquardt least squares of `model` to the pixels. `model(p, dx, dy, grad)`
// returns the value at offset (dx, dy) from the centre (p[2], p[3]) and fills the gradient;
// `keep(p)` puts the parameters back within their limits.
template <std::size_t N, class Model, class Keep>
Fit<N> least_squares(const std::vector<Pixel>& px, std::array<double, N> p, Model model, Keep keep) {
  auto normal = [&](const std::array<double, N>& q, std::array<std::array<double, N>, N>& jtj,
                    std::array<double, N>& jtr) {
    double chi2 = 0.0;
    for (auto& row : jtj) row.fill(0.0);
    jtr.fill(0.0);
    std::array<double, N> g{};
    for (const Pixel& s : px) {
      const double r = s.v - model(q, s.x - q[2], s.y - q[3], g);
      chi2 += r * r;
      for (std::size_t i = 0; i < N; ++i) {
        jtr[i] += g[i] * r;
        for (std::size_t k = 0; k <= i; ++k) jtj[i][k] += g[i] * g[k];
      }
    }
    for (std::size_t i = 0; i < N; ++i)
      for (std::size_t k = i + 1; k < N; ++k) jtj[i][k] = jtj[k][i];
    return chi2;
  };
  auto chi2_of = [&](const std::array<double, N>& q) {
    std::array<double, N> g{};
    double chi2 = 0.0;
    for (const Pixel& s : px) {
      const double r = s.v - model(q, s.x - q[2], s.y - q[3], g);
      chi2 += r * r;
    }
    return chi2;
  };

  Fit<N> f;
  std::array<std::array<double, N>, N> jtj{};
  std::array<double, N> jtr{};
  double chi2 = normal(p, jtj, jtr);
  double lambda = 1e-3;
  for (int iter = 0; iter < 200; ++iter) {
    auto a = jtj;
    for (std::size_t i = 0; i < N; ++i) a[i][i] += lambda * (jtj[i][i] > 0.0 ? jtj[i][i] : 1.0);
    auto step = jtr;
    if (!solve(a, step)) break;
    std::array<double, N> trial = p;
    for (std::size_t i = 0; i < N; ++i) trial[i] += step[i];
    keep(trial);
    const double c = chi2_of(trial);
    if (std::isfinite(c) && c <= chi2) {
      const bool small = chi2 - c <= 1e-12 * chi2 + 1e-300;
      p = trial;
      chi2 = normal(p, jtj, jtr);
      lambda = std::max(lambda / 10.0, 1e-12);
      if (small) {
        f.converged = true;
        break;
      }
    } else {
      lambda *= 10.0;
      if (lambda > 1e12) {
        f.converged = true;  // no step lowers the sum any more: a minimum
        break;
      }
    }
  }
  f.p = p;
  f.chi2 = chi2;
  return f;
}

// Moffat: sky + peak (1 + r^2 / alpha^2)^-beta; p = peak, sky, x0, y0, alpha, beta.
double moffat(const std::array<double, 6>& p, double dx, double dy, std::array<double, 6>& g) {
  const double a2 = p[4] * p[4];
  const double r2 = dx * dx + dy * dy;
  const double u = 1.0 + r2 / a2;
  const double pw = std::pow(u, -p[5]);
  const double common = 2.0 * p[0] * p[5] * pw / u / a2;
  g = {pw, 1.0, common * dx, common * dy, common * r2 / p[4], -p[0] * pw * std::log(u)};
  return p[1] + p[0] * pw;
}

// Gaussian: sky + peak exp(-r^2 / (2 sigma^2)); p = peak, sky, x0, y0, sigma.
double gaussian(const std::array<double, 5>& p, double dx, double dy, std::array<double, 5>& g) {
  const double s2 = p[4] * p[4];
  const double r2 = dx * dx + dy * dy;
  const double e = std::exp(-r2 / (2.0 * s2));
  const double common = p[0] * e / s2;
  g = {e, 1.0, common * dx, common * dy, common * r2 / p[4]};
  return p[1] + p[0] * e;
}

double moffat_fwhm(double alpha, double beta) { return 2.0 * alpha * std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0); }
constexpr double kGaussFwhm = 2.3548200450309493;  // 2 sqrt(2 ln 2)

double median_of(std::vector<double> v) {
  if (v.empty()) return 0.0;
  const std::size_t m = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(m), v.end());
  if (v.size() % 2 == 1) return v[m];
  const double upper = v[m];
  const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(m));
  return 0.5 * (lower + upper);
}

// The finite pixels within `radius` of (cx, cy).
std::vector<Pixel> sample(ConstImageView image, int cx, int cy, int radius) {
  std::vector<Pixel> px;
  for (int j = cy - radius; j <= cy + radius; ++j)
    for (int i = cx - radius; i <= cx + radius; ++i) {
      const int dx = i - cx, dy = j - cy;
      if (dx * dx + dy * dy > radius * radius || !image.inside(i, j)) continue;
      const float v = image.at(i, j);
      if (counted_pixel(v)) px.push_back(Pixel{double(i), double(j), double(v)});
    }
  return px;
}

// One round: both profiles fitted to the pixels within `radius` of (cx, cy).
StarWidth fit_round(ConstImageView image, int cx, int cy, int radius) {
  StarWidth w;
  w.radius = radius;
  const std::vector<Pixel> px = sample(image, cx, cy, radius);
  if (px.size() < 12) return w;

  // First guesses: the sky from the outer ring, the peak above it, the width from the area
  // above half the peak.
  std::vector<double> ring;
  double top = px.front().v;
  for (const Pixel& s : px) {
    top = std::max(top, s.v);
    const double r = std::hypot(s.x - cx, s.y - cy);
    if (r >= radius - 1.5) ring.push_back(s.v);
  }
  const double sky0 = median_of(ring);
  const double peak0 = top - sky0;
  if (!(peak0 > 0.0)) return w;
  int above = 0;
  for (const Pixel& s : px) above += s.v - sky0 > 0.5 * peak0;
  const double fwhm0 = std::max(1.0, 2.0 * std::sqrt(above / 3.141592653589793));

  const double x0 = cx, y0 = cy, lim = radius;
  auto centre_in = [&](double& x, double& y) {
    x = std::clamp(x, x0 - lim, x0 + lim);
    y = std::clamp(y, y0 - lim, y0 + lim);
  };
  const double beta0 = 2.5;
  const auto m = least_squares<6>(px, {peak0, sky0, x0, y0, fwhm0 / moffat_fwhm(1.0, beta0), beta0}, moffat,
                                  [&](std::array<double, 6>& p) {
                                    centre_in(p[2], p[3]);
                                    p[4] = std::clamp(p[4], kMinWidth, 4.0 * kMaxRadius);
                                    p[5] = std::clamp(p[5], kMinBeta, kMaxBeta);
                                  });
  const auto g =
      least_squares<5>(px, {peak0, sky0, x0, y0, fwhm0 / kGaussFwhm}, gaussian, [&](std::array<double, 5>& p) {
        centre_in(p[2], p[3]);
        p[4] = std::clamp(p[4], kMinWidth, 4.0 * kMaxRadius);
      });
  const bool use_moffat = m.converged && (!g.converged || m.chi2 < g.chi2);
  if (!use_moffat && !g.converged) return w;
  const double chi2 = use_moffat ? m.chi2 : g.chi2;
  const std::size_t params = use_moffat ? 6 : 5;
  const double scatter = std::sqrt(chi2 / static_cast<double>(std::max<std::size_t>(1, px.size() - params)));
  if (use_moffat) {
    w.model = StarModel::moffat;
    w.peak = m.p[0];
    w.sky = m.p[1];
    w.x = m.p[2];
    w.y = m.p[3];
    w.beta = m.p[5];
    w.fwhm = moffat_fwhm(m.p[4], m.p[5]);
  } else {
    w.model = StarModel::gaussian;
    w.peak = g.p[0];
    w.sky = g.p[1];
    w.x = g.p[2];
    w.y = g.p[3];
    w.beta = 0.0;
    w.fwhm = kGaussFwhm * g.p[4];
  }
  const bool stands_out = w.peak > kMinSignificance * scatter && w.peak > 0.0;
  const bool sensible = std::isfinite(w.fwhm) && w.fwhm >= kMinFwhm && w.fwhm <= 2.0 * radius &&
                        std::fabs(w.x - x0) < lim && std::fabs(w.y - y0) < lim;
  if (stands_out && sensible) w.status = StarWidth::Status::fitted;
  return w;
}

}  // namespace

StarWidth measure_star_width(ConstImageView image, float x, float y) {
  if (image.empty() || !std::isfinite(x) || !std::isfinite(y)) return StarWidth{};
  const int nx = nint_pixel(x), ny = nint_pixel(y);
  if (!image.inside(nx, ny)) return StarWidth{};
  // The brightest finite pixel near the click.
  int cx = nx, cy = ny;
  bool found = false;
  float best = 0.0f;
  for (int j = ny - kPeakSearch; j <= ny + kPeakSearch; ++j)
    for (int i = nx - kPeakSearch; i <= nx + kPeakSearch; ++i) {
      if (!image.inside(i, j) || !counted_pixel(image.at(i, j))) continue;
      if (!found || image.at(i, j) > best) {
        best = image.at(i, j);
        cx = i;
        cy = j;
        found = true;
      }
    }
  if (!found) return StarWidth{};

  StarWidth w = fit_round(image, cx, cy, kFirstRadius);
  for (int round = 1; round < kRounds && w.status == StarWidth::Status::fitted; ++round) {
    const int radius = std::clamp(static_cast<int>(std::lround(2.0 * w.fwhm)), kFirstRadius, kMaxRadius);
    const int ncx = static_cast<int>(std::lround(w.x)), ncy = static_cast<int>(std::lround(w.y));
    if (radius == w.radius && ncx == cx && ncy == cy) break;
    cx = ncx;
    cy = ncy;
    const StarWidth next = fit_round(image, cx, cy, radius);
    if (next.status != StarWidth::Status::fitted) break;
    w = next;
  }
  return w;
}

float box_median(ConstImageView image, float x, float y, int h) {
  if (!std::isfinite(x) || !std::isfinite(y) || h < 0) return 0.0f;
  // Kept near the image so that adding the offsets cannot overflow.
  const int cx = std::clamp(nint_pixel(x), -h - 1, image.nx + h + 1);
  const int cy = std::clamp(nint_pixel(y), -h - 1, image.ny + h + 1);
  std::vector<double> v;
  for (int a = -h; a <= h; ++a)
    for (int b = -h; b <= h; ++b) {
      const int px = cx + a, py = cy + b;
      if (image.inside(px, py) && counted_pixel(image.at(px, py))) v.push_back(image.at(px, py));
    }
  return static_cast<float>(median_of(std::move(v)));
}

}  // namespace zelvo
