// D: the display command's dialogue (grey or pseudo-colour, the level dialogue) and
// DISPLAYIMAGE, which draws an image with automatic levels and reports them.
#pragma once

#include "display/display.h"
#include "fits/header_values.h"

namespace zelvo {

class Console;
class Graphics;
struct ImageSlot;

// What the display shows of a slot: its pixels, object and file name.
DisplaySource display_source(ImageSlot& sl);

// DISPLAYIMAGE: draws `src` on the current device. Sets lowlev/highlev/fglev/bglev and
// displaytr in `st`. On the screen path (printflag != 1) prints the statistics, the header
// summary and the levels line; with `dialogue` (command D) runs the level dialogue.
void DISPLAYIMAGE(const DisplaySource& src, DisplayState& st, const HeaderTexts& texts, bool dialogue,
                  Console& con, Graphics& gfx);

}  // namespace zelvo
