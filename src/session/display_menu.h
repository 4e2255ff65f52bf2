// D: the display command's dialogue (grey or pseudo-colour, the level dialogue) and
// DISPLAYIMAGE, which draws an image with automatic levels and reports them.
#pragma once

#include <string_view>

#include "display/display.h"
#include "fits/header_values.h"

namespace zelvo {

class Console;
class Graphics;
struct ImageSlot;
struct Session;

// What the display shows of a slot: its pixels, object and file name.
DisplaySource display_source(ImageSlot& sl);

// DISPLAYIMAGE: draws `src` on the current device. Sets lowlev/highlev/fglev/bglev and
// displaytr in `st`. On the screen path (printflag != 1) prints the statistics, the header
// summary and the levels line; with `dialogue` (command D) runs the level dialogue. With
// `keep_levels` the levels already in `st` are drawn instead of automatic ones (the display
// after a removal keeps the levels the user had).
void DISPLAYIMAGE(const DisplaySource& src, DisplayState& st, const HeaderTexts& texts, bool dialogue, Console& con,
                  Graphics& gfx, bool keep_levels = false);

// The words the level question takes besides its y/n: a level mode ("zscale", "text") or a
// stretch ("linear", "sqrt", "log", "asinh"), any case, the whole answer. Sets it in `st`
// and says which it was.
enum class DisplayChoice { none, level_mode, stretch };
DisplayChoice switch_display_choice(std::string_view answer, DisplayState& st);

// Keeps the active slot's full display as the picture the window shows again after it is
// resized or uncovered, as long as the slot holds the same pixels.
void remember_display(Session& s);

}  // namespace zelvo
