// Text that giza must draw literally, cut into what giza may be handed and what the program
// draws itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

// Text for giza to draw literally, in pieces: giza reads backslash, ^, _ and braces as
// markup, and a byte outside printable ASCII stops all later text of the page (cairo takes
// it for broken UTF-8). Braces become giza's symbol codes, other bytes '?'; backslash, ^
// and _ are drawn by the program as strokes.
struct TextPiece {
  std::string text;  // an ordinary run, already escaped for giza
  char glyph = 0;    // or one character drawn by the program: '_', '^' or '\\'
};
std::vector<TextPiece> literal_pieces(std::string_view s);

}  // namespace zelvo
