#include "photometry/psf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "numeric/statistics.h"
#include "text/list_format.h"

namespace zelvo {

namespace {

// GETCEN's box half-width, INT(4.0 + 0.5), and its number of passes.
constexpr int32_t kCentroidHalf = 4;
constexpr int kCentroidPasses = 3;
// The background slope around GETCEN's box is measured in this annulus (clear of the wings
// of a star a few pixels wide) and taken off when it exceeds this many standard errors.
constexpr float kCentroidSlopeInner = 8.0f;
constexpr float kCentroidSlopeOuter = 14.0f;
constexpr double kSlopeSignificance = 3.0;

// The sky annulus: squared pixel offsets strictly between 15^2 and 25^2, scanned over
// offsets -26 .. 26 around the truncated centre.
constexpr int32_t kSkyScan = 26;
constexpr int32_t kSkyInner2 = 225;
constexpr int32_t kSkyOuter2 = 625;
constexpr float kSkyClip = 2.5f;

constexpr int32_t kGrowthRings = 20;
// The growth curve's background surface is fitted from R out to R + this (pixels).
constexpr float kGrowthAnnulusWidth = 10.0f;
// A refined centre further than this from the given one is not taken (pixels).
constexpr float kCentroidWalk = 3.0f;
// The smallest removal radius taken from the local-background estimate (pixels).
constexpr float kSmallestStarRadius = 3.0f;
constexpr float kNoHalfRadius = 9999.0f;

constexpr const char* kTooClose = "    too close to edge ";
constexpr const char* kGrowthHeader[] = {
    "     xpmean    enclosed      flux/2        srad",
    "     ------    --------      ------        ----",
};
constexpr const char* kHaywire = "All right. Flux is going haywire, so we quit here...";
constexpr const char* kNoFlux =
    "No flux above the local background around the object; its half-flux radius cannot be measured.";
constexpr const char* kCentroidKept =
    "No column or row of the 9 x 9 box around the object lies above the box mean; "
    "the centre is kept there.";
constexpr const char* kNoSky =
    "No sky pixels 15 to 25 pixels from the object within the sky limits; the rough sky is used.";
constexpr const char* kOneSky =
    "Only one sky pixel 15 to 25 pixels from the object within the sky limits; its sigma is taken as 1.0.";
constexpr const char* kNoClippedSky = "No sky pixel is left after the 2.5 sigma clip; the unclipped sky is used.";

// Below this share of its pixels inside the image, a background annulus is reported.
constexpr float kSmallAnnulusShare = 0.5f;

// Where GETPSF reads pixels: the last column and row are treated as off the image.
bool in_sample_area(ConstImageView image, int32_t x, int32_t y) {
  return x >= 1 && x < image.nx && y >= 1 && y < image.ny;
}

// Count, sum and sum of squares of a sample, in 32-bit floats as the sky estimates keep them.
struct SampleSums {
  int32_t n = 0;
  float sum = 0.0f;
  float sum2 = 0.0f;
  void add(float v) {
    ++n;
    sum += v;
    sum2 += v * v;
  }
  // (sum2 - sum^2 / n) / (n - 1); NaN for fewer than two values.
  float variance() const {
    if (n < 2) return std::nanf("");
    return (sum2 - sum * sum / static_cast<float>(n)) / static_cast<float>(n - 1);
  }
};

// Sigma of a sample: the square root of a non-negative variance; otherwise the error line
// (`lead` names the sums) and 1.0.
float sample_sigma(const SampleSums& s, const char* lead_s2, const char* lead_mean, std::vector<std::string>& notes) {
  const float var = s.variance();
  if (var >= 0.0f) return std::sqrt(var);
  notes.push_back(list_record({lead_s2, s.sum2, lead_mean, s.sum, " ncnt=", s.n}));
  return 1.0f;
}

// A pixel with a background slope (counts per pixel, zero at (ic, jc)) taken off.
float detrended(ConstImageView image, int32_t x, int32_t y, int32_t ic, int32_t jc, float gx, float gy) {
  if (gx == 0.0f && gy == 0.0f) return image.at(x, y);
  return image.at(x, y) - gx * static_cast<float>(x - ic) - gy * static_cast<float>(y - jc);
}

// One centroid pass along one axis: the weighted mean of (centre + offset) over the nine
// lines of the box, each weighted by its positive summed excess over the box mean.
// `along_x` selects columns (x pass) or rows (y pass). Returns false when no line has a
// positive excess.
// (gx, gy) is a background slope taken off every pixel, zero at (ic, jc).
bool centroid_axis(ConstImageView image, int32_t ic, int32_t jc, float mean, float gx, float gy, bool along_x,
                   float& result) {
  float weighted = 0.0f, weight = 0.0f;
  for (int32_t a = -kCentroidHalf; a <= kCentroidHalf; ++a) {
    float s = 0.0f;
    bool any = false;
    for (int32_t b = -kCentroidHalf; b <= kCentroidHalf; ++b) {
      const int32_t x = along_x ? ic + a : ic + b;
      const int32_t y = along_x ? jc + b : jc + a;
      if (!image.inside(x, y)) continue;
      s += detrended(image, x, y, ic, jc, gx, gy) - mean;
      any = true;
    }
    if (any && s > 0.0f) {
      weighted += static_cast<float>((along_x ? ic : jc) + a) * s;
      weight += s;
    }
  }
  if (!(weight > 0.0f)) return false;
  result = weighted / weight;
  return true;
}

// The share of the annulus rin .. rout around (x, y) whose pixels lie inside the image.
float annulus_share_inside(ConstImageView image, float x, float y, float rin, float rout) {
  int32_t all = 0, inside = 0;
  for (int32_t j = INT(std::floor(y - rout)); j <= INT(std::ceil(y + rout)); ++j)
    for (int32_t i = INT(std::floor(x - rout)); i <= INT(std::ceil(x + rout)); ++i) {
      const float dx = static_cast<float>(i) - x, dy = static_cast<float>(j) - y;
      const float r = std::sqrt(dx * dx + dy * dy);
      if (r < rin || r >= rout) continue;
      ++all;
      inside += image.inside(i, j) ? 1 : 0;
    }
  return all > 0 ? static_cast<float>(inside) / static_cast<float>(all) : 1.0f;
}

}  // namespace

Box central_region(int32_t nx, int32_t ny) {
  return Box{std::max(1, int_scaled(0.1f, nx)), std::min(nx, int_scaled(0.9f, nx)), std::max(1, int_scaled(0.1f, ny)),
             std::min(ny, int_scaled(0.9f, ny))};
}

TileLevels central_tile_levels(ConstImageView image) { return TileLevels(image, central_region(image.nx, image.ny)); }

namespace {

float sky_upper_from(const FiniteLevels& central) { return 0.95f * central.maximum; }  // 0 when none

// The level of the frame's flat tops: when at least three pixels, two of them side by side,
// share the frame's highest value, the detector stopped there (pixels above the level returned
// are saturated). Looked for only where the usual rule would put the level above the maximum.
std::optional<int32_t> flat_top_level(ConstImageView image, float maximum) {
  if (!(maximum > 0.0f) || maximum >= 40000.0f / 0.9f || image.empty()) return std::nullopt;
  int32_t at_top = 0;
  bool pair = false;
  for (int32_t y = 1; y <= image.ny; ++y) {
    const float* row = &image.at(1, y);
    for (int32_t x = 0; x < image.nx; ++x) {
      if (row[x] != maximum) continue;
      ++at_top;
      pair = pair || (x + 1 < image.nx && row[x + 1] == maximum) || (y < image.ny && image.at(x + 1, y + 1) == maximum);
    }
  }
  if (at_top < 3 || !pair) return std::nullopt;
  return std::max(int32_t{0}, INT(std::ceil(maximum)) - 1);
}

int32_t saturation_from(ConstImageView image, const FiniteLevels& whole) {
  if (const std::optional<int32_t> flat = flat_top_level(image, whole.maximum)) return *flat;
  return std::max(int_scaled(0.9f, whole.maximum), int32_t{40000});
}

}  // namespace

float rough_sky(TileLevels& tiles) {
  const float fx = static_cast<float>(tiles.image().nx), fy = static_cast<float>(tiles.image().ny);
  return tiles.inner_sum() / ((0.9f * fx - 0.1f * fx) * (0.9f * fy - 0.1f * fy));
}

float rough_sky(ConstImageView image) {
  TileLevels tiles = central_tile_levels(image);
  return rough_sky(tiles);
}

ImageLimits image_limits(TileLevels& tiles) {
  return ImageLimits{sky_upper_from(tiles.inner()), saturation_from(tiles.image(), tiles.whole()), rough_sky(tiles)};
}

float sky_upper_limit(ConstImageView image) {
  const Box r = central_region(image.nx, image.ny);
  FiniteLevels top;
  for (int32_t y = r.y0; y <= r.y1; ++y)
    for (int32_t x = r.x0; x <= r.x1; ++x) {
      const float v = image.at(x, y);
      if (!counted_pixel(v)) continue;
      if (!top.any || v > top.maximum) top.maximum = v;
      top.any = true;
    }
  return sky_upper_from(top);
}

int32_t saturation_level(ConstImageView image) {
  FiniteLevels whole;
  whole.maximum = image_statistics(image).maximum;
  return saturation_from(image, whole);
}

namespace {

// Least-squares surface through (dx, dy, v) samples: the first `terms` of
// 1, dx, dy, dx^2, dx dy, dy^2 (3 or 6). Offsets are scaled by `scale` for conditioning.
// False when the normal equations are singular.
struct SurfaceSample {
  float dx, dy, v;
};

double surface_term(int t, double x, double y) {
  switch (t) {
    case 0: return 1.0;
    case 1: return x;
    case 2: return y;
    case 3: return x * x;
    case 4: return x * y;
    default: return y * y;
  }
}

bool fit_surface(const std::vector<SurfaceSample>& s, const std::vector<bool>& keep, int terms, double scale,
                 double coef[6]) {
  double a[6][7] = {};
  for (std::size_t k = 0; k < s.size(); ++k) {
    if (!keep[k]) continue;
    const double x = s[k].dx / scale, y = s[k].dy / scale;
    double f[6];
    for (int t = 0; t < terms; ++t) f[t] = surface_term(t, x, y);
    for (int r = 0; r < terms; ++r) {
      for (int c = 0; c < terms; ++c) a[r][c] += f[r] * f[c];
      a[r][6] += f[r] * s[k].v;
    }
  }
  // Gaussian elimination with partial pivoting.
  for (int c = 0; c < terms; ++c) {
    int piv = c;
    for (int r = c + 1; r < terms; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (!(std::fabs(a[piv][c]) > 1e-12)) return false;
    if (piv != c)
      for (int k = 0; k < 7; ++k) std::swap(a[c][k], a[piv][k]);
    for (int r = 0; r < terms; ++r) {
      if (r == c) continue;
      const double m = a[r][c] / a[c][c];
      for (int k = c; k < 7; ++k) a[r][k] -= m * a[c][k];
    }
  }
  for (int t = 0; t < 6; ++t) coef[t] = 0.0;
  for (int t = 0; t < terms; ++t) coef[t] = a[t][6] / a[t][t];
  // Back to unscaled offsets.
  coef[1] /= scale;
  coef[2] /= scale;
  coef[3] /= scale * scale;
  coef[4] /= scale * scale;
  coef[5] /= scale * scale;
  return true;
}

double surface_value(const double c[6], double x, double y) {
  return c[0] + c[1] * x + c[2] * y + c[3] * x * x + c[4] * x * y + c[5] * y * y;
}

// The median of v (v is reordered).
float median_of(std::vector<float>& v) {
  const std::size_t n = v.size();
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n / 2), v.end());
  const float hi = v[n / 2];
  if (n % 2 == 1) return hi;
  const float lo = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n / 2));
  return 0.5f * (lo + hi);
}

constexpr float kAnnulusStart = 8.0f;      // first inner radius of the background annulus
constexpr float kAnnulusWidth = 8.0f;      // its width, pixels
constexpr float kAnnulusClearance = 2.0f;  // the star must end this far inside the annulus
// A ring median that falls by less than this many noise sigmas per pixel from the ring
// before has reached the background.
constexpr float kFlatteningStep = 0.25f;
// The error of the median of n normal values of unit sigma, times sqrt(n): sqrt(pi / 2).
constexpr float kMedianError = 1.2533141f;
constexpr int kSurfaceClipPasses = 4;
constexpr float kNoiselessLevel = 1.0e-3f;  // of the centre's height: the least level the star meets
constexpr float kNoiselessNoise = 1.0e-5f;  // of the centre's height: below it the image is noiseless
constexpr float kSurfaceClip = 3.0f;
constexpr std::size_t kQuadraticMinimum = 24;  // fewer kept pixels: a plane
constexpr std::size_t kPlaneMinimum = 8;       // fewer: no background

// A background surface fitted around a centre.
struct Surface {
  bool ok = false;
  double c[6] = {};    // see StarRadius::surface
  float noise = 0.0f;  // spread of the kept pixels about it
  // Pixel-to-pixel noise: the robust spread of second differences along rows over sqrt(6),
  // which a slope, and structure smoother than a few pixels (a galaxy's arms), do not inflate.
  float pixel_noise = 0.0f;
  double sxx = 0.0, syy = 0.0;  // sums of dx^2 and dy^2 over the kept pixels (slope errors)
};

// Background surface over the annulus rin .. rout around (xcen, ycen), 3-sigma clipped; not ok
// when too few pixels.
Surface background_surface(ConstImageView image, float xcen, float ycen, float rin, float rout) {
  Surface out;
  double* coef = out.c;
  float& noise = out.noise;
  std::vector<SurfaceSample> s;
  std::vector<float> diffs;
  const int32_t x0 = INT(std::floor(xcen - rout)), x1 = INT(std::ceil(xcen + rout));
  const int32_t y0 = INT(std::floor(ycen - rout)), y1 = INT(std::ceil(ycen + rout));
  for (int32_t y = std::max(1, y0); y <= std::min(image.ny, y1); ++y)
    for (int32_t x = std::max(1, x0); x <= std::min(image.nx, x1); ++x) {
      const float dx = static_cast<float>(x) - xcen, dy = static_cast<float>(y) - ycen;
      const float r = std::sqrt(dx * dx + dy * dy);
      if (r < rin || r >= rout) continue;
      const float v = image.at(x, y);
      if (!counted_pixel(v)) continue;
      s.push_back({dx, dy, v});
      if (x > 1 && x < image.nx) {
        const float a = image.at(x - 1, y), b = image.at(x + 1, y);
        if (counted_pixel(a) && counted_pixel(b)) diffs.push_back(std::fabs(a - 2.0f * v + b));
      }
    }
  if (s.size() < kPlaneMinimum) return out;
  if (!diffs.empty()) out.pixel_noise = 1.4826f * median_of(diffs) / std::sqrt(6.0f);
  // Fitted about the annulus' median, so that a flat background comes out exactly flat.
  std::vector<float> vals;
  vals.reserve(s.size());
  for (const SurfaceSample& p : s) vals.push_back(p.v);
  const float base = median_of(vals);
  for (SurfaceSample& p : s) p.v -= base;
  std::vector<bool> keep(s.size(), true);
  std::size_t kept = s.size();
  double sigma = 0.0;
  for (int pass = 0; pass < kSurfaceClipPasses; ++pass) {
    const int terms = kept >= kQuadraticMinimum ? 6 : 3;
    if (kept < kPlaneMinimum || !fit_surface(s, keep, terms, static_cast<double>(rout), coef)) return out;
    double ss = 0.0;
    for (std::size_t k = 0; k < s.size(); ++k)
      if (keep[k]) {
        const double d = s[k].v - surface_value(coef, s[k].dx, s[k].dy);
        ss += d * d;
      }
    sigma = std::sqrt(ss / static_cast<double>(std::max<std::size_t>(kept - static_cast<std::size_t>(terms), 1)));
    std::size_t now = 0;
    for (std::size_t k = 0; k < s.size(); ++k) {
      const double d = s[k].v - surface_value(coef, s[k].dx, s[k].dy);
      keep[k] = std::fabs(d) <= kSurfaceClip * sigma;
      now += keep[k] ? 1 : 0;
    }
    if (now == kept) break;
    kept = now;
  }
  noise = static_cast<float>(sigma);
  coef[0] += static_cast<double>(base);
  for (std::size_t k = 0; k < s.size(); ++k)
    if (keep[k]) {
      out.sxx += static_cast<double>(s[k].dx) * s[k].dx;
      out.syy += static_cast<double>(s[k].dy) * s[k].dy;
    }
  out.ok = true;
  return out;
}

}  // namespace

StarRadius star_radius(ConstImageView image, float xcen, float ycen, float max_radius) {
  StarRadius out;
  if (image.empty() || !std::isfinite(xcen) || !std::isfinite(ycen)) return out;
  // The highest pixel near the centre.
  bool any_peak = false;
  for (int32_t y = INT(std::floor(ycen - 1.5f)); y <= INT(std::ceil(ycen + 1.5f)); ++y)
    for (int32_t x = INT(std::floor(xcen - 1.5f)); x <= INT(std::ceil(xcen + 1.5f)); ++x) {
      if (!image.inside(x, y)) continue;
      const float dx = static_cast<float>(x) - xcen, dy = static_cast<float>(y) - ycen;
      const float v = image.at(x, y);
      if (dx * dx + dy * dy > 2.25f || !counted_pixel(v)) continue;
      out.peak = any_peak ? std::max(out.peak, v) : v;
      any_peak = true;
    }

  for (float rin = kAnnulusStart;;) {
    const float rout = rin + std::max(kAnnulusWidth, 0.5f * rin);
    const Surface bg = background_surface(image, xcen, ycen, rin, rout);
    if (!bg.ok) return out;
    const double* c = bg.c;
    const float noise = bg.pixel_noise > 0.0f ? bg.pixel_noise : bg.noise;
    out.background = static_cast<float>(c[0]);
    out.noise = noise;
    out.slope_x = static_cast<float>(c[1]);
    out.slope_y = static_cast<float>(c[2]);
    for (int t = 0; t < 6; ++t) out.surface[t] = static_cast<float>(c[t]);
    out.annulus_inner = rin;
    out.annulus_outer = rout;

    // Median residual of each 1-pixel ring k (distances k - 0.5 .. k + 0.5) inside the annulus.
    const int32_t rings = INT(rin);
    std::vector<std::vector<float>> ring(static_cast<std::size_t>(rings) + 1);
    const int32_t half = rings + 1;
    const int32_t ic = nint_pixel(xcen), jc = nint_pixel(ycen);
    for (int32_t y = jc - half; y <= jc + half; ++y)
      for (int32_t x = ic - half; x <= ic + half; ++x) {
        if (!image.inside(x, y)) continue;
        const float v = image.at(x, y);
        if (!counted_pixel(v)) continue;
        const float dx = static_cast<float>(x) - xcen, dy = static_cast<float>(y) - ycen;
        const int32_t k = INT(std::sqrt(dx * dx + dy * dy) + 0.5f);
        if (k > rings) continue;
        ring[static_cast<std::size_t>(k)].push_back(v - static_cast<float>(surface_value(c, dx, dy)));
      }
    // A ring has reached the background when its median is within its own error of it (the
    // error of a median of n pixels of noise sigma is 1.2533 sigma / sqrt(n)): a bright star's
    // faint wings, well below the pixel noise but above that error, are still the star's. On a
    // noiseless image the level is a small fraction of the centre's height instead.
    float floor_level = 0.0f, prev = 0.0f, prev_level = 0.0f, first = 0.0f;
    int32_t prev_k = 0;
    bool have_prev = false, crossed = false;
    float radius = static_cast<float>(rings);
    for (int32_t k = 0; k <= rings; ++k) {
      std::vector<float>& rv = ring[static_cast<std::size_t>(k)];
      if (rv.empty()) continue;
      const float m = median_of(rv);
      const float level = std::max(floor_level, kMedianError * noise / std::sqrt(static_cast<float>(rv.size())));
      if (!have_prev && !(m >= 3.0f * noise)) {
        out.radius = 0.0f;  // no star stands above the background here
        return out;
      }
      if (m < level) {
        const float t = (prev - prev_level) / ((prev - prev_level) - (m - level));
        radius = static_cast<float>(prev_k) + static_cast<float>(k - prev_k) * std::clamp(t, 0.0f, 1.0f);
        crossed = true;
        break;
      }
      // A profile that has stopped falling while within a pixel sigma of the surface has
      // reached the background too, where the surface misses a little of a galaxy's
      // structure under the star.
      if (have_prev && k >= 2 && m < noise && prev - m < kFlatteningStep * noise * static_cast<float>(k - prev_k)) {
        radius = static_cast<float>(k) - 0.5f;
        crossed = true;
        break;
      }
      if (!have_prev) {
        first = m;
        // Only where the noise is next to nothing; on a real frame a bright star's faint wings
        // are still the star's.
        if (noise < kNoiselessNoise * first) floor_level = kNoiselessLevel * first;
      }
      prev = m;
      prev_level = level;
      prev_k = k;
      have_prev = true;
    }
    if (crossed && radius <= rin - kAnnulusClearance) {
      out.radius = radius;
      out.found = true;
      return out;
    }
    out.radius = radius;
    // The star reaches the annulus: try again just outside what it reached, where the surface
    // is still local to the star.
    rin = std::max(radius + kAnnulusClearance + 1.0f, rin + 2.0f);
    if (rin > max_radius) return out;
  }
}

Centroid GETCEN(ConstImageView image, float startx, float starty) {
  Centroid c{startx, starty, false};
  for (int pass = 0; pass < kCentroidPasses; ++pass) {
    const int32_t ic = nint_pixel(c.x), jc = nint_pixel(c.y);
    c.last_ix = ic;
    c.last_iy = jc;
    // A significant background slope around the box is taken off first: left in, it pulls
    // the centroid downhill (a 3000-count star on 20 counts per pixel by many pixels).
    float gx = 0.0f, gy = 0.0f;
    const Surface bg = background_surface(image, static_cast<float>(ic), static_cast<float>(jc), kCentroidSlopeInner,
                                          kCentroidSlopeOuter);
    if (bg.ok && bg.sxx > 0.0 && bg.syy > 0.0) {
      const double ex = bg.noise / std::sqrt(bg.sxx), ey = bg.noise / std::sqrt(bg.syy);
      if (std::fabs(bg.c[1]) > kSlopeSignificance * ex || std::fabs(bg.c[2]) > kSlopeSignificance * ey) {
        gx = static_cast<float>(bg.c[1]);
        gy = static_cast<float>(bg.c[2]);
      }
    }
    // Box mean over the pixels of the box that lie inside the image (81 away from the edges).
    float sum = 0.0f;
    int32_t count = 0;
    for (int32_t i = -kCentroidHalf; i <= kCentroidHalf; ++i)
      for (int32_t j = -kCentroidHalf; j <= kCentroidHalf; ++j)
        if (image.inside(ic + i, jc + j)) {
          sum += detrended(image, ic + i, jc + j, ic, jc, gx, gy);
          ++count;
        }
    if (count == 0) {
      c.fallback = true;
      continue;
    }
    const float mean = sum / static_cast<float>(count);
    // Both axes use the same box centre and mean.
    float nx = c.x, ny = c.y;
    if (!centroid_axis(image, ic, jc, mean, gx, gy, true, nx)) c.fallback = true;
    if (!centroid_axis(image, ic, jc, mean, gx, gy, false, ny)) c.fallback = true;
    c.x = nx;
    c.y = ny;
  }
  return c;
}

namespace {

// GETPSF's steps. Each adds the lines it reports to e.notes.

// GETCEN at the start position; the centre follows the centroid.
// A centroid that walks further than kCentroidWalk from the given position has left the
// object (a brighter neighbour, or a slope it could not take off): the given position is
// kept, and the note says so.
void refine_centre(ConstImageView image, PsfEstimate& e) {
  const Centroid c = GETCEN(image, e.xcen, e.ycen);
  e.centroid_fallback = c.fallback;
  if (c.fallback) e.notes.push_back(text_line(kCentroidKept));
  const float walk = std::hypot(c.x - e.xcen, c.y - e.ycen);
  if (walk > kCentroidWalk) {
    e.centroid_walked = walk;
    e.centroid_pixel = std::pair{nint_pixel(e.xcen), nint_pixel(e.ycen)};
    e.notes.push_back(list_record({"The centroid walked to ", c.x, c.y, ", ", walk,
                                   " pixels from the given position; the given position is kept."}));
    return;
  }
  e.centroid_pixel = std::pair{c.last_ix, c.last_iy};
  e.xcen = c.x;
  e.ycen = c.y;
}

// The sky over the 15 to 25 pixel annulus within the sky limits, clipped once at 2.5 sigma
// (the clipped sigma is not used); the rough sky when the clipped value exceeds three times
// it. A column's scan stops at its first pixel off the sample area, so near the bottom edge
// whole columns are lost.
void estimate_sky(ConstImageView image, const PsfRequest& req, PsfEstimate& e) {
  std::vector<float> sample;
  SampleSums sky;
  const int32_t ic = INT(e.xcen), jc = INT(e.ycen);
  for (int32_t i = -kSkyScan; i <= kSkyScan; ++i)
    for (int32_t j = -kSkyScan; j <= kSkyScan; ++j) {
      const int32_t x = ic + i, y = jc + j;
      if (!in_sample_area(image, x, y)) break;
      const int32_t r2 = i * i + j * j;
      if (r2 <= kSkyInner2 || r2 >= kSkyOuter2) continue;
      const float v = image.at(x, y);
      if (!(v > req.sky_lower && v < req.sky_upper)) continue;
      sample.push_back(v);
      sky.add(v);
    }
  float mean = e.rough_sky, sigma = 1.0f;
  if (sky.n == 0) {
    e.notes.push_back(text_line(kNoSky));
  } else {
    mean = sky.sum / static_cast<float>(sky.n);
    if (sky.n == 1)
      e.notes.push_back(text_line(kOneSky));
    else
      sigma = sample_sigma(sky, "ERROR: s2=", " skymean=", e.notes);
  }
  e.notes.push_back(list_record({"Rough sky = ", e.rough_sky, " and perhaps better sky = ", mean}));

  float clipped = mean;
  if (sky.n > 0) {
    SampleSums kept;
    const float lo = mean - kSkyClip * sigma, hi = mean + kSkyClip * sigma;
    for (const float v : sample)
      if (v > lo && v < hi) kept.add(v);
    if (kept.n == 0) {
      e.notes.push_back(text_line(kNoClippedSky));
    } else {
      if (kept.n > 1) (void)sample_sigma(kept, "ERROR: s22=", " sky2mean=", e.notes);
      clipped = kept.sum / static_cast<float>(kept.n);
    }
  }
  e.notes.push_back(list_record({"The so called better sky with 2.5 sigma clip = ", clipped}));
  e.sky = clipped;
  if (3.0f * e.rough_sky < clipped) e.sky = e.rough_sky;
}

// The pixels within 3R around the (refined) centre that lie on the sample area, with the
// sky-subtracted flux. False when the estimate ends here (the centre off the sample area, or
// saturated).
bool collect_flux(ConstImageView image, const PsfRequest& req, PsfEstimate& e) {
  const float xc = e.xcen, yc = e.ycen;
  const int32_t ic = nint_pixel(xc), jc = nint_pixel(yc);
  const float R = req.search_radius;
  const int32_t K = INT(3.0f * R);
  const float r3 = 3.0f * R;
  const float rmax2 = r3 * r3;
  const float satlevel = static_cast<float>(req.saturation);
  // The background under each pixel: a surface fitted to the R .. R + 10 annulus (a galaxy's
  // slope and curvature under the star), the sky level when the annulus has too few pixels.
  const Surface local = background_surface(image, xc, yc, R, R + kGrowthAnnulusWidth);
  // Only an object whose centre pixel lies off the sample area is out of reach.
  if (!in_sample_area(image, ic, jc)) {
    e.notes.push_back(text_line(kTooClose));
    e.too_close_to_edge = true;
    return false;
  }
  float total = 0.0f;
  for (int32_t i = -K - 1; i <= K + 1; ++i)
    for (int32_t j = -K - 1; j <= K + 1; ++j) {
      const int32_t x = ic + i, y = jc + j;
      if (!in_sample_area(image, x, y)) continue;  // the part of the box inside the image counts
      const float dx = static_cast<float>(x) - xc, dy = static_cast<float>(y) - yc;
      const float r2 = dx * dx + dy * dy;
      if (r2 >= rmax2) continue;
      const float v = image.at(x, y);
      if (satlevel < v) {
        e.saturated = true;
        return false;
      }
      // Near the star its own surface (fitted just outside it) is the background; further
      // out the one fitted to the R .. R + 10 annulus; the sky level when neither exists.
      const bool near_star = e.star.found && r2 < e.star.annulus_outer * e.star.annulus_outer;
      const float b = near_star  ? e.star.background_at(dx, dy)
                      : local.ok ? static_cast<float>(surface_value(local.c, dx, dy))
                                 : e.sky;
      total += v - b;
      // The lists hold at most kMaxCollected entries; beyond that the last one is replaced.
      if (e.npix < kMaxCollected) {
        ++e.npix;
        e.radii.push_back(std::sqrt(r2));
        e.values.push_back(v);
        e.backgrounds.push_back(b);
      } else {
        e.radii.back() = std::sqrt(r2);
        e.values.back() = v;
        e.backgrounds.back() = b;
      }
    }
  // The flux over the local background as measured: a faint star's total may lie below the
  // sky level per pixel and is still its flux (replacing it by a constant made the half-flux
  // column meaningless).
  e.total = total;
  return true;
}

// The pixel-to-pixel noise about the local background of the collected pixels beyond R,
// where the star has faded (1.4826 times their median absolute deviation); 0 when fewer
// than 10 such pixels were collected.
float collected_noise(float R, const PsfEstimate& e) {
  std::vector<float> dev;
  for (std::size_t p = 0; p < e.radii.size(); ++p)
    if (e.radii[p] > R) dev.push_back(e.values[p] - e.backgrounds[p]);
  if (dev.size() < 10) return 0.0f;
  const auto mid = dev.begin() + static_cast<std::ptrdiff_t>(dev.size() / 2);
  std::nth_element(dev.begin(), mid, dev.end());
  const float median = *mid;
  for (float& d : dev) d = std::fabs(d - median);
  std::nth_element(dev.begin(), mid, dev.end());
  return 1.4826f * *mid;
}

// The growth curve (the flux enclosed within k R / 20, k = 1 .. 20) as a table, and the
// half-flux radius by linear interpolation in the first ring that passes half the total,
// kept within 10 .. 50 (25 above). The radius returned is where the star meets its local
// background (e.star) when it does, the half-flux radius otherwise.
float half_flux_radius(float R, PsfEstimate& e) {
  if (e.star.found)
    e.notes.push_back(list_record({"Local background = ", e.star.background, ", spread = ", e.star.noise,
                                   ", slope = ", e.star.slope_x, e.star.slope_y, " per pixel; the star meets it at ",
                                   e.star.radius, " pixels."}));
  e.notes.push_back(list_record({"npix = ", e.npix}));
  const float width = R / static_cast<float>(kGrowthRings);
  float radius[kGrowthRings + 1] = {};
  float enclosed[kGrowthRings + 1] = {};
  int32_t inside[kGrowthRings + 1] = {};
  for (int32_t k = 1; k <= kGrowthRings; ++k) {
    radius[k] = static_cast<float>(k) * R / static_cast<float>(kGrowthRings);
    float s = 0.0f;
    for (int32_t p = 0; p < e.npix; ++p)
      if (e.radii[static_cast<std::size_t>(p)] <= radius[k]) {
        s += e.values[static_cast<std::size_t>(p)] - e.backgrounds[static_cast<std::size_t>(p)];
        ++inside[k];
      }
    enclosed[k] = s;
  }

  float halfrad = kNoHalfRadius;
  bool found = false;
  const float half_total = e.total * 0.5f;
  // A growth curve falls by chance where the star has faded into the noise: only a fall of
  // more than 3 sigmas of its ring's pixels is a fault of the estimate.
  const float noise = collected_noise(R, e);
  if (!(e.total > 0.0f)) {
    e.notes.push_back(text_line(kNoFlux));
    found = true;  // no half of it to look for: the table is left out
  } else {
    for (const char* h : kGrowthHeader) e.notes.push_back(text_line(h));
  }
  for (int32_t k = 2; k <= kGrowthRings && e.total > 0.0f; ++k) {
    char row[64];
    std::snprintf(row, sizeof row, "%12.3f%12.3f%12.3f%12.3f", static_cast<double>(radius[k]),
                  static_cast<double>(enclosed[k]), static_cast<double>(half_total), static_cast<double>(R));
    e.notes.emplace_back(row);
    if (!found && half_total < enclosed[k]) {
      // A zero step (possible only at k = 2) gives minus infinity, which the clamp below
      // turns into 10.0.
      halfrad = radius[k] - (enclosed[k] - half_total) * width / (enclosed[k] - enclosed[k - 1]);
      found = true;
    }
    const float chance = 3.0f * noise * std::sqrt(static_cast<float>(inside[k] - inside[k - 1]));
    if (enclosed[k] < enclosed[k - 1] - chance) {
      e.notes.push_back(text_line(kHaywire));
      e.haywire = true;
      break;
    }
  }
  if (std::isnan(halfrad)) halfrad = kNoHalfRadius;  // non-finite pixels in the collection
  if (halfrad > 50.0f) halfrad = 25.0f;
  if (halfrad < 10.0f) halfrad = 10.0f;
  // Where the star meets its local background, when it does: the radius of the object.
  if (e.star.found) halfrad = std::max(e.star.radius, kSmallestStarRadius);
  e.notes.push_back(list_record({"Approximate radius of object = ", halfrad}));
  return halfrad;
}

}  // namespace

Image cut_stamp(ConstImageView image, int32_t ic, int32_t jc) {
  Image stamp(kStampSize, kStampSize);
  const int32_t half = kStampSize / 2;
  for (int32_t j = -half; j <= half; ++j)
    for (int32_t i = -half; i <= half; ++i) {
      const int32_t x = ic + i, y = jc + j;
      stamp.at(i + half + 1, j + half + 1) = in_sample_area(image, x, y) ? image.at(x, y) : kStampOffImage;
    }
  return stamp;
}

PsfEstimate GETPSF(ConstImageView image, float xcen, float ycen, const PsfRequest& req) {
  PsfEstimate e;
  e.xcen = xcen;
  e.ycen = ycen;
  if (image.empty()) {
    e.too_close_to_edge = true;  // no pixel at all: nothing to estimate
    return e;
  }
  if (req.centroid) refine_centre(image, e);
  // Rough sky: from the caller's cache when it has one, otherwise computed here.
  e.rough_sky = req.rough_sky ? *req.rough_sky : rough_sky(image);
  e.total = e.rough_sky;
  estimate_sky(image, req, e);
  e.star = star_radius(image, e.xcen, e.ycen);
  if (e.star.found) {
    const float share = annulus_share_inside(image, e.xcen, e.ycen, e.star.annulus_inner, e.star.annulus_outer);
    if (share < kSmallAnnulusShare)
      e.notes.push_back(list_record({"Only", nint_pixel(100.0f * share),
                                     "% of the background annulus lies inside the image; the background is fitted "
                                     "to that part."}));
  }
  if (!collect_flux(image, req, e)) return e;
  e.stamp = cut_stamp(image, nint_pixel(e.xcen), nint_pixel(e.ycen));  // on the pixel nearest to the centre
  e.deathrad = half_flux_radius(req.search_radius, e);
  return e;
}

}  // namespace zelvo
