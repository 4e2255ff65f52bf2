#include "removal/gradient.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "numeric/statistics.h"
#include "removal/edge.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"
#include "removal/ring_values.h"

namespace zelvo {

namespace {

bool accepted(const RemovalWork& w, std::size_t i) { return w.RingWeight[i] > 0.5f; }

// One rejection pass: a 20-bin histogram of `values`; every ring point whose sigma lies
// within the limits (inclusive) of a bin holding fewer than a fifth of the fullest bin's
// count is rejected.
void clip_pass(RemovalWork& w, std::span<const float> values) {
  if (values.empty()) return;
  const GreatSmall g = GREATSMALL(values);
  const float smin = g.small;
  const float width = (g.great - g.small) / 20.0f;
  std::array<int32_t, 20> counts{};
  HISTOGRAM(values, smin, width, counts);
  int32_t hmax = 0;
  for (int32_t c : counts) hmax = std::max(hmax, c);
  for (int32_t j = 1; j <= 20; ++j) {
    if (!(static_cast<float>(counts[static_cast<std::size_t>(j - 1)]) < static_cast<float>(hmax) / 5.0f)) continue;
    const float lo = smin + static_cast<float>(j - 1) * width;
    const float hi = smin + static_cast<float>(j) * width;
    for (std::size_t i = 0; i < w.RingWeight.size(); ++i) {
      const float s = w.TheRing.sigma[i];
      if (lo <= s && s <= hi) w.RingWeight[i] = 0.0f;
    }
  }
}

std::vector<float> accepted_sigmas(const RemovalWork& w) {
  std::vector<float> v;
  for (std::size_t i = 0; i < w.RingWeight.size(); ++i)
    if (accepted(w, i)) v.push_back(w.TheRing.sigma[i]);
  return v;
}

// Sum of values(i) * RingWeight(i) in ring order, single precision.
float weighted_sum(const RemovalWork& w, const std::vector<float>& values) {
  float s = 0.0f;
  for (std::size_t i = 0; i < w.RingWeight.size(); ++i) s += values[i] * w.RingWeight[i];
  return s;
}

float weight_sum(const RemovalWork& w) {
  float s = 0.0f;
  for (float x : w.RingWeight) s += x;
  return s;
}

// Reduces an angle above 2 pi by one turn.
float below_full_turn(float a) { return a > kTwoPiReal ? a - kTwoPiReal : a; }

}  // namespace

int32_t CLIPSIGMA(RemovalWork& work, std::ostream& log) {
  const std::size_t n = work.RingWeight.size();
  // Points rejected before (no background measurable there) take no part.
  float sum_b = 0.0f, sum_s = 0.0f;
  int32_t entering = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!accepted(work, i)) continue;
    sum_b += work.TheRing.back[i];
    sum_s += work.TheRing.sigma[i];
    ++entering;
  }
  clip_pass(work, accepted_sigmas(work));
  clip_pass(work, accepted_sigmas(work));

  const float sumw = weight_sum(work);
  log_record(log,
             {"ClipSigma masked off ", static_cast<float>(work.nRing) - sumw, " values out of total of ", work.nRing});
  const float before = static_cast<float>(entering > 0 ? entering : 1);
  log_record(log, {"Background average before ClipSigma: ", sum_b / before});
  log_record(log, {"Background sigma before ClipSigma: ", sum_s / before});
  if (sumw > 0.0f) {
    log_record(log, {"Background average after ClipSigma: ", weighted_sum(work, work.TheRing.back) / sumw});
    log_record(log, {"Background sigma after ClipSigma: ", weighted_sum(work, work.TheRing.sigma) / sumw});
  } else {
    log_record(log, {"Background after ClipSigma: no ring point left"});
  }
  int32_t good = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (accepted(work, i)) ++good;
  return good;
}

SineFit SINFIT(std::span<const float> p, std::span<const float> v) {
  SineFit f;
  const std::size_t n = std::min(p.size(), v.size());
  if (n == 0) return f;
  float s = 0.0f;
  for (std::size_t j = 0; j < n; ++j) s += v[j];
  f.mean = s / static_cast<float>(n);
  float sc = 0.0f, ss = 0.0f;
  for (std::size_t j = 0; j < n; ++j) {
    sc += (v[j] - f.mean) * std::cos(p[j]);
    ss += (v[j] - f.mean) * std::sin(p[j]);
  }
  // n squared as an exact integer product, then single precision.
  const float n2 = static_cast<float>(static_cast<int64_t>(n) * static_cast<int64_t>(n));
  f.amp = 2.0f * std::sqrt(ss * ss / n2 + sc * sc / n2);
  f.phi = std::atan2(ss, sc) - kPiReal;
  if (f.phi < 0.0f) f.phi += kTwoPiReal;
  return f;
}

bool GRADIENT(RemovalWork& work, float xcen, float ycen, std::ostream& log) {
  const auto n = static_cast<std::size_t>(work.nRing);
  if (n == 0) return false;
  std::vector<float> phase(n);
  for (std::size_t i = 0; i < n; ++i) phase[i] = std::atan2(work.TheRing.x[i] - xcen, work.TheRing.y[i] - ycen);
  log_values(log, "phase = ", phase);

  if (CLIPSIGMA(work, log) == 0) return false;
  std::vector<float> good_back, good_phase;
  for (std::size_t i = 0; i < n; ++i) {
    if (!accepted(work, i)) continue;
    good_back.push_back(work.TheRing.back[i]);
    good_phase.push_back(phase[i]);
  }

  const float sumw = weight_sum(work);
  work.TheSigma = weighted_sum(work, work.TheRing.sigma) / sumw;
  const float sigma = work.TheSigma;
  const float bmean = weighted_sum(work, work.TheRing.back) / sumw;

  // The profile around the ring with rejected points filled by the mean, smoothed by a
  // circular three-point running mean.
  std::vector<float> f(n), g(n);
  for (std::size_t i = 0; i < n; ++i) f[i] = accepted(work, i) ? work.TheRing.back[i] : bmean;
  if (n >= 3) {
    g[0] = (f[n - 1] + f[0] + f[1]) / 3.0f;
    for (std::size_t i = 1; i + 1 < n; ++i) g[i] = (f[i - 1] + f[i] + f[i + 1]) / 3.0f;
    g[n - 1] = (f[n - 1] + f[0] + f[n - 2]) / 3.0f;
  } else {
    for (std::size_t i = 0; i < n; ++i) g[i] = (f[(i + n - 1) % n] + f[i] + f[(i + 1) % n]) / 3.0f;
  }

  const GreatSmall ext = GREATSMALL(g);
  std::size_t imin = 0, imax = 0;  // the last indices reaching the extremes
  for (std::size_t i = 0; i < n; ++i) {
    if (g[i] == ext.small) imin = i;
    if (g[i] == ext.great) imax = i;
  }
  log_record(log, {"SaddleTest: min, max, nout = ", static_cast<int32_t>(imin + 1), static_cast<int32_t>(imax + 1),
                   work.nRing});

  // Four consecutive ring points starting at the minimum: up, dip, up again to about the
  // same level is a saddle.
  std::vector<float> r(n);
  for (std::size_t i = 0; i < n; ++i) r[i] = g[(imin + i) % n];
  const bool saddle = n >= 4 && r[3] - r[0] > sigma && r[1] - r[0] > sigma && std::fabs(r[3] - r[1]) < sigma &&
                      r[2] - r[0] < sigma && r[2] < r[1] && r[2] < r[3];

  if (saddle) {
    log_record(log, {"Saddle Gradient!!!"});
    // The saddle varies with twice the azimuth.
    std::vector<float> doubled(good_phase.size());
    for (std::size_t j = 0; j < doubled.size(); ++j) {
      const float p = good_phase[j];
      doubled[j] = p >= kPiReal ? 2.0f * (p - kPiReal) : 2.0f * p;
    }
    const SineFit fit = SINFIT(doubled, good_back);
    work.MinBack = fit.mean - fit.amp;
    work.MaxBack = fit.mean + fit.amp;
    work.MinAngle = fit.phi / 2.0f;
    work.MaxAngle = below_full_turn(fit.phi / 2.0f + kHalfPiReal);
  } else {
    log_record(log, {"Simple (or no) gradient!!!"});
    const SineFit fit = SINFIT(good_phase, good_back);
    log_record(log, {"amp, phi, meany = ", fit.amp, fit.phi, fit.mean});
    work.MinBack = fit.mean - fit.amp;
    work.MaxBack = fit.mean + fit.amp;
    work.MinAngle = fit.phi;
    work.MaxAngle = below_full_turn(fit.phi + kPiReal);
  }
  log_record(log, {"TheSigma = ", work.TheSigma});
  log_record(log, {"MinAngle = ", work.MinAngle, " MaxAngle = ", work.MaxAngle});
  log_record(log, {"MinBack = ", work.MinBack, " MaxBack = ", work.MaxBack});
  return true;
}

namespace {

constexpr double kClipSigmas = 3.0;
// The standard deviation of a unit Gaussian cut at +-3: what a 3-sigma clip leaves of the spread.
constexpr double kClippedSpread = 0.9865811;
// 1 / Phi^-1(3/4): the median absolute deviation of a Gaussian times this is its sigma.
constexpr double kMadToSigma = 1.482602;

using Coefficients = std::array<double, 10>;

void surface_terms(double u, double v, double (&t)[10]) {
  t[0] = 1.0;
  t[1] = u;
  t[2] = v;
  t[3] = u * u;
  t[4] = u * v;
  t[5] = v * v;
  t[6] = u * u * u;
  t[7] = u * u * v;
  t[8] = u * v * v;
  t[9] = v * v * v;
}

// The samples in the surface's own variables.
struct Samples {
  std::vector<double> u, v, z;
  std::size_t size() const { return z.size(); }
};

struct SurfaceFit {
  Coefficients c{};
  double rss = 0.0;  // sum of squared residuals over the kept samples
  int32_t kept = 0;
  bool ok = false;
};

double evaluate(const Coefficients& c, int terms, double u, double v) {
  double t[10];
  surface_terms(u, v, t);
  double s = 0.0;
  for (int k = 0; k < terms; ++k) s += c[static_cast<std::size_t>(k)] * t[k];
  return s;
}

// Weighted least squares over the kept samples: normal equations solved by Gaussian
// elimination with partial pivoting (at most 10 unknowns, variables of order 1).
SurfaceFit least_squares(const Samples& s, const std::vector<char>& keep, int order) {
  SurfaceFit f;
  const int m = BackgroundSurface::terms(order);
  double a[10][11] = {};
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!keep[i]) continue;
    double t[10];
    surface_terms(s.u[i], s.v[i], t);
    // A curved surface is to bridge the disc, so the samples nearest the disc count most:
    // weight (distance / outer radius)^-4. A plane needs no such help and takes all alike.
    const double rr2 = s.u[i] * s.u[i] + s.v[i] * s.v[i];
    const double wt = rr2 > 0.0 && order >= 2 ? 1.0 / (rr2 * rr2) : 1.0;
    for (int r = 0; r < m; ++r) {
      for (int c = 0; c < m; ++c) a[r][c] += wt * t[r] * t[c];
      a[r][m] += wt * t[r] * s.z[i];
    }
    ++f.kept;
  }
  if (f.kept < m) return f;
  for (int col = 0; col < m; ++col) {
    int piv = col;
    for (int r = col + 1; r < m; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[piv][col])) piv = r;
    if (!(std::fabs(a[piv][col]) > 1e-12 * static_cast<double>(f.kept))) return f;  // degenerate sample layout
    if (piv != col)
      for (int c = 0; c <= m; ++c) std::swap(a[piv][c], a[col][c]);
    for (int r = 0; r < m; ++r) {
      if (r == col) continue;
      const double q = a[r][col] / a[col][col];
      for (int c = col; c <= m; ++c) a[r][c] -= q * a[col][c];
    }
  }
  for (int k = 0; k < m; ++k) f.c[static_cast<std::size_t>(k)] = a[k][m] / a[k][k];
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!keep[i]) continue;
    const double r = s.z[i] - evaluate(f.c, m, s.u[i], s.v[i]);
    f.rss += r * r;
  }
  f.ok = std::isfinite(f.rss);
  return f;
}

double median_of(std::vector<double> v) {
  if (v.empty()) return 0.0;
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  double m = *mid;
  if (v.size() % 2 == 0) m = (m + *std::max_element(v.begin(), mid)) / 2.0;
  return m;
}

// Fits `order` to the samples, rejecting those further than 3 sigma from the median residual
// (sigma from the median absolute deviation of the kept residuals) and refitting until the
// kept set stops changing. `keep` starts as the set to begin from and ends as the kept set.
SurfaceFit clipped_fit(const Samples& s, std::vector<char>& keep, int order, double floor_sigma) {
  const int m = BackgroundSurface::terms(order);
  SurfaceFit f = least_squares(s, keep, order);
  for (int pass = 0; pass < 20 && f.ok; ++pass) {
    std::vector<double> r(s.size()), kept_r;
    for (std::size_t i = 0; i < s.size(); ++i) {
      r[i] = s.z[i] - evaluate(f.c, m, s.u[i], s.v[i]);
      if (keep[i]) kept_r.push_back(r[i]);
    }
    const double centre = median_of(kept_r);
    for (double& d : kept_r) d = std::fabs(d - centre);
    const double sigma = std::max(kMadToSigma * median_of(kept_r), floor_sigma);
    std::vector<char> next(s.size());
    int32_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      next[i] = std::fabs(r[i] - centre) <= kClipSigmas * sigma;
      n += next[i];
    }
    if (n < m + 1 || next == keep) break;
    keep = std::move(next);
    const SurfaceFit g = least_squares(s, keep, order);
    if (!g.ok) break;
    f = g;
  }
  return f;
}

// The sky's spread from the differences of the residuals of neighbouring kept samples (same
// row, next column): what the surface leaves of the sky's structure varies slowly and cancels
// in the differences, the noise does not. Clipped at 3 sigma (scale from the median absolute
// difference) and corrected for the clipping; -1 when fewer than 20 pairs.
double pair_spread(const Samples& s, std::span<const float> x, std::span<const float> y, const std::vector<char>& keep,
                   const Coefficients& c, int terms, double floor_sigma) {
  std::vector<double> d;
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (!keep[i] || !keep[i - 1] || y[i] != y[i - 1] || x[i] != x[i - 1] + 1.0f) continue;
    const double here = s.z[i] - evaluate(c, terms, s.u[i], s.v[i]);
    const double left = s.z[i - 1] - evaluate(c, terms, s.u[i - 1], s.v[i - 1]);
    d.push_back(here - left);
  }
  if (d.size() < 20) return -1.0;
  std::vector<double> a(d.size());
  for (std::size_t i = 0; i < d.size(); ++i) a[i] = std::fabs(d[i]);
  const double limit = kClipSigmas * std::max(kMadToSigma * median_of(a), floor_sigma);
  double q = 0.0;
  std::size_t n = 0;
  for (double v : d) {
    if (std::fabs(v) > limit) continue;
    q += v * v;
    ++n;
  }
  if (n == 0) return -1.0;
  return std::sqrt(q / static_cast<double>(n) / 2.0) / kClippedSpread;
}

}  // namespace

BackgroundSurface fit_surface(std::span<const float> x, std::span<const float> y, std::span<const float> value,
                              double x0, double y0, double scale, int max_order) {
  BackgroundSurface out;
  out.x0 = x0;
  out.y0 = y0;
  out.scale = scale > 0.0 ? scale : 1.0;
  const std::size_t n = std::min({x.size(), y.size(), value.size()});
  out.samples = static_cast<int32_t>(n);
  Samples s;
  double level = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    s.u.push_back((x[i] - x0) / out.scale);
    s.v.push_back((y[i] - y0) / out.scale);
    s.z.push_back(value[i]);
    level = std::max(level, std::fabs(static_cast<double>(value[i])));
  }
  // Residuals below the rounding of single-precision pixels are no scatter.
  const double floor_sigma = 1e-7 * (level + 1.0);
  max_order = std::clamp(max_order, 0, 3);
  while (max_order > 0 && static_cast<int>(n) < 3 * BackgroundSurface::terms(max_order)) --max_order;
  if (n < 3) return out;

  // Outliers are found with the most flexible surface allowed, so that curvature of the sky
  // is not taken for outliers; the order is then chosen on the samples kept.
  std::vector<char> keep(n, 1);
  if (!clipped_fit(s, keep, max_order, floor_sigma).ok) return out;
  int32_t kept = 0;
  for (char k : keep) kept += k;
  int best = -1;
  double best_bic = std::numeric_limits<double>::infinity();
  for (int o = 0; o <= max_order; ++o) {
    const int m = BackgroundSurface::terms(o);
    if (kept < 3 * m) break;
    const SurfaceFit f = least_squares(s, keep, o);
    if (!f.ok) continue;
    const double var = std::max(f.rss / kept, floor_sigma * floor_sigma);
    const double bic = kept * std::log(var) + m * std::log(static_cast<double>(kept));
    if (bic < best_bic) {
      best_bic = bic;
      best = o;
    }
  }
  if (best < 0) return out;
  const SurfaceFit f = clipped_fit(s, keep, best, floor_sigma);
  if (!f.ok) return out;
  const int m = BackgroundSurface::terms(best);
  out.order = best;
  out.coef = f.c;
  out.kept = f.kept;
  out.lowest = std::numeric_limits<double>::infinity();
  out.highest = -out.lowest;
  for (std::size_t i = 0; i < n; ++i) {
    if (!keep[i]) continue;
    const double v = evaluate(f.c, m, s.u[i], s.v[i]);
    out.lowest = std::min(out.lowest, v);
    out.highest = std::max(out.highest, v);
  }
  // The sky's spread: from neighbouring residuals where there are enough pairs (what the
  // surface misses of the sky's structure cancels there), else about the surface itself.
  const double paired = pair_spread(s, x, y, keep, f.c, m, floor_sigma);
  out.spread = paired >= 0.0 ? paired : f.kept > m ? std::sqrt(f.rss / (f.kept - m)) / kClippedSpread : 0.0;
  return out;
}

bool fit_background(RemovalWork& work, ConstImageView image, float xcen, float ycen, float deathrad, int extlogs,
                    std::ostream& log, ConstImageView model) {
  const float inner = deathrad + kAnnulusBuffer, outer = inner + kAnnulusWidth;
  AnnulusSamples a = annulus_samples(work, image, xcen, ycen, inner, outer);
  if (model.nx == image.nx && model.ny == image.ny && !model.empty())
    for (std::size_t i = 0; i < a.value.size(); ++i)
      a.value[i] -= model.at(static_cast<int>(a.x[i]), static_cast<int>(a.y[i]));
  work.surface = fit_surface(a.x, a.y, a.value, xcen, ycen, outer, kMaxSurfaceOrder);
  work.surface.inner = inner;
  work.surface.outer = outer;
  const BackgroundSurface& b = work.surface;
  if (!b.fitted()) {
    log_record(log, {"Background surface: too few sky pixels between radii", inner, "and", outer, "(", b.samples, ")"});
    return false;
  }
  log_record(log, {"Background surface: order", b.order, ", kept", b.kept, "of", b.samples, "pixels between radii",
                   inner, "and", outer});
  log_record(log, {"Background surface at the centre =", static_cast<float>(b.painted(xcen, ycen)),
                   ", sky noise painted with it =", static_cast<float>(b.spread)});
  if (extlogs == 1) {
    std::vector<float> c;
    for (int k = 0; k < BackgroundSurface::terms(b.order); ++k)
      c.push_back(static_cast<float>(b.coef[static_cast<std::size_t>(k)]));
    log_values(log, "Background surface coefficients (1, u, v, u2, uv, v2, ...) = ", c);
  }
  return true;
}

}  // namespace zelvo
