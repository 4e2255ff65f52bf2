// The star finder: point sources of a frame, told apart from a galaxy's knots, arms,
// nucleus and other extended objects, as the object list the removals read.
//
// Detection: the frame smoothed with a Gaussian of the stars' width is compared with a
// background and noise measured on a coarse mesh (sigma-clipped per cell, median-filtered
// over 3 x 3 cells and interpolated), so a galaxy's slow light is background. Every local
// maximum of the smoothed frame that stands out becomes a candidate. Each candidate is then
// measured against a plane fitted to an annulus around it: its centre (Gaussian-windowed,
// iterated), its height, its width (windowed second moments), and the sharpness and roundness
// of DAOFIND. A star is at least `threshold` local sigma high and has the width, sharpness,
// roundness and shape of a star. Connected runs of pixels at the saturation level (flat tops,
// bleed columns) are saturated stars (type 2); candidates on them are parts of them.
// Pixel (i, j) is centred at (i, j). Nothing is printed or read here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo {

// Where a star at (x, y) meets its local background, pixels; 0 or less when unknown.
using StarRadiusRule = std::function<float(ConstImageView image, float x, float y)>;

struct FinderRequest {
  float threshold = 5.0f;   // peaks at least this many local sigma above the local background
  float fwhm = 0.0f;        // the stars' FWHM, pixels; 0 or less: measured from the frame
  float saturation = 0.0f;  // pixels at or above it are saturated; 0 or less: none are
  int32_t mesh = 64;        // background mesh cell side, pixels
  // DAOFIND's acceptance ranges.
  float sharp_lo = 0.2f, sharp_hi = 1.0f;
  float round_lo = -1.0f, round_hi = 1.0f;
  // The measured width over the stars' FWHM, and the largest elongation (1 - b/a) of a star.
  // A width_hi of 0 or less is set from the frame's own stars: 1 + three times the relative
  // scatter of their widths, 1.15 at least and 1.3 at most. Each object may exceed it by
  // twice the error its own noise gives its width.
  float width_lo = 0.6f, width_hi = 0.0f;
  float max_elongation = 0.3f;
  // The FWHM measured through a window twice as wide, over the stars': a nucleus's cusp is
  // narrow at its top but its light goes on far beyond a star's.
  float wide_hi = 1.6f;
  // Where a star meets its local background. Empty: no radii are measured, a star's radius is
  // 2.5 FWHM and a saturated star's its flat top's half-width and 2 FWHM; given, saturated
  // stars get theirs from their wings (the rule would stop at the flat top).
  StarRadiusRule radius;
};

// What an object is: a star, a saturated star, or left out for its shape (wider than the
// stars, or sharper than them: a hot pixel or a cosmic ray).
enum class ObjectClass { star, saturated, extended, sharp };

// The catalogue's name of a class: "star", "saturated", "extended", "cosmic ray".
const char* class_name(ObjectClass c);

// One star as the list and the catalogue give it.
struct FoundStar {
  float x = 0.0f, y = 0.0f;  // centre, pixels
  float flux = 0.0f;         // counts above the local background within the radius
  float peak = 0.0f;         // height above the local background, counts (fitted; saturated: highest pixel)
  float fwhm = 0.0f;         // measured width, pixels (0 for saturated stars)
  float sharpness = 0.0f, roundness = 0.0f;  // DAOFIND's (0 for saturated stars)
  float radius = 0.0f;                       // where the star meets its local background, pixels
  float background = 0.0f, noise = 0.0f;     // local background and its sigma, counts
  int32_t type = 1;                          // 1 star, 2 saturated star, 0 left out for its shape
  ObjectClass cls = ObjectClass::star;
  float score = 0.0f;  // 0 .. 1: how well its width and shape agree with the frame's stars
};

enum class FinderStatus { found, empty_frame, no_fwhm };

struct FinderResult {
  FinderStatus status = FinderStatus::found;
  std::vector<FoundStar> stars;  // in order of decreasing peak
  // Not star-like (type 0), by decreasing peak: cosmic rays, and objects at most twice the
  // stars' width and twice the threshold high (knots); the galaxy's faint lumps are only counted.
  std::vector<FoundStar> left_out;
  float fwhm = 0.0f;          // the FWHM used
  float fwhm_scatter = 0.0f;  // relative scatter of the widths of the stars it was measured on
  float width_limit = 0.0f;   // the width_hi used
  bool fwhm_measured = false;
  float sigma = 0.0f;           // median noise of the mesh cells, counts
  int32_t candidates = 0;       // local maxima examined
  int32_t not_star_like = 0;    // of those, refused for their width, shape, sharpness or roundness
  int32_t below_threshold = 0;  // of those, lower than the threshold once measured
};

// Finds the stars of `image` (finite pixels only are used).
FinderResult find_stars(ConstImageView image, const FinderRequest& req);

// Measures the object nearest to (x, y) as a star of the given FWHM (a star the user adds):
// centre, height, width, sharpness, roundness, radius; saturated (type 2) when pixels near
// it reach the saturation level. None when (x, y) lies within 2 pixels of the image edge.
std::optional<FoundStar> measure_star(ConstImageView image, float x, float y, float fwhm, const FinderRequest& req);

}  // namespace zelvo
