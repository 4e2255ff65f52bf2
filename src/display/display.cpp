// Placeholder: replaced by the display implementation.
#include "display/display.h"

namespace zelvo {
AutoLevels automatic_levels(const ImageView&, float, float) { return AutoLevels{}; }
void DISPLAYIMAGE(const DisplaySource&, DisplayState&, const HeaderTexts&, bool, Console&, Graphics&) {}
}  // namespace zelvo
