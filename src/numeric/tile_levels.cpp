#include "numeric/tile_levels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kBig = std::numeric_limits<float>::max();

// Tile edges along one axis of n pixels: the inner range a..b (possibly empty) and the
// parts before and after it are each cut into tiles of at most `tile` pixels.
void make_edges(int32_t n, int32_t a, int32_t b, int32_t tile, std::vector<int32_t>& edge,
                std::vector<int32_t>& of_pixel) {
  edge.clear();
  const auto cut = [&](int32_t from, int32_t to) {
    for (int32_t s = from; s <= to; s += tile) edge.push_back(s);
  };
  if (a <= b) {
    cut(1, a - 1);
    cut(a, b);
    cut(b + 1, n);
  } else {
    cut(1, n);
  }
  edge.push_back(n + 1);
  of_pixel.assign(static_cast<std::size_t>(n) + 1, 0);  // index 0 unused
  for (std::size_t t = 0; t + 1 < edge.size(); ++t)
    for (int32_t p = edge[t]; p < edge[t + 1]; ++p) of_pixel[static_cast<std::size_t>(p)] = static_cast<int32_t>(t);
}

// The tile range covering pixels a..b of an axis (already cut to it).
int32_t first_tile_at(const std::vector<int32_t>& of_pixel, int32_t p) { return of_pixel[static_cast<std::size_t>(p)]; }

}  // namespace

TileLevels::TileLevels(ConstImageView image, const Box& inner) : image_(image) {
  if (image.empty()) return;
  inner_box_ = inner.clipped(image.nx, image.ny);
  const bool inner_empty = inner_box_.empty();
  if (inner_empty) inner_box_ = Box{};
  make_edges(image.nx, inner_box_.x0, inner_box_.x1, kTile, xedge_, xtile_);
  make_edges(image.ny, inner_box_.y0, inner_box_.y1, kTile, yedge_, ytile_);
  if (!inner_empty) {
    tx0_ = first_tile_at(xtile_, inner_box_.x0);
    tx1_ = first_tile_at(xtile_, inner_box_.x1);
    ty0_ = first_tile_at(ytile_, inner_box_.y0);
    ty1_ = first_tile_at(ytile_, inner_box_.y1);
  }
  const std::size_t tiles = (xedge_.size() - 1) * (yedge_.size() - 1);
  tmax_.assign(tiles, 0.0f);
  tmin_.assign(tiles, 0.0f);
  tsum_.assign(tiles, 0.0);
  tany_.assign(tiles, 0);
  stale_.assign(tiles, 0);
  touched_all();
}

void TileLevels::touched(const Box& area) {
  if (image_.empty()) return;
  const Box cut = area.clipped(image_.nx, image_.ny);
  if (cut.empty()) return;
  const int32_t x0 = cut.x0, x1 = cut.x1, y0 = cut.y0, y1 = cut.y1;
  const std::size_t ntx = xedge_.size() - 1;
  const int32_t a = first_tile_at(xtile_, x0), b = first_tile_at(xtile_, x1);
  for (int32_t ty = first_tile_at(ytile_, y0); ty <= first_tile_at(ytile_, y1); ++ty)
    for (int32_t tx = a; tx <= b; ++tx) {
      const std::size_t t = static_cast<std::size_t>(ty) * ntx + static_cast<std::size_t>(tx);
      if (!stale_[t]) {
        stale_[t] = 1;
        stale_list_.push_back(t);
      }
    }
  totals_ready_ = false;
}

void TileLevels::touched_all() {
  if (image_.empty()) return;
  touched(Box{1, image_.nx, 1, image_.ny});
}

void TileLevels::scan_tile(std::size_t t) {
  const std::size_t ntx = xedge_.size() - 1;
  const std::size_t tx = t % ntx, ty = t / ntx;
  const int32_t xa = xedge_[tx], xb = xedge_[tx + 1] - 1;
  const int32_t ya = yedge_[ty], yb = yedge_[ty + 1] - 1;
  // Eight lanes, lane j taking the pixels j, j + 8, ... of every row, in registers of four
  // floats or two doubles (the baseline vector width). The order is fixed, so the same
  // pixels always give the same bits. Pixels that do not count (counted_pixel, here as the
  // range compare `finite`) add nothing and never win a comparison.
  typedef float F4 __attribute__((vector_size(16)));
  typedef int32_t I4 __attribute__((vector_size(16)));
  typedef double D2 __attribute__((vector_size(16)));
  const F4 big = {kBig, kBig, kBig, kBig};
  F4 hi0 = {-kInf, -kInf, -kInf, -kInf}, hi1 = hi0;
  F4 lo0 = -hi0, lo1 = lo0;
  D2 s0 = {0.0, 0.0}, s1 = s0, s2 = s0, s3 = s0;
  const auto take = [&](F4 x, F4& hi, F4& lo, D2& sa, D2& sb) {
    const I4 finite = (x >= -big) & (x <= big);
    const F4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const F4 v = finite ? x : zero;
    hi = (finite & (x > hi)) ? x : hi;
    lo = (finite & (x < lo)) ? x : lo;
    sa += D2{static_cast<double>(v[0]), static_cast<double>(v[1])};
    sb += D2{static_cast<double>(v[2]), static_cast<double>(v[3])};
  };
  const int32_t w = xb - xa + 1, body = w - w % 8;
  for (int32_t y = ya; y <= yb; ++y) {
    const float* p = &image_.at(xa, y);
    for (int32_t k = 0; k < body; k += 8) {
      F4 a, b;
      std::memcpy(&a, p + k, sizeof a);
      std::memcpy(&b, p + k + 4, sizeof b);
      take(a, hi0, lo0, s0, s1);
      take(b, hi1, lo1, s2, s3);
    }
    if (body < w) {  // the rest of the row, padded with undefined values
      float rest[8];
      for (int j = 0; j < 8; ++j) rest[j] = body + j < w ? p[body + j] : std::nanf("");
      F4 a, b;
      std::memcpy(&a, rest, sizeof a);
      std::memcpy(&b, rest + 4, sizeof b);
      take(a, hi0, lo0, s0, s1);
      take(b, hi1, lo1, s2, s3);
    }
  }
  const double lanes[8] = {s0[0], s0[1], s1[0], s1[1], s2[0], s2[1], s3[0], s3[1]};
  double s = 0.0;
  for (const double lane : lanes) s += lane;
  float h = -kInf, l = kInf;
  for (int j = 0; j < 4; ++j) {
    h = hi0[j] > h ? hi0[j] : h;
    h = hi1[j] > h ? hi1[j] : h;
    l = lo0[j] < l ? lo0[j] : l;
    l = lo1[j] < l ? lo1[j] : l;
  }
  tsum_[t] = s;
  tany_[t] = h >= l ? 1 : 0;  // some finite pixel
  tmax_[t] = h;
  tmin_[t] = l;
}

void TileLevels::refresh() {
  if (totals_ready_) return;
  for (const std::size_t t : stale_list_) {
    scan_tile(t);
    stale_[t] = 0;
  }
  stale_list_.clear();

  const auto fold = [&](FiniteLevels& f, std::size_t t) {
    if (!tany_[t]) return;
    if (!f.any) {
      f = FiniteLevels{true, tmax_[t], tmin_[t]};
      return;
    }
    f.maximum = tmax_[t] > f.maximum ? tmax_[t] : f.maximum;
    f.minimum = tmin_[t] < f.minimum ? tmin_[t] : f.minimum;
  };
  whole_ = FiniteLevels{};
  for (std::size_t t = 0; t < tmax_.size(); ++t) fold(whole_, t);
  inner_ = FiniteLevels{};
  double total = 0.0;
  const std::size_t ntx = xedge_.size() - 1;
  for (int32_t ty = ty0_; ty <= ty1_; ++ty)
    for (int32_t tx = tx0_; tx <= tx1_; ++tx) {
      const std::size_t t = static_cast<std::size_t>(ty) * ntx + static_cast<std::size_t>(tx);
      fold(inner_, t);
      total += tsum_[t];
    }
  inner_sum_ = static_cast<float>(total);
  totals_ready_ = true;
}

FiniteLevels TileLevels::whole() {
  refresh();
  return whole_;
}

FiniteLevels TileLevels::inner() {
  refresh();
  return inner_;
}

float TileLevels::inner_sum() {
  refresh();
  return inner_sum_;
}

}  // namespace zelvo
