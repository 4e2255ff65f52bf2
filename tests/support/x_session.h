// Support for tests that use a real X window: a private Xvfb server, the program started on
// it with answers written over time, the mouse and keyboard driven by xdotool, and the
// screen read back with xwininfo and xwd.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelvo::testing {

using std::chrono::milliseconds;

// Why X tests cannot run here (a missing tool), or empty when they can.
std::string missing_x_tools();

// A private Xvfb server on a display number it picks itself; stopped at the end.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Empty when the server runs; otherwise why it does not.
  const std::string& failure() const { return failure_; }
  // ":N"
  const std::string& display() const { return display_; }
  // Stops the server now (a client waiting on it then loses its connection).
  void stop();

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string failure_;
};

// Absolute screen position and size of a window.
struct WindowGeometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// The first window named `name`, waited for up to `timeout`.
std::optional<WindowGeometry> find_window(const XServer& x, const std::string& name, milliseconds timeout);

// Runs an X client tool with DISPLAY set; returns its exit status (-1 when it could not run)
// and, when `output` is given, what it printed.
int run_x_tool(const XServer& x, const std::vector<std::string>& argv, std::string* output = nullptr);

// Moves the pointer to (sx, sy) and waits until it is there (move and click are separate
// commands: a click sent together with the move can be dropped).
bool move_pointer(const XServer& x, int sx, int sy);
bool click(const XServer& x, int button);
bool press_key(const XServer& x, const std::string& keysym);

// An RGB screenshot of the whole screen.
struct Screenshot {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // row-major, 3 bytes per pixel, top row first
  // Mean of the three channels at (sx, sy), 0..255.
  int grey(int sx, int sy) const;
  bool empty() const { return rgb.empty(); }
};

// Takes a screenshot with xwd and decodes it (ZPixmap, TrueColor, 24 or 32 bits per pixel).
// Empty, with `why` set, when that fails.
Screenshot take_screenshot(const XServer& x, const std::string& scratch_file, std::string* why = nullptr);

// The program running in a folder on an X display, its answers written to a pipe over time
// and its output (standard output and error) collected in a file.
class XProgram {
 public:
  XProgram(const XServer& x, const std::string& folder, const std::vector<std::string>& args);
  ~XProgram();
  XProgram(const XProgram&) = delete;
  XProgram& operator=(const XProgram&) = delete;

  bool started() const { return pid_ > 0; }
  // Writes one answer line.
  void send(const std::string& line);
  // Waits until `text` appears in the output after what earlier waits consumed; returns the
  // rest of the line that holds it and consumes the output up to there. None on timeout or
  // when the program has ended without printing it.
  std::optional<std::string> wait_for(const std::string& text, milliseconds timeout = milliseconds(15000));
  // Everything printed so far.
  std::string output() const;
  // Sends Ctrl-C (SIGINT) to the program.
  void interrupt();
  // Closes the answers (the program then ends at its next read) and waits for the end, up
  // to `timeout`, killing it after that. Returns the exit status, -1 when it was killed.
  int finish(milliseconds timeout = milliseconds(15000));

 private:
  const XServer& x_;
  std::string out_path_;
  pid_t pid_ = -1;
  int in_fd_ = -1;
  std::size_t consumed_ = 0;
  bool ended_ = false;
  int exit_code_ = -1;
};

// Clicks `button` once at (sx, sy) and waits for `reply` in the program's output (every
// click counts, also one that comes before the program waits for it). Returns the rest of
// the reply line, or none.
std::optional<std::string> click_until(const XServer& x, XProgram& p, int sx, int sy, int button,
                                       const std::string& reply);

// The plotting frame of a full-image display, in screen pixels: the view surface is the
// window less 20 pixels on each side, and the frame its central 80 %.
struct Frame {
  double left = 0, right = 0, top = 0, bottom = 0;
  static Frame of_window(const WindowGeometry& w);
  // Screen position of a world point in a frame spanning world x0..x1, y0..y1.
  int screen_x(double wx, double x0, double x1) const;
  int screen_y(double wy, double y0, double y1) const;
  // World position of a screen point.
  double world_x(int sx, double x0, double x1) const;
  double world_y(int sy, double y0, double y1) const;
};

// An image view in the window: pixels i1..i2 by j1..j2, each reaching half a unit around
// its index, drawn with square pixels in the largest centred part of the display frame
// (the central 80 % of the view surface).
struct ImageFrame {
  Frame frame;
  double x0 = 0, x1 = 1, y0 = 0, y1 = 1;  // world coordinates at the frame's edges
  static ImageFrame of(const WindowGeometry& w, int i1, int i2, int j1, int j2);
  // Screen position of a pixel coordinate, and back.
  int sx(double x) const { return frame.screen_x(x, x0, x1); }
  int sy(double y) const { return frame.screen_y(y, y0, y1); }
  double wx(int s) const { return frame.world_x(s, x0, x1); }
  double wy(int s) const { return frame.world_y(s, y0, y1); }
  double pixel() const { return (frame.right - frame.left) / (x1 - x0); }  // screen pixels per pixel
};

// Resizes the first window named `name` to width x height and waits until it has that size.
bool resize_window(const XServer& x, const std::string& name, int width, int height);

// Numbers in a text, in order (e.g. the two after "You clicked at ").
std::vector<double> numbers_in(const std::string& text);

}  // namespace zelvo::testing
