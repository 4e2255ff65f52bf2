// The graphics window: a thin layer over giza's PGPLOT interface.
// Only this layer includes cpgplot.h. It also hides the places where giza differs
// from PGPLOT (cursor return codes, the grey ramp direction, smoothing of enlarged images).
#pragma once

#include <array>
#include <span>
#include <string>

#include "numeric/image_view.h"

namespace zelvo {

class Console;

struct CursorRead {
  float x = 0.0f;
  float y = 0.0f;
  char key = 'A';  // 'A' left button, 'D' middle, 'X' right, or the typed key
};

class Graphics {
 public:
  explicit Graphics(Console& con);
  ~Graphics();
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;

  // Opens a giza device ("/xw", "/null", "/png", "ZelvoImage.ps/ps", ...) and selects it.
  // Page prompting is turned off (it would read the command window). Returns false, and
  // prints a one-line message, when the device cannot be opened. An empty name or "?" is
  // refused (giza would loop asking for a device).
  bool open(const std::string& device);
  // Opens a device and sizes its window to width x height pixels (screen devices).
  bool open_sized(const std::string& device, int width, int height);
  // Closes every open device (PGEND).
  void close_all();
  bool is_open() const { return id_ > 0; }
  const std::string& device() const { return device_; }
  bool has_cursor() const { return has_cursor_; }

  // Drawing primitives (no-ops when no device is open).
  void erase();
  void viewport(float x1, float x2, float y1, float y2);
  void window(float x1, float x2, float y1, float y2);
  void text(float x, float y, float angle, float fjust, const std::string& s);
  void box(const char* xopt = "BCNST", float xtick = 0.0f, int nxsub = 0, const char* yopt = "BCNST",
           float ytick = 0.0f, int nysub = 0);
  void label(const std::string& x, const std::string& y, const std::string& top);
  void line(std::span<const float> x, std::span<const float> y);
  void points(std::span<const float> x, std::span<const float> y, int symbol);
  void colour(int ci);
  void line_width(int lw);
  void line_style(int ls);
  void char_height(float ch);
  void flush();

  // Draws columns i1..i2, rows j1..j2 (1-based, inclusive) of `image` through the
  // transformation `tr`, either as a grey scale (grey = true) or with the pseudo-colour
  // ramp. `fg` is the value drawn brightest (white, or the hot end of the colour ramp) and
  // `bg` the value drawn darkest, as PGGRAY shows them on a screen; prints look the same.
  // The index range is clipped to the image. Returns false, after
  // printing one line, when nothing could be drawn (equal levels, empty range).
  bool image(const ImageView& image, int i1, int i2, int j1, int j2, float fg, float bg,
             const std::array<float, 6>& tr, bool grey);

  // Reads the cursor, starting at (x0, y0). On a device without a cursor this prints
  // "Cursor position (x y):" and reads x, y and an optional key from the command window.
  CursorRead cursor(float x0, float y0);

  // Input focus: windows of one terminal and an X window have no focus to hand over.
  void focus() {}

 private:
  Console& con_;
  int id_ = 0;
  std::string device_;
  bool has_cursor_ = false;
};

}  // namespace zelvo
