// Image display with automatic levels, and the state later drawings reuse.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "numeric/box.h"
#include "numeric/image_view.h"
#include "numeric/statistics.h"
#include "numeric/zscale.h"
#include "text/header_texts.h"

namespace zelvo {

class Graphics;

// How the automatic display levels are found: from the central box's mean and sigma, or by
// zscale over the whole image.
enum class LevelMode { text, zscale };

// Where the levels of a zoomed view (the mouse and photometry zoom, the removal's area) come
// from: zscale of the pixels it shows, or their whole finite range. A key in the view flips it.
enum class ViewLevels { zscale, range };

// Display settings and the levels/transformation of the last display.
struct DisplayState {
  int greyflag = 1;     // 1 grey scale, 0 pseudo-colour
  char scaling = 'n';   // 'n' negative, anything else positive
  float minlim = 0.0f;  // lower limit for the automatic low level
  float maxlim = 0.0f;  // upper limit for the automatic high level
  int printflag = 0;    // 1 while drawing into the PostScript file
  float lowlev = 0.0f, highlev = 0.0f;
  float fglev = 0.0f, bglev = 0.0f;
  // Pixel (i, j) is drawn centred on world (i, j), one unit wide.
  std::array<float, 6> displaytr{0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  bool levels_set = false;  // false until a display (or ensure_display_levels) set the levels
  LevelMode level_mode = LevelMode::text;
  Stretch stretch = Stretch::linear;  // brightness between the levels
  bool typed = false;                 // the user typed lowlev/highlev: every display keeps them until changed
  ViewLevels view = ViewLevels::zscale;
};

// The zoom box of the mouse and photometry submenus (pixel units).
struct ZoomBox {
  int zoomw = 0, zoomh = 0, zoomx = 0, zoomy = 0;
};

// What is shown: the pixels and the slot's texts.
struct DisplaySource {
  ConstImageView image;
  std::string_view object;  // 20 characters
  std::string_view name;    // up to 80 characters
};

// The central box the automatic levels are estimated from: columns nx/2 -/+ nx/10 and rows
// ny/2 -/+ nx/10 (the half-size nx/10 serves both axes), cut to the image. A 1-pixel-wide
// or 1-pixel-high image is centred on its only column or row.
Box central_box(int nx, int ny);

// Automatic display levels from the central box of the image, kept within minlim/maxlim.
// Non-finite pixels are left out; a box without a finite pixel falls back to the whole image.
struct AutoLevels {
  float lowlev, highlev;
  float s1, s2;            // sums over the box (32-bit accumulators)
  int n;                   // finite pixels summed
  bool negative_variance;  // the "ERROR: ss2=" case (sigma taken as 1)
  float mean = 0.0f, sigma = 0.0f;
  Box box{};                 // the pixels the sums were taken over
  bool whole_image = false;  // the central box held no finite pixel
  bool finite = true;        // false when the image holds no finite pixel at all
};
AutoLevels automatic_levels(ConstImageView image, float minlim, float maxlim);

// The automatic levels of the chosen mode: automatic_levels() as it stands for
// LevelMode::text; for LevelMode::zscale its low and high level replaced by zscale's (kept
// within minlim/maxlim the same way) and no negative-variance case.
// `finite_pixels`: the number of finite pixels of the image when known (0: counted here).
AutoLevels display_levels(ConstImageView image, const DisplayState& st, std::size_t finite_pixels = 0);

// The state a view of `area` (1-based, clipped to the image) is drawn with: the polarity,
// stretch and limits of `st`, the levels its own, from the area's pixels as `st.view` says
// (within minlim/maxlim, as automatic levels are). `st` as it is when the area holds no
// finite pixel or its levels would be equal.
DisplayState view_state(ConstImageView image, const Box& area, const DisplayState& st);

// The caption of the colour bar: the stretch and where the levels came from.
std::string level_caption(const DisplayState& st, bool view);

// The words that name the level modes in the settings file and the D dialogue.
std::string_view level_mode_name(LevelMode m);

// The header summary line: object (20 columns), RA (first 8 characters, right-aligned in
// 11), DEC (9 in 10), ST (5 in 6), a blank 5-column field, one blank, the first character
// of the filter, one blank, object again (20) and the first 20 characters of the name.
std::string summary_line(std::string_view object, std::string_view name, const HeaderTexts& texts);

// The label drawn above the frame: "file : " and the name padded to 80 characters.
std::string display_label(std::string_view name);

// Sets fglev/bglev from lowlev/highlev: 'n' (negative) puts the low level in the foreground.
void set_display_polarity(DisplayState& st);

// Views that draw an image before anything was displayed (the zoomed views, the inspection
// page, the profile page) take the automatic levels the display would take for `image`.
// Levels already set are kept.
void ensure_display_levels(ConstImageView image, DisplayState& st);

// The world window that shows columns i1..i2 and rows j1..j2 whole: each pixel reaches half
// a unit either side of its centre.
struct WorldWindow {
  float x1, x2, y1, y2;
};
inline WorldWindow pixel_window(const Box& b) {
  return WorldWindow{static_cast<float>(b.x0) - 0.5f, static_cast<float>(b.x1) + 0.5f, static_cast<float>(b.y0) - 0.5f,
                     static_cast<float>(b.y1) + 0.5f};
}

// The two halves of drawing the image on the current device: the frame (page erased when
// `erase`, viewport, equal-scale window and the file label above it), then the pixels with
// the levels of `st` (left out when `finite` is false: the image holds no finite pixel) and
// the axes. DISPLAYIMAGE (session/display_menu.h) runs them with its report between.
void draw_display_frame(const DisplaySource& src, bool erase, Graphics& gfx);
// The image is drawn with the stretch of `st` and a colour bar with the two levels beside it.
void draw_display_image(const DisplaySource& src, const DisplayState& st, bool finite, Graphics& gfx);

}  // namespace zelvo
