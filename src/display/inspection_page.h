// The removal dialogue's pages: the zoomed area around an object, the inspection page (the
// object's profile above its stamp, with the 10 and 20 pixel circles) and the stamp alone
// after the removal. Drawing only; the dialogue that runs them is session/remove_object.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "display/display.h"
#include "numeric/image_view.h"
#include "numeric/tile_levels.h"
#include "photometry/psf.h"

namespace zelvo {

class Graphics;

// The zoomed area and the stamp reach this far from their centre pixel.
inline constexpr int32_t kAreaHalf = 50;
// The search radius of the removal's point-spread estimate; the profile's sky line reaches
// 1.1 times it.
inline constexpr float kRemovalSearchRadius = 15.0f;

// The centre pixel of the zoomed area.
struct AreaCentre {
  int32_t x = 0, y = 0;
};

// The nearest pixel to (xc, yc), kept 50 pixels inside the image.
AreaCentre area_centre(ConstImageView image, float xc, float yc);

// What the inspection page shows.
struct Inspection {
  std::vector<float> radii, values;  // the profile: pixel values against distance
  float sky = 0.0f;                  // drawn as a line from 0 to 1.1 x the search radius
  float search_radius = kRemovalSearchRadius;
  float lev1 = 0.0f, lev2 = 0.0f;  // profile display levels
  // Set for a star that meets its local background: the page is scaled to that star (its
  // background, noise and peak, and its radius) instead of to the brightest pixel around it.
  std::optional<StarRadius> star;
  bool own_radius = false;  // the radius offered is the star's own (not kept within 19 .. 39)
};

// Profile and levels from the collected pixels of an estimate; with none collected (a
// saturated or edge object) the levels come from the zoomed area.
void take_profile(Inspection& insp, const PsfEstimate& e, ConstImageView image, AreaCentre c);

// The zoomed area on the full-frame viewport, at the levels `shown`.
void draw_area(Graphics& gfx, ConstImageView image, const DisplayState& shown, AreaCentre c);

// The inspection page: the profile out to `radius` + 1 with the sky line above, the stamp
// below with the 10 and 20 pixel circles around (xcen, ycen). The stamp levels are kept
// within the image's data range `range` (this changes insp.lev1 and insp.lev2); grey scale
// and stretch are those of `shown`.
void draw_inspection(Graphics& gfx, ConstImageView image, Inspection& insp, const FiniteLevels& range, float xcen,
                     float ycen, float radius, const DisplayState& shown, AreaCentre c);

// The result page: the stamp alone (cut around c), at the levels `shown`.
void draw_result(Graphics& gfx, const Image& stamp, const DisplayState& shown, AreaCentre c);

}  // namespace zelvo
