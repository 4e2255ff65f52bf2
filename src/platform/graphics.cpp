#include "platform/graphics.h"

#include <cpgplot.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
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

// Largest side, in device pixels, of an enlarged image resampled for drawing.
constexpr int kMaxResample = 3072;

// Loads the colour ramp that cpgimag spreads from its lower to its upper level: dark to
// bright when the foreground (bright) level is the upper one, bright to dark otherwise.
void set_ramp(bool grey, bool fg_is_upper) {
  if (grey) {
    const float l[2] = {0.0f, 1.0f};
    float c[2] = {0.0f, 1.0f};
    if (!fg_is_upper) std::reverse(c, c + 2);
    cpgctab(l, c, c, c, 2, 1.0f, 0.5f);
    return;
  }
  // Pseudo-colour: a heat ramp, black through red and yellow to white.
  const float l[5] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
  float r[5] = {0.0f, 0.5f, 1.0f, 1.0f, 1.0f};
  float g[5] = {0.0f, 0.0f, 0.5f, 1.0f, 1.0f};
  float b[5] = {0.0f, 0.5f, 0.0f, 0.3f, 1.0f};
  if (!fg_is_upper) {
    std::reverse(r, r + 5);
    std::reverse(g, g + 5);
    std::reverse(b, b + 5);
  }
  cpgctab(l, r, g, b, 5, 1.0f, 0.5f);
}

// A grid of device pixels over the visible part of an image area, in world coordinates:
// w x h cells of dx x dy starting at (x0, y0).
struct ResampleGrid {
  int w, h;
  double x0, y0, dx, dy;
};

// The grid on which columns i1..i2, rows j1..j2 drawn through `tr` are resampled, or
// nothing when the area is not enlarged on the current device (or the device has no
// pixels, like /null, or `tr` rotates).
std::optional<ResampleGrid> enlarged_grid(const std::array<float, 6>& tr, int i1, int i2, int j1, int j2) {
  if (tr[2] != 0.0f || tr[4] != 0.0f || tr[1] == 0.0f || tr[5] == 0.0f) return std::nullopt;
  float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
  cpgqwin(&wx1, &wx2, &wy1, &wy2);
  cpgqvp(3, &vx1, &vx2, &vy1, &vy2);
  const double sx = std::fabs((static_cast<double>(vx2) - vx1) / (static_cast<double>(wx2) - wx1));
  const double sy = std::fabs((static_cast<double>(vy2) - vy1) / (static_cast<double>(wy2) - wy1));
  if (!std::isfinite(sx) || !std::isfinite(sy) || sx <= 0.0 || sy <= 0.0) return std::nullopt;
  // World extent of the area (pixel i covers index space i - 0.5 .. i + 0.5), cut to the window.
  const double ax1 = tr[0] + tr[1] * (i1 - 0.5), ax2 = tr[0] + tr[1] * (i2 + 0.5);
  const double ay1 = tr[3] + tr[5] * (j1 - 0.5), ay2 = tr[3] + tr[5] * (j2 + 0.5);
  const double x0 = std::max(std::min(ax1, ax2), static_cast<double>(std::min(wx1, wx2)));
  const double x1 = std::min(std::max(ax1, ax2), static_cast<double>(std::max(wx1, wx2)));
  const double y0 = std::max(std::min(ay1, ay2), static_cast<double>(std::min(wy1, wy2)));
  const double y1 = std::min(std::max(ay1, ay2), static_cast<double>(std::max(wy1, wy2)));
  if (!(x1 > x0) || !(y1 > y0)) return std::nullopt;
  // Image pixels and device pixels across the visible part.
  const double cols = (x1 - x0) / std::fabs(tr[1]), rows = (y1 - y0) / std::fabs(tr[5]);
  const double devw = (x1 - x0) * sx, devh = (y1 - y0) * sy;
  if (devw <= cols + 0.5 && devh <= rows + 0.5) return std::nullopt;
  const int w = std::clamp(static_cast<int>(std::lround(devw)), 1, kMaxResample);
  const int h = std::clamp(static_cast<int>(std::lround(devh)), 1, kMaxResample);
  return ResampleGrid{w, h, x0, y0, (x1 - x0) / w, (y1 - y0) / h};
}
}  // namespace

Graphics::Graphics(Console& con) : con_(con) {
  // giza shows what was drawn on an X window only when asked to; the window is brought up
  // to date whenever the program waits for an answer or a click.
  con_.set_before_read([this] { flush(); });
}

Graphics::~Graphics() {
  con_.set_before_read(nullptr);
  close_all();
}

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
  const std::size_t n = std::min(x.size(), y.size());
  if (id_ <= 0 || n == 0) return;
  // Millions of markers (every pixel of a large profile) take giza seconds: they are drawn
  // in batches, with the count on the command window's status line.
  constexpr std::size_t kBatch = 100000;
  if (n <= kBatch) {
    cpgpt(static_cast<int>(n), x.data(), y.data(), symbol);
    return;
  }
  const std::string of_all = " of " + std::to_string(n) + " points";
  for (std::size_t k = 0; k < n; k += kBatch) {
    con_.progress("drawing " + std::to_string(k) + of_all);
    const std::size_t m = std::min(kBatch, n - k);
    cpgpt(static_cast<int>(m), x.data() + k, y.data() + k, symbol);
  }
  con_.progress_done();
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
    con_.line(" Display levels are not finite numbers; the image is not drawn.");
    return false;
  }
  if (fg == bg) {
    con_.line(" Low and high display levels are equal (" + format_real(fg) + "); the image is not drawn.");
    return false;
  }

  // The value `fg` is shown bright (white, or the hot end of the pseudo-colour ramp) and
  // `bg` dark, on every device: giza's screen and paper devices both have a white
  // background, so the PGPLOT colour indices 0/1 cannot carry the polarity. giza's own
  // grey ramp runs the other way and draws a flat image when the first level is the
  // larger one, so the ramp is loaded here and drawn with cpgimag, lower level first.
  set_ramp(grey, fg > bg);
  const float lo = std::min(fg, bg), hi = std::max(fg, bg);

  // giza smooths enlarged images bilinearly and does not clip them to the viewport. An
  // enlarged area is therefore resampled here, nearest neighbour, to the device pixels of
  // its visible part, so pixels stay square and sharp and nothing spills over the frame.
  if (const auto grid = enlarged_grid(tr, i1, i2, j1, j2)) {
    std::vector<float> big(static_cast<std::size_t>(grid->w) * static_cast<std::size_t>(grid->h));
    std::vector<int> srcx(static_cast<std::size_t>(grid->w));
    for (int p = 0; p < grid->w; ++p) {
      const double u = (grid->x0 + (p + 0.5) * grid->dx - tr[0]) / tr[1];
      srcx[static_cast<std::size_t>(p)] = std::clamp(static_cast<int>(std::floor(u + 0.5)), i1, i2);
    }
    for (int q = 0; q < grid->h; ++q) {
      const double v = (grid->y0 + (q + 0.5) * grid->dy - tr[3]) / tr[5];
      const int sj = std::clamp(static_cast<int>(std::floor(v + 0.5)), j1, j2);
      float* row = big.data() + static_cast<std::size_t>(q) * static_cast<std::size_t>(grid->w);
      for (int p = 0; p < grid->w; ++p) {
        const float value = img.at(srcx[static_cast<std::size_t>(p)], sj);
        row[p] = std::isnan(value) ? bg : value;
      }
    }
    const float tr2[6] = {static_cast<float>(grid->x0 - 0.5 * grid->dx), static_cast<float>(grid->dx), 0.0f,
                          static_cast<float>(grid->y0 - 0.5 * grid->dy), 0.0f, static_cast<float>(grid->dy)};
    cpgimag(big.data(), grid->w, grid->h, 1, grid->w, 1, grid->h, lo, hi, tr2);
    return true;
  }

  // Shown at or below one device pixel per image pixel: giza draws the image as it is,
  // except that undefined (NaN) pixels are drawn dark like the background level.
  const int w = i2 - i1 + 1, h = j2 - j1 + 1;
  bool has_nan = false;
  for (int j = j1; j <= j2 && !has_nan; ++j) {
    const float* row = &img.at(i1, j);
    int nan_seen = 0;
    for (int k = 0; k < w; ++k) nan_seen |= static_cast<int>(row[k] != row[k]);  // vectorises
    has_nan = nan_seen != 0;
  }
  if (!has_nan) {
    cpgimag(img.px, img.nx, img.ny, i1, i2, j1, j2, lo, hi, tr.data());
    return true;
  }
  std::vector<float> copy(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int j = j1; j <= j2; ++j)
    for (int i = i1; i <= i2; ++i) {
      const float value = img.at(i, j);
      copy[static_cast<std::size_t>(j - j1) * static_cast<std::size_t>(w) + static_cast<std::size_t>(i - i1)] =
          std::isnan(value) ? bg : value;
    }
  // The copy's pixel (1, 1) is the image's (i1, j1).
  const float tr3[6] = {tr[0] + tr[1] * static_cast<float>(i1 - 1) + tr[2] * static_cast<float>(j1 - 1), tr[1], tr[2],
                        tr[3] + tr[4] * static_cast<float>(i1 - 1) + tr[5] * static_cast<float>(j1 - 1), tr[4], tr[5]};
  cpgimag(copy.data(), w, h, 1, w, 1, h, lo, hi, tr3);
  return true;
}

CursorRead Graphics::cursor(float x0, float y0) {
  CursorRead c{x0, y0, 'A'};
  if (id_ > 0 && has_cursor_) {
    // The prompt must be visible before the program waits for the mouse, also when the
    // command window is a pipe or a file (block-buffered).
    con_.flush();
    cpgupdt();
    // giza returns 0 on success (PGPLOT returns 1) and reports the mouse wheel as control
    // characters (21 up, 4 down): those are neither clicks nor typed keys, so the read goes on.
    for (;;) {
      float x = c.x, y = c.y;
      char ch = 0;
      if (cpgcurs(&x, &y, &ch) != 0) break;
      const auto u = static_cast<unsigned char>(ch);
      if (u < 32 || u == 127) continue;
      c.x = x;
      c.y = y;
      c.key = ch;  // 'A', 'D', 'X' for the buttons; typed keys as typed
      return c;
    }
    con_.line(" The graphics window gave no cursor position; please type it.");
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
