// Image storage and views shared by every subsystem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "numeric/large_pages.h"

namespace zelvo {

// The value the loader gives pixels that the file leaves undefined (BLANK, NaN in float data).
inline constexpr float kUndefinedPixel = -999.0f;

// A non-owning view of an nx x ny image, x varying fastest (FITS order). at(x, y) is
// 1-based, as pixel (x, y) is counted throughout the program. The pixel type says what the
// view allows: ImageView (float) reads and writes, ConstImageView (const float) only reads.
// Like std::span, a view's own constness is shallow: a `const ImageView&` still writes, so
// code that only reads takes a ConstImageView, and every ImageView converts to one.
template <class Pixel>
struct BasicImageView {
  Pixel* px = nullptr;
  int nx = 0;
  int ny = 0;

  Pixel& at(int x, int y) const {
    return px[static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(nx) + static_cast<std::size_t>(x - 1)];
  }
  bool inside(int x, int y) const { return x >= 1 && x <= nx && y >= 1 && y <= ny; }
  std::size_t size() const { return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny); }
  bool empty() const { return px == nullptr || nx < 1 || ny < 1; }

  // A writable view is also a read-only one (a conversion, so the view stays an aggregate).
  operator BasicImageView<const Pixel>() const requires(!std::is_const_v<Pixel>) {
    return BasicImageView<const Pixel>{px, nx, ny};
  }
};

using ImageView = BasicImageView<float>;
using ConstImageView = BasicImageView<const float>;

// An owning image: pixels plus dimensions.
struct Image {
  std::vector<float> px;
  int nx = 0;
  int ny = 0;

  Image() = default;
  // Large images get large memory pages (see ask_for_large_pages).
  Image(int w, int h, float fill = 0.0f) : nx(w > 0 ? w : 0), ny(h > 0 ? h : 0) {
    const std::size_t n = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    px.reserve(n);
    ask_for_large_pages(px.data(), n * sizeof(float));
    px.assign(n, fill);
  }

  ImageView view() { return ImageView{px.data(), nx, ny}; }
  ConstImageView view() const { return ConstImageView{px.data(), nx, ny}; }
  float& at(int x, int y) { return view().at(x, y); }
  float at(int x, int y) const { return view().at(x, y); }
  bool empty() const { return px.empty(); }
};

}  // namespace zelvo
