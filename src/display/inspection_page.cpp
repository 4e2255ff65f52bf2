#include "display/inspection_page.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "display/circle.h"
#include "numeric/box.h"
#include "numeric/fortran.h"
#include "platform/graphics.h"
#include "removal/object_area.h"

namespace zelvo {

namespace {

constexpr int32_t kStampSide = 2 * kAreaHalf + 1;
static_assert(kStampSide == kStampSize, "the page shows the estimate's stamp size");
// The 10 and 20 pixel circles of the inspection page, and its sky line.
constexpr int kInnerColour = 4;
constexpr int kOuterColour = 2;
constexpr int kSkyLineColour = 3;
// A star's inspection page: levels from this many sigma below its local background, and the
// profile out to this many times its radius (at least kStarProfileLeast pixels).
constexpr float kStarLevelSigmas = 5.0f;
constexpr float kStarProfileTimes = 3.0f;
constexpr float kStarProfileLeast = 10.0f;
// Pixel (i, j) of the stamp is centred on world (i, j).
constexpr std::array<float, 6> kStampTr = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};

// The world window of the area: its 101 x 101 pixels whole, each centred on its index.
void area_window(Graphics& gfx, AreaCentre c) {
  gfx.window(static_cast<float>(c.x - kAreaHalf) - 0.5f, static_cast<float>(c.x + kAreaHalf) + 0.5f,
             static_cast<float>(c.y - kAreaHalf) - 0.5f, static_cast<float>(c.y + kAreaHalf) + 0.5f);
}

void draw_stamp(Graphics& gfx, const Image& stamp, float fg, float bg, const DisplayState& shown) {
  gfx.viewport(0.3f, 0.7f, 0.1f, 0.5f);
  gfx.window_equal_scales(0.5f, static_cast<float>(kStampSide) + 0.5f, 0.5f, static_cast<float>(kStampSide) + 0.5f);
  gfx.image(stamp.view(), Box{1, kStampSide, 1, kStampSide}, fg, bg, kStampTr, shown.greyflag == 1, shown.stretch);
}

}  // namespace

AreaCentre area_centre(ConstImageView image, float xc, float yc) {
  AreaCentre c{nint_pixel(xc), nint_pixel(yc)};
  if (c.x > image.nx - kAreaHalf) c.x = image.nx - kAreaHalf;
  if (c.y > image.ny - kAreaHalf) c.y = image.ny - kAreaHalf;
  if (c.x < kAreaHalf) c.x = kAreaHalf;
  if (c.y < kAreaHalf) c.y = kAreaHalf;
  return c;
}

void take_profile(Inspection& insp, const PsfEstimate& e, ConstImageView image, AreaCentre c) {
  insp.radii = e.radii;
  insp.values = e.values;
  insp.sky = e.sky;
  if (e.star.found && e.star.peak > e.star.background) {
    // From a few sigma below the star's local background to a tenth above its peak.
    insp.star = e.star;
    insp.sky = e.star.background;
    insp.lev1 = e.star.background - kStarLevelSigmas * std::max(e.star.noise, 1.0f);
    insp.lev2 = e.star.peak + (e.star.peak - insp.lev1) / 10.0f;
    return;
  }
  if (widened_range(insp.values, insp.lev1, insp.lev2)) return;
  std::vector<float> area;
  const Box b = Box{c.x - kAreaHalf, c.x + kAreaHalf, c.y - kAreaHalf, c.y + kAreaHalf}.clipped(image.nx, image.ny);
  for (int32_t y = b.y0; y <= b.y1; ++y)
    for (int32_t x = b.x0; x <= b.x1; ++x) area.push_back(image.at(x, y));
  (void)widened_range(area, insp.lev1, insp.lev2);
}

void draw_area(Graphics& gfx, ConstImageView image, const DisplayState& shown, AreaCentre c) {
  gfx.focus();
  gfx.erase();
  gfx.viewport(0.1f, 0.9f, 0.1f, 0.9f);
  // Square pixels: the largest centred square of the frame.
  gfx.window_equal_scales(static_cast<float>(c.x - kAreaHalf) - 0.5f, static_cast<float>(c.x + kAreaHalf) + 0.5f,
                          static_cast<float>(c.y - kAreaHalf) - 0.5f, static_cast<float>(c.y + kAreaHalf) + 0.5f);
  const Box area{c.x - kAreaHalf, c.x + kAreaHalf, c.y - kAreaHalf, c.y + kAreaHalf};
  const DisplayState own = view_state(image, area, shown);
  if (own.greyflag == 0 || own.greyflag == 1)
    gfx.image(image, area, own.fglev, own.bglev, own.displaytr, own.greyflag == 1, own.stretch);
  gfx.box();
  gfx.colour_bar(level_caption(own, true));
}

void draw_inspection(Graphics& gfx, ConstImageView image, Inspection& insp, const FiniteLevels& range, float xcen,
                     float ycen, float radius, const DisplayState& shown, AreaCentre c) {
  gfx.focus();
  gfx.erase();
  gfx.viewport(0.25f, 0.75f, 0.55f, 0.9f);
  float y1 = insp.lev1, y2 = insp.lev2;
  if (!(y1 != y2)) {  // a flat profile (or no level) still needs a window of some height
    y1 = std::isfinite(y1) ? y1 - 1.0f : -1.0f;
    y2 = y1 + 2.0f;
  }
  // A star's profile is shown out to three times the radius where it meets the background (and
  // at least to the radius offered).
  const float xmax =
      insp.star ? std::max({kStarProfileTimes * insp.star->radius, kStarProfileLeast, radius + 1.0f}) : radius + 1.0f;
  gfx.window(0.0f, xmax, y1, y2);
  if (!insp.radii.empty()) gfx.points(insp.radii, insp.values, -4);
  gfx.box();
  gfx.colour(kSkyLineColour);
  const std::array<float, 2> lx = {0.0f, 1.1f * insp.search_radius};
  const std::array<float, 2> ly = {insp.sky, insp.sky};
  gfx.line(lx, ly);
  gfx.colour(1);

  if (insp.lev1 > range.maximum) insp.lev1 = range.maximum;
  if (insp.lev2 < range.minimum) insp.lev2 = range.minimum;
  const Image stamp = cut_stamp(image, c.x, c.y);
  draw_stamp(gfx, stamp, insp.lev1, insp.lev2, shown);
  area_window(gfx, c);
  gfx.box();
  CIRCLE(xcen, ycen, 10.0f, kInnerColour, gfx);
  CIRCLE(xcen, ycen, 20.0f, kOuterColour, gfx);
}

void draw_result(Graphics& gfx, const Image& stamp, const DisplayState& shown, AreaCentre c) {
  gfx.focus();
  gfx.erase();
  draw_stamp(gfx, stamp, shown.fglev, shown.bglev, shown);
  area_window(gfx, c);
  gfx.box();
}

}  // namespace zelvo
