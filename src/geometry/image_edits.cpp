// Whole-image turns, crops and mirrors: new pixel grids made from an image, nothing printed.
#include "geometry/image_edits.h"

#include <utility>

namespace zelvo {

void ROTATEIMAGE(Image& image) {
  const int n = image.nx, m = image.ny;
  Image workarray(m, n);
  for (int yp = 1; yp <= n; ++yp)
    for (int xp = 1; xp <= m; ++xp) workarray.at(xp, yp) = image.at(n + 1 - yp, xp);
  image = std::move(workarray);
}

Image rotated_image(const Image& image, int turns) {
  turns = ((turns % 4) + 4) % 4;
  const int n = image.nx, m = image.ny;
  Image out = turns % 2 == 0 ? Image(n, m) : Image(m, n);  // the only allocation
  for (int y = 1; y <= out.ny; ++y)
    for (int x = 1; x <= out.nx; ++x) {
      switch (turns) {
        case 0: out.at(x, y) = image.at(x, y); break;
        case 1: out.at(x, y) = image.at(n + 1 - y, x); break;
        case 2: out.at(x, y) = image.at(n + 1 - x, m + 1 - y); break;
        default: out.at(x, y) = image.at(y, m + 1 - x); break;
      }
    }
  return out;
}

std::optional<Image> crop_image(const Image& image, const Box& area) {
  const int x1 = area.x0, x2 = area.x1, y1 = area.y0, y2 = area.y1;
  // Compared one by one, so no size is formed from limits that could overflow.
  if (x1 < 1 || x2 > image.nx || x1 > x2 || y1 < 1 || y2 > image.ny || y1 > y2) return std::nullopt;
  Image workarray(x2 - x1 + 1, y2 - y1 + 1);
  for (int j = 1; j <= workarray.ny; ++j)
    for (int i = 1; i <= workarray.nx; ++i) workarray.at(i, j) = image.at(x1 + i - 1, y1 + j - 1);
  return workarray;
}

void reflect_image(Image& image, char choice) {
  const bool left_right = choice == 'A' || choice == 'a';
  const bool top_bottom = choice == 'B' || choice == 'b';
  if (!left_right && !top_bottom) return;
  Image workarray(image.nx, image.ny);
  for (int y = 1; y <= image.ny; ++y)
    for (int x = 1; x <= image.nx; ++x)
      workarray.at(x, y) = left_right ? image.at(image.nx + 1 - x, y) : image.at(x, image.ny + 1 - y);
  image = std::move(workarray);
}

}  // namespace zelvo
