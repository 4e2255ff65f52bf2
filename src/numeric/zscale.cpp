#include "numeric/zscale.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// Straight line a + b x fitted by least squares to the samples not marked bad.
bool fit_line(const std::vector<double>& y, const std::vector<char>& bad, double& a, double& b) {
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t k = 0; k < y.size(); ++k) {
    if (bad[k]) continue;
    const double x = static_cast<double>(k);
    n += 1;
    sx += x;
    sy += y[k];
    sxx += x * x;
    sxy += x * y[k];
  }
  const double det = n * sxx - sx * sx;
  if (n < 2 || det == 0.0) return false;
  b = (n * sxy - sx * sy) / det;
  a = (sy - b * sx) / n;
  return true;
}

// How many of the n values at px are finite, counted in several lanes at once (one counter
// would make every step wait on the last).
std::size_t finite_count(const float* px, std::size_t n) {
  constexpr std::size_t kLanes = 8;
  std::size_t lane[kLanes] = {};
  std::size_t k = 0;
  for (; k + kLanes <= n; k += kLanes)
    for (std::size_t l = 0; l < kLanes; ++l) lane[l] += std::isfinite(px[k + l]) ? 1 : 0;
  std::size_t count = 0;
  for (; k < n; ++k) count += std::isfinite(px[k]) ? 1 : 0;
  for (std::size_t l = 0; l < kLanes; ++l) count += lane[l];
  return count;
}

}  // namespace

std::optional<ZscaleLevels> zscale_levels(ConstImageView image, const ZscaleOptions& opt) {
  if (image.empty()) return std::nullopt;
  const std::size_t total = static_cast<std::size_t>(image.nx) * static_cast<std::size_t>(image.ny);
  const std::size_t finite = opt.finite_pixels > 0 ? opt.finite_pixels : finite_count(image.px, total);
  if (finite == 0) return std::nullopt;

  // Every stride-th finite pixel, at most n_samples of them.
  const std::size_t wanted = static_cast<std::size_t>(std::max(1, opt.n_samples));
  const std::size_t stride =
      std::max<std::size_t>(1, static_cast<std::size_t>(static_cast<double>(finite) / std::max(1, opt.n_samples)));
  std::vector<double> s;
  s.reserve(wanted);
  if (finite == total) {
    // Every pixel is finite: the samples are read directly, without a walk over the image.
    for (std::size_t k = 0; k < total && s.size() < wanted; k += stride) s.push_back(image.px[k]);
  } else {
    std::size_t until_next = 0;  // finite pixels to pass before the next sample
    for (std::size_t k = 0; k < total && s.size() < wanted; ++k) {
      const float p = image.px[k];
      if (!std::isfinite(p)) continue;
      if (until_next == 0) {
        s.push_back(p);
        until_next = stride;
      }
      --until_next;
    }
  }
  std::sort(s.begin(), s.end());
  const int npix = static_cast<int>(s.size());
  ZscaleLevels out;
  out.samples = npix;
  double vmin = s.front(), vmax = s.back();

  // Fit a line to the sorted samples, rejecting those far from it (and their neighbours)
  // until no more are rejected.
  const int minpix = std::max(opt.min_npixels, static_cast<int>(npix * opt.max_reject));
  const int ngrow = std::max(1, static_cast<int>(npix * 0.01));
  std::vector<char> bad(s.size(), 0), grown(s.size(), 0);
  int ngood = npix, last_ngood = npix + 1;
  double a = 0.0, b = 0.0;
  bool have_fit = false;
  for (int it = 0; it < opt.max_iterations; ++it) {
    if (ngood >= last_ngood || ngood < minpix) break;
    if (!fit_line(s, bad, a, b)) break;
    have_fit = true;
    double sum = 0, sum2 = 0;
    int n = 0;
    for (int k = 0; k < npix; ++k) {
      if (bad[k]) continue;
      const double r = s[k] - (a + b * k);
      sum += r;
      sum2 += r * r;
      ++n;
    }
    const double mean = sum / n;
    const double threshold = opt.krej * std::sqrt(std::max(0.0, sum2 / n - mean * mean));
    for (int k = 0; k < npix; ++k) {
      const double r = s[k] - (a + b * k);
      if (r < -threshold || r > threshold) bad[k] = 1;
    }
    // Grow each rejected sample over ngrow neighbours, the window placed as a "same"
    // convolution places it (for an even width one more neighbour on the right).
    const int left = (ngrow - 1) / 2, right = ngrow - 1 - left;
    for (int k = 0; k < npix; ++k) {
      char g = 0;
      for (int d = -right; d <= left && !g; ++d) {
        const int m = k + d;
        if (m >= 0 && m < npix && bad[m]) g = 1;
      }
      grown[k] = g;
    }
    bad.swap(grown);
    last_ngood = ngood;
    ngood = static_cast<int>(std::count(bad.begin(), bad.end(), 0));
  }
  if (have_fit && ngood >= minpix) {
    double slope = b;
    if (opt.contrast > 0) slope /= opt.contrast;
    const int center = (npix - 1) / 2;
    const double median =
        npix % 2 ? s[static_cast<std::size_t>(npix / 2)]
                 : 0.5 * (s[static_cast<std::size_t>(npix / 2 - 1)] + s[static_cast<std::size_t>(npix / 2)]);
    vmin = std::max(vmin, median - (center - 1) * slope);
    vmax = std::min(vmax, median + (npix - center) * slope);
    out.fitted = true;
  }
  out.low = static_cast<float>(vmin);
  out.high = static_cast<float>(vmax);
  return out;
}

double stretched(Stretch s, double x) {
  x = std::clamp(x, 0.0, 1.0);
  switch (s) {
    case Stretch::sqrt: return std::sqrt(x);
    case Stretch::log: return std::log10(1000.0 * x + 1.0) / std::log10(1001.0);
    case Stretch::asinh: return std::asinh(x / 0.1) / std::asinh(1.0 / 0.1);
    case Stretch::linear: break;
  }
  return x;
}

std::string_view stretch_name(Stretch s) {
  switch (s) {
    case Stretch::sqrt: return "sqrt";
    case Stretch::log: return "log";
    case Stretch::asinh: return "asinh";
    case Stretch::linear: break;
  }
  return "linear";
}

std::optional<Stretch> stretch_from_name(std::string_view word) {
  std::string w;
  for (char c : word) w += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (Stretch s : {Stretch::linear, Stretch::sqrt, Stretch::log, Stretch::asinh})
    if (w == stretch_name(s)) return s;
  return std::nullopt;
}

}  // namespace zelvo
