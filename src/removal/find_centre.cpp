#include "removal/find_centre.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <span>
#include <utility>
#include <vector>

#include "numeric/box.h"
#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "numeric/statistics.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"
#include "removal/removal_texts.h"

namespace zelvo {

namespace {

// FINDCENTRE's sky comes from the 40 faintest of the 101 values of a row.
constexpr int32_t kSkyValues = 40;
constexpr float kProfileMarkerTest = 99999.0f;

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

// Sum of squared differences of the pixel pairs mirrored about (cx, cy) with one pixel in the
// annulus r1 .. r2, both usable; and how many pairs.
std::pair<double, int32_t> asymmetry(ConstImageView image, const std::vector<uint8_t>& bad, const Box& box, float cx,
                                     float cy, float r1, float r2) {
  double sum = 0.0;
  int32_t n = 0;
  const auto usable = [&](int32_t x, int32_t y) {
    return box.contains(x, y) && !bad[static_cast<std::size_t>((y - box.y0) * (box.x1 - box.x0 + 1) + (x - box.x0))];
  };
  const auto value = [&](float x, float y) {  // bilinear between the four pixels around (x, y); NaN when unusable
    const int32_t ix = static_cast<int32_t>(std::floor(x)), iy = static_cast<int32_t>(std::floor(y));
    const float fx = x - static_cast<float>(ix), fy = y - static_cast<float>(iy);
    if (!usable(ix, iy) || !usable(ix + 1, iy) || !usable(ix, iy + 1) || !usable(ix + 1, iy + 1))
      return std::numeric_limits<float>::quiet_NaN();
    return (1.0f - fy) * ((1.0f - fx) * image.at(ix, iy) + fx * image.at(ix + 1, iy)) +
           fy * ((1.0f - fx) * image.at(ix, iy + 1) + fx * image.at(ix + 1, iy + 1));
  };
  const int32_t reach = static_cast<int32_t>(std::ceil(r2));
  const int32_t x0 = static_cast<int32_t>(std::lround(cx)), y0 = static_cast<int32_t>(std::lround(cy));
  for (int32_t y = y0 - reach; y <= y0 + reach; ++y)
    for (int32_t x = x0 - reach; x <= x0 + reach; ++x) {
      const float dx = static_cast<float>(x) - cx, dy = static_cast<float>(y) - cy;
      const float r = std::sqrt(dx * dx + dy * dy);
      if (r < r1 || r > r2 || !usable(x, y)) continue;
      const float w = value(cx - dx, cy - dy);
      if (!std::isfinite(w)) continue;
      const double d = static_cast<double>(image.at(x, y)) - w;
      sum += d * d;
      ++n;
    }
  return {sum, n};
}

}  // namespace

std::optional<WingCentre> wing_centre(ConstImageView image, float xc, float yc, float background, int32_t search) {
  constexpr float kWings = 10.0f;  // the annulus's width beyond the flat top
  const int32_t ix = static_cast<int32_t>(std::lround(xc)), iy = static_cast<int32_t>(std::lround(yc));
  if (image.empty() || !image.inside(ix, iy)) return std::nullopt;
  // The star's highest pixel near the click fixes the half-way level.
  float top = -std::numeric_limits<float>::infinity();
  for (int32_t y = iy - 3; y <= iy + 3; ++y)
    for (int32_t x = ix - 3; x <= ix + 3; ++x)
      if (image.inside(x, y) && counted_pixel(image.at(x, y))) top = std::max(top, image.at(x, y));
  if (!(top > background)) return std::nullopt;
  const float half = background + 0.5f * (top - background);
  // The flat top's extent along the row through the click (the bleed runs along the column).
  float flat = 0.0f;
  for (const int32_t sx : {1, -1}) {
    int32_t k = 0;
    while (k < 60 && image.inside(ix + sx * (k + 1), iy) && image.at(ix + sx * (k + 1), iy) >= half) ++k;
    flat = std::max(flat, static_cast<float>(k));
  }
  const float r1 = flat + 1.5f, r2 = r1 + kWings;
  const int32_t reach = static_cast<int32_t>(std::ceil(r2)) + search + 2;
  const Box box = Box{ix - reach, ix + reach, iy - reach, iy + reach}.clipped(image.nx, image.ny);
  const int32_t w = box.x1 - box.x0 + 1, h = box.y1 - box.y0 + 1;
  std::vector<uint8_t> bad(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  for (int32_t y = box.y0; y <= box.y1; ++y)
    for (int32_t x = box.x0; x <= box.x1; ++x) {
      const float v = image.at(x, y);
      if (!counted_pixel(v)) {
        bad[static_cast<std::size_t>((y - box.y0) * w + (x - box.x0))] = 1;
      } else if (v >= half) {  // the flat top and the bleed, two columns wider on each side
        for (int32_t k = -2; k <= 2; ++k)
          if (x + k >= box.x0 && x + k <= box.x1)
            bad[static_cast<std::size_t>((y - box.y0) * w + (x + k - box.x0))] = 1;
      }
    }
  // The mean squared difference of the pairs about (cx, cy); infinity with too few pairs.
  const auto cost = [&](float cx, float cy) {
    const auto [sum, n] = asymmetry(image, bad, box, cx, cy, r1, r2);
    return n < 40 ? std::numeric_limits<double>::infinity() : sum / static_cast<double>(n);
  };
  // Whole pixels around the click first (the mirrored pixels fall on pixels), then a parabola
  // through three points along each axis in turn, with halving steps.
  float bx = xc, by = yc;
  double best = std::numeric_limits<double>::infinity();
  for (int32_t oy = -search; oy <= search; ++oy)
    for (int32_t ox = -search; ox <= search; ++ox) {
      const float cx = static_cast<float>(ix + ox), cy = static_cast<float>(iy + oy);
      if (const double c = cost(cx, cy); c < best) best = c, bx = cx, by = cy;
    }
  if (!std::isfinite(best)) return std::nullopt;
  for (float step = 0.5f; step > 0.02f; step *= 0.5f)
    for (int axis = 0; axis < 2; ++axis) {
      float& at = axis == 0 ? bx : by;
      const float here = at;
      const auto along = [&](float v) {
        at = v;
        const double c = cost(bx, by);
        at = here;
        return c;
      };
      const double lo = along(here - step), hi = along(here + step);
      if (!std::isfinite(lo) || !std::isfinite(hi)) continue;
      const double curve = lo - 2.0 * best + hi;
      const double t = curve > 0.0 ? std::clamp(0.5 * (lo - hi) / curve, -1.0, 1.0) : (lo < hi ? -1.0 : 1.0);
      const float next = here + static_cast<float>(t) * step;
      const double c = along(next);
      if (c < best) best = c, at = next;
    }
  return WingCentre{bx, by, flat};
}

}  // namespace zelvo
