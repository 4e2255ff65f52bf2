#include "removal/line_repair.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/pixel_values.h"
#include "numeric/random.h"
#include "removal/log_lines.h"
#include "removal/removal_constants.h"
#include "removal/removal_texts.h"

namespace zelvo {

namespace {

constexpr int32_t kRefNear = 2;  // reference lines lie 2 and 3 lines to each side
constexpr int32_t kRefFar = 3;
constexpr int32_t kNoiseFar = 4;     // the noise comes from lines 2 .. 4 to each side
constexpr int32_t kChooseHalf = 10;  // pixels along the line on each side of the click that choose it
constexpr int32_t kStartSearch = 5;  // the run may start this far along from the click
constexpr int32_t kMedianHalf = 10;  // the running median covers 21 pixels along the line
constexpr float kMedianSigmas = 4.0f;
constexpr int32_t kGap = 3;                      // good pixels bridged inside a run
constexpr int32_t kAlongHalf = 3;                // the background across is fitted over t - 3 .. t + 3
constexpr float kInterpolationVariance = 0.28f;  // its variance at the line, in pixel variances

constexpr std::string_view kLineOffImage = "The click lies outside the image; nothing is repaired.";
constexpr std::string_view kNoReferenceLines =
    "No lines 2 and 3 pixels beside this one lie inside the image; nothing is repaired.";
constexpr std::string_view kNothingStandsOut =
    "No line near the click stands out from its neighbours; nothing is repaired.";

float median_of(std::vector<float>& v) {
  const std::size_t n = v.size();
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n / 2), v.end());
  return v[n / 2];
}

// The image seen along a line: (u, t) is (x, y) for columns and (y, x) for rows, so u counts
// across the lines and t along them.
template <class View>
struct LinesOf {
  View image;
  bool rows;
  int32_t across() const { return rows ? image.ny : image.nx; }
  int32_t along() const { return rows ? image.nx : image.ny; }
  bool inside(int32_t u, int32_t t) const { return u >= 1 && u <= across() && t >= 1 && t <= along(); }
  auto& at(int32_t u, int32_t t) const { return rows ? image.at(t, u) : image.at(u, t); }
  bool counted(int32_t u, int32_t t) const { return inside(u, t) && counted_pixel(at(u, t)); }
};
using Lines = LinesOf<ConstImageView>;

// The background across line u0 near pixel t along it: a surface a + b u + c u^2 + e s fitted
// to the lines at -3, -2 and +2, +3 over the pixels t - 3 .. t + 3 along them (s the offset
// along), so a galaxy's curvature across the line is followed and the noise averages down.
// With one side only: that side's mean. Not ok when no reference pixel lies inside the image.
struct Across {
  double a = 0.0, b = 0.0, c = 0.0;
  bool curved = false;  // both sides: the quadratic; otherwise the constant a
  bool valid = false;
  // The interpolated background at offset k from u0 (-1, 0, 1).
  float at(int32_t k) const { return static_cast<float>(curved ? a + b * k + c * k * k : a); }
  bool ok() const { return valid; }
};

// Solves the n x n system m x = r in place (Gaussian elimination); false when singular.
bool solve(double m[4][4], double r[4], int n) {
  for (int col = 0; col < n; ++col) {
    int piv = col;
    for (int row = col + 1; row < n; ++row)
      if (std::fabs(m[row][col]) > std::fabs(m[piv][col])) piv = row;
    if (!(std::fabs(m[piv][col]) > 1e-9)) return false;
    for (int k = 0; k < n; ++k) std::swap(m[col][k], m[piv][k]);
    std::swap(r[col], r[piv]);
    for (int row = 0; row < n; ++row) {
      if (row == col) continue;
      const double f = m[row][col] / m[col][col];
      for (int k = col; k < n; ++k) m[row][k] -= f * m[col][k];
      r[row] -= f * r[col];
    }
  }
  for (int k = 0; k < n; ++k) r[k] /= m[k][k];
  return true;
}

Across across(const Lines& L, int32_t u0, int32_t t) {
  Across a;
  double m[4][4] = {}, r[4] = {};
  bool left = false, right = false;
  double sum = 0.0;
  int n = 0;
  for (int32_t s = -kAlongHalf; s <= kAlongHalf; ++s)
    for (const int32_t d : {-kRefFar, -kRefNear, kRefNear, kRefFar}) {
      if (!L.counted(u0 + d, t + s)) continue;
      const double v = L.at(u0 + d, t + s);
      const double f[4] = {1.0, static_cast<double>(d), static_cast<double>(d * d), static_cast<double>(s)};
      for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) m[i][j] += f[i] * f[j];
        r[i] += f[i] * v;
      }
      (d < 0 ? left : right) = true;
      sum += v;
      ++n;
    }
  if (n == 0) return a;
  a.valid = true;
  if (left && right && solve(m, r, 4)) {
    a.a = r[0], a.b = r[1], a.c = r[2];
    a.curved = true;
  } else {
    a.a = sum / n;
  }
  return a;
}

// Pixel-to-pixel noise of the lines 2 .. 4 to each side: the robust spread of their second
// differences across the lines, over sqrt(6); a galaxy's gradient does not enter.
float neighbour_noise(const Lines& L, int32_t u0) {
  std::vector<float> d;
  for (int32_t t = 1; t <= L.along(); ++t)
    for (const int32_t side : {-1, 1}) {
      const int32_t a = u0 + side * kRefNear, b = u0 + side * kRefFar, c = u0 + side * kNoiseFar;
      if (L.counted(a, t) && L.counted(b, t) && L.counted(c, t))
        d.push_back(std::fabs(L.at(a, t) - 2.0f * L.at(b, t) + L.at(c, t)));
    }
  if (d.empty()) return 0.0f;
  return 1.4826f * median_of(d) / std::sqrt(6.0f);
}

// How far line u stands out around t0: the median of |pixel - background across| along it.
float stand_out(const Lines& L, int32_t u, int32_t t0) {
  std::vector<float> d;
  for (int32_t t = t0 - kChooseHalf; t <= t0 + kChooseHalf; ++t) {
    if (!L.counted(u, t)) continue;
    const Across a = across(L, u, t);
    if (a.ok()) d.push_back(std::fabs(L.at(u, t) - a.at(0)));
  }
  return d.empty() ? 0.0f : median_of(d);
}

// Line u0 + k (k = -1, 0, 1) against the background across u0, along the whole line: the
// running median of the differences, the scatter of the differences about it, and where the
// median is off (beyond kMedianSigmas of its noise and one pixel scatter).
struct Offsets {
  std::vector<float> diff;    // index t - 1: pixel - background; NaN where not known
  std::vector<float> median;  // index t - 1; NaN where no difference is known
  std::vector<char> off;
  float scatter = 0.0f;
};

Offsets offsets(const Lines& L, int32_t u0, int32_t k) {
  const int32_t n = L.along();
  std::vector<float> d(static_cast<std::size_t>(n), NAN);
  for (int32_t t = 1; t <= n; ++t) {
    if (!L.counted(u0 + k, t)) continue;
    const Across a = across(L, u0, t);
    if (a.ok()) d[static_cast<std::size_t>(t - 1)] = L.at(u0 + k, t) - a.at(k);
  }
  Offsets o;
  o.median.assign(static_cast<std::size_t>(n), NAN);
  o.off.assign(static_cast<std::size_t>(n), 0);
  std::vector<float> w, res;
  for (int32_t t = 1; t <= n; ++t) {
    w.clear();
    for (int32_t s = std::max(1, t - kMedianHalf); s <= std::min(n, t + kMedianHalf); ++s)
      if (std::isfinite(d[static_cast<std::size_t>(s - 1)])) w.push_back(d[static_cast<std::size_t>(s - 1)]);
    if (w.size() < static_cast<std::size_t>(kMedianHalf)) continue;  // too few to tell
    o.median[static_cast<std::size_t>(t - 1)] = median_of(w);
  }
  o.diff = d;
  // The scatter of the differences from their second differences along the line: a smooth
  // change along it (the galaxy beneath a dead line) does not enter.
  for (std::size_t i = 1; i + 1 < d.size(); ++i)
    if (std::isfinite(d[i - 1]) && std::isfinite(d[i]) && std::isfinite(d[i + 1]))
      res.push_back(std::fabs(d[i - 1] - 2.0f * d[i] + d[i + 1]));
  if (res.empty()) return o;
  o.scatter = 1.4826f * median_of(res) / std::sqrt(6.0f);
  // The noise of a median of 2 kMedianHalf + 1 values: 1.2533 sigma / sqrt(n).
  const float limit = std::max(kMedianSigmas * 1.2533f * o.scatter / std::sqrt(2.0f * kMedianHalf + 1.0f), o.scatter);
  for (std::size_t i = 0; i < o.median.size(); ++i)
    o.off[i] = std::isfinite(o.median[i]) && std::fabs(o.median[i]) > limit && o.scatter > 0.0f;
  return o;
}

// Whether a neighbouring line is off at t along with the bad line: its running median off
// by at least half the bad line's offset (a slight offset of its own is the galaxy's).
bool neighbour_off(const Offsets& n, int32_t t, float line_offset) {
  const auto i = static_cast<std::size_t>(t - 1);
  return i < n.off.size() && n.off[i] && std::fabs(n.median[i]) >= 0.5f * std::fabs(line_offset);
}

}  // namespace

LineDefect find_line_defect(ConstImageView image, float xc, float yc, LineAxis axis) {
  LineDefect def;
  def.axis = axis;
  const Lines L{image, axis == LineAxis::row};
  const float uc = L.rows ? yc : xc, tc = L.rows ? xc : yc;
  const auto refuse = [&](std::string_view why) {
    def.refusal = why;
    return def;
  };
  if (image.empty() || !std::isfinite(uc) || !std::isfinite(tc)) return refuse(kLineOffImage);
  const int32_t un = nint_pixel(uc), t0 = nint_pixel(tc);
  if (!L.inside(un, t0)) return refuse(kLineOffImage);

  // The line of the three nearest that stands out most.
  int32_t u0 = un;
  float best = -1.0f;
  for (int32_t u = un - 1; u <= un + 1; ++u) {
    if (!L.inside(u, t0)) continue;
    const float s = stand_out(L, u, t0);
    if (s > best) best = s, u0 = u;
  }
  if (!across(L, u0, t0).ok()) return refuse(kNoReferenceLines);
  const Offsets o = offsets(L, u0, 0);
  const auto bad = [&](int32_t t) { return t >= 1 && t <= L.along() && o.off[static_cast<std::size_t>(t - 1)]; };

  // The run through the click, started within a few pixels of it.
  int32_t start = 0;
  for (int32_t d = 0; d <= kStartSearch && start == 0; ++d) {
    if (bad(t0 - d))
      start = t0 - d;
    else if (bad(t0 + d))
      start = t0 + d;
  }
  if (start == 0) return refuse(kNothingStandsOut);
  const auto extend = [&](int32_t step) {
    int32_t last = start;
    for (int32_t t = start + step, gap = 0; t >= 1 && t <= L.along() && gap <= kGap; t += step) {
      if (bad(t)) {
        last = t;
        gap = 0;
      } else {
        ++gap;
      }
    }
    return last;
  };
  int32_t from = extend(-1), to = extend(1);
  std::vector<float> run;
  for (int32_t t = from; t <= to; ++t)
    if (std::isfinite(o.median[static_cast<std::size_t>(t - 1)]))
      run.push_back(o.median[static_cast<std::size_t>(t - 1)]);
  const float offset = run.empty() ? 0.0f : median_of(run);
  // The median runs on a little beyond a strong run's ends: an end pixel nearer the good
  // level than the run's offset is left out (one pixel tells this only when the offset is
  // well above the noise).
  const bool strong = std::fabs(offset) > 5.0f * o.scatter;
  const auto good = [&](int32_t t) {
    const float dt = o.diff[static_cast<std::size_t>(t - 1)];
    return strong && (!std::isfinite(dt) || std::fabs(dt - offset) > std::fabs(dt));
  };
  while (from < to && good(from)) ++from;
  while (to > from && good(to)) --to;
  // A run shorter than the median's window is a source crossing the line, not a bad line.
  if (to - from + 1 < std::min(2 * kMedianHalf + 1, L.along())) return refuse(kNothingStandsOut);
  def.found = true;
  def.line = u0;
  def.from = from;
  def.to = to;
  def.offset = offset;
  def.sigma = o.scatter;
  for (const int32_t k : {-1, 1}) {
    if (!L.inside(u0 + k, t0)) continue;
    const Offsets n = offsets(L, u0, k);
    for (int32_t t = def.from; t <= def.to; ++t)
      def.neighbours_bad = def.neighbours_bad || neighbour_off(n, t, def.offset);
  }
  return def;
}

SatBarResult repair_line(ImageView image, float xc, float yc, float bgsigma, LineAxis axis, const RemovalContext& ctx) {
  const LineDefect def = find_line_defect(image, xc, yc, axis);
  if (def.found) return repair_line(image, def, xc, yc, bgsigma, ctx);
  SatBarResult res;
  DebugLog debug(ctx.log);
  res.notes.push_back(text_line(def.refusal));
  log_record(debug.out(), {def.refusal});
  return res;
}

SatBarResult repair_line(ImageView image, const LineDefect& def, float xc, float yc, float bgsigma,
                         const RemovalContext& ctx) {
  SatBarResult res;
  DebugLog debug(ctx.log);
  std::ostream& log = debug.out();
  const LinesOf<ImageView> W{image, def.axis == LineAxis::row};
  const Lines L{image, W.rows};
  const int32_t u0 = def.line, tlo = def.from, thi = def.to;
  if (!def.found || !L.inside(u0, tlo) || !L.inside(u0, thi)) {
    res.notes.push_back(text_line(kNothingStandsOut));
    return res;
  }
  const float sigma = neighbour_noise(L, u0);
  // REMOVESATBAR's debug lines: the image's interior maximum and that of the 11 x 11 box.
  float top = 0.0f, boxtop = 0.0f;
  bool any = false, anybox = false;
  for (int32_t y = 1; y <= image.ny; ++y)
    for (int32_t x = 1; x <= image.nx; ++x) {
      const float v = image.at(x, y);
      if (!counted_pixel(v)) continue;
      const bool interior = x >= 10 && x <= image.nx - 10 && y >= 10 && y <= image.ny - 10;
      if (interior && (!any || v > top)) top = v, any = true;
      const bool in_box = std::abs(x - INT(xc)) <= 5 && std::abs(y - INT(yc)) <= 5;
      if (in_box && (!anybox || v > boxtop)) boxtop = v, anybox = true;
    }
  log_record(log, {kMaxvalLead, INT(top)});
  res.saturated = INT(boxtop);
  log_record(log, {kSaturatedLead, res.saturated});

  res.length = thi - tlo + 1;
  log_record(log, {kBarLengthLead, res.length});
  res.notes.push_back(list_record({kBarLengthLead, res.length}));
  const int32_t ulo = std::max(u0 - 1, 1), uhi = std::min(u0 + 1, L.across());
  res.changed = L.rows ? Box{tlo, thi, ulo, uhi} : Box{ulo, uhi, tlo, thi};
  if (L.rows) {
    res.x0 = tlo, res.y0 = u0, res.xbot = tlo, res.xtop = thi, res.ybot = u0, res.ytop = u0;
  } else {
    res.x0 = u0, res.y0 = std::clamp(nint_pixel(yc), tlo, thi), res.xbot = u0, res.xtop = u0, res.ybot = tlo,
    res.ytop = thi;
  }
  for (int32_t y = res.changed.y0; y <= res.changed.y1; ++y)
    for (int32_t x = res.changed.x0; x <= res.changed.x1; ++x) res.saved.push_back(image.at(x, y));

  // A neighbouring line is corrected only where it is off along its length as well.
  const Offsets below = L.inside(u0 - 1, tlo) ? offsets(L, u0, -1) : Offsets{};
  const Offsets above = L.inside(u0 + 1, tlo) ? offsets(L, u0, 1) : Offsets{};
  // The painted noise makes up what the interpolation lacks of the sky's spread.
  const float spread = bgsigma > 0.0f ? bgsigma : sigma;
  for (int32_t t = tlo; t <= thi; ++t) {
    const Across a = across(L, u0, t);
    if (!a.ok()) continue;
    for (const int32_t k : {-1, 1}) {
      // The neighbour's running offset is taken out: a knot on it keeps its shape.
      const Offsets& n = k < 0 ? below : above;
      if (neighbour_off(n, t, def.offset)) W.at(u0 + k, t) -= n.median[static_cast<std::size_t>(t - 1)];
    }
    const double h = kUniformHalfWidthPerSigma * spread * std::sqrt(1.0 - kInterpolationVariance);
    const double noise = ctx.rng.RND(ctx.ranseed, -h, h);
    W.at(u0, t) = static_cast<float>(static_cast<double>(a.at(0)) + noise);
  }
  res.removed = true;
  return res;
}

}  // namespace zelvo
