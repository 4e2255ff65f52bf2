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

// FINDCENTRE's sky comes from the 40 faintest of the 101 values of a row.
constexpr int32_t kSkyValues = 40;
constexpr float kProfileMarkerTest = 99999.0f;

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

}  // namespace

namespace {

// FINDCENTRE's profiles: P(j, i) for the five rows and 101 positions, 1-based in j, its
// 3-point smoothed copy M(j, i) and each row's sky from its 40 faintest values.
struct RowProfiles {
  int32_t rows[kProfileRows];
  int32_t cols[kProfileLength];
  float P[kProfileRows][kProfileLength + 1];
  float M[kProfileRows][kProfileLength + 1];
  AverageSigma S[kProfileRows];
};

// The rows INT(i + yc - 3.0) and columns INT(j + xc - 51.0) of the profiles; the status says
// whether enough of them lie on the image to measure.
CentreStatus place_profiles(ConstImageView image, float xc, float yc, RowProfiles& pr) {
  bool row_inside = true;
  for (int32_t i = 1; i <= kProfileRows; ++i) {
    pr.rows[i - 1] = INT(static_cast<float>(i) + yc - 3.0f);
    if (pr.rows[i - 1] < 1 || pr.rows[i - 1] > image.ny) row_inside = false;
  }
  int32_t inside = 0;
  for (int32_t j = 1; j <= kProfileLength; ++j) {
    pr.cols[j - 1] = INT(static_cast<float>(j) + xc - 51.0f);
    if (pr.cols[j - 1] >= 1 && pr.cols[j - 1] <= image.nx) ++inside;
  }
  if (image.empty() || !row_inside) return CentreStatus::near_row_edge;
  if (inside < kSkyValues) return CentreStatus::few_columns;
  return CentreStatus::ok;
}

// The edge marker of one profile: the first position on the image when the left end is off
// it, minus the last position on the image when the right end is off it, else 0.
int32_t edge_marker(const float* p) {
  for (int32_t j = 1; j <= kProfileLength; ++j) {
    if (p[1] > kProfileMarkerTest && p[j] < kProfileMarkerTest) return j;
    if (p[kProfileLength] > kProfileMarkerTest && p[j] > kProfileMarkerTest) return 1 - j;
  }
  return 0;
}

// Row i's profile (columns off the image read as kProfileOffImage), its sky from the 40
// faintest values clipped at 2 sigma, and its smoothed copy. The edge marker is that of
// the row; the last row's is the one kept.
void measure_row(ConstImageView image, int32_t i, RowProfiles& pr, CentreResult& res) {
  float* p = pr.P[i];
  for (int32_t j = 1; j <= kProfileLength; ++j) {
    const int32_t c = pr.cols[j - 1];
    p[j] = (c >= 1 && c <= image.nx) ? image.at(c, pr.rows[i]) : kProfileOffImage;
  }
  res.edge = edge_marker(p);
  float sorted[kProfileLength];
  std::copy(p + 1, p + kProfileLength + 1, sorted);
  SORT_HEAP(sorted);
  float largest = p[1];
  for (int32_t j = 2; j <= kProfileLength; ++j)
    if (p[j] > largest) largest = p[j];
  if (largest != sorted[kProfileLength - 1]) res.notes.push_back(text_line(kSortAlarm));

  pr.S[i] = AVERAGESIGMA(std::span<const float>(sorted, kSkyValues), 2);
  if (pr.S[i].rejected > 10.0f && pr.S[i].rejected <= 30.0f) res.notes.push_back(text_line(kQuarterRejected));
  if (pr.S[i].rejected > 30.0f) res.notes.push_back(text_line(kThreeQuartersRejected));

  float* m = pr.M[i];
  m[1] = (p[1] + p[2] + p[3]) / 3.0f;
  for (int32_t j = 2; j <= kProfileLength - 1; ++j) m[j] = (p[j - 1] + p[j] + p[j + 1]) / 3.0f;
  m[kProfileLength] = (p[kProfileLength - 2] + p[kProfileLength - 1] + p[kProfileLength]) / 3.0f;
}

// The bright run of each row: from position 50 outwards until four smoothed values in a
// row lie below sky + 2 sigma. A scan that finds no such window keeps 1 (or 101).
void find_bright_runs(const RowProfiles& pr, CentreResult& res) {
  const int32_t L = res.edge > 0 ? res.edge : 1;
  const int32_t R = res.edge < 0 ? -res.edge : kProfileLength;
  for (int32_t i = 0; i < kProfileRows; ++i) {
    if (std::fabs(pr.S[i].clipped_mean - res.bgmean) > res.bgsigma) res.notes.push_back(text_line(kBackgroundVaries));
    const float T = pr.S[i].clipped_mean + 2.0f * pr.S[i].clipped_spread;
    const float* m = pr.M[i];
    res.left[i] = 1;
    res.right[i] = kProfileLength;
    for (int32_t j = 50; j <= R - 3; ++j) {
      if (std::max({m[j], m[j + 1], m[j + 2], m[j + 3]}) < T) {
        res.right[i] = j - 1;
        break;
      }
    }
    for (int32_t j = 50; j >= L + 3; --j) {
      if (std::max({m[j - 3], m[j - 2], m[j - 1], m[j]}) < T) {
        res.left[i] = j + 1;
        break;
      }
    }
  }
}

// The widest row (ties go towards the middle row) and the shift of the centre to the
// middle of its run; the run's half width is the radius.
void centre_on_widest_run(float xc, float yc, CentreResult& res) {
  std::array<int32_t, kProfileRows> w{};
  for (int32_t i = 0; i < kProfileRows; ++i) w[i] = res.right[i] - res.left[i] + 1;
  int32_t b = 0;
  if (w[1] >= w[b]) b = 1;
  if (w[2] >= w[b]) b = 2;
  if (w[3] > w[b]) b = 3;
  if (w[4] > w[b]) b = 4;
  res.best_row = b + 1;

  const int32_t min_left = *std::min_element(res.left.begin(), res.left.end());
  const int32_t max_right = *std::max_element(res.right.begin(), res.right.end());
  if (min_left != res.left[b] || max_right != res.right[b]) res.notes.push_back(text_line(kColumnAsymmetry));

  if (b == 0 || b == kProfileRows - 1) {
    res.notes.push_back(text_line(kRowAsymmetry));
    res.yshift = static_cast<float>(res.best_row - 3);
    // Whole-pixel middle of the run (integer halving, so an odd run is centred exactly).
    res.xshift = static_cast<float>(res.left[b] + w[b] / 2 - 51);
  } else {
    int32_t ends = 0;
    for (int32_t i = b - 1; i <= b + 1; ++i) ends += res.left[i] + res.right[i];
    res.xshift = static_cast<float>(ends) / 6.0f - 51.0f;
    const int32_t spread = (res.right[b + 1] - res.left[b + 1]) - (res.right[b - 1] - res.left[b - 1]);
    res.yshift = static_cast<float>(res.best_row - 3) + static_cast<float>(spread) / 2.0f;
  }
  res.radius = static_cast<float>(w[b]) / 2.0f;
  res.xc = xc + res.xshift;
  res.yc = yc + res.yshift;
}

}  // namespace

CentreResult FINDCENTRE(ConstImageView image, float xc, float yc, const RemovalContext& ctx) {
  CentreResult res;
  res.xc = xc;
  res.yc = yc;
  DebugLog debug(ctx.log);

  RowProfiles pr;
  res.status = place_profiles(image, xc, yc, pr);
  if (!res.ok()) {
    const std::string_view text = res.status == CentreStatus::near_row_edge ? kCentreNearRowEdge : kCentreFewColumns;
    res.notes.push_back(text_line(text));
    log_record(debug.out(), {text});
    return res;
  }
  for (int32_t i = 0; i < kProfileRows; ++i) measure_row(image, i, pr, res);

  float sum_mean = 0.0f, sum_sigma = 0.0f;
  for (const AverageSigma& s : pr.S) {
    sum_mean += s.clipped_mean;
    sum_sigma += s.clipped_spread;
  }
  res.bgmean = sum_mean / static_cast<float>(kProfileRows);
  res.bgsigma = sum_sigma / static_cast<float>(kProfileRows);
  res.notes.push_back(list_record({kFindCentreMeanLead, res.bgmean}));
  res.notes.push_back(list_record({kFindCentreSigmaLead, res.bgsigma}));

  find_bright_runs(pr, res);
  centre_on_widest_run(xc, yc, res);
  log_record(debug.out(), {kXShiftLead, res.xshift});
  log_record(debug.out(), {kYShiftLead, res.yshift});
  return res;
}

namespace {

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
  const RowSum a = row_sum(image, x0 - kRefFar, x0 - kRefNear, y);
  const RowSum b = row_sum(image, x0 + kRefNear, x0 + kRefFar, y);
  float A = a.n ? a.sum / static_cast<float>(a.n) : 0.0f;
  float B = b.n ? b.sum / static_cast<float>(b.n) : 0.0f;
  if (a.n == 0) A = B;
  if (b.n == 0) B = A;
  const float three_sigma = 3.0f * bgsigma;
  const auto outside_band = [&](float v, float ref) { return !(ref - three_sigma <= v && v <= ref + three_sigma); };
  // Whether the pixel at offset k stands out from its side's reference level (offset 0
  // from either side's); pixels off the image never do.
  const auto stands_out = [&](int32_t k) {
    if (!image.inside(x0 + k, y)) return false;
    const float v = image.at(x0 + k, y);
    return outside_band(v, k <= 0 ? A : B) || (k == 0 && outside_band(v, B));
  };
  int flag[kCells];  // flag[k + kFlagHalf]
  for (int32_t k = -kFlagHalf; k <= kFlagHalf; ++k) flag[k + kFlagHalf] = stands_out(k) ? 1 : 0;
  // Widen by one pixel on each side; the fill comes from the five pixels beyond each
  // widened edge. A side flagged all the way out to offset 9 has its edge at offset 10,
  // which is then replaced as well.
  int32_t kr = kFlagHalf;
  for (int32_t k = 0; k <= kBarHalf; ++k)
    if (flag[k + kFlagHalf] == 0) {
      flag[k + kFlagHalf] = 1;
      kr = k;
      break;
    }
  int32_t kl = -kFlagHalf;
  for (int32_t k = 0; k >= -kBarHalf; --k)
    if (flag[k + kFlagHalf] == 0) {
      flag[k + kFlagHalf] = 1;
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
  flag[0] = kl == -kFlagHalf ? 1 : 0;
  flag[2 * kFlagHalf] = kr == kFlagHalf ? 1 : 0;
  for (int32_t k = -kFlagHalf; k <= kFlagHalf; ++k) fill[k + kFlagHalf] = static_cast<float>(flag[k + kFlagHalf]) * V;
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

SatBarResult REMOVESATBAR(ImageView image, float xc, float yc, float bgmean, float bgsigma, int32_t mode,
                          SatBarBand& band, const RemovalContext& ctx) {
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

  if (mode == 2) {
    band.upper = bgmean + (static_cast<float>(res.saturated) - bgmean) / 2.0f;
    band.lower = bgmean - 3.0f * bgsigma;
  }
  trace_bar(BarTest{image, band}, x0, y0, res);
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
