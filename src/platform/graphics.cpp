#include "platform/graphics.h"

#include <cpgplot.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/console.h"
#include "platform/list_io.h"

namespace zelvo {

namespace {
std::string query(const char* item) {
  char value[128] = {0};
  int len = sizeof value - 1;
  cpgqinf(item, value, &len);
  return std::string(value, static_cast<std::size_t>(std::max(0, std::min(len, 127))));
}

// Largest enlarged image drawn when an image is resampled to square device pixels.
constexpr int kMaxResample = 2400;
}  // namespace

Graphics::Graphics(Console& con) : con_(con) {}

Graphics::~Graphics() { close_all(); }

bool Graphics::open(const std::string& device) {
  const std::string dev = trim_right(device);
  if (dev.empty() || dev == "?" || dev.find('?') != std::string::npos) {
    con_.line(" No graphics device given; drawing is switched off.");
    return false;
  }
  if (id_ > 0) cpgslct(id_);
  const int id = cpgopen(dev.c_str());
  if (id <= 0) {
    con_.line(" Could not open the graphics device " + dev + ".");
    return false;
  }
  id_ = id;
  device_ = dev;
  cpgask(0);
  has_cursor_ = query("CURSOR") == "YES";
  return true;
}

bool Graphics::open_sized(const std::string& device, int width, int height) {
  if (!open(device)) return false;
  if (width > 40 && height > 40) {
    cpgpap(static_cast<float>(width - 40) / 94.11716f, static_cast<float>(height - 40) / static_cast<float>(width - 40));
    cpgpage();
  }
  return true;
}

void Graphics::close_all() {
  if (id_ > 0) cpgend();
  id_ = 0;
  has_cursor_ = false;
}

void Graphics::erase() {
  if (id_ > 0) cpgeras();
}
void Graphics::viewport(float x1, float x2, float y1, float y2) {
  if (id_ > 0) cpgsvp(x1, x2, y1, y2);
}
void Graphics::window(float x1, float x2, float y1, float y2) {
  if (id_ <= 0) return;
  // PGPLOT refuses an empty window; widen it by a hair rather than drawing garbage.
  if (!(x1 != x2)) x2 = x1 + 1.0f;
  if (!(y1 != y2)) y2 = y1 + 1.0f;
  if (!std::isfinite(x1) || !std::isfinite(x2) || !std::isfinite(y1) || !std::isfinite(y2)) return;
  cpgswin(x1, x2, y1, y2);
}
void Graphics::text(float x, float y, float angle, float fjust, const std::string& s) {
  if (id_ > 0) cpgptxt(x, y, angle, fjust, s.c_str());
}
void Graphics::box(const char* xopt, float xtick, int nxsub, const char* yopt, float ytick, int nysub) {
  if (id_ > 0) cpgbox(xopt, xtick, nxsub, yopt, ytick, nysub);
}
void Graphics::label(const std::string& x, const std::string& y, const std::string& top) {
  if (id_ > 0) cpglab(x.c_str(), y.c_str(), top.c_str());
}
void Graphics::line(std::span<const float> x, std::span<const float> y) {
  const int n = static_cast<int>(std::min(x.size(), y.size()));
  if (id_ > 0 && n > 0) cpgline(n, x.data(), y.data());
}
void Graphics::points(std::span<const float> x, std::span<const float> y, int symbol) {
  const int n = static_cast<int>(std::min(x.size(), y.size()));
  if (id_ > 0 && n > 0) cpgpt(n, x.data(), y.data(), symbol);
}
void Graphics::colour(int ci) {
  if (id_ > 0) cpgsci(ci);
}
void Graphics::line_width(int lw) {
  if (id_ > 0) cpgslw(lw);
}
void Graphics::line_style(int ls) {
  if (id_ > 0) cpgsls(ls);
}
void Graphics::char_height(float ch) {
  if (id_ > 0) cpgsch(ch);
}
void Graphics::flush() {
  if (id_ > 0) cpgupdt();
}

bool Graphics::image(const ImageView& img, int i1, int i2, int j1, int j2, float fg, float bg,
                     const std::array<float, 6>& tr, bool grey) {
  if (id_ <= 0) return false;
  if (img.empty()) return false;
  i1 = std::max(i1, 1);
  j1 = std::max(j1, 1);
  i2 = std::min(i2, img.nx);
  j2 = std::min(j2, img.ny);
  if (i1 > i2 || j1 > j2) {
    con_.line(" Nothing to draw: the requested area lies outside the image.");
    return false;
  }
  if (!std::isfinite(fg) || !std::isfinite(bg)) {
    con_.line(" Display levels are not finite numbers; nothing is drawn.");
    return false;
  }
  if (fg == bg) {
    con_.line(" Display levels are equal (" + format_real(fg) + "); nothing is drawn.");
    return false;
  }

  // Colour ramp from the value drawn in the background colour to the value drawn in the
  // foreground colour, as PGGRAY defines it. giza's own grey ramp runs the other way and
  // draws nothing sensible when fg > bg, so the ramp is built here and drawn with cpgimag,
  // which takes the lower level first.
  float r0, g0, b0, r1, g1, b1;
  cpgqcr(0, &r0, &g0, &b0);
  cpgqcr(1, &r1, &g1, &b1);
  const float lo = std::min(fg, bg), hi = std::max(fg, bg);
  const bool fg_low = fg < bg;
  if (grey) {
    const float l[2] = {0.0f, 1.0f};
    float r[2], g[2], b[2];
    // at lo: fg colour when fg is the low value, otherwise bg colour
    r[0] = fg_low ? r1 : r0; g[0] = fg_low ? g1 : g0; b[0] = fg_low ? b1 : b0;
    r[1] = fg_low ? r0 : r1; g[1] = fg_low ? g0 : g1; b[1] = fg_low ? b0 : b1;
    cpgctab(l, r, g, b, 2, 1.0f, 0.5f);
  } else {
    // Pseudo-colour: a heat ramp from the first to the last colour index, as PGIMAG's
    // first level gets the first index.
    const float l[5] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    float r[5] = {0.0f, 0.5f, 1.0f, 1.0f, 1.0f};
    float g[5] = {0.0f, 0.0f, 0.5f, 1.0f, 1.0f};
    float b[5] = {0.0f, 0.5f, 0.0f, 0.3f, 1.0f};
    if (!fg_low) {
      std::reverse(r, r + 5);
      std::reverse(g, g + 5);
      std::reverse(b, b + 5);
    }
    cpgctab(l, r, g, b, 5, 1.0f, 0.5f);
  }

  // giza smooths enlarged images; to keep pixels square and sharp, enlarge the area by
  // nearest neighbour to the size of the viewport in device pixels.
  const int ncols = i2 - i1 + 1, nrows = j2 - j1 + 1;
  float vx1, vx2, vy1, vy2;
  cpgqvp(3, &vx1, &vx2, &vy1, &vy2);
  int w = static_cast<int>(std::lround(std::fabs(vx2 - vx1)));
  int h = static_cast<int>(std::lround(std::fabs(vy2 - vy1)));
  const bool is_null = device_.size() >= 5 && (device_.find("/null") != std::string::npos ||
                                               device_.find("/NULL") != std::string::npos);
  w = std::min(w, kMaxResample);
  h = std::min(h, kMaxResample);
  const bool enlarge = !is_null && tr[2] == 0.0f && tr[4] == 0.0f && (w > ncols || h > nrows);
  if (enlarge) {
    w = std::max(w, ncols);
    h = std::max(h, nrows);
    std::vector<float> big(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    std::vector<int> srcx(static_cast<std::size_t>(w));
    const double sx = static_cast<double>(ncols) / w, sy = static_cast<double>(nrows) / h;
    for (int p = 0; p < w; ++p) srcx[p] = std::clamp(i1 + static_cast<int>((p + 0.5) * sx), i1, i2);
    for (int q = 0; q < h; ++q) {
      const int sj = std::clamp(j1 + static_cast<int>((q + 0.5) * sy), j1, j2);
      float* row = big.data() + static_cast<std::size_t>(q) * w;
      for (int p = 0; p < w; ++p) row[p] = img.at(srcx[p], sj);
    }
    // New pixel p (1-based) covers index space [i1 - 0.5 + (p - 1) * sx, ...].
    float tr2[6] = {static_cast<float>(tr[0] + tr[1] * (i1 - 0.5 - 0.5 * sx)), static_cast<float>(tr[1] * sx), 0.0f,
                    static_cast<float>(tr[3] + tr[5] * (j1 - 0.5 - 0.5 * sy)), 0.0f, static_cast<float>(tr[5] * sy)};
    cpgimag(big.data(), w, h, 1, w, 1, h, lo, hi, tr2);
  } else {
    cpgimag(img.px, img.nx, img.ny, i1, i2, j1, j2, lo, hi, tr.data());
  }
  return true;
}

CursorRead Graphics::cursor(float x0, float y0) {
  CursorRead c{x0, y0, 'A'};
  if (id_ > 0 && has_cursor_) {
    float x = x0, y = y0;
    char ch = 'A';
    // giza returns 0 on success (PGPLOT returns 1); either way a real read fills x, y, ch.
    const int rc = cpgcurs(&x, &y, &ch);
    (void)rc;
    c.x = x;
    c.y = y;
    c.key = ch ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : 'A';
    if (ch >= 'a' && ch <= 'z') c.key = ch;  // typed keys keep their case
    return c;
  }
  // No cursor: the position is typed in the command window.
  for (;;) {
    con_.line("Cursor position (x y):");
    const std::string s = con_.read_line();
    bool slash = false;
    const auto items = split_list_items(s, slash);
    if (items.size() >= 2) {
      const auto x = parse_real(items[0].text);
      const auto y = parse_real(items[1].text);
      if (x && y) {
        c.x = *x;
        c.y = *y;
        if (items.size() >= 3 && !items[2].text.empty()) c.key = items[2].text[0];
        return c;
      }
    }
    con_.line(" Expected two numbers, x and y (and optionally a key); please type them again.");
  }
}

}  // namespace zelvo
