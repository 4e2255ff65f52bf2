// The graphics window: a thin layer over giza's PGPLOT interface.
// Only this layer includes cpgplot.h. It also hides the places where giza differs
// from PGPLOT (cursor return codes, the grey ramp direction, smoothing of enlarged images).
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "numeric/box.h"
#include "numeric/image_view.h"
#include "numeric/zscale.h"
#include "platform/giza_text.h"
#include "platform/window_watch.h"

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
  // Starts a new page. On a window the page takes the window's current size, so a drawing
  // after the user resized the window fills it.
  void erase();
  void viewport(float x1, float x2, float y1, float y2);
  void window(float x1, float x2, float y1, float y2);
  // Sets the window and shrinks the viewport to the largest centred part of it in which one
  // unit of x and one of y have the same length on the device: image pixels are square.
  void window_equal_scales(float x1, float x2, float y1, float y2);
  // Text with PGPLOT escapes (the program's own labels).
  void text(float x, float y, float angle, float fjust, const std::string& s);
  // Text drawn exactly as given (file names and other text typed by the user), horizontal.
  void literal_text(float x, float y, float fjust, std::string_view s);
  // The frame with ticks and labels. An interval of 0 lets the program choose one at which
  // the numeric labels of that axis do not overlap.
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

  // Draws the pixels of `area` (1-based, inclusive) of `image` through the
  // transformation `tr`, either as a grey scale (grey = true) or with the pseudo-colour
  // ramp. `fg` is the value drawn brightest (white, or the hot end of the colour ramp) and
  // `bg` the value drawn darkest, as PGGRAY shows them on a screen; prints look the same.
  // The area is clipped to the image. Returns false, after
  // printing one line, when nothing could be drawn (equal levels, empty range).
  // `stretch` shapes the ramp between the lower and the upper level (the brightness rises
  // from the lower level as stretched() says, or falls from it in a negative display).
  bool image(ConstImageView image, const Box& area, float fg, float bg, const std::array<float, 6>& tr, bool grey,
             Stretch stretch = Stretch::linear);

  // A colour bar to the right of the current viewport: the ramp of the last image() from
  // its lower level (bottom) to its upper level (top), the two levels written at its ends
  // and `caption` (the program's own words, no escapes) under it. Nothing when no image was drawn on this page.
  void colour_bar(const std::string& caption);

  // What is drawn again when the window is resized or uncovered: the program's last
  // picture, drawn on a fresh page of the window's new size. Empty: nothing.
  void set_redraw(std::function<void()> redraw) { redraw_ = std::move(redraw); }
  // Waits until standard input has a line to read, meanwhile drawing the last picture again
  // whenever the X window is resized or uncovered (giza handles window events only inside
  // its own calls). Returns at once on devices other than an X window.
  void wait_for_input();

  // Reads the cursor: the next click or key in the window (one that came after the last
  // typed answer, and that no earlier read took). The pointer is not moved; (x0, y0) is
  // where a read without a cursor starts. On a device without a cursor this prints
  // "Cursor position (x y):" and reads x, y and an optional key from the command window.
  // Esc arrives as the key '\x1b'; other control keys and the mouse wheel are skipped.
  // Throws Interrupted when Ctrl-C comes before or during the wait.
  CursorRead cursor(float x0, float y0);

  // Input focus: windows of one terminal and an X window have no focus to hand over.
  void focus() {}

 private:
  // Whether a device is open; a window whose X display was lost is given up first, with one line.
  bool live();
  // The cursor read of an X window through the program's own connection; none where that
  // connection follows no window. Throws Interrupted after Ctrl-C.
  std::optional<CursorRead> window_cursor();
  // What a size change or an exposure of the window calls for while the program waits.
  std::function<void(bool)> redraw_on_change();

  Console& con_;
  int id_ = 0;
  std::string device_;
  bool has_cursor_ = false;
  // Resolution at which images are resampled on devices whose units are not pixels (paper
  // devices, the null device), in dots per inch; 0 where device units are pixels.
  double paper_dpi_ = 0.0;
  // The ramp and levels of the last image(), for the colour bar.
  struct LastRamp {
    bool drawn = false, grey = true, fg_is_upper = true;
    float lo = 0.0f, hi = 0.0f;
    Stretch stretch = Stretch::linear;
  } ramp_;
  std::function<void()> redraw_;
  std::unique_ptr<WindowWatch> watch_;  // the X window's size and exposure, on /xw
};

}  // namespace zelvo
