// The A command's pixel work and line parser, kept apart from the dialogue so that they can
// be checked on small images; the C, T and F pixel work is geometry/image_edits.h's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "numeric/image_view.h"

namespace zelvo {

// One line of the A command, read either as the constant form "+ 5" or, when column 6 holds
// a lower-case 'i', as the two-slot form "i1 + i2" (X in column 2, operator in 4, Y in 7).
struct ArithmeticLine {
  bool two_slot = false;
  char op = ' ';
  float constant = 0.0f;  // N of the constant form
  int x = 0, y = 0;       // slot numbers 1..4 of the two-slot form
};
// The parsed line, or the one-line reason why it fits neither form.
struct ArithmeticParse {
  std::optional<ArithmeticLine> line;
  std::string refusal;
};
ArithmeticParse parse_arithmetic_line(std::string_view text);

// Whether `op` is one of the four operators '+', '-', '*', '/'.
bool known_operator(char op);
// a op b in 32-bit arithmetic (IEEE results for a division by zero); a for another operator.
float apply_operator(char op, float a, float b);

// Largest and smallest pixel, ignoring NaN pixels (both NaN when every pixel is NaN).
struct PixelExtremes {
  float maximum, minimum;
};
PixelExtremes pixel_extremes(ConstImageView image);

}  // namespace zelvo
