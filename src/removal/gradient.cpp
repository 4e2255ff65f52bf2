#include "removal/gradient.h"

#include <array>
#include <cmath>
#include <ostream>
#include <vector>

#include "numeric/statistics.h"
#include "removal/edge.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"

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
  log_record(log, {"ClipSigma masked off ", static_cast<float>(work.nRing) - sumw, " values out of total of ",
                   work.nRing});
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

}  // namespace zelvo
