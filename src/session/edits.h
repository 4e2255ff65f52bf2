// Whole-image edits behind the C, T, F and A commands: the pixel work, kept apart from
// the dialogue so that it can be reused and checked on small images.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "numeric/image_view.h"

namespace zelvo {

// ROTATEIMAGE: turns the picture 90 degrees clockwise (y upwards) and swaps nx and ny.
// New pixel (x', y') is old pixel (nx + 1 - y', x'); the right edge becomes the bottom edge.
void ROTATEIMAGE(Image& image);

// The image turned `turns` times 90 degrees clockwise (as ROTATEIMAGE that often), made in
// one pass into one new image; throws std::bad_alloc, leaving `image` as it is.
Image rotated_image(const Image& image, int turns);

// Columns x1..x2 and rows y1..y2 (1-based, inclusive) of `image` as a new image.
// Nothing when the limits leave the image, are in the wrong order or give no pixel.
std::optional<Image> crop_image(const Image& image, int x1, int x2, int y1, int y2);

// Mirrors the image in place: 'A' left to right (column x <-> nx + 1 - x),
// 'B' top to bottom (row y <-> ny + 1 - y); upper or lower case. Other choices change nothing.
void reflect_image(Image& image, char choice);

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
PixelExtremes pixel_extremes(const ImageView& image);

}  // namespace zelvo
