#include "galaxy/isophote_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace zelvo {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kBlankPixel = -99999.0f;
// Fewer samples than this cannot carry five harmonic terms with a useful error.
constexpr std::size_t kFewestSamples = 8;
// Ellipticity is kept below this (a thinner ellipse has too few pixels across).
constexpr double kLargestEps = 0.95;
// Below this ellipticity the position angle is undefined and is not corrected.
constexpr double kRoundEps = 0.02;
// Isophotes this small are sampled with the geometry outside them, not fitted.
constexpr double kSmallestFitted = 1.5;
// From one isophote to the next the shape may change by at most this much; a larger jump is
// the fit running off after an arm, a star or the noise.
constexpr double kLargestEpsJump = 0.08;
constexpr double kLargestPaJump = 12.0 * kPi / 180.0;
// Annuli at least this many pixels wide are averaged in sectors; thinner ones are sampled on the ellipse.
constexpr double kSectorWidth = 2.0;

struct Samples {
  std::vector<double> e, v;  // eccentric anomaly (radians) and value
  int32_t total = 0;         // samples wanted
};

bool usable(ConstImageView im, std::span<const uint8_t> mask, int x, int y) {
  if (x < 1 || y < 1 || x > im.nx || y > im.ny) return false;
  const std::size_t i =
      static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(im.nx) + static_cast<std::size_t>(x - 1);
  if (!mask.empty() && mask[i] != 0) return false;
  // Undefined pixels of the file (loaded as -999) and the blanks of calibrated images are no light.
  const float v = im.px[i];
  return std::isfinite(v) && v != kUndefinedPixel && v != kBlankPixel;
}

// The bilinear value at (x, y) (pixel centres at whole numbers); false when one of the four
// pixels around it is off the image, masked or not finite.
bool bilinear(ConstImageView im, std::span<const uint8_t> mask, double x, double y, double& out) {
  const double fx = std::floor(x), fy = std::floor(y);
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = x - fx, ty = y - fy;
  if (!usable(im, mask, ix, iy) || !usable(im, mask, ix + 1, iy) || !usable(im, mask, ix, iy + 1) ||
      !usable(im, mask, ix + 1, iy + 1)) {
    // On a pixel centre (or an edge of the image) only the pixels with weight are needed.
    if (tx == 0.0 && ty == 0.0 && usable(im, mask, ix, iy)) {
      out = im.at(ix, iy);
      return true;
    }
    return false;
  }
  out = (1 - ty) * ((1 - tx) * im.at(ix, iy) + tx * im.at(ix + 1, iy)) +
        ty * ((1 - tx) * im.at(ix, iy + 1) + tx * im.at(ix + 1, iy + 1));
  return true;
}

// Columns (as offsets from x0) where row offset dy crosses the ellipse of semi-axes A, B:
// false when the row misses it.
bool row_span(double dy, double A, double B, double c, double s, double& lo, double& hi) {
  const double ia = 1.0 / (A * A), ib = 1.0 / (B * B);
  const double qa = c * c * ia + s * s * ib;
  const double qb = 2.0 * dy * c * s * (ia - ib);
  const double qc = dy * dy * (s * s * ia + c * c * ib) - 1.0;
  const double d = qb * qb - 4.0 * qa * qc;
  if (d < 0.0) return false;
  const double r = std::sqrt(d);
  lo = (-qb - r) / (2.0 * qa);
  hi = (-qb + r) / (2.0 * qa);
  return true;
}

// Width of the annulus an isophote of semi-major axis a averages over.
double annulus_width(double a, double step, bool linear) { return linear ? step : a * step; }

// The image around the ellipse: on the ellipse itself (bilinear, about one sample per pixel of
// its length) when the annulus is thin, otherwise the mean of each sector of the elliptical
// annulus a +- width/2, so the outer isophotes average every pixel between their neighbours.
Samples sample_ellipse(ConstImageView im, std::span<const uint8_t> mask, const EllipseShape& g, double a,
                       double width) {
  Samples s;
  const double q = 1.0 - g.eps, c = std::cos(g.pa), sn = std::sin(g.pa);
  if (width < kSectorWidth || a < 4.0) {
    const int n = std::clamp(static_cast<int>(2.0 * kPi * a * (1.0 - 0.5 * g.eps)), 16, 8192);
    s.total = n;
    s.e.reserve(static_cast<std::size_t>(n));
    s.v.reserve(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
      const double e = -kPi + (k + 0.5) * 2.0 * kPi / n;
      const double u = a * std::cos(e), v = a * q * std::sin(e);
      double val = 0.0;
      if (bilinear(im, mask, g.x0 + u * c - v * sn, g.y0 + u * sn + v * c, val)) {
        s.e.push_back(e);
        s.v.push_back(val);
      }
    }
    return s;
  }
  const double h = 0.5 * width;
  const int n = std::clamp(static_cast<int>(2.0 * kPi * a * (1.0 - 0.5 * g.eps) / width), 24, 720);
  s.total = n;
  std::vector<double> sum(static_cast<std::size_t>(n), 0.0);
  std::vector<int32_t> good(static_cast<std::size_t>(n), 0), all(static_cast<std::size_t>(n), 0);
  const double ao = a + h, ai = a - h;
  const double scale = n / (2.0 * kPi);
  const int y_lo = static_cast<int>(std::ceil(g.y0 - ao)), y_hi = static_cast<int>(std::floor(g.y0 + ao));
  const auto visit = [&](int x, int y) {
    const double dx = x - g.x0, dy = y - g.y0;
    const double u = dx * c + dy * sn, v = (-dx * sn + dy * c) / q;
    const double r2 = u * u + v * v;
    if (r2 <= ai * ai || r2 > ao * ao) return;
    int k = static_cast<int>((std::atan2(v, u) + kPi) * scale);
    k = std::clamp(k, 0, n - 1);
    const auto ks = static_cast<std::size_t>(k);
    ++all[ks];
    if (usable(im, mask, x, y)) {
      ++good[ks];
      sum[ks] += im.at(x, y);
    }
  };
  for (int y = y_lo; y <= y_hi; ++y) {
    const double dy = y - g.y0;
    double lo = 0.0, hi = 0.0;
    if (!row_span(dy, ao, ao * q, c, sn, lo, hi)) continue;
    const int x_lo = static_cast<int>(std::ceil(g.x0 + lo)), x_hi = static_cast<int>(std::floor(g.x0 + hi));
    double ilo = 0.0, ihi = 0.0;
    if (ai > 0.0 && row_span(dy, ai, ai * q, c, sn, ilo, ihi)) {
      const int gap_lo = static_cast<int>(std::ceil(g.x0 + ilo)) + 1,
                gap_hi = static_cast<int>(std::floor(g.x0 + ihi)) - 1;
      for (int x = x_lo; x <= std::min(x_hi, gap_lo - 1); ++x) visit(x, y);
      for (int x = std::max(x_lo, gap_hi + 1); x <= x_hi; ++x) visit(x, y);
    } else {
      for (int x = x_lo; x <= x_hi; ++x) visit(x, y);
    }
  }
  for (int k = 0; k < n; ++k) {
    const auto ks = static_cast<std::size_t>(k);
    // A sector counts when at least 80 % of its pixels are usable: the mean of a sector cut
    // by a mask or the image edge would stand at another radius on a steep profile.
    if (good[ks] == 0 || 5 * good[ks] < 4 * all[ks]) continue;
    s.e.push_back(-kPi + (k + 0.5) / scale);
    s.v.push_back(sum[ks] / good[ks]);
  }
  return s;
}

// A least-squares fit of v = c0 + sum over the orders k of (A_k sin kE + B_k cos kE).
struct Harmonics {
  bool ok = false;
  std::array<double, 9> coef{}, err{};  // c0, A1, B1, A2, B2, ... in the order asked
  double rms = 0.0;                     // residual spread
};

Harmonics fit_harmonics(const std::vector<double>& e, const std::vector<double>& v, const std::vector<int>& orders,
                        const std::vector<uint8_t>& keep) {
  Harmonics h;
  const std::size_t m = 1 + 2 * orders.size();
  std::array<double, 81> n{};
  std::array<double, 9> b{}, t{};
  std::size_t count = 0;
  const auto terms = [&](double ei) {
    t[0] = 1.0;
    for (std::size_t k = 0; k < orders.size(); ++k) {
      t[1 + 2 * k] = std::sin(orders[k] * ei);
      t[2 + 2 * k] = std::cos(orders[k] * ei);
    }
  };
  for (std::size_t i = 0; i < e.size(); ++i) {
    if (!keep[i]) continue;
    ++count;
    terms(e[i]);
    for (std::size_t r = 0; r < m; ++r) {
      b[r] += t[r] * v[i];
      for (std::size_t c = 0; c <= r; ++c) n[r * 9 + c] += t[r] * t[c];
    }
  }
  if (count <= m) return h;
  for (std::size_t r = 0; r < m; ++r)
    for (std::size_t c = r + 1; c < m; ++c) n[r * 9 + c] = n[c * 9 + r];
  // Invert the normal matrix (Gauss-Jordan with partial pivoting) for the coefficients and their errors.
  std::array<double, 81> inv{};
  for (std::size_t r = 0; r < m; ++r) inv[r * 9 + r] = 1.0;
  for (std::size_t col = 0; col < m; ++col) {
    std::size_t piv = col;
    for (std::size_t r = col + 1; r < m; ++r)
      if (std::fabs(n[r * 9 + col]) > std::fabs(n[piv * 9 + col])) piv = r;
    if (std::fabs(n[piv * 9 + col]) < 1e-12 * static_cast<double>(count)) return h;
    for (std::size_t c = 0; c < m; ++c) {
      std::swap(n[col * 9 + c], n[piv * 9 + c]);
      std::swap(inv[col * 9 + c], inv[piv * 9 + c]);
    }
    const double d = n[col * 9 + col];
    for (std::size_t c = 0; c < m; ++c) {
      n[col * 9 + c] /= d;
      inv[col * 9 + c] /= d;
    }
    for (std::size_t r = 0; r < m; ++r) {
      if (r == col) continue;
      const double f = n[r * 9 + col];
      if (f == 0.0) continue;
      for (std::size_t c = 0; c < m; ++c) {
        n[r * 9 + c] -= f * n[col * 9 + c];
        inv[r * 9 + c] -= f * inv[col * 9 + c];
      }
    }
  }
  for (std::size_t r = 0; r < m; ++r) {
    double s = 0.0;
    for (std::size_t c = 0; c < m; ++c) s += inv[r * 9 + c] * b[c];
    h.coef[r] = s;
  }
  double rss = 0.0;
  for (std::size_t i = 0; i < e.size(); ++i) {
    if (!keep[i]) continue;
    terms(e[i]);
    double f = 0.0;
    for (std::size_t r = 0; r < m; ++r) f += h.coef[r] * t[r];
    rss += (v[i] - f) * (v[i] - f);
  }
  h.rms = std::sqrt(rss / static_cast<double>(count - m));
  for (std::size_t r = 0; r < m; ++r) h.err[r] = h.rms * std::sqrt(std::max(inv[r * 9 + r], 0.0));
  h.ok = true;
  return h;
}

// The first and second harmonics with `nclip` rounds of sigma clipping; `keep` tells which
// samples stayed.
Harmonics clipped_harmonics(const Samples& s, const std::vector<int>& orders, double sclip, int nclip,
                            std::vector<uint8_t>& keep) {
  keep.assign(s.e.size(), 1);
  Harmonics h = fit_harmonics(s.e, s.v, orders, keep);
  for (int round = 0; round < nclip && h.ok && h.rms > 0.0; ++round) {
    bool changed = false;
    for (std::size_t i = 0; i < s.e.size(); ++i) {
      if (!keep[i]) continue;
      double f = h.coef[0];
      for (std::size_t k = 0; k < orders.size(); ++k)
        f += h.coef[1 + 2 * k] * std::sin(orders[k] * s.e[i]) + h.coef[2 + 2 * k] * std::cos(orders[k] * s.e[i]);
      if (std::fabs(s.v[i] - f) > sclip * h.rms) {
        keep[i] = 0;
        changed = true;
      }
    }
    if (!changed) break;
    const Harmonics again = fit_harmonics(s.e, s.v, orders, keep);
    if (!again.ok) break;
    h = again;
  }
  return h;
}

double mean_of(const Samples& s, double& spread) {
  double sum = 0.0, sum2 = 0.0;
  for (double v : s.v) sum += v;
  const double mean = sum / static_cast<double>(s.v.size());
  for (double v : s.v) sum2 += (v - mean) * (v - mean);
  spread = s.v.size() > 1 ? std::sqrt(sum2 / static_cast<double>(s.v.size() - 1)) : 0.0;
  return mean;
}

struct Gradient {
  bool ok = false;
  double value = 0.0, err = 0.0;
};

// dI/da from the mean intensity of an ellipse further out with the same geometry; tried again
// twice as far out when the first is not clearly falling.
Gradient gradient_at(ConstImageView im, std::span<const uint8_t> mask, const EllipseShape& g, double a, double width,
                     const Samples& here) {
  Gradient out;
  if (here.v.size() < 2) return out;
  double s1 = 0.0;
  const double m1 = mean_of(here, s1);
  for (double f : {1.0, 2.0}) {
    const double da = std::max(f * width, f * 0.1 * a > 0.5 ? f * 0.1 * a : 0.5 * f);
    const Samples far = sample_ellipse(im, mask, g, a + da, width);
    if (far.v.size() < 2) continue;
    double s2 = 0.0;
    const double m2 = mean_of(far, s2);
    out.value = (m2 - m1) / da;
    out.err =
        std::sqrt(s1 * s1 / static_cast<double>(here.v.size()) + s2 * s2 / static_cast<double>(far.v.size())) / da;
    if (out.value < 0.0 && out.err < 0.5 * std::fabs(out.value)) {
      out.ok = true;
      return out;
    }
  }
  out.ok = out.value < 0.0;
  return out;
}

double wrap_pa(double pa) {
  pa = std::fmod(pa, kPi);
  if (pa < 0.0) pa += kPi;
  return pa;
}

double pa_difference(double a, double b) {
  double d = std::fmod(a - b, kPi);
  if (d > 0.5 * kPi) d -= kPi;
  if (d < -0.5 * kPi) d += kPi;
  return d;
}

// Fills intensity, errors and the third and fourth harmonics of an isophote from its samples.
void describe(Isophote& iso, const Samples& s, const Harmonics& h12, const Gradient& gr, double sclip, int nclip) {
  const double a = iso.sma, q = 1.0 - iso.shape.eps;
  iso.intens = h12.coef[0];
  iso.rms = h12.rms;
  iso.intens_err = iso.ndata > 0 ? h12.rms / std::sqrt(static_cast<double>(iso.ndata)) : 0.0;
  iso.grad = gr.value;
  iso.grad_err = gr.err;
  const double g = std::fabs(gr.value);
  if (!(g > 0.0) || a <= 0.0) return;
  const double dm = h12.err[2] / g, dn = h12.err[1] * q / g;
  const double c = std::cos(iso.shape.pa), sn = std::sin(iso.shape.pa);
  iso.x0_err = std::hypot(dm * c, dn * sn);
  iso.y0_err = std::hypot(dm * sn, dn * c);
  iso.eps_err = 2.0 * q * h12.err[4] / (a * g);
  iso.pa_err = iso.shape.eps > kRoundEps ? 2.0 * q * h12.err[3] / (a * g * (1.0 - q * q)) : 0.0;
  std::vector<uint8_t> keep;
  const Harmonics h = clipped_harmonics(s, {1, 2, 3, 4}, sclip, nclip, keep);
  if (!h.ok) return;
  const double norm = a * g;
  iso.a3 = h.coef[5] / norm;
  iso.b3 = h.coef[6] / norm;
  iso.a4 = h.coef[7] / norm;
  iso.b4 = h.coef[8] / norm;
  iso.a3_err = h.err[5] / norm;
  iso.b3_err = h.err[6] / norm;
  iso.a4_err = h.err[7] / norm;
  iso.b4_err = h.err[8] / norm;
}

const std::vector<int> kFirstSecond = {1, 2};

// One isophote sampled with geometry g, not fitted.
Isophote extract(ConstImageView im, const IsophoteRequest& req, const EllipseShape& g, double a, IsophoteStop stop) {
  Isophote iso;
  iso.sma = a;
  iso.shape = g;
  iso.stop = stop;
  const double width = annulus_width(a, req.step, req.linear);
  const Samples s = sample_ellipse(im, req.mask, g, a, width);
  std::vector<uint8_t> keep;
  const Harmonics h =
      s.e.size() >= kFewestSamples ? clipped_harmonics(s, kFirstSecond, req.sclip, req.nclip, keep) : Harmonics{};
  iso.ndata = static_cast<int32_t>(std::count(keep.begin(), keep.end(), uint8_t{1}));
  iso.nflag = s.total - iso.ndata;
  if (!h.ok) {
    double spread = 0.0;
    iso.intens = s.v.empty() ? std::numeric_limits<double>::quiet_NaN() : mean_of(s, spread);
    iso.ndata = static_cast<int32_t>(s.v.size());
    iso.nflag = s.total - iso.ndata;
    if (stop != IsophoteStop::fixed) iso.stop = IsophoteStop::too_few_points;
    return iso;
  }
  describe(iso, s, h, gradient_at(im, req.mask, g, a, width, s), req.sclip, req.nclip);
  return iso;
}

// One isophote fitted from the geometry `from`; its centre may be at most `limit` pixels from `anchor`.
Isophote fit_one(ConstImageView im, const IsophoteRequest& req, const EllipseShape& from, double a,
                 const EllipseShape& anchor, double limit) {
  bool move_centre = req.fix != FixedGeometry::centre;
  const bool move_shape = req.fix != FixedGeometry::shape;
  const double width = annulus_width(a, req.step, req.linear);
  EllipseShape g = from;
  EllipseShape best = from;
  double best_score = std::numeric_limits<double>::infinity();
  Isophote iso;
  iso.sma = a;
  // Where the geometry changes with sma (a twist, a growing ellipticity) the first-order
  // corrections overshoot: a correction that changes sign from one iteration to the next has
  // its gain halved, so the iteration settles instead of swinging.
  std::array<double, 4> gain{1.0, 1.0, 1.0, 1.0}, last{0.0, 0.0, 0.0, 0.0};
  const auto damp = [&](std::size_t k, double d) {
    if (d * last[k] < 0.0) gain[k] = std::max(0.125, 0.5 * gain[k]);
    last[k] = d;
    return gain[k] * d;
  };
  for (int32_t it = 1; it <= req.maxit; ++it) {
    const Samples s = sample_ellipse(im, req.mask, g, a, width);
    if (s.e.size() < kFewestSamples) {
      iso = extract(im, req, from, a, IsophoteStop::too_few_points);
      iso.niter = it;
      return iso;
    }
    std::vector<uint8_t> keep;
    const Harmonics h = clipped_harmonics(s, kFirstSecond, req.sclip, req.nclip, keep);
    const int32_t ndata = static_cast<int32_t>(std::count(keep.begin(), keep.end(), uint8_t{1}));
    if (!h.ok || s.total - ndata > req.fflag * s.total) {
      iso = extract(im, req, g, a, IsophoteStop::flagged);
      iso.stop = IsophoteStop::flagged;
      iso.niter = it;
      return iso;
    }
    const Gradient gr = gradient_at(im, req.mask, g, a, width, s);
    if (!gr.ok) {
      iso = extract(im, req, from, a, IsophoteStop::carried);
      iso.niter = it;
      return iso;
    }
    // The harmonics this fit may correct, and how far each is above its noise.
    double largest = 0.0, score = 0.0;
    for (std::size_t k = 1; k <= 4; ++k) {
      if ((k <= 2 && !move_centre) || (k >= 3 && !move_shape)) continue;
      if (k == 3 && g.eps <= kRoundEps) continue;
      largest = std::max(largest, std::fabs(h.coef[k]));
      score = std::max(score, std::fabs(h.coef[k]) / std::max(h.err[k], 1e-300));
    }
    if (score < best_score) {
      best_score = score;
      best = g;
    }
    // Converged when the harmonics are small beside the scatter around the ellipse, lost in
    // their own noise, or would move the ellipse by less than a hundredth of a pixel.
    const double q0 = 1.0 - g.eps, ag = a * std::fabs(gr.value);
    const double shift = std::max({std::fabs(h.coef[1]) * q0, std::fabs(h.coef[2]), 2.0 * q0 * std::fabs(h.coef[4]),
                                   g.eps > kRoundEps ? 2.0 * q0 * std::fabs(h.coef[3]) / (1.0 - q0 * q0) : 0.0}) /
                         std::max(ag / std::max(a, 1.0), 1e-300);
    double spread = 0.0;
    (void)mean_of(s, spread);
    const bool done = largest <= req.conver * spread || score < 1.0 || shift < 0.01 || (!move_centre && !move_shape);
    if (done || it == req.maxit) {
      if (!done) g = best;
      const Samples fs = done ? s : sample_ellipse(im, req.mask, g, a, width);
      std::vector<uint8_t> fk;
      const Harmonics fh = done ? h : clipped_harmonics(fs, kFirstSecond, req.sclip, req.nclip, fk);
      iso.shape = g;
      iso.ndata = done ? ndata : static_cast<int32_t>(std::count(fk.begin(), fk.end(), uint8_t{1}));
      iso.nflag = fs.total - iso.ndata;
      iso.niter = it;
      iso.stop = done ? IsophoteStop::converged : IsophoteStop::max_iterations;
      if (!move_centre && !move_shape) iso.stop = IsophoteStop::fixed;
      describe(iso, fs, fh.ok ? fh : h, done ? gr : gradient_at(im, req.mask, g, a, width, fs), req.sclip, req.nclip);
      return iso;
    }
    // Corrections: the first harmonics move the centre along the major (B1) and minor (A1)
    // axes, the second change the angle (A2) and the ellipticity (B2).
    const double grad = gr.value, q = 1.0 - g.eps;
    if (move_centre) {
      double dm = damp(0, -h.coef[2] / grad), dn = damp(1, -h.coef[1] * q / grad);
      const double step = std::hypot(dm, dn), cap = std::max(0.5, 0.1 * a);
      if (step > cap) {
        dm *= cap / step;
        dn *= cap / step;
      }
      g.x0 += dm * std::cos(g.pa) - dn * std::sin(g.pa);
      g.y0 += dm * std::sin(g.pa) + dn * std::cos(g.pa);
    }
    if (move_shape) {
      const double deps = std::clamp(damp(3, -2.0 * h.coef[4] * q / (grad * a)), -0.1, 0.1);
      if (g.eps > kRoundEps) {
        const double dpa = std::clamp(damp(2, 2.0 * q * h.coef[3] / (grad * a * (q * q - 1.0))), -0.2, 0.2);
        g.pa = wrap_pa(g.pa + dpa);
      }
      g.eps += deps;
      if (g.eps < 0.0) {
        g.eps = -g.eps;
        g.pa = wrap_pa(g.pa + 0.5 * kPi);
      }
      g.eps = std::min(g.eps, kLargestEps);
    }
    // A centre that wanders too far from the nucleus (after an arm, a bar or a companion) is
    // held at the edge of its allowed circle, and only the shape is fitted from there on.
    const double off = std::hypot(g.x0 - anchor.x0, g.y0 - anchor.y0);
    if (off > limit) {
      g.x0 = anchor.x0 + (g.x0 - anchor.x0) * limit / off;
      g.y0 = anchor.y0 + (g.y0 - anchor.y0) * limit / off;
      move_centre = false;
    }
  }
  return iso;
}

// Whether an isophote's geometry may be carried on to its neighbour.
bool good_geometry(const Isophote& iso, const EllipseShape& previous) {
  if (iso.stop != IsophoteStop::converged && iso.stop != IsophoteStop::max_iterations) return false;
  if (std::fabs(iso.shape.eps - previous.eps) > kLargestEpsJump) return false;
  if (std::max(iso.shape.eps, previous.eps) > 0.1 &&
      std::fabs(pa_difference(iso.shape.pa, previous.pa)) > kLargestPaJump)
    return false;
  return true;
}

bool any_usable(ConstImageView im, std::span<const uint8_t> mask) {
  for (int y = 1; y <= im.ny; ++y)
    for (int x = 1; x <= im.nx; ++x)
      if (usable(im, mask, x, y)) return true;
  return false;
}

// The nucleus: the light-weighted centre of the 5 x 5 pixels around the brightest usable
// pixel within `reach` of (x, y); (x, y) itself when there is none.
std::pair<double, double> nucleus_near(ConstImageView im, std::span<const uint8_t> mask, double x, double y,
                                       double reach) {
  int bx = 0, by = 0;
  float best = -std::numeric_limits<float>::infinity();
  for (int j = static_cast<int>(std::floor(y - reach)); j <= static_cast<int>(std::ceil(y + reach)); ++j)
    for (int i = static_cast<int>(std::floor(x - reach)); i <= static_cast<int>(std::ceil(x + reach)); ++i)
      if ((i - x) * (i - x) + (j - y) * (j - y) <= reach * reach && usable(im, mask, i, j) && im.at(i, j) > best) {
        best = im.at(i, j);
        bx = i;
        by = j;
      }
  if (bx == 0) return {x, y};
  float low = best;
  for (int j = by - 2; j <= by + 2; ++j)
    for (int i = bx - 2; i <= bx + 2; ++i)
      if (usable(im, mask, i, j)) low = std::min(low, im.at(i, j));
  double sw = 0.0, sx = 0.0, sy = 0.0;
  for (int j = by - 2; j <= by + 2; ++j)
    for (int i = bx - 2; i <= bx + 2; ++i)
      if (usable(im, mask, i, j)) {
        const double w = im.at(i, j) - low;
        sw += w;
        sx += w * i;
        sy += w * j;
      }
  if (!(sw > 0.0)) return {static_cast<double>(bx), static_cast<double>(by)};
  return {sx / sw, sy / sw};
}

double next_sma(double a, const IsophoteRequest& r) { return r.linear ? a + r.step : a * (1.0 + r.step); }
double previous_sma(double a, const IsophoteRequest& r) { return r.linear ? a - r.step : a / (1.0 + r.step); }

}  // namespace

Isophote sample_isophote(ConstImageView image, std::span<const uint8_t> mask, const EllipseShape& shape, double sma,
                         double step) {
  IsophoteRequest req;
  req.mask = mask;
  req.step = step;
  return extract(image, req, shape, sma, IsophoteStop::fixed);
}

IsophoteFit fit_isophotes(ConstImageView image, const IsophoteRequest& req) {
  IsophoteFit out;
  const auto refuse = [&](IsophoteFitStatus st, std::string why) {
    out.status = st;
    out.problem = std::move(why);
    return out;
  };
  if (image.empty() || !any_usable(image, req.mask))
    return refuse(IsophoteFitStatus::no_pixels, "the frame has no defined pixels");
  const EllipseShape& st = req.start;
  if (!(st.x0 >= 0.5 && st.x0 < image.nx + 0.5 && st.y0 >= 0.5 && st.y0 < image.ny + 0.5))
    return refuse(IsophoteFitStatus::centre_outside, "the centre lies outside the frame");
  if (!(st.eps >= 0.0 && st.eps < 1.0) || !std::isfinite(st.pa))
    return refuse(IsophoteFitStatus::bad_shape, "the ellipticity must be at least 0 and below 1");
  const double largest = std::hypot(image.nx, image.ny);
  const double maxsma = req.maxsma > 0.0 ? std::min(req.maxsma, largest) : largest;
  if (!(req.sma0 > 0.0) || !(req.step > 0.0) || !(req.minsma >= 0.0) || req.sma0 > maxsma || !std::isfinite(req.sma0))
    return refuse(IsophoteFitStatus::bad_axes, "the semi-major axes must be 0 < sma0 <= maxsma, with a step above 0");
  if (!req.linear && req.step > 1.0) return refuse(IsophoteFitStatus::bad_axes, "a geometric step must be at most 1");
  EllipseShape start = st;
  start.eps = std::min(start.eps, kLargestEps);
  start.pa = wrap_pa(start.pa);
  const auto limit = [&](double a) { return req.wander + req.wander_slope * a; };

  std::vector<Isophote> outward, inward;
  EllipseShape good = start;
  // The nucleus near the start (a typed or clicked centre may be a pixel or two off) anchors
  // the centres of all the isophotes.
  if (req.fix != FixedGeometry::centre) {
    const auto [nx0, ny0] = nucleus_near(image, req.mask, start.x0, start.y0, std::max(3.0, 0.3 * req.sma0));
    start.x0 = nx0;
    start.y0 = ny0;
  }
  const EllipseShape anchor = start;
  // Outwards from sma0 (which is the first of them).
  for (double a = req.sma0; a <= maxsma * (1.0 + 1e-9); a = next_sma(a, req)) {
    if (req.stop.requested()) return refuse(IsophoteFitStatus::stopped, "stopped by Ctrl-C");
    const bool first = outward.empty();
    Isophote iso = fit_one(image, req, good, a, anchor, limit(a));
    if (iso.stop == IsophoteStop::flagged) {
      // Mostly off the image or masked: the last isophote worth having.
      if (iso.ndata >= static_cast<int32_t>(kFewestSamples)) outward.push_back(iso);
      break;
    }
    // The first isophote's shape is the fit's own (the start is only a guess).
    if (good_geometry(iso, first ? iso.shape : good) || iso.stop == IsophoteStop::fixed) {
      good = iso.shape;
    } else if (iso.stop != IsophoteStop::too_few_points) {
      iso = extract(image, req, good, a, IsophoteStop::carried);
    }
    outward.push_back(iso);
  }
  if (outward.empty())
    return refuse(IsophoteFitStatus::bad_axes, "the ellipse at sma0 lies mostly off the frame or masked");
  // Inwards from sma0, starting from its geometry.
  good = outward.front().shape;
  for (double a = previous_sma(req.sma0, req); a >= std::max(req.minsma, 0.5) - 1e-9; a = previous_sma(a, req)) {
    if (req.stop.requested()) return refuse(IsophoteFitStatus::stopped, "stopped by Ctrl-C");
    Isophote iso = a < kSmallestFitted ? extract(image, req, good, a, IsophoteStop::fixed)
                                       : fit_one(image, req, good, a, anchor, limit(a));
    if (good_geometry(iso, good)) {
      good = iso.shape;
    } else if (iso.stop != IsophoteStop::fixed) {
      iso = extract(image, req, good, a, IsophoteStop::carried);
    }
    inward.push_back(iso);
    if (req.linear && a - req.step <= 0.0) break;
  }
  // The centre itself.
  Isophote centre;
  centre.shape = good;
  centre.stop = IsophoteStop::fixed;
  double v = 0.0;
  if (bilinear(image, req.mask, good.x0, good.y0, v)) {
    centre.intens = v;
    centre.ndata = 1;
    out.isophotes.push_back(centre);
  }
  out.isophotes.insert(out.isophotes.end(), inward.rbegin(), inward.rend());
  out.isophotes.insert(out.isophotes.end(), outward.begin(), outward.end());
  for (const Isophote& i : out.isophotes) {
    if (i.stop != IsophoteStop::converged) continue;
    ++out.converged;
    out.largest_converged = std::max(out.largest_converged, i.sma);
  }
  return out;
}

}  // namespace zelvo
