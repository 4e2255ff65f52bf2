// Saturated stars: the centre from the bright run along five rows, and the removal of the
// vertical saturation bar (bleeding column).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/removal_work.h"

namespace zelvo {

// Positions along each FINDCENTRE row (position 51 under the click) and the number of rows.
inline constexpr int32_t kProfileLength = 101;
inline constexpr int32_t kProfileRows = 5;
// Profile positions whose column lies off the image hold this value.
inline constexpr float kProfileOffImage = 100000.0f;

enum class CentreStatus {
  ok,
  near_row_edge,  // one of the five rows lies off the image
  few_columns     // fewer than 40 profile positions lie on the image (no sky sample)
};

// Result of FINDCENTRE. Unless ok, only xc, yc (the click) are set.
struct CentreResult {
  CentreStatus status = CentreStatus::ok;
  float xc = 0.0f, yc = 0.0f;  // corrected centre
  float radius = 0.0f;         // half the width of the widest bright run, pixels
  float bgmean = 0.0f;         // sky: mean over the rows of their clipped faint-pixel means
  float bgsigma = 0.0f;        // and of their spreads
  int32_t edge = 0;            // first profile position on the image (> 0), minus the last (< 0), or 0
  std::array<int32_t, kProfileRows> left{}, right{};  // run limits per row, profile positions 1 .. 101
  int32_t best_row = 0;                               // b, 1 .. 5: the row whose run was taken
  float xshift = 0.0f, yshift = 0.0f;
  // The lines the dialogue prints, in order (warnings, the sky lines, or the refusal), each
  // as the command window shows it.
  std::vector<std::string> notes;
  bool ok() const { return status == CentreStatus::ok; }
};

// FINDCENTRE: for the rows INT(yc) - 2 .. INT(yc) + 2 (as INT(i + yc - 3.0)) and the 101
// columns INT(j + xc - 51.0), estimates each row's sky from its 40 faintest values (2-sigma
// clipped), finds the run around position 50 where the 3-point smoothed profile stays at or
// above sky + 2 sigma, picks the widest row and moves (xc, yc) to the run's middle. Returns
// its warnings and sky lines as notes and writes the two shift lines to ctx.log.
// Columns off the image are read as kProfileOffImage; rows off the image and fewer than 40
// positions on the image refuse the star with one message (nothing is measured).
CentreResult FINDCENTRE(ConstImageView image, float xc, float yc, const RemovalContext& ctx);

// The band outside which a pixel belongs to the bar; kept between calls for modes other than 2.
struct SatBarBand {
  float upper = 0.0f;
  float lower = 0.0f;
};

// Result of REMOVESATBAR, with what it takes to undo it.
struct SatBarResult {
  bool removed = false;            // false: refused, the image is untouched
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
// 0 .. 9 of a side is widened to offset 10 and filled from offsets 11 .. 15. Mode 2 sets the band to
// bgmean - 3 bgsigma .. half-way from bgmean to the saturation level; other modes keep
// `band`. Reads and writes only pixels inside the image: missing reference or fill pixels
// are made up from those that exist (the other side, or bgmean). Returns the displacement
// and bar length lines as notes and writes its lines to ctx.log.
SatBarResult REMOVESATBAR(ImageView image, float xc, float yc, float bgmean, float bgsigma, int32_t mode,
                          SatBarBand& band, const RemovalContext& ctx);

// Puts back the pixels REMOVESATBAR replaced.
void restore_satbar(const SatBarResult& bar, ImageView image);

}  // namespace zelvo
