// The cards that tell what was done to an image in memory: HISTORY cards for each edit, and
// the range cards (DATAMIN, DATAMAX, IRAF-MIN, IRAF-MAX) brought up to date with the pixels.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo {

// Appends `text` to `cards` as HISTORY cards of 80 columns: one card when it fits in the 72
// columns after the keyword, otherwise wrapped at blanks (a word longer than a card is cut).
void add_history(std::vector<std::string>& cards, std::string_view text);

// The HISTORY texts among `cards` (columns 9 to 80 of each, trailing blanks removed), in order.
std::vector<std::string> history_of(const std::vector<std::string>& cards);

// `cards` with each DATAMIN, DATAMAX, IRAF-MIN and IRAF-MAX card set to the smallest or largest
// finite pixel of `image` (its comment kept), so that a written file never claims the range
// of the pixels it was loaded with. With `undefined_as_null`, kUndefinedPixel pixels (written
// as undefined) do not count; an image without a counted pixel loses the four cards.
std::vector<std::string> with_data_range(const std::vector<std::string>& cards, ConstImageView image,
                                         bool undefined_as_null = false);

}  // namespace zelvo
