#include "removal/satbar.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <span>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "numeric/random.h"
#include "numeric/statistics.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"
#include "removal/removal_texts.h"

namespace zelvo {

namespace {

// REMOVESATBAR: offsets -kBarHalf .. kBarHalf are replaced (and +-kFlagHalf when the bar
// fills a whole side); the reference columns lie kRefNear .. kRefFar pixels to each side; the
// trace may step kTraceStep columns sideways.
constexpr int32_t kBarHalf = 9;
constexpr int32_t kFlagHalf = 10;
constexpr int32_t kRefNear = 11;
constexpr int32_t kRefFar = 15;
constexpr int32_t kTraceStep = 2;
constexpr int32_t kFillWidth = 5;

// Sum and count of the finite inside pixels of columns x1 .. x2 on row y.
struct RowSum {
  float sum = 0.0f;
  int32_t n = 0;
};
RowSum row_sum(ConstImageView image, int32_t x1, int32_t x2, int32_t y) {
  RowSum s;
  for (int32_t x = std::max(x1, 1); x <= std::min(x2, image.nx); ++x) {
    // An undefined pixel (NaN, infinity) is no reference level: it would spread into the fill.
    if (!counted_pixel(image.at(x, y))) continue;
    s.sum += image.at(x, y);
    ++s.n;
  }
  return s;
}

// The median of the finite inside pixels of columns x1 .. x2 on row y (the sky beside a bar,
// which a star partly inside moves less than the mean); false when there is none.
bool reference_level(ConstImageView image, int32_t x1, int32_t x2, int32_t y, float& level) {
  float v[kRefFar - kRefNear + 1];
  int32_t n = 0;
  for (int32_t x = std::max(x1, 1); x <= std::min(x2, image.nx) && n < kRefFar - kRefNear + 1; ++x)
    if (image.inside(x, y) && counted_pixel(image.at(x, y))) v[n++] = image.at(x, y);
  if (n == 0) return false;
  std::sort(v, v + n);
  level = n % 2 ? v[n / 2] : 0.5f * (v[n / 2 - 1] + v[n / 2]);
  return true;
}

// Largest finite pixel of the box cut to the image; false when the cut box holds none.
bool box_maximum(ConstImageView image, Box b, float& top) {
  b = b.clipped(image.nx, image.ny);
  bool any = false;
  for (int32_t y = b.y0; y <= b.y1; ++y)
    for (int32_t x = b.x0; x <= b.x1; ++x) {
      const float v = image.at(x, y);
      if (!counted_pixel(v)) continue;
      if (!any || v > top) top = v;
      any = true;
    }
  return any;
}

// Which pixel belongs to the bar: one inside the image outside the band.
struct BarTest {
  ConstImageView image;
  SatBarBand band;
  bool operator()(int32_t x, int32_t y) const {
    if (!image.inside(x, y)) return false;
    const float v = image.at(x, y);
    return v > band.upper || v < band.lower;
  }
};

// Follows the bar from (x0, y0). Upward: to the first row above the bright run of column
// x0, then on through any of the five columns around x0 as long as the next row has a bar
// pixel there. Downward the mirror image (the trace stays above row 2).
void trace_bar(const BarTest& in_bar, int32_t x0, int32_t y0, SatBarResult& res) {
  const int32_t ny = in_bar.image.ny;
  int32_t ytop = y0, dtop = 0;
  while (ytop < ny && in_bar(x0, ytop)) ++ytop;
  for (bool stepped = true; stepped && ytop < ny;) {
    stepped = false;
    for (int32_t k = -kTraceStep; k <= kTraceStep; ++k)
      if (in_bar(x0 + k, ytop + 1)) {
        dtop = k;
        ++ytop;
        stepped = true;
        break;
      }
  }
  int32_t d = 0, dbot = 0;
  while (y0 - d > 2 && in_bar(x0, y0 - d)) ++d;
  int32_t ybot = y0 - d;
  for (bool stepped = true; stepped && ybot >= 3;) {
    stepped = false;
    for (int32_t k = -kTraceStep; k <= kTraceStep; ++k)
      if (in_bar(x0 + k, ybot - 1)) {
        dbot = k;
        --ybot;
        stepped = true;
        break;
      }
  }
  res.xtop = x0 + dtop;
  res.xbot = x0 + dbot;
  res.ytop = ytop;
  res.ybot = ybot;
}

constexpr int32_t kCells = 2 * kFlagHalf + 1;

// The fill of bar row y at offsets -10 .. 10 (cell k + 10): the local level where the
// pixel is replaced, 0 where it is kept. Reference levels come from beside the bar; a side
// off the image borrows the other side's level.
void bar_row_fill(ConstImageView image, int32_t x0, int32_t y, float bgmean, float bgsigma, float* fill) {
  float A = 0.0f, B = 0.0f;
  const bool has_a = reference_level(image, x0 - kRefFar, x0 - kRefNear, y, A);
  const bool has_b = reference_level(image, x0 + kRefNear, x0 + kRefFar, y, B);
  if (!has_a) A = B;
  if (!has_b) B = A;
  const float three_sigma = 3.0f * bgsigma;
  // A bleed is brighter than the sky beside it; a pixel fainter than that is no part of it.
  const auto outside_band = [&](float v, float ref) { return v > ref + three_sigma; };
  // Whether the pixel at offset k stands out from its side's reference level (offset 0
  // from either side's); pixels off the image never do.
  const auto stands_out = [&](int32_t k) {
    if (!image.inside(x0 + k, y)) return false;
    const float v = image.at(x0 + k, y);
    // The sky under offset k: the line through the two sides' levels (at offsets -13 and 13),
    // so that a galaxy's slope across the bar is not taken for the bleed's spill.
    constexpr float kMid = 0.5f * static_cast<float>(kRefNear + kRefFar);
    return outside_band(v, A + (B - A) * (static_cast<float>(k) + kMid) / (2.0f * kMid));
  };
  int flag[kCells];  // flag[k + kFlagHalf]
  for (int32_t k = -kFlagHalf; k <= kFlagHalf; ++k) flag[k + kFlagHalf] = stands_out(k) ? 1 : 0;
  // The bleed's run on this row: the pixels that stand out around the bar column, or around
  // the nearest that does within the trace's sideways step (a bar that stepped aside).
  int32_t anchor = 0;
  for (int32_t d = 1; d <= kTraceStep && flag[anchor + kFlagHalf] == 0; ++d)
    for (const int32_t k : {d, -d})
      if (flag[anchor + kFlagHalf] == 0 && flag[k + kFlagHalf] == 1) anchor = k;
  // Widened by one pixel on each side; the fill comes from the five pixels beyond each
  // widened edge. A side flagged all the way out to offset 9 has its edge at offset 10,
  // which is then replaced as well.
  int32_t kr = kFlagHalf;
  for (int32_t k = std::max(anchor, 0); k <= kBarHalf; ++k)
    if (flag[k + kFlagHalf] == 0) {
      kr = k;
      break;
    }
  int32_t kl = -kFlagHalf;
  for (int32_t k = std::min(anchor, 0); k >= -kBarHalf; --k)
    if (flag[k + kFlagHalf] == 0) {
      kl = k;
      break;
    }
  // Each side gives half the mean of those of its five pixels that lie inside and do not
  // stand out (for five such pixels: their sum / 10). Leaving out the ones that stand out
  // keeps a bar that steps sideways beyond the edge out of its own fill.
  const auto fill_sum = [&](int32_t k1, int32_t k2) {
    RowSum s;
    for (int32_t k = k1; k <= k2; ++k)
      if (image.inside(x0 + k, y) && !stands_out(k)) {
        s.sum += image.at(x0 + k, y);
        ++s.n;
      }
    return s;
  };
  const RowSum fr = fill_sum(kr + 1, kr + kFillWidth);
  const RowSum fl = fill_sum(kl - kFillWidth, kl - 1);
  const float right = fr.n ? fr.sum / static_cast<float>(2 * fr.n) : 0.0f;
  const float left = fl.n ? fl.sum / static_cast<float>(2 * fl.n) : 0.0f;
  float V = bgmean;
  if (fl.n && fr.n)
    V = left + right;
  else if (fr.n)
    V = 2.0f * right;
  else if (fl.n)
    V = 2.0f * left;
  // Only the bleed's own run (the pixels from the bar column out to the first one on each side
  // that does not stand out) is replaced: a star or a noise peak further along the row is not.
  for (int32_t k = -kFlagHalf; k <= kFlagHalf; ++k) fill[k + kFlagHalf] = k >= kl && k <= kr ? V : 0.0f;
}

// Whether pixel (x, y) stands more than 3 sigma above the sky beside it (the mean of the
// medians of the reference columns on either side).
bool above_sky_beside(ConstImageView image, int32_t x, int32_t y, float bgsigma) {
  if (!image.inside(x, y) || !counted_pixel(image.at(x, y))) return false;
  float a = 0.0f, b = 0.0f;
  const bool has_a = reference_level(image, x - kRefFar, x - kRefNear, y, a);
  const bool has_b = reference_level(image, x + kRefNear, x + kRefFar, y, b);
  if (!has_a && !has_b) return false;
  const float sky = has_a && has_b ? 0.5f * (a + b) : has_a ? a : b;  // a slope across the bar cancels
  return image.at(x, y) > sky + 3.0f * bgsigma;
}

// Carries the bar's ends on along column x0 while the column stands above the sky beside it:
// a bleed fades below the half-saturation level well before it reaches the sky.
void extend_bar(ConstImageView image, int32_t x0, float bgsigma, SatBarResult& res) {
  constexpr int32_t kLongest = 400;
  for (int32_t k = 0; k < kLongest && res.ytop < image.ny && above_sky_beside(image, x0, res.ytop + 1, bgsigma); ++k)
    ++res.ytop;
  for (int32_t k = 0; k < kLongest && res.ybot > 2 && above_sky_beside(image, x0, res.ybot - 1, bgsigma); ++k)
    --res.ybot;
}

// Keeps the values of the pixels the bar removal may change, for the undo.
void save_bar_pixels(ConstImageView image, int32_t x0, SatBarResult& res) {
  res.changed = Box{x0 - kFlagHalf, x0 + kFlagHalf, res.ybot, res.ytop}.clipped(image.nx, image.ny);
  res.saved.reserve(static_cast<std::size_t>(res.changed.x1 - res.changed.x0 + 1) *
                    static_cast<std::size_t>(res.length));
  for (int32_t y = res.changed.y0; y <= res.changed.y1; ++y)
    for (int32_t x = res.changed.x0; x <= res.changed.x1; ++x) res.saved.push_back(image.at(x, y));
}

}  // namespace

SatBarResult REMOVESATBAR(ImageView image, float xc, float yc, float bgmean, float bgsigma, const RemovalContext& ctx) {
  SatBarResult res;
  DebugLog debug(ctx.log);
  std::ostream& log = debug.out();
  const int32_t nx = image.nx, ny = image.ny;
  const int32_t x0 = INT(xc), y0 = INT(yc);
  res.x0 = x0;
  res.y0 = y0;
  const auto refuse = [&](std::string_view text) {
    res.notes.push_back(text_line(text));
    log_record(log, {text});
    return res;
  };
  if (image.empty() || !image.inside(x0, y0)) return refuse(kBarOffImage);
  // Reference columns are the same on every row: an image too narrow for any is refused.
  if (row_sum(image, x0 - kRefFar, x0 - kRefNear, y0).n == 0 && row_sum(image, x0 + kRefNear, x0 + kRefFar, y0).n == 0)
    return refuse(kBarNoReference);

  // The interior maximum is only reported; the level used is that of the box around the bar.
  float top = 0.0f;
  const Box interior = Box{10, nx - 10, 10, ny - 10};
  if (interior.empty() || !box_maximum(image, interior, top)) (void)box_maximum(image, Box{1, nx, 1, ny}, top);
  log_record(log, {kMaxvalLead, INT(top)});
  float boxtop = 0.0f;
  (void)box_maximum(image, Box{x0 - 5, x0 + 5, y0 - 5, y0 + 5}, boxtop);
  res.saturated = INT(boxtop);
  log_record(log, {kSaturatedLead, res.saturated});

  res.band.upper = bgmean + (static_cast<float>(res.saturated) - bgmean) / 2.0f;
  res.band.lower = bgmean - 3.0f * bgsigma;
  trace_bar(BarTest{image, res.band}, x0, y0, res);
  extend_bar(image, x0, bgsigma, res);
  if (res.xbot != res.xtop) {
    res.notes.push_back(list_record({kDisplacementLead, res.xtop - res.xbot}));
    log_record(log, {kDisplacementLead, res.xtop - res.xbot});
  }
  // The bar is treated as straight along column x0.
  const int32_t n = res.ytop - res.ybot + 1;
  res.length = n;
  std::vector<float> fill(static_cast<std::size_t>(n) * kCells, 0.0f);
  for (int32_t r = 0; r < n; ++r)
    bar_row_fill(image, x0, res.ybot + r, bgmean, bgsigma, fill.data() + static_cast<std::size_t>(r) * kCells);

  log_record(log, {kBarLengthLead, n});
  res.notes.push_back(list_record({kBarLengthLead, n}));
  save_bar_pixels(image, x0, res);

  // The bar becomes the local background plus uniform noise whose spread is bgsigma.
  const double h = kUniformHalfWidthPerSigma * static_cast<double>(bgsigma);
  for (int32_t r = 0; r < n; ++r) {
    for (int32_t k = -kFlagHalf; k <= kFlagHalf; ++k) {
      const float v = fill[static_cast<std::size_t>(r) * kCells + static_cast<std::size_t>(k + kFlagHalf)];
      if (v == 0.0f || !image.inside(x0 + k, res.ybot + r)) continue;
      const double noise = ctx.rng.RND(ctx.ranseed, -h, h);
      image.at(x0 + k, res.ybot + r) = static_cast<float>(static_cast<double>(v) + noise);
    }
  }
  res.removed = true;
  return res;
}

void restore_satbar(const SatBarResult& bar, ImageView image) {
  if (!bar.removed || bar.changed.empty()) return;
  std::size_t i = 0;
  for (int32_t y = bar.changed.y0; y <= bar.changed.y1; ++y)
    for (int32_t x = bar.changed.x0; x <= bar.changed.x1; ++x) image.at(x, y) = bar.saved[i++];
}

}  // namespace zelvo
