#include "platform/graphics.h"

#include <cpgplot.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "numeric/axis_ticks.h"
#include "numeric/pixel_values.h"
#include "numeric/resample.h"
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

// Largest side, in cells, of the grid an image area is resampled on for drawing.
constexpr int kMaxResample = 3072;
// Resolution of the resampled image on paper devices, and on the null device (which has no
// pixels), in dots per inch.
constexpr double kPaperDpi = 300.0;
constexpr double kNullDpi = 96.0;

// Loads the colour ramp that cpgimag spreads from its lower to its upper level: dark to
// bright when the foreground (bright) level is the upper one, bright to dark otherwise, the
// brightness at each level shaped by the stretch (measured from the lower level).
void set_ramp(bool grey, bool fg_is_upper, Stretch stretch) {
  // The pseudo-colour heat ramp, black through red and yellow to white, by brightness.
  constexpr float kHeatAt[5] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
  constexpr float kHeatR[5] = {0.0f, 0.5f, 1.0f, 1.0f, 1.0f};
  constexpr float kHeatG[5] = {0.0f, 0.0f, 0.5f, 1.0f, 1.0f};
  constexpr float kHeatB[5] = {0.0f, 0.5f, 0.0f, 0.3f, 1.0f};
  const auto heat = [&](const float* c, float b) {
    for (int k = 1; k < 5; ++k)
      if (b <= kHeatAt[k]) return c[k - 1] + (c[k] - c[k - 1]) * (b - kHeatAt[k - 1]) / (kHeatAt[k] - kHeatAt[k - 1]);
    return c[4];
  };
  // A linear grey ramp needs two points; a curve is followed closely by many.
  const int n = grey && stretch == Stretch::linear ? 2 : 129;
  std::vector<float> l(static_cast<std::size_t>(n)), r(l.size()), g(l.size()), b(l.size());
  for (int k = 0; k < n; ++k) {
    const float at = static_cast<float>(k) / static_cast<float>(n - 1);
    const float s = static_cast<float>(stretched(stretch, at));
    const float bright = fg_is_upper ? s : 1.0f - s;
    const auto u = static_cast<std::size_t>(k);
    l[u] = at;
    r[u] = grey ? bright : heat(kHeatR, bright);
    g[u] = grey ? bright : heat(kHeatG, bright);
    b[u] = grey ? bright : heat(kHeatB, bright);
  }
  cpgctab(l.data(), r.data(), g.data(), b.data(), n, 1.0f, 0.5f);
}

// Replaces each value by its stretched brightness (0 at `lo`, 1 at `hi`, clamped; NaN
// stays NaN), read from a table of 4097 points with linear interpolation between them.
void stretch_cells(std::vector<float>& cells, float lo, float hi, Stretch stretch) {
  constexpr int kSteps = 4096;
  std::array<float, kSteps + 1> table{};
  for (int k = 0; k <= kSteps; ++k)
    table[static_cast<std::size_t>(k)] = static_cast<float>(stretched(stretch, static_cast<double>(k) / kSteps));
  const float scale = static_cast<float>(kSteps) / (hi - lo);
  for (float& c : cells) {
    if (std::isnan(c)) continue;
    const float t = std::clamp((c - lo) * scale, 0.0f, static_cast<float>(kSteps));
    const int k = std::min(static_cast<int>(t), kSteps - 1);
    const float f = t - static_cast<float>(k);
    c = table[static_cast<std::size_t>(k)] +
        f * (table[static_cast<std::size_t>(k) + 1] - table[static_cast<std::size_t>(k)]);
  }
}

// The label giza writes at tick k of an axis with major interval d (giza's own rule: the
// value as an integer mantissa times a power of ten).
std::string tick_label(long k, double d) {
  const int np = static_cast<int>(std::floor(std::log10(d)));
  const long nv = std::lround(d / std::pow(10.0, np));
  char buf[128] = {0};
  int len = sizeof buf - 1;
  cpgnumb(static_cast<int>(k * nv), np, 0, buf, &len);
  return std::string(buf, static_cast<std::size_t>(std::clamp(len, 0, 127)));
}

bool is_paper_type(const std::string& type) {
  std::string t;
  for (char c : type) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return t.find("ps") != std::string::npos || t.find("pdf") != std::string::npos || t.find("svg") != std::string::npos;
}

// Whether the C library already holds unread input of standard input (read ahead by an
// earlier line): select() would not see it.
bool stdin_read_ahead() {
#if defined(__GLIBC__)
  return stdin->_IO_read_ptr < stdin->_IO_read_end;
#else
  return true;  // unknown: never wait
#endif
}

}  // namespace

Graphics::Graphics(Console& con) : con_(con) {
  // giza shows what was drawn on an X window only when asked to; the window is brought up
  // to date whenever the program waits for an answer or a click.
  con_.set_before_read([this] {
    flush();
    // A click or key in the window while a typed answer is awaited answers no later click
    // question.
    if (watch_) watch_->drop_input(redraw_on_change());
  });
  con_.set_wait_for_input([this] { wait_for_input(); });
}

Graphics::~Graphics() {
  con_.set_before_read(nullptr);
  con_.set_wait_for_input(nullptr);
  close_all();
}

bool Graphics::open(const std::string& device) {
  const std::string dev = trim_right(device);
  if (dev.empty() || dev == "?" || dev.find('?') != std::string::npos) {
    con_.line(" No graphics device given; drawing is switched off.");
    return false;
  }
  if (id_ > 0) cpgslct(id_);
  std::string lower;
  for (char c : dev) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool xwindow = lower.size() >= 3 && lower.compare(lower.size() - 3, 3, "/xw") == 0;
  auto watch = xwindow ? std::make_unique<WindowWatch>() : nullptr;
  const int id = cpgopen(dev.c_str());
  if (id <= 0) {
    con_.line(" Could not open the graphics device " + dev + ".");
    return false;
  }
  id_ = id;
  device_ = dev;
  ramp_.drawn = false;
  cpgask(0);
  has_cursor_ = query("CURSOR") == "YES";
  const std::string type = query("TYPE");
  paper_dpi_ = type == "/null" || type == "/NULL" ? kNullDpi : is_paper_type(type) ? kPaperDpi : 0.0;
  // giza makes the window at the first page; it is looked for then, or when the program
  // first waits.
  watch_ = std::move(watch);
  if (watch_) watch_->follow_new_window();
  return true;
}

bool Graphics::open_sized(const std::string& device, int width, int height) {
  if (!open(device)) return false;
  if (width > 40 && height > 40) {
    cpgpap(static_cast<float>(width - 40) / 94.11716f,
           static_cast<float>(height - 40) / static_cast<float>(width - 40));
    cpgpage();
  }
  if (watch_) {
    cpgupdt();
    watch_->follow_new_window();
  }
  return true;
}

void Graphics::close_all() {
  if (id_ > 0 && !(has_cursor_ && x_display_lost())) cpgend();  // a lost window is not talked to
  watch_.reset();
  redraw_ = nullptr;
  ramp_.drawn = false;
  id_ = 0;
  has_cursor_ = false;
}

bool Graphics::live() {
  if (id_ > 0 && has_cursor_ && x_display_lost()) {
    // The window's connection is gone: giza is not called for it again (its calls would wait
    // for events that never come), and the session goes on without graphics.
    con_.notice("The X display was lost; Zelvo goes on without graphics (S and X still save your images).");
    watch_.reset();
    redraw_ = nullptr;
    ramp_.drawn = false;
    id_ = 0;
    has_cursor_ = false;
  }
  return id_ > 0;
}

namespace {

// A display lost while giza waits for a click ends that wait here: giza would wait for ever.
sigjmp_buf cursor_jump;
volatile sig_atomic_t cursor_waiting = 0;
void leave_cursor_wait() {
  if (cursor_waiting != 0) {
    cursor_waiting = 0;
    siglongjmp(cursor_jump, 1);
  }
}

// giza's cursor read, or false when the display was lost during it.
bool read_giza_cursor(float& x, float& y, char& ch, int& rc) {
  set_display_lost_hook(leave_cursor_wait);
  if (sigsetjmp(cursor_jump, 1) != 0) return false;
  cursor_waiting = 1;
  rc = cpgcurs(&x, &y, &ch);
  cursor_waiting = 0;
  return true;
}

}  // namespace

void Graphics::erase() {
  if (!live()) return;
  // A new page of a window is as large as the window is now; other devices keep one page
  // (a PNG file gets a new file for every page).
  if (has_cursor_)
    cpgpage();
  else
    cpgeras();
  ramp_.drawn = false;
}
void Graphics::viewport(float x1, float x2, float y1, float y2) {
  if (live()) cpgsvp(x1, x2, y1, y2);
}
void Graphics::window(float x1, float x2, float y1, float y2) {
  if (!live()) return;
  // PGPLOT refuses an empty window; widen it by a hair rather than drawing garbage.
  if (!(x1 != x2)) x2 = x1 + 1.0f;
  if (!(y1 != y2)) y2 = y1 + 1.0f;
  if (!std::isfinite(x1) || !std::isfinite(x2) || !std::isfinite(y1) || !std::isfinite(y2)) return;
  cpgswin(x1, x2, y1, y2);
}
void Graphics::window_equal_scales(float x1, float x2, float y1, float y2) {
  if (!live()) return;
  if (!(x1 != x2)) x2 = x1 + 1.0f;
  if (!(y1 != y2)) y2 = y1 + 1.0f;
  if (!std::isfinite(x1) || !std::isfinite(x2) || !std::isfinite(y1) || !std::isfinite(y2)) return;
  cpgwnad(x1, x2, y1, y2);
}
void Graphics::text(float x, float y, float angle, float fjust, const std::string& s) {
  if (live()) cpgptxt(x, y, angle, fjust, s.c_str());
}
void Graphics::literal_text(float x, float y, float fjust, std::string_view s) {
  if (!live()) return;
  const std::vector<TextPiece> pieces = literal_pieces(s);
  // Lengths are measured in normalised device units (giza's world-unit lengths are not usable) and
  // turned into world units; a stroked character is as wide as an "n".
  float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
  cpgqwin(&wx1, &wx2, &wy1, &wy2);
  cpgqvp(0, &vx1, &vx2, &vy1, &vy2);
  const float to_world_x = vx2 != vx1 ? (wx2 - wx1) / (vx2 - vx1) : 0.0f;
  const float to_world_y = vy2 != vy1 ? (wy2 - wy1) / (vy2 - vy1) : 0.0f;
  if (!std::isfinite(to_world_x) || !std::isfinite(to_world_y)) {
    std::string plain;
    for (const TextPiece& p : pieces) plain += p.glyph ? std::string(1, ' ') : p.text;
    cpgptxt(x, y, 0.0f, fjust, plain.c_str());  // a device without a size: nothing is seen
    return;
  }
  float glyph_w = 0.0f, unused = 0.0f;
  cpglen(0, "n", &glyph_w, &unused);
  std::vector<float> widths;
  float total = 0.0f;
  for (const TextPiece& p : pieces) {
    float w = glyph_w;
    if (!p.glyph) cpglen(0, p.text.c_str(), &w, &unused);
    widths.push_back(w * to_world_x);
    total += w * to_world_x;
  }
  float ch_x = 0.0f, ch_y = 0.0f;
  cpgqcs(0, &ch_x, &ch_y);  // character height in normalised device units
  ch_y *= to_world_y;
  int lw = 1;
  cpgqlw(&lw);
  // Labels stand outside the viewport (above the frame), where lines would be clipped.
  int clip = 1;
  cpgqclp(&clip);
  cpgsclp(0);
  float at = x - fjust * total;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const TextPiece& p = pieces[k];
    const float w = widths[k];
    if (!p.glyph) {
      cpgptxt(at, y, 0.0f, 0.0f, p.text.c_str());
    } else {
      cpgslw(1);
      if (p.glyph == '_') {
        const float lx[2] = {at + 0.05f * w, at + 0.95f * w}, ly[2] = {y - 0.15f * ch_y, y - 0.15f * ch_y};
        cpgline(2, lx, ly);
      } else if (p.glyph == '^') {
        const float lx[3] = {at + 0.15f * w, at + 0.5f * w, at + 0.85f * w};
        const float ly[3] = {y + 0.42f * ch_y, y + 0.68f * ch_y, y + 0.42f * ch_y};
        cpgline(3, lx, ly);
      } else {  // backslash
        const float lx[2] = {at + 0.15f * w, at + 0.85f * w}, ly[2] = {y + 0.7f * ch_y, y - 0.1f * ch_y};
        cpgline(2, lx, ly);
      }
      cpgslw(lw);
    }
    at += w;
  }
  cpgsclp(clip);
}
void Graphics::box(const char* xopt, float xtick, int nxsub, const char* yopt, float ytick, int nysub) {
  if (!live()) return;
  const bool xlabels = std::strpbrk(xopt, "Nn") != nullptr, ylabels = std::strpbrk(yopt, "Nn") != nullptr;
  if ((xtick == 0.0f && xlabels) || (ytick == 0.0f && ylabels)) {
    float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
    cpgqwin(&wx1, &wx2, &wy1, &wy2);
    cpgqvp(3, &vx1, &vx2, &vy1, &vy2);
    float cw = 0.0f, unused = 0.0f;
    cpglen(3, "0", &cw, &unused);  // one digit, device units
    float ch_x = 0.0f, ch_y = 0.0f;
    cpgqcs(3, &ch_x, &ch_y);
    const auto length = [](const std::string& t) {
      float l = 0.0f, u = 0.0f;
      cpglen(3, t.c_str(), &l, &u);
      return static_cast<double>(l);
    };
    const auto label_length = [&](long k, double d) { return length(tick_label(k, d)); };
    if (xtick == 0.0f && xlabels) {
      xtick = static_cast<float>(readable_interval(wx1, wx2, std::fabs(vx2 - vx1), 1.6 * cw, label_length));
      if (nxsub == 0) nxsub = minor_ticks(xtick);
    }
    if (ytick == 0.0f && ylabels) {
      // Labels of the y axis run along it, unless option V turns them across it.
      const bool across = std::strpbrk(yopt, "Vv") != nullptr;
      const double height = ch_y;
      ytick = static_cast<float>(readable_interval(wy1, wy2, std::fabs(vy2 - vy1), 1.6 * cw, [&](long k, double d) {
        return across ? height : label_length(k, d);
      }));
      if (nysub == 0) nysub = minor_ticks(ytick);
    }
  }
  cpgbox(xopt, xtick, nxsub, yopt, ytick, nysub);
}
void Graphics::label(const std::string& x, const std::string& y, const std::string& top) {
  if (live()) cpglab(x.c_str(), y.c_str(), top.c_str());
}
void Graphics::line(std::span<const float> x, std::span<const float> y) {
  const int n = static_cast<int>(std::min(x.size(), y.size()));
  if (live() && n > 0) cpgline(n, x.data(), y.data());
}
void Graphics::points(std::span<const float> x, std::span<const float> y, int symbol) {
  std::size_t n = std::min(x.size(), y.size());
  if (!live() || n == 0) return;
  // Dots (every pixel of a large profile) mostly fall on device pixels that already hold
  // one: only the first dot of each device pixel is drawn, which looks the same and spares
  // giza most of the work.
  std::vector<float> kept_x, kept_y;
  constexpr std::size_t kManyDots = 20000;
  if ((symbol == -1 || symbol == 1) && n > kManyDots) {
    float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
    cpgqwin(&wx1, &wx2, &wy1, &wy2);
    cpgqvp(paper_dpi_ > 0.0 ? 1 : 3, &vx1, &vx2, &vy1, &vy2);
    const double scale = paper_dpi_ > 0.0 ? paper_dpi_ : 1.0;
    const double pw = std::fabs((static_cast<double>(vx2) - vx1) * scale),
                 ph = std::fabs((static_cast<double>(vy2) - vy1) * scale);
    if (std::isfinite(pw) && std::isfinite(ph) && pw >= 1.0 && ph >= 1.0 && pw * ph < 5.0e7 && wx2 != wx1 &&
        wy2 != wy1) {
      const int gw = static_cast<int>(pw) + 1, gh = static_cast<int>(ph) + 1;
      std::vector<unsigned char> taken(static_cast<std::size_t>(gw) * static_cast<std::size_t>(gh), 0);
      const double ax = pw / (static_cast<double>(wx2) - wx1), ay = ph / (static_cast<double>(wy2) - wy1);
      for (std::size_t k = 0; k < n; ++k) {
        const double u = (x[k] - static_cast<double>(wx1)) * ax, v = (y[k] - static_cast<double>(wy1)) * ay;
        if (!(u >= 0.0 && u < gw && v >= 0.0 && v < gh)) continue;  // outside the viewport: clipped anyway
        unsigned char& t =
            taken[static_cast<std::size_t>(v) * static_cast<std::size_t>(gw) + static_cast<std::size_t>(u)];
        if (t) continue;
        t = 1;
        kept_x.push_back(x[k]);
        kept_y.push_back(y[k]);
      }
      x = kept_x;
      y = kept_y;
      n = kept_x.size();
      if (n == 0) return;
    }
  }
  // Millions of markers take giza seconds: they are drawn in batches, with the count on the
  // command window's status line.
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
  if (live()) cpgsci(ci);
}
void Graphics::line_width(int lw) {
  if (live()) cpgslw(lw);
}
void Graphics::line_style(int ls) {
  if (live()) cpgsls(ls);
}
void Graphics::char_height(float ch) {
  if (live()) cpgsch(ch);
}
void Graphics::flush() {
  if (live()) cpgupdt();
}

bool Graphics::image(ConstImageView img, const Box& area, float fg, float bg, const std::array<float, 6>& tr, bool grey,
                     Stretch stretch) {
  if (!live()) return false;
  if (img.empty()) return false;
  const Box cut = area.clipped(img.nx, img.ny);
  const int i1 = cut.x0, i2 = cut.x1, j1 = cut.y0, j2 = cut.y1;
  if (cut.empty()) {
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
  set_ramp(grey, fg > bg, stretch);
  const float lo = std::min(fg, bg), hi = std::max(fg, bg);
  ramp_ = LastRamp{true, grey, fg > bg, lo, hi, stretch};

  // The visible part of the area is resampled to the pixels of the device (the page's
  // resolution on paper): a larger image is block-averaged down, a smaller one enlarged
  // nearest-neighbour (giza would smooth it and draw past the frame). giza then never gets
  // more pixels than the window shows, nor allocates for more.
  if (tr[2] == 0.0f && tr[4] == 0.0f && tr[1] == 1.0f && tr[5] == 1.0f) {
    float wx1, wx2, wy1, wy2, vx1, vx2, vy1, vy2;
    cpgqwin(&wx1, &wx2, &wy1, &wy2);
    if (paper_dpi_ > 0.0) {
      cpgqvp(1, &vx1, &vx2, &vy1, &vy2);  // inches
    } else {
      cpgqvp(3, &vx1, &vx2, &vy1, &vy2);  // device pixels
    }
    const double scale = paper_dpi_ > 0.0 ? paper_dpi_ : 1.0;
    const double sx = std::fabs((static_cast<double>(vx2) - vx1) * scale / (static_cast<double>(wx2) - wx1));
    const double sy = std::fabs((static_cast<double>(vy2) - vy1) * scale / (static_cast<double>(wy2) - wy1));
    // World extent of the area (pixel i covers tr[0] + i -/+ 0.5), cut to the window.
    const double x0 = std::max(tr[0] + i1 - 0.5, static_cast<double>(std::min(wx1, wx2)));
    const double x1 = std::min(tr[0] + i2 + 0.5, static_cast<double>(std::max(wx1, wx2)));
    const double y0 = std::max(tr[3] + j1 - 0.5, static_cast<double>(std::min(wy1, wy2)));
    const double y1 = std::min(tr[3] + j2 + 0.5, static_cast<double>(std::max(wy1, wy2)));
    if (!(x1 > x0) || !(y1 > y0)) return true;  // nothing of the area is in the window
    if (std::isfinite(sx) && std::isfinite(sy) && sx > 0.0 && sy > 0.0) {
      const int w = std::clamp(static_cast<int>(std::lround((x1 - x0) * sx)), 1, kMaxResample);
      const int h = std::clamp(static_cast<int>(std::lround((y1 - y0) * sy)), 1, kMaxResample);
      ResampledArea cells;
      try {
        cells = resample_area(img, cut, tr[0], tr[3], x0, x1, y0, y1, w, h, bg);
      } catch (const std::bad_alloc&) {
        con_.line(" Not enough memory to draw the image; it is not drawn.");
        return false;
      }
      // A curved stretch is applied here, to the cells, through a fine table: giza then draws
      // them with a two-point ramp (its own look-up in a long colour table costs more than
      // the whole resampling).
      float draw_lo = lo, draw_hi = hi;
      if (stretch != Stretch::linear) {
        stretch_cells(cells.px, lo, hi, stretch);
        set_ramp(grey, fg > bg, Stretch::linear);
        draw_lo = 0.0f;
        draw_hi = 1.0f;
      }
      const double dx = (x1 - x0) / w, dy = (y1 - y0) / h;
      const float tr2[6] = {static_cast<float>(x0 - 0.5 * dx),
                            static_cast<float>(dx),
                            0.0f,
                            static_cast<float>(y0 - 0.5 * dy),
                            0.0f,
                            static_cast<float>(dy)};
      cpgimag(cells.px.data(), w, h, 1, w, 1, h, draw_lo, draw_hi, tr2);
      return true;
    }
  }

  // Any other transformation (or a device without a size): the area as it is, undefined
  // (NaN) pixels drawn dark like the background level.
  const int w = i2 - i1 + 1, h = j2 - j1 + 1;
  std::vector<float> copy(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int j = j1; j <= j2; ++j)
    for (int i = i1; i <= i2; ++i) {
      const float value = img.at(i, j);
      copy[static_cast<std::size_t>(j - j1) * static_cast<std::size_t>(w) + static_cast<std::size_t>(i - i1)] =
          shown_pixel(value) ? value : bg;
    }
  // The copy's pixel (1, 1) is the image's (i1, j1).
  const float tr3[6] = {tr[0] + tr[1] * static_cast<float>(i1 - 1) + tr[2] * static_cast<float>(j1 - 1), tr[1], tr[2],
                        tr[3] + tr[4] * static_cast<float>(i1 - 1) + tr[5] * static_cast<float>(j1 - 1), tr[4], tr[5]};
  cpgimag(copy.data(), w, h, 1, w, 1, h, lo, hi, tr3);
  return true;
}

void Graphics::colour_bar(const std::string& caption) {
  if (!live() || !ramp_.drawn || !(ramp_.hi > ramp_.lo)) return;
  float vx1, vx2, vy1, vy2, wx1, wx2, wy1, wy2, ch = 1.0f;
  cpgqvp(0, &vx1, &vx2, &vy1, &vy2);
  cpgqwin(&wx1, &wx2, &wy1, &wy2);
  cpgqch(&ch);
  // A narrow strip just right of the frame, as tall as it.
  const float bx1 = std::min(vx2 + 0.02f, 0.95f), bx2 = std::min(bx1 + 0.025f, 0.99f);
  cpgsvp(bx1, bx2, vy1, vy2);
  cpgswin(0.0f, 1.0f, ramp_.lo, ramp_.hi);
  set_ramp(ramp_.grey, ramp_.fg_is_upper, ramp_.stretch);
  constexpr int kSteps = 256;
  std::array<float, 2 * kSteps> v{};
  const double d = (static_cast<double>(ramp_.hi) - ramp_.lo) / kSteps;
  for (int k = 0; k < kSteps; ++k) v[2 * k] = v[2 * k + 1] = static_cast<float>(ramp_.lo + (k + 0.5) * d);
  // Two columns so that giza draws a block image; cell (i, j) covers x (i-1)/2 .. i/2.
  const float tr[6] = {-0.25f, 0.5f, 0.0f, static_cast<float>(ramp_.lo - 0.5 * d), 0.0f, static_cast<float>(d)};
  cpgimag(v.data(), 2, kSteps, 1, 2, 1, kSteps, ramp_.lo, ramp_.hi, tr);
  cpgbox("BC", 0.0f, 0, "BC", 0.0f, 0);
  cpgsch(0.8f * ch);
  char top[32], bottom[32];
  std::snprintf(top, sizeof top, "%.5g", static_cast<double>(ramp_.hi));
  std::snprintf(bottom, sizeof bottom, "%.5g", static_cast<double>(ramp_.lo));
  cpgmtxt("T", 0.8f, 0.5f, 0.5f, top);
  cpgmtxt("B", 1.3f, 0.5f, 0.5f, bottom);
  if (!caption.empty()) cpgmtxt("B", 2.6f, 0.5f, 0.5f, caption.c_str());
  cpgsch(ch);
  cpgsvp(vx1, vx2, vy1, vy2);
  cpgswin(wx1, wx2, wy1, wy2);
}

void Graphics::wait_for_input() {
  if (!live() || !watch_ || stdin_read_ahead() || !watch_->follow_new_window()) return;
  // A keystroke at a terminal must end the wait at once and be echoed once, by the line
  // editor that reads it: while waiting, the terminal neither waits for a whole line nor echoes.
  termios saved{};
  const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (tty) {
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  }
  watch_->wait(STDIN_FILENO, redraw_on_change());
  if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  live();  // a display lost during the wait is told now, before the answer is read
}

std::function<void(bool)> Graphics::redraw_on_change() {
  return [this](bool resized) {
    if (resized && redraw_) redraw_();  // a new page takes the window's new size
    cpgupdt();                          // giza copies its picture to the window again
  };
}

std::optional<CursorRead> Graphics::window_cursor() {
  if (!watch_ || !watch_->follow_new_window()) return std::nullopt;
  con_.flush();
  cpgupdt();
  const std::optional<WindowInput> in = watch_->next_input(redraw_on_change());
  if (!in) {
    if (con_.interrupt().raised()) {
      con_.out() << '\n';
      throw Interrupted();
    }
    if (!watch_->follow_new_window()) return std::nullopt;  // the window is gone
    return window_cursor();                                 // another signal: wait on
  }
  // Window pixels to world coordinates: the view surface is the window less giza's margin
  // of 20 pixels on each side, its y axis pointing up.
  constexpr float kMargin = 20.0f;
  float sx1, sx2, sy1, sy2, vx1, vx2, vy1, vy2, wx1, wx2, wy1, wy2;
  cpgqvsz(3, &sx1, &sx2, &sy1, &sy2);
  cpgqvp(0, &vx1, &vx2, &vy1, &vy2);
  cpgqwin(&wx1, &wx2, &wy1, &wy2);
  const double w = static_cast<double>(sx2) - sx1, h = static_cast<double>(sy2) - sy1;
  const double nx = (in->x - kMargin) / w, ny = 1.0 - (in->y - kMargin) / h;
  CursorRead c;
  c.x = static_cast<float>(wx1 + (nx - vx1) / (static_cast<double>(vx2) - vx1) * (static_cast<double>(wx2) - wx1));
  c.y = static_cast<float>(wy1 + (ny - vy1) / (static_cast<double>(vy2) - vy1) * (static_cast<double>(wy2) - wy1));
  c.key = in->key;
  return c;
}

CursorRead Graphics::cursor(float x0, float y0) {
  CursorRead c{x0, y0, 'A'};
  if (con_.interrupt().raised()) throw Interrupted();
  // On an X window the clicks and keys are read from the program's own connection: every
  // one is kept until a read takes it, and Ctrl-C ends the wait.
  if (live() && has_cursor_)
    if (const std::optional<CursorRead> w = window_cursor()) return *w;
  if (live() && has_cursor_) {
    // The prompt must be visible before the program waits for the mouse, also when the
    // command window is a pipe or a file (block-buffered).
    con_.flush();
    cpgupdt();
    // giza returns 0 on success (PGPLOT returns 1) and reports the mouse wheel as control
    // characters (21 up, 4 down): those are neither clicks nor typed keys, so the read goes on.
    for (;;) {
      float x = c.x, y = c.y;
      char ch = 0;
      int rc = 0;
      if (!read_giza_cursor(x, y, ch, rc) || !live()) break;
      if (rc != 0) break;
      const auto u = static_cast<unsigned char>(ch);
      if ((u < 32 && u != 27) || u == 127) continue;  // Esc (27) is a key the loops listen to
      c.x = x;
      c.y = y;
      c.key = ch;  // 'A', 'D', 'X' for the buttons; typed keys as typed
      return c;
    }
    if (live()) con_.line(" The graphics window gave no cursor position; please type it.");
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
