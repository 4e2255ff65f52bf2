// The story of an image in memory: every edit that changes its pixels adds a HISTORY card to
// the slot's header, so that a saved frame says what was done to it.
#pragma once

#include <string>
#include <string_view>

namespace zelvo {

struct ImageSlot;

// Adds "Zelvo <command>: <what>" to the slot's header as HISTORY card(s).
void note_edit(ImageSlot& slot, char command, std::string_view what);

// A number with `decimals` decimals, for the history texts ("123.45").
std::string fixed(double value, int decimals);

// The slot as a history text names it: "slot 2 (m51.fits)".
std::string slot_label(int number, const ImageSlot& slot);

}  // namespace zelvo
