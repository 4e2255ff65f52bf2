// Image display with automatic levels, and the state later drawings reuse.
#pragma once

#include <array>
#include <string_view>

#include "fits/header_values.h"
#include "numeric/image_view.h"

namespace zelvo {

class Console;
class Graphics;

// Display settings and the levels/transformation of the last display.
struct DisplayState {
  int greyflag = 1;      // 1 grey scale, 0 pseudo-colour
  char scaling = 'n';    // 'n' negative, anything else positive
  float minlim = 0.0f;   // lower limit for the automatic low level
  float maxlim = 0.0f;   // upper limit for the automatic high level
  int printflag = 0;     // 1 while drawing into the PostScript file
  float lowlev = 0.0f, highlev = 0.0f;
  float fglev = 0.0f, bglev = 0.0f;
  std::array<float, 6> displaytr{0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
};

// The zoom box of the mouse and photometry submenus (pixel units).
struct ZoomBox {
  int zoomw = 0, zoomh = 0, zoomx = 0, zoomy = 0;
};

// What is shown: the pixels and the slot's texts.
struct DisplaySource {
  ImageView image;
  std::string_view object;  // 20 characters
  std::string_view name;    // up to 80 characters
};

// Automatic display levels from the central box of the image, kept within minlim/maxlim.
struct AutoLevels {
  float lowlev, highlev;
  float s1, s2;   // sums over the box (32-bit accumulators)
  int n;          // pixels in the box
  bool negative_variance;  // the "ERROR: ss2=" case
};
AutoLevels automatic_levels(const ImageView& image, float minlim, float maxlim);

// DISPLAYIMAGE: draws `src` on the current device. Sets lowlev/highlev/fglev/bglev and
// displaytr in `st`. On the screen path (printflag != 1) prints the statistics, the header
// summary and the levels line; with `dialogue` (command D) runs the level dialogue.
void DISPLAYIMAGE(const DisplaySource& src, DisplayState& st, const HeaderTexts& texts, bool dialogue,
                  Console& con, Graphics& gfx);

}  // namespace zelvo
