#include "photometry/psf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "numeric/statistics.h"
#include "platform/list_io.h"

namespace zelvo {

namespace {

// GETCEN's box half-width, INT(4.0 + 0.5), and its number of passes.
constexpr int32_t kCentroidHalf = 4;
constexpr int kCentroidPasses = 3;

// The sky annulus: squared pixel offsets strictly between 15^2 and 25^2, scanned over
// offsets -26 .. 26 around the truncated centre.
constexpr int32_t kSkyScan = 26;
constexpr int32_t kSkyInner2 = 225;
constexpr int32_t kSkyOuter2 = 625;
constexpr float kSkyClip = 2.5f;

constexpr int32_t kGrowthRings = 20;
constexpr float kNoHalfRadius = 9999.0f;

constexpr const char* kTooClose = "    too close to edge ";
constexpr const char* kGrowthHeader[] = {
    "     xpmean    enclosed      flux/2        srad",
    "     ------    --------      ------        ----",
};
constexpr const char* kHaywire = "All right. Flux is going haywire, so we quit here...";
constexpr const char* kCentroidKept =
    "No column or row of the 9 x 9 box around the object lies above the box mean; "
    "the centre is kept there.";
constexpr const char* kNoSky =
    "No sky pixels 15 to 25 pixels from the object within the sky limits; the rough sky is used.";
constexpr const char* kOneSky =
    "Only one sky pixel 15 to 25 pixels from the object within the sky limits; its sigma is taken as 1.0.";
constexpr const char* kNoClippedSky =
    "No sky pixel is left after the 2.5 sigma clip; the unclipped sky is used.";

// A fixed text as the command window shows it (after its blank column).
std::string text_line(std::string_view t) { return " " + std::string(t); }

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

// One centroid pass along one axis: the weighted mean of (centre + offset) over the nine
// lines of the box, each weighted by its positive summed excess over the box mean.
// `along_x` selects columns (x pass) or rows (y pass). Returns false when no line has a
// positive excess.
bool centroid_axis(ConstImageView image, int32_t ic, int32_t jc, float mean, bool along_x, float& result) {
  float weighted = 0.0f, weight = 0.0f;
  for (int32_t a = -kCentroidHalf; a <= kCentroidHalf; ++a) {
    float s = 0.0f;
    bool any = false;
    for (int32_t b = -kCentroidHalf; b <= kCentroidHalf; ++b) {
      const int32_t x = along_x ? ic + a : ic + b;
      const int32_t y = along_x ? jc + b : jc + a;
      if (!image.inside(x, y)) continue;
      s += image.at(x, y) - mean;
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

}  // namespace

Box central_region(int32_t nx, int32_t ny) {
  return Box{std::max(1, INT_SCALED(0.1f, nx)), std::min(nx, INT_SCALED(0.9f, nx)),
                    std::max(1, INT_SCALED(0.1f, ny)), std::min(ny, INT_SCALED(0.9f, ny))};
}

TileLevels central_tile_levels(ConstImageView image) {
  const Box r = central_region(image.nx, image.ny);
  return TileLevels(image, r.x0, r.x1, r.y0, r.y1);
}

namespace {

float sky_upper_from(const FiniteLevels& central) { return 0.95f * central.maximum; }  // 0 when none

int32_t saturation_from(const FiniteLevels& whole) {
  return std::max(INT_SCALED(0.9f, whole.maximum), int32_t{40000});
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
  return ImageLimits{sky_upper_from(tiles.inner()), saturation_from(tiles.whole()), rough_sky(tiles)};
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
  return saturation_from(whole);
}

Centroid GETCEN(ConstImageView image, float startx, float starty) {
  Centroid c{startx, starty, false};
  for (int pass = 0; pass < kCentroidPasses; ++pass) {
    const int32_t ic = NINT_PIXEL(c.x), jc = NINT_PIXEL(c.y);
    c.last_ix = ic;
    c.last_iy = jc;
    // Box mean over the pixels of the box that lie inside the image (81 away from the edges).
    float sum = 0.0f;
    int32_t count = 0;
    for (int32_t i = -kCentroidHalf; i <= kCentroidHalf; ++i)
      for (int32_t j = -kCentroidHalf; j <= kCentroidHalf; ++j)
        if (image.inside(ic + i, jc + j)) {
          sum += image.at(ic + i, jc + j);
          ++count;
        }
    if (count == 0) {
      c.fallback = true;
      continue;
    }
    const float mean = sum / static_cast<float>(count);
    // Both axes use the same box centre and mean.
    float nx = c.x, ny = c.y;
    if (!centroid_axis(image, ic, jc, mean, true, nx)) c.fallback = true;
    if (!centroid_axis(image, ic, jc, mean, false, ny)) c.fallback = true;
    c.x = nx;
    c.y = ny;
  }
  return c;
}

namespace {

// GETPSF's steps. Each adds the lines it reports to e.notes.

// GETCEN at the start position; the centre follows the centroid.
void refine_centre(ConstImageView image, PsfEstimate& e) {
  const Centroid c = GETCEN(image, e.xcen, e.ycen);
  e.centroid_pixel = std::pair{c.last_ix, c.last_iy};
  e.xcen = c.x;
  e.ycen = c.y;
  e.centroid_fallback = c.fallback;
  if (c.fallback) e.notes.push_back(text_line(kCentroidKept));
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

// The pixels within 3R around the (refined) centre, with the sky-subtracted flux. Every
// pixel of the square box must be on the sample area, whether or not it lies within 3R.
// False when the estimate ends here (too close to the edge, or saturated).
bool collect_flux(ConstImageView image, const PsfRequest& req, PsfEstimate& e) {
  const float xc = e.xcen, yc = e.ycen;
  const int32_t ic = NINT_PIXEL(xc), jc = NINT_PIXEL(yc);
  const float R = req.search_radius;
  const int32_t K = INT(3.0f * R);
  const float r3 = 3.0f * R;
  const float rmax2 = r3 * r3;
  const float satlevel = static_cast<float>(req.saturation);
  float total = 0.0f;
  for (int32_t i = -K - 1; i <= K + 1; ++i)
    for (int32_t j = -K - 1; j <= K + 1; ++j) {
      const int32_t x = ic + i, y = jc + j;
      if (!in_sample_area(image, x, y)) {
        e.notes.push_back(text_line(kTooClose));
        e.too_close_to_edge = true;
        return false;
      }
      const float dx = static_cast<float>(x) - xc, dy = static_cast<float>(y) - yc;
      const float r2 = dx * dx + dy * dy;
      if (r2 >= rmax2) continue;
      const float v = image.at(x, y);
      if (satlevel < v) {
        e.saturated = true;
        return false;
      }
      total += v - e.sky;
      // The lists hold at most kMaxCollected entries; beyond that the last one is replaced.
      if (e.npix < kMaxCollected) {
        ++e.npix;
        e.radii.push_back(std::sqrt(r2));
        e.values.push_back(v);
      } else {
        e.radii.back() = std::sqrt(r2);
        e.values.back() = v;
      }
    }
  e.total = total < e.sky ? 50000.0f : total;
  return true;
}

// The stamp centred on the pixel nearest to the centre.
Image cut_psf_stamp(ConstImageView image, const PsfEstimate& e) {
  const int32_t ic = NINT_PIXEL(e.xcen), jc = NINT_PIXEL(e.ycen);
  Image stamp(kStampSize, kStampSize);
  const int32_t half = kStampSize / 2;
  for (int32_t j = -half; j <= half; ++j)
    for (int32_t i = -half; i <= half; ++i) {
      const int32_t x = ic + i, y = jc + j;
      stamp.at(i + half + 1, j + half + 1) = in_sample_area(image, x, y) ? image.at(x, y) : kStampOffImage;
    }
  return stamp;
}

// The growth curve (the flux enclosed within k R / 20, k = 1 .. 20) as a table, and the
// half-flux radius by linear interpolation in the first ring that passes half the total,
// kept within 10 .. 50 (25 above).
float half_flux_radius(float R, PsfEstimate& e) {
  e.notes.push_back(list_record({"npix = ", e.npix}));
  const float width = R / static_cast<float>(kGrowthRings);
  float radius[kGrowthRings + 1] = {};
  float enclosed[kGrowthRings + 1] = {};
  for (int32_t k = 1; k <= kGrowthRings; ++k) {
    radius[k] = static_cast<float>(k) * R / static_cast<float>(kGrowthRings);
    float s = 0.0f;
    for (int32_t p = 0; p < e.npix; ++p)
      if (e.radii[static_cast<std::size_t>(p)] <= radius[k]) s += e.values[static_cast<std::size_t>(p)] - e.sky;
    enclosed[k] = s;
  }

  float halfrad = kNoHalfRadius;
  bool found = false;
  const float half_total = e.total * 0.5f;
  for (const char* h : kGrowthHeader) e.notes.push_back(text_line(h));
  for (int32_t k = 2; k <= kGrowthRings; ++k) {
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
    if (enclosed[k] < enclosed[k - 1]) {
      e.notes.push_back(text_line(kHaywire));
      e.haywire = true;
      break;
    }
  }
  if (std::isnan(halfrad)) halfrad = kNoHalfRadius;  // non-finite pixels in the collection
  if (halfrad > 50.0f) halfrad = 25.0f;
  if (halfrad < 10.0f) halfrad = 10.0f;
  e.notes.push_back(list_record({"Approximate radius of object = ", halfrad}));
  return halfrad;
}

}  // namespace

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
  if (!collect_flux(image, req, e)) return e;
  e.stamp = cut_psf_stamp(image, e);
  e.deathrad = half_flux_radius(req.search_radius, e);
  return e;
}

}  // namespace zelvo
