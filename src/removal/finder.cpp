#include "removal/finder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <tuple>
#include <utility>

#include "numeric/pixel_values.h"
#include "removal/find_centre.h"

namespace zelvo {

namespace {

constexpr double kFwhmPerSigma = 2.3548200450309493;  // 2 sqrt(2 ln 2)
// The FWHM a first detection pass assumes while the stars' own is measured.
constexpr float kGuessFwhm = 3.0f;
// Objects are measured down to this many pixels from the image edge.
constexpr int32_t kEdgeReach = 2;
// Objects left out for their shape are kept (to be shown) up to this width over the stars'.
constexpr float kShownWidth = 2.0f;
// A width limit set from the frame's stars lies within these bounds (over the stars' FWHM).
constexpr float kLeastWidthLimit = 1.15f, kMostWidthLimit = 1.3f;
// A candidate's excess in the smoothed 2 x 2 binned frame must reach this share of k times
// the binned noise (half the pixel noise): a star of height A gives a binned excess of 0.5 A
// to 0.8 A (as it falls on the bins), which smoothing by its own width brings to 0.28 A to
// 0.45 A, well above 0.2 A; the noise of the smoothed bins is a quarter of the pixel noise.
constexpr float kCandidateShare = 0.4f;
// Stars used to measure the FWHM: this many local sigma high at least.
constexpr float kFwhmStarHeight = 20.0f;

// --- the background mesh ---------------------------------------------------------------

struct Mesh {
  int32_t mx = 0, my = 0;
  std::vector<int32_t> xb, yb;      // cell i spans columns xb[i] .. xb[i + 1] - 1 (1-based)
  std::vector<float> level, sigma;  // per cell, row-major
  std::vector<float> cx, cy;        // cell centres
};

// Clipped mean and spread of one cell's values: start at the median and 1.4826 MAD of at
// most ~100 of them, then clip at 3 sigma about the mean until nothing changes (3 passes);
// the clipping, not the start, fixes the result.
std::pair<float, float> clipped_level(std::vector<float>& v, std::vector<float>& sub) {
  const std::size_t n = v.size();
  const std::size_t step = std::max<std::size_t>(1, (n + 99) / 100);
  sub.clear();
  for (std::size_t k = 0; k < n; k += step) sub.push_back(v[k]);
  auto mid = sub.begin() + static_cast<std::ptrdiff_t>(sub.size() / 2);
  std::nth_element(sub.begin(), mid, sub.end());
  double m = *mid;
  const float m0f = *mid;
  const double m0 = m0f;
  for (float& s : sub) s = std::fabs(s - static_cast<float>(m));
  std::nth_element(sub.begin(), mid, sub.end());
  double sd = 1.4826 * *mid;
  if (!(sd > 0.0)) sd = std::numeric_limits<double>::max() / 16.0;
  std::size_t kept = 0;
  for (int pass = 0; pass < 3; ++pass) {
    const double lo = m - 3.0 * sd, hi = m + 3.0 * sd;
    // Offsets from the starting median, summed as floats in any order (they are a few sigma
    // at most, so float sums of a cell's values lose nothing that matters): vector lanes.
    const float lo_f = static_cast<float>(lo - m0), hi_f = static_cast<float>(hi - m0);
    float a1 = 0.0f, a2 = 0.0f, ac = 0.0f;
    const float* x = v.data();
#pragma omp simd reduction(+ : a1, a2, ac)
    for (std::size_t i = 0; i < n; ++i) {
      const float d = x[i] - m0f;
      const float in = (d >= lo_f) & (d <= hi_f) ? 1.0f : 0.0f;
      const float e = in * d;
      a1 += e;
      a2 += e * e;
      ac += in;
    }
    const double t1 = a1, t2 = a2, tc = ac;
    const std::size_t c = static_cast<std::size_t>(tc);
    if (c < 2) break;
    m = m0 + t1 / tc;
    sd = std::sqrt(std::max(0.0, (t2 - t1 * t1 / tc) / (tc - 1.0)));
    if (c == kept) break;
    kept = c;
  }
  return {static_cast<float>(m), static_cast<float>(sd)};
}

// The median of v, reordering v.
float median_in_place(std::vector<float>& v) {
  if (v.empty()) return std::numeric_limits<float>::quiet_NaN();
  auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

float median_of(std::vector<float> v) { return median_in_place(v); }

// Median over 3 x 3 cells; cells without a value take the median of all cells.
std::vector<float> median_filtered(const std::vector<float>& g, int32_t mx, int32_t my) {
  std::vector<float> finite;
  for (float v : g)
    if (std::isfinite(v)) finite.push_back(v);
  const float fill = finite.empty() ? 0.0f : median_of(finite);
  std::vector<float> out(g.size());
  std::vector<float> w;
  for (int32_t j = 0; j < my; ++j)
    for (int32_t i = 0; i < mx; ++i) {
      w.clear();
      for (int32_t b = std::max(0, j - 1); b <= std::min(my - 1, j + 1); ++b)
        for (int32_t a = std::max(0, i - 1); a <= std::min(mx - 1, i + 1); ++a) {
          const float v = g[static_cast<std::size_t>(b * mx + a)];
          if (std::isfinite(v)) w.push_back(v);
        }
      out[static_cast<std::size_t>(j * mx + i)] = w.empty() ? fill : median_of(w);
    }
  return out;
}

Mesh make_mesh(ConstImageView image, int32_t cell) {
  Mesh m;
  cell = std::max<int32_t>(cell, 8);
  m.mx = std::max<int32_t>(1, image.nx / cell);
  m.my = std::max<int32_t>(1, image.ny / cell);
  for (int32_t i = 0; i <= m.mx; ++i) m.xb.push_back(1 + static_cast<int32_t>(int64_t(i) * image.nx / m.mx));
  for (int32_t j = 0; j <= m.my; ++j) m.yb.push_back(1 + static_cast<int32_t>(int64_t(j) * image.ny / m.my));
  for (int32_t i = 0; i < m.mx; ++i) m.cx.push_back(0.5f * static_cast<float>(m.xb[i] + m.xb[i + 1] - 1));
  for (int32_t j = 0; j < m.my; ++j) m.cy.push_back(0.5f * static_cast<float>(m.yb[j] + m.yb[j + 1] - 1));
  std::vector<float> level(static_cast<std::size_t>(m.mx * m.my)), sigma(level.size());
  std::vector<float> v, sub;
  for (int32_t j = 0; j < m.my; ++j)
    for (int32_t i = 0; i < m.mx; ++i) {
      v.clear();
      // Every other row: a quarter of a cell's pixels fix its level to a tenth of the noise.
      for (int32_t y = m.yb[j]; y < m.yb[j + 1]; y += 2) {
        const float* row = &image.at(1, y);
        for (int32_t x = m.xb[i]; x < m.xb[i + 1]; ++x)
          if (counted_pixel(row[x - 1])) v.push_back(row[x - 1]);
      }
      const std::size_t k = static_cast<std::size_t>(j * m.mx + i);
      if (v.size() < 16) {
        level[k] = sigma[k] = std::numeric_limits<float>::quiet_NaN();
        continue;
      }
      level[k] = clipped_level(v, sub).first;
      // The noise from differences of neighbouring pixels (every fourth pair of every fourth
      // row), robust against a galaxy's slope and curvature inside the cell, which the spread
      // of values is not. It only admits candidates (each is measured against its own
      // annulus), so ~128 differences are enough.
      v.clear();
      for (int32_t y = m.yb[j]; y < m.yb[j + 1]; y += (m.yb[j + 1] - m.yb[j] >= 32 ? 4 : 2)) {
        const float* row = &image.at(1, y);
        for (int32_t x = m.xb[i] + (y & 3); x + 1 < m.xb[i + 1]; x += 2)
          if (counted_pixel(row[x - 1]) && counted_pixel(row[x])) v.push_back(std::fabs(row[x] - row[x - 1]));
      }
      sigma[k] = v.size() < 8 ? std::numeric_limits<float>::quiet_NaN()
                              : static_cast<float>(1.4826 / std::sqrt(2.0)) * median_in_place(v);
    }
  m.level = median_filtered(level, m.mx, m.my);
  m.sigma = median_filtered(sigma, m.mx, m.my);
  return m;
}

// Bilinear interpolation weights between cell centres along one axis, clamped at the ends.
struct AxisWeights {
  std::vector<int32_t> cell;  // the lower cell
  std::vector<float> t;       // weight of the upper one
};
AxisWeights axis_weights(const std::vector<float>& centres, int32_t n) {
  AxisWeights w;
  w.cell.resize(static_cast<std::size_t>(n) + 1);
  w.t.resize(static_cast<std::size_t>(n) + 1);
  const int32_t m = static_cast<int32_t>(centres.size());
  int32_t c = 0;
  for (int32_t p = 1; p <= n; ++p) {
    while (c + 1 < m - 1 && centres[c + 1] <= static_cast<float>(p)) ++c;
    float t = 0.0f;
    if (m > 1) t = std::clamp((static_cast<float>(p) - centres[c]) / (centres[c + 1] - centres[c]), 0.0f, 1.0f);
    w.cell[p] = c;
    w.t[p] = t;
  }
  return w;
}

// Row y of a mesh grid interpolated along y: one value per cell column.
void interpolate_lane(const std::vector<float>& grid, const Mesh& m, const AxisWeights& wy, int32_t y,
                      std::vector<float>& lane) {
  const int32_t j = wy.cell[y];
  const int32_t j1 = std::min(j + 1, m.my - 1);
  const float u = wy.t[y];
  lane.resize(static_cast<std::size_t>(m.mx));
  for (int32_t i = 0; i < m.mx; ++i)
    lane[i] =
        (1.0f - u) * grid[static_cast<std::size_t>(j * m.mx + i)] + u * grid[static_cast<std::size_t>(j1 * m.mx + i)];
}

// Column x of such a lane, interpolated along x.
float interpolate_at(const std::vector<float>& lane, const Mesh& m, const AxisWeights& wx, int32_t x) {
  const int32_t i = wx.cell[x];
  const int32_t i1 = std::min(i + 1, m.mx - 1);
  return (1.0f - wx.t[x]) * lane[i] + wx.t[x] * lane[i1];
}

// --- smoothing and candidates ------------------------------------------------------------

// The frame binned 2 x 2 (means of the finite pixels; NaN where none is): detection works on
// a quarter of the pixels, the measurement on the frame itself.
// Bins with a pixel at or above the saturation level (or an undefined one) are listed in
// `bright`, so that the search for saturated stars reads only those. The bins are held in
// `store`, written once without being cleared first.
ConstImageView binned(ConstImageView image, float level, std::unique_ptr<float[]>& store,
                      std::vector<std::size_t>& bright) {
  const int32_t bx = image.nx / 2, by = image.ny / 2;
  store.reset(new float[static_cast<std::size_t>(bx) * static_cast<std::size_t>(by)]);
  const ImageView b{store.get(), bx, by};
  for (int32_t j = 1; j <= by; ++j) {
    const float* r0 = &image.at(1, 2 * j - 1);
    const float* r1 = &image.at(1, 2 * j);
    float* out = &b.at(1, j);
    for (int32_t i = 0; i < bx; ++i) out[i] = 0.25f * (r0[2 * i] + r0[2 * i + 1] + r1[2 * i] + r1[2 * i + 1]);
    if (level > 0.0f)
      for (int32_t i = 0; i < bx; ++i)
        if (!(std::max(std::max(r0[2 * i], r0[2 * i + 1]), std::max(r1[2 * i], r1[2 * i + 1])) < level))
          bright.push_back(static_cast<std::size_t>(j - 1) * bx + i);
    for (int32_t i = 0; i < bx; ++i) {
      if (counted_pixel(out[i])) continue;
      float sum = 0.0f;
      int n = 0;
      for (const float v : {r0[2 * i], r0[2 * i + 1], r1[2 * i], r1[2 * i + 1]})
        if (counted_pixel(v)) sum += v, ++n;
      out[i] = n ? sum / static_cast<float>(n) : std::numeric_limits<float>::quiet_NaN();
    }
  }
  return b;
}

// The binned frame with `pad` bins beyond each edge mirrored about the edge bin (pad below
// the frame's size), held in `store`.
ConstImageView mirrored(ConstImageView b, int32_t pad, std::unique_ptr<float[]>& store) {
  const int32_t nx = b.nx + 2 * pad, ny = b.ny + 2 * pad;
  store.reset(new float[static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny)]);
  const ImageView out{store.get(), nx, ny};
  const auto fold = [](int32_t k, int32_t n) { return k < 1 ? 2 - k : k > n ? 2 * n - k : k; };
  for (int32_t j = 1; j <= ny; ++j) {
    const float* in = &b.at(1, fold(j - pad, b.ny));
    float* row = &out.at(1, j);
    for (int32_t i = 1; i <= nx; ++i) row[i - 1] = in[fold(i - pad, b.nx) - 1];
  }
  return out;
}

// The mesh of a frame as it lies in that frame mirrored by `pad` bins.
Mesh shifted(Mesh m, int32_t pad) {
  for (int32_t& v : m.xb) v += pad;
  for (int32_t& v : m.yb) v += pad;
  for (float& v : m.cx) v += static_cast<float>(pad);
  for (float& v : m.cy) v += static_cast<float>(pad);
  return m;
}

// One Gaussian of the detection: unit-sum weights of sigma s over -reach..reach.
struct Kernel {
  int32_t reach = 0;
  std::vector<float> w;
  Kernel(float s, int32_t r) : reach(r), w(static_cast<std::size_t>(2 * r + 1)) {
    double sum = 0.0;
    for (int32_t d = -r; d <= r; ++d) sum += w[d + r] = static_cast<float>(std::exp(-0.5 * d * d / (s * s)));
    for (float& x : w) x = static_cast<float>(x / sum);
  }
};

// One row smoothed along x (within `reach` pixels of the ends the pixels stay as they are).
void smooth_row(const float* in, int32_t nx, const Kernel& k, float* out) {
  const int32_t reach = k.reach;
  for (int32_t x = 0; x < std::min(reach, nx); ++x) out[x] = in[x];
  for (int32_t x = std::max(reach, nx - reach); x < nx; ++x) out[x] = in[x];
  if (nx <= 2 * reach) return;
  const int32_t len = nx - 2 * reach;
  float* o = out + reach;
  const float* w = k.w.data();
  for (int32_t x = 0; x < len; ++x) o[x] = w[0] * in[x];
  for (int32_t d = 1; d <= 2 * reach; ++d) {
    const float c = w[d];
    const float* i = in + d;
    for (int32_t x = 0; x < len; ++x) o[x] += c * i[x];
  }
}

// Row y of the rows smoothed along x (ring[r % rows] holds row r) smoothed along y into out;
// within `reach` rows of the top and bottom the rows stay as smoothed along x.
void smooth_column(const std::vector<float>& ring, int32_t rows, int32_t nx, int32_t ny, int32_t y, const Kernel& k,
                   float* out) {
  const int32_t reach = k.reach;
  const auto row = [&](int32_t r) { return ring.data() + static_cast<std::size_t>(r % rows) * nx; };
  if (y < reach || y >= ny - reach) {
    std::copy(row(y), row(y) + nx, out);
    return;
  }
  const float* first = row(y - reach);
  const float w0 = k.w[0];
  for (int32_t x = 0; x < nx; ++x) out[x] = w0 * first[x];
  for (int32_t d = 1; d <= 2 * reach; ++d) {
    const float c = k.w[d];
    const float* in = row(y - reach + d);
    for (int32_t x = 0; x < nx; ++x) out[x] += c * in[x];
  }
}

// The frame smoothed by two unit-sum Gaussians in one sweep (separable; rows are kept only
// while later steps need them, so the sweep stays in the cache): `sm` by the narrow one,
// `peaked` = `sm` less the wide one (whose reach is at least the narrow one's). Within a
// kernel's reach of the edge the pixels stay as they are for that kernel. Non-finite pixels
// count as their cell's background. Once row y + 1 (1-based) is smoothed, `row(y, up, at,
// down, sm)` is called with the rows y - 1, y, y + 1 of `peaked` and row y of `sm`.
template <typename RowFn>
void smoothed_pair(ConstImageView image, const Mesh& mesh, const Kernel& narrow, const Kernel& wide, RowFn&& row) {
  const int32_t nx = image.nx, ny = image.ny;
  const std::size_t n = image.size();
  std::vector<float> clean;
  const float* src = image.px;
  for (std::size_t p = 0; p < n; ++p)
    if (!counted_pixel(src[p])) {
      clean.assign(src, src + n);
      for (std::size_t q = p; q < n; ++q)
        if (!counted_pixel(clean[q])) {
          const int32_t x = static_cast<int32_t>(q % nx) + 1, y = static_cast<int32_t>(q / nx) + 1;
          const int32_t i = std::min<int32_t>(mesh.mx - 1, (x - 1) * mesh.mx / nx);
          const int32_t j = std::min<int32_t>(mesh.my - 1, (y - 1) * mesh.my / ny);
          clean[q] = mesh.level[static_cast<std::size_t>(j * mesh.mx + i)];
        }
      src = clean.data();
      break;
    }
  std::vector<float> sm(3 * static_cast<std::size_t>(nx)), peaked(sm.size());  // rows r % 3
  const int32_t reach = std::max(narrow.reach, wide.reach);
  const int32_t rows = 2 * reach + 1;  // rows y - reach .. y + reach
  std::vector<float> ring_n(static_cast<std::size_t>(rows) * nx), ring_w(ring_n.size()),
      lane(static_cast<std::size_t>(nx));
  int32_t done = 0;  // rows smoothed along x so far
  for (int32_t y = 0; y < ny; ++y) {
    for (; done < std::min(ny, y + reach + 1); ++done) {
      const float* in = src + static_cast<std::size_t>(done) * nx;
      smooth_row(in, nx, narrow, ring_n.data() + static_cast<std::size_t>(done % rows) * nx);
      smooth_row(in, nx, wide, ring_w.data() + static_cast<std::size_t>(done % rows) * nx);
    }
    const auto at = [nx](std::vector<float>& v, int32_t r) { return v.data() + static_cast<std::size_t>(r % 3) * nx; };
    float* s = at(sm, y);
    float* p = at(peaked, y);
    smooth_column(ring_n, rows, nx, ny, y, narrow, s);
    smooth_column(ring_w, rows, nx, ny, y, wide, lane.data());
    for (int32_t x = 0; x < nx; ++x) p[x] = s[x] - lane[x];
    if (y >= 2) row(y, at(peaked, y - 2), at(peaked, y - 1), p, at(sm, y - 1));  // 0-based y - 1 is 1-based y
  }
}

struct Candidate {
  int32_t x, y;
};

// Local maxima of `peaked` (over 3 x 3 pixels, ties to the first in scan order) that stand
// above their surroundings as much as the smoothed frame `sm` must stand above the mesh
// background: an excess over the mesh background reaches share * k * the mesh sigma, at least
// `margin` pixels inside the frame. Fed one row at a time (with its neighbours) by the sweep.
class LocalMaxima {
 public:
  LocalMaxima(const Mesh& mesh, int32_t nx, int32_t ny, float k, int32_t margin)
      : mesh_(mesh),
        wx_(axis_weights(mesh.cx, nx)),
        wy_(axis_weights(mesh.cy, ny)),
        nx_(nx),
        k_(k),
        lo_(std::max(margin, 3)),
        hi_(ny - std::max(margin, 3) + 1) {}

  // Row y (1-based) of `peaked` with the rows above and below it, and row y of `sm`.
  void operator()(int32_t y, const float* up, const float* at, const float* down, const float* sm) {
    if (y < lo_ || y > hi_) return;
    // The mesh is interpolated only where a pixel passes the lowest need of the row.
    interpolate_lane(mesh_.level, mesh_, wy_, y, bg_);
    interpolate_lane(mesh_.sigma, mesh_, wy_, y, sg_);
    const float lowest = *std::min_element(sg_.begin(), sg_.end());
    const bool prefilter = k_ > 0.0f && lowest >= 0.0f;
    const float least = kCandidateShare * k_ * lowest * (1.0f - 1e-5f);  // never above any need of the row
    const float* rows[3] = {up - 1, at - 1, down - 1};                   // rows[.][x], x from 1
    const float* srow = sm - 1;
    const float* row = rows[1];
    for (int32_t x = lo_; x <= nx_ - lo_ + 1; ++x) {
      const float v = row[x];
      if (prefilter && !(v >= least)) continue;
      const float need = kCandidateShare * k_ * interpolate_at(sg_, mesh_, wx_, x);
      if (!(srow[x] - interpolate_at(bg_, mesh_, wx_, x) >= need) || !(v >= need)) continue;
      bool peak = true;
      for (int32_t dy = -1; dy <= 1 && peak; ++dy) {
        const float* r = rows[dy + 1];
        for (int32_t dx = -1; dx <= 1; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const float w = r[x + dx];
          const bool before = dy < 0 || (dy == 0 && dx < 0);
          if (before ? w >= v : w > v) {
            peak = false;
            break;
          }
        }
      }
      if (peak) found_.push_back({x, y});
    }
  }
  const std::vector<Candidate>& found() const { return found_; }

 private:
  const Mesh& mesh_;
  AxisWeights wx_, wy_;
  int32_t nx_;
  float k_;
  int32_t lo_, hi_;
  std::vector<float> bg_, sg_;  // the mesh level and sigma along the row's cell columns
  std::vector<Candidate> found_;
};

// --- measuring one object --------------------------------------------------------------

// A quadratic surface in the offsets (dx, dy) from its centre.
struct Plane {
  double c[6] = {};
  double at(double dx, double dy) const {
    return c[0] + c[1] * dx + c[2] * dy + c[3] * dx * dx + c[4] * dx * dy + c[5] * dy * dy;
  }
};

// A quadratic surface (a galaxy's curvature) fitted to the annulus rin..rout around (xc, yc),
// refitted once after clipping at 3 robust sigma. The spread of the kept pixels about it is `noise`. False
// with fewer than 24 pixels.
// The normal matrix depends only on which offsets are used: around a whole pixel with every
// pixel of the annulus counted it is that of the last such annulus of the same radii (kept per
// thread), and the refit takes the clipped pixels' terms out of the first fit's sums.
bool annulus_plane(ConstImageView image, float xc, float yc, float rin, float rout, Plane& p, float& noise) {
  struct S {
    float dx, dy, v;
  };
  constexpr int T = 6;
  struct Geometry {
    float rin = -1.0f, rout = -1.0f;
    double m[T][T] = {};
  };
  thread_local std::vector<S> s;
  thread_local std::vector<char> keep;
  thread_local std::vector<float> res, kept, some;
  thread_local Geometry cached;
  s.clear();
  const int32_t x0 = static_cast<int32_t>(std::floor(xc - rout)), x1 = static_cast<int32_t>(std::ceil(xc + rout));
  const int32_t y0 = static_cast<int32_t>(std::floor(yc - rout)), y1 = static_cast<int32_t>(std::ceil(yc + rout));
  const bool whole =
      xc == std::floor(xc) && yc == std::floor(yc) && x0 >= 1 && y0 >= 1 && x1 <= image.nx && y1 <= image.ny;
  bool complete = whole;  // every offset of the annulus is used
  for (int32_t y = std::max(1, y0); y <= std::min(image.ny, y1); ++y)
    for (int32_t x = std::max(1, x0); x <= std::min(image.nx, x1); ++x) {
      const float dx = static_cast<float>(x) - xc, dy = static_cast<float>(y) - yc;
      const float r2 = dx * dx + dy * dy;
      if (r2 < rin * rin || r2 > rout * rout) continue;
      const float v = image.at(x, y);
      if (counted_pixel(v))
        s.push_back({dx, dy, v});
      else
        complete = false;
    }
  const double sc = 1.0 / rout;  // offsets scaled for conditioning
  const auto terms = [sc](const S& q, double(&f)[T]) {
    const double u = q.dx * sc, w = q.dy * sc;
    f[0] = 1.0, f[1] = u, f[2] = w, f[3] = u * u, f[4] = u * w, f[5] = w * w;
  };
  // The sums of the first fit: the matrix (upper triangle) and the right-hand side.
  double full[T][T + 1] = {};
  const bool known = complete && cached.rin == rin && cached.rout == rout;
  if (known)
    for (int a = 0; a < T; ++a)
      for (int b = a; b < T; ++b) full[a][b] = cached.m[a][b];
  for (const S& q : s) {
    double f[T];
    terms(q, f);
    for (int a = 0; a < T; ++a) {
      if (!known)
        for (int b = a; b < T; ++b) full[a][b] += f[a] * f[b];
      full[a][T] += f[a] * q.v;
    }
  }
  if (complete && !known) {
    cached.rin = rin, cached.rout = rout;
    for (int a = 0; a < T; ++a)
      for (int b = a; b < T; ++b) cached.m[a][b] = full[a][b];
  }
  keep.assign(s.size(), 1);
  res.resize(s.size());
  std::size_t n = s.size();
  for (int pass = 0; pass < 2; ++pass) {
    double m[T][T + 1];
    std::copy(&full[0][0], &full[0][0] + T * (T + 1), &m[0][0]);
    if (pass == 1)
      for (std::size_t i = 0; i < s.size(); ++i) {
        if (keep[i]) continue;
        double f[T];
        terms(s[i], f);
        for (int a = 0; a < T; ++a) {
          for (int b = a; b < T; ++b) m[a][b] -= f[a] * f[b];
          m[a][T] -= f[a] * s[i].v;
        }
      }
    if (n < 24) return false;
    for (int a = 1; a < T; ++a)  // the normal matrix is symmetric
      for (int b = 0; b < a; ++b) m[a][b] = m[b][a];
    for (int c = 0; c < T; ++c) {  // Gauss-Jordan with partial pivoting
      int piv = c;
      for (int r = c + 1; r < T; ++r)
        if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
      if (std::fabs(m[piv][c]) < 1e-12) return false;
      for (int q = 0; q <= T; ++q) std::swap(m[c][q], m[piv][q]);
      for (int r = 0; r < T; ++r) {
        if (r == c) continue;
        const double f = m[r][c] / m[c][c];
        for (int q = c; q <= T; ++q) m[r][q] -= f * m[c][q];
      }
    }
    const double scale[T] = {1.0, sc, sc, sc * sc, sc * sc, sc * sc};
    for (int c = 0; c < T; ++c) p.c[c] = m[c][T] / m[c][c] * scale[c];
    kept.clear();
    double s2 = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      res[i] = s[i].v - static_cast<float>(p.at(s[i].dx, s[i].dy));
      if (keep[i]) {
        kept.push_back(std::fabs(res[i]));
        s2 += static_cast<double>(res[i]) * res[i];
      }
    }
    noise = static_cast<float>(std::sqrt(s2 / static_cast<double>(std::max<std::size_t>(1, kept.size() - 6))));
    if (pass == 1) break;
    // The robust spread from every third residual: as good a clipping level, a third the work.
    some.clear();
    for (std::size_t i = 0; i < kept.size(); i += 3) some.push_back(kept[i]);
    auto mid = some.begin() + static_cast<std::ptrdiff_t>(some.size() / 2);
    std::nth_element(some.begin(), mid, some.end());
    const float cut = some.empty() ? 0.0f : 3.0f * 1.4826f * *mid;
    if (!(cut > 0.0f)) break;
    bool clipped = false;
    n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      keep[i] = std::fabs(res[i]) <= cut;
      clipped |= !keep[i];
      n += keep[i];
    }
    if (!clipped) break;  // nothing to refit without
  }
  return true;
}

// The pixel noise around (ix, iy) outside radius rin, up to rin + 5: from differences of
// horizontally neighbouring pixels, which a galaxy's slope and curvature hardly touch.
float local_noise(ConstImageView image, int32_t ix, int32_t iy, float rin) {
  const float rout = rin + 5.0f;
  const int32_t h = static_cast<int32_t>(std::ceil(rout));
  std::vector<float> d;
  for (int32_t j = std::max(1, iy - h); j <= std::min(image.ny, iy + h); ++j)
    for (int32_t i = std::max(1, ix - h); i < std::min(image.nx, ix + h); ++i) {
      const float r2 = static_cast<float>((i - ix) * (i - ix) + (j - iy) * (j - iy));
      if (r2 < rin * rin || r2 > rout * rout) continue;
      const float a = image.at(i, j), b = image.at(i + 1, j);
      if (counted_pixel(a) && counted_pixel(b)) d.push_back(std::fabs(b - a));
    }
  if (d.size() < 8) return 0.0f;
  return static_cast<float>(1.4826 / std::sqrt(2.0)) * median_of(std::move(d));
}

// What one object measures as.
struct Measure {
  FoundStar star;
  Plane plane;  // local background, offsets from (plane_x, plane_y)
  float plane_x = 0, plane_y = 0;
  float width_ratio = 0.0f;  // measured FWHM over the stars' FWHM (inf when broader than any)
  float elongation = 0.0f;   // 1 - b/a of the intrinsic second moments
  float wide_ratio = 0.0f;   // the FWHM measured through a window twice as wide, over the stars'

  bool centred = false;    // the windowed centre converged near the start
  bool saturated = false;  // a pixel within 2 pixels reaches the saturation level
};

std::optional<Measure> measure(ConstImageView image, float x0, float y0, float s, const FinderRequest& req) {
  const int32_t h = static_cast<int32_t>(std::ceil(4.0f * s)) + 1;
  const int32_t ix = static_cast<int32_t>(std::lround(x0)), iy = static_cast<int32_t>(std::lround(y0));
  if (ix < 1 + kEdgeReach || iy < 1 + kEdgeReach || ix > image.nx - kEdgeReach || iy > image.ny - kEdgeReach)
    return std::nullopt;
  Measure m;
  const float fwhm = static_cast<float>(kFwhmPerSigma) * s;
  const float rin = std::max(3.0f * fwhm, 6.0f);
  float noise = 0.0f;
  if (!annulus_plane(image, static_cast<float>(ix), static_cast<float>(iy), rin, rin + 5.0f, m.plane, noise))
    return std::nullopt;
  m.plane_x = static_cast<float>(ix);
  m.plane_y = static_cast<float>(iy);
  const int32_t side = 2 * h + 1;
  std::vector<double> d(static_cast<std::size_t>(side * side));
  float highest = -std::numeric_limits<float>::infinity();
  for (int32_t j = -h; j <= h; ++j)
    for (int32_t i = -h; i <= h; ++i) {
      // Beyond the image edge a star is taken as symmetric about its central pixel: the
      // pixel opposite stands in (nothing when that is off the image too).
      const bool in = image.inside(ix + i, iy + j);
      const bool opposite = !in && image.inside(ix - i, iy - j);
      const float v = in ? image.at(ix + i, iy + j) : opposite ? image.at(ix - i, iy - j) : 0.0f;
      const bool used = (in || opposite) && counted_pixel(v);
      d[static_cast<std::size_t>((j + h) * side + i + h)] = used ? v - m.plane.at(in ? i : -i, in ? j : -j) : 0.0;
      if (!in) continue;
      if (i * i + j * j <= 4 && counted_pixel(v)) {
        highest = std::max(highest, v);
        if (req.saturation > 0.0f && v >= req.saturation) m.saturated = true;
      }
    }
  const auto dat = [&](int32_t i, int32_t j) { return d[static_cast<std::size_t>((j + h) * side + i + h)]; };
  const double inv2s2 = 0.5 / (static_cast<double>(s) * s);
  // Gaussian-windowed centre (window of the stars' sigma), Newton steps.
  double cx = x0 - ix, cy = y0 - iy;
  std::vector<double> ex(static_cast<std::size_t>(side)), ey(ex.size()), wx(ex.size()), wy(ex.size());
  m.centred = false;
  for (int it = 0; it < 16; ++it) {
    double sw = 0, sx = 0, sy = 0;
    for (int32_t i = -h; i <= h; ++i) {  // the Gaussian window is separable
      ex[i + h] = std::exp(-(i - cx) * (i - cx) * inv2s2);
      ey[i + h] = std::exp(-(i - cy) * (i - cy) * inv2s2);
    }
    for (int32_t j = -h; j <= h; ++j)
      for (int32_t i = -h; i <= h; ++i) {
        const double ddx = i - cx, ddy = j - cy;
        const double w = ex[i + h] * ey[j + h] * dat(i, j);
        sw += w;
        sx += w * ddx;
        sy += w * ddy;
      }
    if (!(sw > 0.0)) break;
    const double stx = std::clamp(2.0 * sx / sw, -1.0, 1.0), sty = std::clamp(2.0 * sy / sw, -1.0, 1.0);
    cx += stx;
    cy += sty;
    if (std::hypot(cx, cy) > 2.0) break;
    if (std::fabs(stx) < 1e-3 && std::fabs(sty) < 1e-3) {  // a thousandth of a pixel
      m.centred = true;
      break;
    }
  }
  if (!m.centred) cx = x0 - ix, cy = y0 - iy;
  FoundStar& st = m.star;
  st.x = static_cast<float>(ix + cx);
  st.y = static_cast<float>(iy + cy);
  st.background = static_cast<float>(m.plane.at(cx, cy));
  st.noise = noise;  // the annulus's spread about the surface; pixel_noise() is never larger
  // Windowed second moments, height of the best-fitting Gaussian of the stars' width.
  double sw = 0, mxx = 0, myy = 0, mxy = 0, gd = 0, gg = 0, ww = 0, wm = 0;
  const double r2fit = 2.25 * fwhm * fwhm;
  for (int32_t i = -h; i <= h; ++i) {
    ex[i + h] = std::exp(-(i - cx) * (i - cx) * inv2s2);
    ey[i + h] = std::exp(-(i - cy) * (i - cy) * inv2s2);
    wx[i + h] = std::exp(-(i - cx) * (i - cx) * inv2s2 * 0.25);
    wy[i + h] = std::exp(-(i - cy) * (i - cy) * inv2s2 * 0.25);
  }
  for (int32_t j = -h; j <= h; ++j)
    for (int32_t i = -h; i <= h; ++i) {
      const double ddx = i - cx, ddy = j - cy, r2 = ddx * ddx + ddy * ddy;
      const double g = ex[i + h] * ey[j + h];
      const double w = g * dat(i, j);
      sw += w;
      mxx += w * ddx * ddx;
      myy += w * ddy * ddy;
      mxy += w * ddx * ddy;
      const double w4 = wx[i + h] * wy[j + h] * dat(i, j);
      ww += w4;
      wm += w4 * r2 * 0.5;
      if (r2 <= r2fit) {
        gd += g * dat(i, j);
        gg += g * g;
      }
    }
  st.peak = gg > 0 ? static_cast<float>(gd / gg) : 0.0f;
  m.wide_ratio = std::numeric_limits<float>::infinity();
  if (ww > 0.0) {
    const double m2 = wm / ww, w2 = 4.0 * s * s;
    if (m2 > 0.0 && m2 < w2) m.wide_ratio = static_cast<float>(kFwhmPerSigma * std::sqrt(m2 * w2 / (w2 - m2)) / fwhm);
  }
  m.width_ratio = std::numeric_limits<float>::infinity();
  m.elongation = 1.0f;
  if (sw > 0.0) {
    mxx /= sw, myy /= sw, mxy /= sw;
    // Intrinsic moments C from the windowed ones M: C^-1 = M^-1 - W^-1, W = s^2 I.
    const double det = mxx * myy - mxy * mxy;
    if (det > 0.0) {
      const double w2 = static_cast<double>(s) * s;
      const double a = myy / det - 1.0 / w2, b = -mxy / det, c = mxx / det - 1.0 / w2;  // C^-1
      const double dc = a * c - b * b;
      if (a > 0.0 && c > 0.0 && dc > 0.0) {
        const double cxx = c / dc, cyy = a / dc, cxy = -b / dc;
        const double tr = cxx + cyy, dif = std::sqrt((cxx - cyy) * (cxx - cyy) + 4.0 * cxy * cxy);
        const double l1 = 0.5 * (tr + dif), l2 = std::max(0.0, 0.5 * (tr - dif));
        st.fwhm = static_cast<float>(kFwhmPerSigma * std::sqrt(0.5 * tr));
        m.width_ratio = st.fwhm / fwhm;
        m.elongation = static_cast<float>(1.0 - std::sqrt(l2 / l1));
      }
    }
  }
  // DAOFIND's sharpness and roundness about the pixel nearest to the centre.
  const int32_t px = static_cast<int32_t>(std::lround(cx)), py = static_cast<int32_t>(std::lround(cy));
  const float rk = std::max(2.0f, 1.5f * s);
  const int32_t rb = static_cast<int32_t>(rk);
  if (std::abs(px) + rb <= h && std::abs(py) + rb <= h) {
    double sg = 0, sg2 = 0, sgd = 0, sd = 0, n = 0, others = 0;
    for (int32_t j = -rb; j <= rb; ++j)
      for (int32_t i = -rb; i <= rb; ++i) {
        if (i * i + j * j > rk * rk) continue;
        const double g = std::exp(-(i * i + j * j) * inv2s2), v = dat(px + i, py + j);
        sg += g, sg2 += g * g, sgd += g * v, sd += v, n += 1;
        if (i || j) others += v;
      }
    const double conv = (sgd - sg * sd / n) / (sg2 - sg * sg / n);
    st.sharpness = conv > 0 ? static_cast<float>((dat(px, py) - others / (n - 1)) / conv) : -1.0f;
    double hx = 0, hy = 0, g1 = 0, g2 = 0;
    std::array<double, 64> mx{}, my{};
    for (int32_t i = -rb; i <= rb; ++i) {
      const double g = std::exp(-i * i * inv2s2);
      g1 += g, g2 += g * g;
      for (int32_t j = -rb; j <= rb; ++j) {
        mx[i + rb] += dat(px + i, py + j);
        my[i + rb] += dat(px + j, py + i);
      }
    }
    const double nb = 2 * rb + 1;
    double smx = 0, smy = 0;
    for (int32_t i = 0; i < 2 * rb + 1; ++i) smx += mx[i], smy += my[i];
    for (int32_t i = -rb; i <= rb; ++i) {
      const double g = std::exp(-i * i * inv2s2) - g1 / nb;
      hx += g * (mx[i + rb] - smx / nb);
      hy += g * (my[i + rb] - smy / nb);
    }
    st.roundness = (hx + hy) > 0 ? static_cast<float>(2.0 * (hx - hy) / (hx + hy)) : 2.0f;
  } else {
    st.sharpness = -1.0f;
    st.roundness = 2.0f;
  }
  if (m.saturated) st.peak = highest - st.background;
  return m;
}

// The pixel noise around a measured object, from differences of neighbouring pixels in its
// annulus: a galaxy's structure inflates the annulus's spread about the fitted surface, but
// hardly these differences.
float pixel_noise(ConstImageView image, const FoundStar& st, float fwhm) {
  const float n = local_noise(image, static_cast<int32_t>(std::lround(st.x)), static_cast<int32_t>(std::lround(st.y)),
                              std::max(3.0f * fwhm, 6.0f));
  return n > 0.0f ? std::min(n, st.noise) : st.noise;
}

// Sum above the local background of the pixels within r of the centre.
float aperture_flux(ConstImageView image, const Measure& m, float r) {
  double f = 0.0;
  const float x = m.star.x, y = m.star.y;
  for (int32_t j = static_cast<int32_t>(std::floor(y - r)); j <= static_cast<int32_t>(std::ceil(y + r)); ++j)
    for (int32_t i = static_cast<int32_t>(std::floor(x - r)); i <= static_cast<int32_t>(std::ceil(x + r)); ++i) {
      if (!image.inside(i, j)) continue;
      const float dx = static_cast<float>(i) - x, dy = static_cast<float>(j) - y;
      const float v = image.at(i, j);
      if (dx * dx + dy * dy <= r * r && counted_pixel(v)) f += v - m.plane.at(i - m.plane_x, j - m.plane_y);
    }
  return static_cast<float>(f);
}

// True when the light under a peak falls away from it on every side well beyond where the
// peak meets its background: each quarter of a 3-pixel ring at r has a median more than 3 noise
// sigma above the same quarter of the ring at 2r. That is a galaxy's nucleus (or the top of
// another extended object), not a foreground star, which sits on a background that is flat or
// rises towards the galaxy on one side. Rings cut by the image's edge decide nothing.
bool on_a_summit(ConstImageView image, float x, float y, float r, float noise) {
  std::array<std::vector<float>, 4> inner, outer;
  const float r_out = 2.0f * r + 3.0f;
  for (int32_t j = static_cast<int32_t>(std::floor(y - r_out)); j <= static_cast<int32_t>(std::ceil(y + r_out)); ++j)
    for (int32_t i = static_cast<int32_t>(std::floor(x - r_out)); i <= static_cast<int32_t>(std::ceil(x + r_out));
         ++i) {
      const float dx = static_cast<float>(i) - x, dy = static_cast<float>(j) - y;
      const float d = std::sqrt(dx * dx + dy * dy);
      const bool in_inner = d >= r && d < r + 3.0f, in_outer = d >= 2.0f * r && d < r_out;
      if (!in_inner && !in_outer) continue;
      if (!image.inside(i, j) || !counted_pixel(image.at(i, j))) continue;
      const std::size_t q = (dx >= 0.0f ? 0u : 1u) + (dy >= 0.0f ? 0u : 2u);
      (in_inner ? inner : outer)[q].push_back(image.at(i, j));
    }
  for (std::size_t q = 0; q < 4; ++q) {
    if (inner[q].size() < 8 || outer[q].size() < 8) return false;
    if (!(median_of(std::move(inner[q])) - median_of(std::move(outer[q])) > 3.0f * noise)) return false;
  }
  return true;
}

float radius_of(ConstImageView image, float x, float y, float fwhm, const FinderRequest& req) {
  float r = req.radius ? req.radius(image, x, y) : 0.0f;
  if (!(r > 0.0f)) r = 2.5f * fwhm;
  return std::max(r, 3.0f);
}

// The relative error of an object's measured width from its noise: about the inverse of its
// signal-to-noise ratio through a Gaussian of the stars' sigma s (height over noise times
// sqrt(pi) s).
float width_error(const FoundStar& st, float s) {
  if (!(st.peak > 0.0f) || !(st.noise > 0.0f)) return 1.0f;
  return std::min(1.0f, st.noise / (st.peak * std::sqrt(3.14159265f) * s));
}

// How star-like an object's shape is, 0 .. 1: its width's and elongation's departures from a
// star's in units of what the stars' scatter and its own noise allow, as a Gaussian weight.
float shape_score(const Measure& m, float scatter, float s) {
  const float e = width_error(m.star, s);
  const float tol = std::sqrt(scatter * scatter + e * e) + 0.02f;
  if (!std::isfinite(m.width_ratio)) return 0.0f;
  const float zw = (m.width_ratio - 1.0f) / tol, ze = m.elongation / (0.1f + 2.0f * e);
  return std::exp(-0.5f * (zw * zw + ze * ze));
}

// True when the object's light sits in fewer pixels than any star's: its brightest 2 x 2
// pixels hold more of the light of the 4 x 4 around them than a star of sigma s can put there
// (wherever it lies on the pixels), by more than its noise explains. A hot pixel or a cosmic
// ray, never a star. (The 4 x 4 pixels keep a galaxy's structure nearby out of the sum.)
bool too_compact(ConstImageView image, const Measure& m, float s) {
  const FoundStar& st = m.star;
  const int32_t ix = static_cast<int32_t>(std::lround(st.x)), iy = static_cast<int32_t>(std::lround(st.y));
  if (!image.inside(ix - 3, iy - 3) || !image.inside(ix + 3, iy + 3)) return false;
  const auto excess = [&](int32_t x, int32_t y) {
    const float v = image.at(x, y);
    return counted_pixel(v) ? v - static_cast<float>(m.plane.at(x - m.plane_x, y - m.plane_y)) : 0.0f;
  };
  float best = -std::numeric_limits<float>::infinity();
  int32_t bx = ix, by = iy;
  for (int32_t y = iy - 1; y <= iy; ++y)
    for (int32_t x = ix - 1; x <= ix; ++x) {
      const float q = excess(x, y) + excess(x + 1, y) + excess(x, y + 1) + excess(x + 1, y + 1);
      if (q > best) best = q, bx = x, by = y;
    }
  double total = 0.0;
  for (int32_t y = by - 1; y <= by + 2; ++y)
    for (int32_t x = bx - 1; x <= bx + 2; ++x) total += excess(x, y);
  if (!(total > 0.0)) return false;
  // A star centred on a pixel corner puts the most into the 2 x 2 pixels around it,
  // erf(1 / (sqrt(2) s))^2 of its light, and erf(2 / (sqrt(2) s))^2 into the 4 x 4.
  const double two = std::erf(1.0 / (std::sqrt(2.0) * s)), four = std::erf(2.0 / (std::sqrt(2.0) * s));
  const double most = two * two / (four * four);
  const double noise = 4.0 * pixel_noise(image, st, static_cast<float>(kFwhmPerSigma) * s);  // of the 4 x 4 sum
  return best > (most + 0.15) * total + 3.0 * noise;
}

// What a measured object is: a star, or left out as extended or sharp (set in m.star.cls).
bool star_like(ConstImageView image, Measure& m, const FinderRequest& req, float scatter, float limit, float s) {
  FoundStar& st = m.star;
  st.score = shape_score(m, scatter, s);
  const float allowed = limit + 2.0f * width_error(st, s);
  if (m.width_ratio < req.width_lo || st.sharpness > req.sharp_hi || too_compact(image, m, s)) {
    st.cls = ObjectClass::sharp;
    return false;
  }
  st.cls = ObjectClass::extended;
  if (!m.centred || m.width_ratio > allowed || m.elongation > req.max_elongation || m.wide_ratio > req.wide_hi ||
      st.sharpness < req.sharp_lo || st.roundness < req.round_lo || st.roundness > req.round_hi)
    return false;
  st.cls = ObjectClass::star;
  return true;
}

// --- saturated stars ---------------------------------------------------------------------

// Where a saturated star's wings meet the local background: the median of 1-pixel rings,
// from the edge of its flat top outwards, less a surface fitted to an annulus beyond `far`,
// falls within its own error (1.2533 times the annulus's spread about the surface over the
// root of the ring's pixels). (A rule that stops where the rings stop falling would stop at
// the flat top.) None when the wings reach `far`.
std::optional<float> wing_radius_within(ConstImageView image, float x, float y, float start, float far) {
  Plane p;
  float spread = 0.0f;
  if (!annulus_plane(image, x, y, far, far + 6.0f, p, spread)) return std::nullopt;
  const int32_t ix = static_cast<int32_t>(std::lround(x)), iy = static_cast<int32_t>(std::lround(y));
  const float level = spread;  // the annulus's spread about the surface
  const int32_t reach = static_cast<int32_t>(far);
  std::vector<std::vector<float>> rings(static_cast<std::size_t>(reach) + 1);
  for (int32_t j = iy - reach; j <= iy + reach; ++j)
    for (int32_t i = ix - reach; i <= ix + reach; ++i) {
      if (!image.inside(i, j) || !counted_pixel(image.at(i, j))) continue;
      const float dx = static_cast<float>(i) - x, dy = static_cast<float>(j) - y;
      const float r = std::sqrt(dx * dx + dy * dy);
      if (r < start || r >= far) continue;
      rings[static_cast<std::size_t>(r)].push_back(image.at(i, j) - static_cast<float>(p.at(dx, dy)));
    }
  // A ring has reached the background when its median is within its own error of it.
  for (std::size_t r = static_cast<std::size_t>(start); r < rings.size(); ++r)
    if (rings[r].size() >= 4 && median_of(rings[r]) < 1.2533f * level / std::sqrt(static_cast<float>(rings[r].size())))
      return static_cast<float>(r) + 0.5f;
  return std::nullopt;
}

// As above, looking 25 pixels out first and 50 when the wings reach further; 50 at most.
float wing_radius(ConstImageView image, float x, float y, float start) {
  for (const float far : {25.0f, 50.0f})
    if (start < far - 2.0f)
      if (const std::optional<float> r = wing_radius_within(image, x, y, start, far)) return *r;
  return 50.0f;
}

struct SaturatedRun {
  float x = 0, y = 0;      // centre: middle of the widest rows
  int32_t x0, x1, y0, y1;  // bounding box
  float half_width = 0;    // half of the widest row
  float highest = 0;
};

// Connected (8-neighbour) groups of at least 3 pixels at or above the saturation level.
// `bright` lists the 2 x 2 bins (of a frame nx / 2 bins wide) that may hold such pixels; on
// a frame of odd size the last column and row are read too.
std::vector<SaturatedRun> saturated_runs(ConstImageView image, float level, const std::vector<std::size_t>& bright) {
  std::vector<SaturatedRun> out;
  if (!(level > 0.0f)) return out;
  const std::size_t n = image.size();
  std::vector<std::size_t> starts;
  const std::size_t bx = static_cast<std::size_t>(image.nx / 2);
  for (const std::size_t b : bright) {
    const std::size_t x = 2 * (b % bx), y = 2 * (b / bx);
    for (const std::size_t p :
         {y * image.nx + x, y * image.nx + x + 1, (y + 1) * image.nx + x, (y + 1) * image.nx + x + 1})
      starts.push_back(p);
  }
  if (image.nx % 2)
    for (int32_t y = 0; y < image.ny; ++y) starts.push_back(static_cast<std::size_t>(y) * image.nx + image.nx - 1);
  if (image.ny % 2)
    for (int32_t x = 0; x < image.nx; ++x) starts.push_back(static_cast<std::size_t>(image.ny - 1) * image.nx + x);
  // One bit per pixel: an eighth of the fresh memory a byte per pixel would take.
  std::vector<uint64_t> seen_bits;
  const auto seen = [&](std::size_t q) { return (seen_bits[q >> 6] >> (q & 63)) & 1u; };
  const auto see = [&](std::size_t q) { seen_bits[q >> 6] |= uint64_t{1} << (q & 63); };
  std::vector<std::size_t> stack, members;
  for (const std::size_t p : starts) {
    if (!(image.px[p] >= level) || !std::isfinite(image.px[p])) continue;
    if (seen_bits.empty()) seen_bits.assign((n + 63) / 64, 0);
    if (seen(p)) continue;
    members.clear();
    stack.assign(1, p);
    see(p);
    while (!stack.empty()) {
      const std::size_t q = stack.back();
      stack.pop_back();
      members.push_back(q);
      const int32_t x = static_cast<int32_t>(q % image.nx), y = static_cast<int32_t>(q / image.nx);
      for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
          const int32_t a = x + dx, b = y + dy;
          if (a < 0 || b < 0 || a >= image.nx || b >= image.ny) continue;
          const std::size_t r = static_cast<std::size_t>(b) * image.nx + a;
          if (!seen(r) && image.px[r] >= level && std::isfinite(image.px[r])) {
            see(r);
            stack.push_back(r);
          }
        }
    }
    if (members.size() < 3) continue;
    SaturatedRun s{0, 0, image.nx, -1, image.ny, -1, 0, level};
    std::vector<std::pair<int32_t, int32_t>> rows;  // per row: min and max column (1-based)
    for (std::size_t q : members) {
      const int32_t x = static_cast<int32_t>(q % image.nx) + 1, y = static_cast<int32_t>(q / image.nx) + 1;
      s.x0 = std::min(s.x0, x), s.x1 = std::max(s.x1, x), s.y0 = std::min(s.y0, y), s.y1 = std::max(s.y1, y);
      s.highest = std::max(s.highest, image.px[q]);
    }
    rows.assign(static_cast<std::size_t>(s.y1 - s.y0 + 1), {image.nx + 1, 0});
    for (std::size_t q : members) {
      const int32_t x = static_cast<int32_t>(q % image.nx) + 1, y = static_cast<int32_t>(q / image.nx) + 1;
      auto& r = rows[static_cast<std::size_t>(y - s.y0)];
      r.first = std::min(r.first, x), r.second = std::max(r.second, x);
    }
    int32_t widest = 0;
    for (const auto& r : rows) widest = std::max(widest, r.second - r.first + 1);
    double sx = 0, sy = 0, c = 0;
    for (std::size_t k = 0; k < rows.size(); ++k)
      if (rows[k].second - rows[k].first + 1 == widest) {
        sx += 0.5 * (rows[k].first + rows[k].second);
        sy += s.y0 + static_cast<double>(k);
        c += 1;
      }
    s.x = static_cast<float>(sx / c);
    s.y = static_cast<float>(sy / c);
    s.half_width = 0.5f * static_cast<float>(widest);
    out.push_back(s);
  }
  return out;
}

// The FWHM of the brightest isolated unsaturated candidates: each measured with a window
// that follows its own width; the smallest widths that at least three of them share
// (within 30 %) are the stars' (knots and the nucleus are wider).
struct StarWidth {
  float fwhm = 0.0f;
  float scatter = 0.0f;  // relative: the robust spread of the stars' widths over their median
};
StarWidth measure_fwhm(ConstImageView image, const std::vector<Candidate>& cand, const FinderRequest& req) {
  std::vector<float> widths;
  const float s0 = kGuessFwhm / static_cast<float>(kFwhmPerSigma);
  for (std::size_t a = 0; a < cand.size() && widths.size() < 400; ++a) {
    bool isolated = true;
    for (std::size_t b = 0; b < cand.size() && isolated; ++b)
      if (b != a && std::abs(cand[b].x - cand[a].x) < 10 && std::abs(cand[b].y - cand[a].y) < 10) isolated = false;
    if (!isolated) continue;
    float s = s0;
    std::optional<Measure> m;
    for (int it = 0; it < 6; ++it) {
      m = measure(image, static_cast<float>(cand[a].x), static_cast<float>(cand[a].y), s, req);
      if (!m || m->saturated || !m->centred || !std::isfinite(m->width_ratio)) break;
      s = std::clamp(m->star.fwhm / static_cast<float>(kFwhmPerSigma), 0.4f, 8.0f);
    }
    if (!m || m->saturated || !m->centred || !std::isfinite(m->width_ratio)) continue;
    if (m->star.peak < kFwhmStarHeight * m->star.noise || m->elongation > req.max_elongation) continue;
    widths.push_back(s * static_cast<float>(kFwhmPerSigma));
  }
  if (widths.empty()) return {};
  std::sort(widths.begin(), widths.end());
  const std::size_t need = std::min<std::size_t>(3, widths.size());
  std::size_t first = 0, count = widths.size();
  for (std::size_t a = 0; a < widths.size(); ++a) {
    const auto end = std::upper_bound(widths.begin() + a, widths.end(), 1.3f * widths[a]);
    const std::size_t n = static_cast<std::size_t>(end - (widths.begin() + a));
    if (n >= need) {
      first = a, count = n;
      break;
    }
  }
  StarWidth w;
  w.fwhm = widths[first + count / 2];
  std::vector<float> dev;
  for (std::size_t k = first; k < first + count; ++k) dev.push_back(std::fabs(widths[k] - w.fwhm));
  w.scatter = 1.4826f * median_of(dev) / w.fwhm;
  return w;
}

}  // namespace

const char* class_name(ObjectClass c) {
  switch (c) {
    case ObjectClass::star: return "star";
    case ObjectClass::saturated: return "saturated";
    case ObjectClass::extended: return "extended";
    case ObjectClass::sharp: return "cosmic ray";
  }
  return "star";
}

std::optional<FoundStar> measure_star(ConstImageView image, float x, float y, float fwhm, const FinderRequest& req) {
  const float s = fwhm / static_cast<float>(kFwhmPerSigma);
  std::optional<Measure> m = measure(image, x, y, s, req);
  if (!m) return std::nullopt;
  FoundStar st = m->star;
  st.noise = pixel_noise(image, st, fwhm);
  st.type = m->saturated ? 2 : 1;
  st.cls = m->saturated ? ObjectClass::saturated : ObjectClass::star;
  st.score = m->saturated ? 1.0f : shape_score(*m, 0.0f, s);
  st.radius = radius_of(image, st.x, st.y, fwhm, req);
  st.flux = aperture_flux(image, *m, st.radius);
  return st;
}

FinderResult find_stars(ConstImageView image, const FinderRequest& req) {
  FinderResult result;
  if (image.nx < 16 || image.ny < 16) {
    result.status = FinderStatus::empty_frame;
    return result;
  }
  std::vector<std::size_t> bright_bins;
  std::unique_ptr<float[]> bin_store;
  const ConstImageView bins = binned(image, req.saturation, bin_store, bright_bins);
  const Mesh mesh = make_mesh(bins, std::max<int32_t>(req.mesh / 2, 4));
  result.sigma = 2.0f * median_of(mesh.sigma);  // the binned noise is half the pixel noise
  if (!(result.sigma > 0.0f)) {
    result.status = FinderStatus::empty_frame;
    return result;
  }
  const auto detect = [&](float fwhm) {
    const float sb = 0.5f * fwhm / static_cast<float>(kFwhmPerSigma);
    const int32_t reach = std::max<int32_t>(1, static_cast<int32_t>(std::ceil(2.5f * sb)));
    // The peaks are those of the smoothed frame less a three times wider smoothing, which a
    // galaxy's slope does not shift or hide.
    const int32_t wide = static_cast<int32_t>(std::ceil(7.5f * sb));
    // The bins mirrored beyond the edges by more than the wide kernel's reach, so that peaks
    // are found up to the edge bins.
    const int32_t pad = std::min({wide + 2, bins.nx - 1, bins.ny - 1});
    std::unique_ptr<float[]> pad_store;
    const ConstImageView wider = mirrored(bins, pad, pad_store);
    const Mesh wider_mesh = shifted(mesh, pad);
    LocalMaxima maxima(wider_mesh, wider.nx, wider.ny, req.threshold, pad + 1);
    smoothed_pair(wider, wider_mesh, Kernel(sb, reach), Kernel(3.0f * sb, wide), maxima);
    const std::vector<Candidate>& peaks = maxima.found();
    // Each bin's peak: the brightest pixel of the 4 x 4 pixels around the bin.
    std::vector<Candidate> out;
    out.reserve(peaks.size());
    const int32_t margin = kEdgeReach;
    for (const Candidate& wc : peaks) {
      const Candidate c{wc.x - pad, wc.y - pad};
      Candidate best{2 * c.x, 2 * c.y};
      float top = -std::numeric_limits<float>::infinity();
      for (int32_t y = 2 * c.y - 2; y <= 2 * c.y + 1; ++y)
        for (int32_t x = 2 * c.x - 2; x <= 2 * c.x + 1; ++x)
          if (image.inside(x, y) && counted_pixel(image.at(x, y)) && image.at(x, y) > top)
            top = image.at(x, y), best = {x, y};
      if (best.x > margin && best.y > margin && best.x <= image.nx - margin && best.y <= image.ny - margin)
        out.push_back(best);
    }
    return out;
  };
  float fwhm = req.fwhm;
  std::vector<Candidate> cand;
  if (!(fwhm > 0.0f)) {
    cand = detect(kGuessFwhm);
    const StarWidth w = measure_fwhm(image, cand, req);
    fwhm = w.fwhm;
    result.fwhm_scatter = w.scatter;
    if (!(fwhm > 0.0f)) {
      result.status = FinderStatus::no_fwhm;
      return result;
    }
    result.fwhm_measured = true;
    if (std::fabs(fwhm - kGuessFwhm) > 0.1f * kGuessFwhm) cand = detect(fwhm);
  } else {
    cand = detect(fwhm);
  }
  result.fwhm = fwhm;
  const float s = fwhm / static_cast<float>(kFwhmPerSigma);
  result.width_limit = req.width_hi > 0.0f
                           ? req.width_hi
                           : std::clamp(1.0f + 3.0f * result.fwhm_scatter, kLeastWidthLimit, kMostWidthLimit);

  // Saturated stars first: the candidates on them (flat tops, bleed columns, wings) are theirs.
  struct Zone {
    float x, y, r;
    int32_t x0, x1, y0, y1;
  };
  std::vector<Zone> zones;
  for (const SaturatedRun& run : saturated_runs(image, req.saturation, bright_bins)) {
    FoundStar st;
    st.type = 2;
    st.cls = ObjectClass::saturated;
    st.score = 1.0f;
    st.x = run.x;
    st.y = run.y;
    // The wings give the centre: the flat top's widest rows lean towards a bleed.
    {
      Plane far;
      float spread = 0.0f;
      if (annulus_plane(image, run.x, run.y, run.half_width + 12.0f, run.half_width + 18.0f, far, spread))
        if (const std::optional<WingCentre> w = wing_centre(image, run.x, run.y, static_cast<float>(far.c[0]), 1))
          st.x = w->x, st.y = w->y;
    }
    // Where its wings meet the background, when radii are asked for; else its flat top and 2 FWHM.
    st.radius = req.radius ? wing_radius(image, st.x, st.y, run.half_width + 1.0f) : run.half_width + 2.0f * fwhm;
    Measure m;
    m.star = st;
    m.plane_x = st.x, m.plane_y = st.y;
    float noise = 0.0f;
    if (annulus_plane(image, st.x, st.y, st.radius, st.radius + 5.0f, m.plane, noise)) {
      st.background = static_cast<float>(m.plane.c[0]);
      st.noise = noise;
    }
    st.peak = run.highest - st.background;
    st.flux = aperture_flux(image, m, st.radius);
    result.stars.push_back(st);
    // The flat top and the bleed columns are the star's; a star on its wings is a star.
    zones.push_back({st.x, st.y, run.half_width + 3.0f, run.x0 - 3, run.x1 + 3, run.y0 - 3, run.y1 + 3});
  }

  result.candidates = static_cast<int32_t>(cand.size());
  std::vector<FoundStar> found, left_out;
  for (const Candidate& c : cand) {
    bool theirs = false;
    for (const Zone& z : zones)
      if ((c.x >= z.x0 && c.x <= z.x1 && c.y >= z.y0 && c.y <= z.y1) ||
          (c.x - z.x) * (c.x - z.x) + (c.y - z.y) * (c.y - z.y) <= z.r * z.r)
        theirs = true;
    if (theirs) continue;
    std::optional<Measure> m = measure(image, static_cast<float>(c.x), static_cast<float>(c.y), s, req);
    if (!m) continue;
    if (!(m->star.peak >= req.threshold * m->star.noise)) m->star.noise = pixel_noise(image, m->star, fwhm);
    if (!(m->star.peak >= req.threshold * m->star.noise)) {
      ++result.below_threshold;
      continue;
    }
    if (!star_like(image, *m, req, result.fwhm_scatter, result.width_limit, s)) {
      ++result.not_star_like;
      // Kept to be shown: what the user may take for a star (a cosmic ray, or a compact
      // object twice the threshold high), not every faint lump of a galaxy's structure.
      FoundStar st = m->star;
      if (st.cls != ObjectClass::sharp &&
          !(m->width_ratio <= kShownWidth && st.peak >= 2.0f * req.threshold * st.noise))
        continue;
      st.type = 0;
      st.radius = std::max(
          2.5f * fwhm * (std::isfinite(m->width_ratio) ? std::clamp(m->width_ratio, 1.0f, kShownWidth) : 1.0f), 3.0f);
      st.flux = aperture_flux(image, *m, st.radius);
      left_out.push_back(st);
      continue;
    }
    FoundStar st = m->star;
    st.type = 1;
    st.radius = radius_of(image, st.x, st.y, fwhm, req);
    // Judged within a few FWHM: a nucleus's cusp keeps falling far out, and its radius with it.
    if (on_a_summit(image, st.x, st.y, std::clamp(st.radius, 3.0f * fwhm, 4.0f * fwhm), pixel_noise(image, st, fwhm))) {
      ++result.not_star_like;
      continue;
    }
    st.flux = aperture_flux(image, *m, st.radius);
    found.push_back(st);
  }
  // Two peaks of one star (noise on a bright top) come to one centre: the higher stays.
  std::sort(found.begin(), found.end(), [](const FoundStar& a, const FoundStar& b) { return a.peak > b.peak; });
  const float twin_r2 = 0.25f * fwhm * fwhm;
  for (const FoundStar& st : found) {
    bool twin = false;
    for (const FoundStar& k : result.stars)
      if (k.type == 1 && (k.x - st.x) * (k.x - st.x) + (k.y - st.y) * (k.y - st.y) < twin_r2) {
        twin = true;
        break;
      }
    if (!twin) result.stars.push_back(st);
  }
  std::stable_sort(result.stars.begin(), result.stars.end(),
                   [](const FoundStar& a, const FoundStar& b) { return a.peak > b.peak; });
  // Objects left out for their shape, once each (not on a listed star).
  std::sort(left_out.begin(), left_out.end(), [](const FoundStar& a, const FoundStar& b) { return a.peak > b.peak; });
  for (const FoundStar& st : left_out) {
    bool twin = false;
    for (const std::vector<FoundStar>* list : {&result.stars, &result.left_out})
      for (const FoundStar& k : *list)
        if ((k.x - st.x) * (k.x - st.x) + (k.y - st.y) * (k.y - st.y) < twin_r2) twin = true;
    if (!twin) result.left_out.push_back(st);
  }
  return result;
}

}  // namespace zelvo
