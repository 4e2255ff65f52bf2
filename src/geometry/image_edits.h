// Whole-image edits behind the C, T and F commands: turns, crops and mirrors of the pixel
// grid. They print nothing; the dialogues in session/edits.cpp ask and report.
#pragma once

#include <optional>

#include "numeric/box.h"
#include "numeric/image_view.h"

namespace zelvo {

// ROTATEIMAGE: turns the picture 90 degrees clockwise (y upwards) and swaps nx and ny.
// New pixel (x', y') is old pixel (nx + 1 - y', x'); the right edge becomes the bottom edge.
void ROTATEIMAGE(Image& image);

// The image turned `turns` times 90 degrees clockwise (as ROTATEIMAGE that often), made in
// one pass into one new image; throws std::bad_alloc, leaving `image` as it is.
Image rotated_image(const Image& image, int turns);

// The pixels of `area` (1-based, inclusive) of `image` as a new image.
// Nothing when the area leaves the image, its limits are in the wrong order or it holds no pixel.
std::optional<Image> crop_image(const Image& image, const Box& area);

// Mirrors the image in place: 'A' left to right (column x <-> nx + 1 - x),
// 'B' top to bottom (row y <-> ny + 1 - y); upper or lower case. Other choices change nothing.
void reflect_image(Image& image, char choice);

}  // namespace zelvo
