// Saturated stars: the removal of the vertical saturation bar (bleeding column).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/removal_work.h"

namespace zelvo {

// The band outside which a pixel belongs to the bar.
struct SatBarBand {
  float upper = 0.0f;
  float lower = 0.0f;
};

// Result of REMOVESATBAR, with what it takes to undo it.
struct SatBarResult {
  bool removed = false;            // false: refused, the image is untouched
  SatBarBand band;                 // the band the bar was told by (set once the bar is traced)
  int32_t x0 = 0, y0 = 0;          // bar column and start row
  int32_t xtop = 0, xbot = 0;      // columns where the traces ended
  int32_t ytop = 0, ybot = 0;      // first and last bar rows (ybot <= ytop)
  int32_t length = 0;              // ytop - ybot + 1
  int32_t saturated = 0;           // INT of the largest pixel of the 11 x 11 box around (x0, y0)
  Box changed;                     // columns x0 - 10 .. x0 + 10 of the bar rows, cut to the image
  std::vector<float> saved;        // their values before the removal, row by row
  std::vector<std::string> notes;  // the displacement and bar length (or the refusal), printed
};

// REMOVESATBAR: follows the bar up and down column INT(xc) from row INT(yc) (stepping to a
// neighbour within 2 columns where the column ends) and replaces, on every bar row, the
// offsets -9 .. 9 that stand out from the reference columns (11 to 15 pixels to each side,
// +- 3 bgsigma), widened by one pixel on each side, by the mean of the five pixels beyond
// each widened edge (those of them that stand out left aside) plus uniform noise within
// +- sqrt(3) bgsigma (standard deviation bgsigma). A bar that fills offsets
// 0 .. 9 of a side is widened to offset 10 and filled from offsets 11 .. 15. A pixel belongs
// to the bar outside the band bgmean - 3 bgsigma .. half-way from bgmean to the saturation
// level. Reads and writes only pixels inside the image: missing reference or fill pixels
// are made up from those that exist (the other side, or bgmean). Returns the displacement
// and bar length lines as notes and writes its lines to ctx.log.
SatBarResult REMOVESATBAR(ImageView image, float xc, float yc, float bgmean, float bgsigma, const RemovalContext& ctx);

// Puts back the pixels REMOVESATBAR replaced.
void restore_satbar(const SatBarResult& bar, ImageView image);

}  // namespace zelvo
