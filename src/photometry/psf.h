// Centroid and point-spread estimate of a clicked object: sky, flux, stamp, growth curve and
// half-flux radius. Shared by aperture photometry and the remove-features submenu.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "numeric/box.h"
#include "numeric/image_view.h"
#include "numeric/tile_levels.h"

namespace zelvo {

// The central region of an nx x ny image: columns INT(0.1 nx) .. INT(0.9 nx) and rows
// INT(0.1 ny) .. INT(0.9 ny) (single-precision constants, products formed in double, so
// for nx = 100 the columns run from 10 to 89), cut to the image: small images would
// otherwise start at index 0.
Box central_region(int32_t nx, int32_t ny);

// Upper limit for sky samples: 0.95 x the largest finite pixel of the central region
// (0 when the region holds no finite pixel).
float sky_upper_limit(ConstImageView image);

// Saturation level: INT(0.9 x the largest finite pixel of the image), at least 40000.
// A maximum of 44444 gives 40000, one of 60000 gives 53999 (0.9f lies just below 0.9).
// Below that, a frame whose highest value is shared by three pixels or more, two of them side
// by side (a flat top), saturates just under it: ceil(maximum) - 1.
int32_t saturation_level(ConstImageView image);

// A per-tile cache of `image` whose inner region is the central region: it gives the sky
// upper limit, the saturation level and the rough sky without reading the whole image again
// after a local edit (tell it with TileLevels::touched).
TileLevels central_tile_levels(ConstImageView image);

// Rough sky: the finite pixels of the central region summed (per tile, see TileLevels)
// and divided by the area product (0.9 nx - 0.1 nx)(0.9 ny - 0.1 ny), not by their number.
float rough_sky(TileLevels& tiles);
float rough_sky(ConstImageView image);

// The three values above from one cache, each equal to its whole-image computation.
struct ImageLimits {
  float sky_upper = 0.0f;
  int32_t saturation = 40000;
  float rough_sky = 0.0f;
};
ImageLimits image_limits(TileLevels& tiles);

// Where a star meets its local background. The background is a low-order surface (a
// quadratic in the offsets from the centre; a plane when few pixels are left) fitted with
// 3-sigma clipping to an annulus outside the star; the radius is where the median of the
// star's 1-pixel rings, less that surface, falls to within its own error of it (1.25 sigma over
// the square root of the ring's pixels), interpolated between rings, or where the rings, within
// a sigma of the surface, stop falling (by less than a quarter sigma per pixel). The annulus starts at 8 pixels and
// moves outwards, just beyond what the star reached, while the star still reaches to within 2 pixels of it. Pixel (i,
// j) is centred at (i, j). Only pixels inside the image and counted (finite) are used.
struct StarRadius {
  float radius = 0.0f;                   // pixels from (xcen, ycen); 0 when no star stands above the background
  float background = 0.0f;               // the fitted surface at the centre, counts
  float noise = 0.0f;                    // spread of the kept annulus pixels about the surface, counts
  float peak = 0.0f;                     // the highest pixel within 1.5 pixels of the centre, counts
  float slope_x = 0.0f, slope_y = 0.0f;  // gradient of the surface at the centre, counts per pixel
  float annulus_inner = 0.0f, annulus_outer = 0.0f;  // the annulus the surface was fitted to
  // Surface coefficients in the offsets (dx, dy) from the centre:
  // c0 + c1 dx + c2 dy + c3 dx^2 + c4 dx dy + c5 dy^2.
  float surface[6] = {};
  // The star drops to the background inside max_radius, and the annulus held enough pixels.
  bool found = false;
  // The surface at offset (dx, dy) from the centre.
  float background_at(float dx, float dy) const {
    return surface[0] + surface[1] * dx + surface[2] * dy + surface[3] * dx * dx + surface[4] * dx * dy +
           surface[5] * dy * dy;
  }
};
StarRadius star_radius(ConstImageView image, float xcen, float ycen, float max_radius = 40.0f);

// Result of GETCEN.
struct Centroid {
  float x = 0.0f, y = 0.0f;
  // A pass found no column (or no row) summing above the box mean, or no pixel of the box
  // inside the image; that coordinate kept its value from the pass before.
  bool fallback = false;
  // The working pixel of the last pass: the pixel nearest to the centroid at its start.
  int32_t last_ix = 0, last_iy = 0;
};

// GETCEN: centroid of the 9 x 9 box around (startx, starty), three passes, each recentred
// on the pixel nearest to the previous result. Columns and rows weigh by their summed
// excess over the box mean; only positive excesses count. Only pixels inside the image are
// read. The working pixel of the last pass comes back too: the dialogues move the zoom box there.
Centroid GETCEN(ConstImageView image, float startx, float starty);

// What a caller asks of GETPSF.
struct PsfRequest {
  float sky_lower = -50.0f;     // sky samples must lie above this value ...
  float sky_upper = 0.0f;       // ... and below this one (see sky_upper_limit)
  float search_radius = 15.0f;  // R, pixels: flux is collected within 3R
  bool centroid = true;         // refine the centre with GETCEN first
  int32_t saturation = 40000;   // a pixel within 3R above this marks the object saturated
  // The rough sky of the image when the caller has it (see image_limits); computed when not.
  std::optional<float> rough_sky;
};

// Size of the stamp cut around the object (pixels on a side) and the value of its pixels
// that lie off the image.
inline constexpr int32_t kStampSize = 101;
inline constexpr float kStampOffImage = 65000.0f;

// The kStampSize-square cut-out centred on pixel (ic, jc): stamp pixel (i, j) holds image
// pixel (ic + i - 51, jc + j - 51), or kStampOffImage where that pixel lies off the image or
// in its last column or row (outside the area the sky and flux are sampled from).
Image cut_stamp(ConstImageView image, int32_t ic, int32_t jc);
// At most this many collected pixels are kept; later ones overwrite the last entry.
inline constexpr int32_t kMaxCollected = 50000;

// Result of GETPSF. Which fields are filled depends on how far the estimate got:
// an object too close to the edge returns after the sky; a saturated one during the flux
// collection; only a complete run has the stamp, the growth curve and `deathrad`.
struct PsfEstimate {
  float xcen = 0.0f, ycen = 0.0f;  // the centre used (the centroid when one was requested)
  bool centroid_fallback = false;  // GETCEN kept a coordinate (see Centroid::fallback)
  // Set when GETCEN ran: its last working pixel (Centroid::last_ix, last_iy).
  std::optional<std::pair<int32_t, int32_t>> centroid_pixel;
  float rough_sky = 0.0f;  // mean level of the central region
  float sky = 0.0f;        // clipped sky mean (or the rough sky, see GETPSF)
  // Flux within 3R over the local background (0 or below: nothing stands above it); the
  // rough sky after an early return.
  float total = 0.0f;
  bool too_close_to_edge = false;  // the flux box left the image: early return
  bool saturated = false;          // a pixel within 3R exceeded the saturation level
  bool haywire = false;            // the growth curve decreased
  int32_t npix = 0;                // collected pixels (entries of radii and values)
  std::vector<float> radii;        // distance of each collected pixel from the centre
  std::vector<float> values;       // its value
  std::vector<float> backgrounds;  // the local background under it (see GETPSF)
  // Where the star meets its local background (measured once the centre is known).
  StarRadius star;
  // Set when the centroid walked further than 3 pixels: how far (the given centre was kept).
  std::optional<float> centroid_walked;
  Image stamp;  // 101 x 101 cut-out centred on the pixel nearest to the centre
  // The removal radius: where the star meets its local background (at least 3 pixels) when
  // star.found; otherwise the half-flux radius, above 50 (or none) 25.0, below 10 10.0.
  std::optional<float> deathrad;
  // The lines the dialogue prints, in order, each as the command window shows it: the
  // warnings, the sky lines, the growth-curve table and the radius.
  std::vector<std::string> notes;
};

// GETPSF: refines the centre (when asked; a centroid more than 3 pixels from the given
// centre is not taken), estimates the sky over the central region and over the 15 to 25 pixel
// annulus around the object (2.5-sigma clipped), collects the pixels within 3R, cuts the
// stamp, tabulates the growth curve against the local background (a surface fitted to the
// R .. 3R annulus, so a galaxy's slope does not bend it) and leaves the radius where the star
// meets its local background (star_radius) in `deathrad`, or the half-flux radius when it
// does not. Pixels of the last column and row are treated as off the image, as
// are those beyond it; nothing outside the image is read. What it reports is in `notes`.
PsfEstimate GETPSF(ConstImageView image, float xcen, float ycen, const PsfRequest& req);

}  // namespace zelvo
