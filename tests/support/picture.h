// What a device really drew: a PNG (or a PostScript page) decoded by ImageMagick into 8-bit RGB.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zelvo::testing {

struct Picture {
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* at(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * w + x) * 3]; }
  // Mean of the three channels; white outside the picture.
  int grey(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return 255;
    return (at(x, y)[0] + at(x, y)[1] + at(x, y)[2]) / 3;
  }
};

// Empty (w = h = 0) when ImageMagick is missing or cannot read the file.
inline Picture read_png(const std::string& path) {
  Picture p;
  FILE* f = popen(("convert '" + path + "' -depth 8 ppm:- 2>/dev/null").c_str(), "r");
  if (!f) return p;
  int maxval = 0;
  if (std::fscanf(f, "P6 %d %d %d", &p.w, &p.h, &maxval) == 3 && maxval == 255 && p.w > 0 && p.h > 0) {
    std::fgetc(f);  // the single blank after the header
    p.rgb.resize(static_cast<std::size_t>(p.w) * p.h * 3);
    if (std::fread(p.rgb.data(), 1, p.rgb.size(), f) != p.rgb.size()) p.rgb.clear();
  }
  pclose(f);
  if (p.rgb.empty()) p.w = p.h = 0;
  return p;
}

}  // namespace zelvo::testing
