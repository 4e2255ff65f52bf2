// Saturated stars: the centre from the bright run along five rows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "removal/removal_context.h"

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

// The centre of a saturated star from its wings: the point about which the pixels of an
// annulus outside its flat top are most symmetric, pairs with a pixel on the flat top or the
// bleed (at or above half-way from `background` to the star's highest pixel, widened by two
// columns) left out, so that a bleed along one side does not pull it. Searched within `search`
// pixels of (xc, yc); none when too few pairs are left (the star cut by the edge, no wings).
struct WingCentre {
  float x = 0.0f, y = 0.0f;
  float flat_radius = 0.0f;  // the radius the flat top and bleed core reach along the rows, pixels
};
std::optional<WingCentre> wing_centre(ConstImageView image, float xc, float yc, float background, int32_t search = 4);

}  // namespace zelvo
