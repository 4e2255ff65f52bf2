// The largest and smallest finite pixel and the finite sum of an image, kept per tile, so
// that after an edit only the tiles the edit touched are read again.
#pragma once

#include <cstdint>
#include <vector>

#include "numeric/box.h"
#include "numeric/image_view.h"

namespace zelvo {

// Largest and smallest finite pixel of a set of pixels; both 0 when it holds none.
struct FiniteLevels {
  bool any = false;
  float maximum = 0.0f;
  float minimum = 0.0f;
};

// Per-tile maxima, minima and sums of the finite pixels of one image, for an image and an
// inner region of it (the region the sky estimates use). Tiles are at most kTile x kTile
// pixels; their edges fall on the region's edges, so the region is a union of whole tiles.
//
// Whoever changes pixels of the image says where with touched(); the next query reads only
// those tiles again. The sum is kept in double precision (a 32-bit running sum stops
// growing correctly on large frames) and always formed in the same order: within a tile in
// eight lanes of every eighth pixel of its rows (rows upwards), the lanes added in turn,
// then the tiles in order (rows of tiles upwards). So a cache that followed any sequence of
// edits gives exactly the numbers of a fresh one.
class TileLevels {
 public:
  static constexpr int32_t kTile = 64;

  TileLevels() = default;
  // Tiles over `image` (kept as a view: the pixels must stay where they are while the cache
  // is used) with the inner region `inner` (cut to the image; it may be empty). Nothing is
  // read until the first query.
  TileLevels(ConstImageView image, const Box& inner);

  // Whether this cache was made for exactly this pixel array and size.
  bool covers(ConstImageView image) const {
    return image.px == image_.px && image.nx == image_.nx && image.ny == image_.ny;
  }

  // Pixels within `area` may have changed (cut to the image).
  void touched(const Box& area);
  // Every pixel may have changed.
  void touched_all();

  FiniteLevels whole();  // the whole image
  FiniteLevels inner();  // the inner region
  float inner_sum();     // the finite pixels of the inner region, 0 when none

  const ConstImageView& image() const { return image_; }
  std::size_t tile_count() const { return tmax_.size(); }

 private:
  void refresh();
  void scan_tile(std::size_t t);

  ConstImageView image_;
  Box inner_box_;                                    // inner region, cut to the image
  std::vector<int32_t> xedge_, yedge_;               // first pixel of each tile column / row, then nx+1 / ny+1
  std::vector<int32_t> xtile_, ytile_;               // tile column / row of each pixel column / row (0-based)
  int32_t tx0_ = 0, tx1_ = -1, ty0_ = 0, ty1_ = -1;  // inner tiles
  std::vector<float> tmax_, tmin_;
  std::vector<double> tsum_;
  std::vector<uint8_t> tany_, stale_;
  std::vector<std::size_t> stale_list_;
  bool totals_ready_ = false;
  FiniteLevels whole_, inner_;
  float inner_sum_ = 0.0f;
};

}  // namespace zelvo
