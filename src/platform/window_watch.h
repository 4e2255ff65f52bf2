// A second connection to the X server that follows the size and exposure of the window
// giza opened, so that the program can draw its picture again while it waits for input
// (giza itself handles window events only inside its own calls).
#pragma once

#include <functional>
#include <memory>

namespace zelvo {

// A lost X display (the server ended, the connection dropped) does not end the program: every
// connection the program or giza opens lets Xlib return after the loss instead of exiting,
// and x_display_lost() tells from then on that it happened. `hook`, when set, is called at
// the loss, from inside the Xlib call that found it.
bool x_display_lost();
void set_display_lost_hook(void (*hook)());

class WindowWatch {
 public:
  // Connects to the display of $DISPLAY and notes the giza windows already there. Call it
  // before opening the giza window.
  WindowWatch();
  ~WindowWatch();
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  // After the giza window was opened: finds it (the window named "giza" that was not there
  // before) and listens to it. False when there is no connection or no such window (yet).
  // True at once when a window is followed already.
  bool follow_new_window();

  // Waits until `input_fd` is readable, a signal arrives or the window is gone; meanwhile
  // calls `changed(true)` after a size change and `changed(false)` after an exposure.
  void wait(int input_fd, const std::function<void(bool resized)>& changed);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zelvo
