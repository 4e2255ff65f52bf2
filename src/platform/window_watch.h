// A second connection to the X server that follows the window giza opened: its size and
// exposure, so that the program can draw its picture again while it waits for input (giza
// itself handles window events only inside its own calls), and the clicks and keys sent to
// it, each kept until a cursor read takes it (giza's own cursor read listens only while it
// runs and throws away what arrives in between).
#pragma once

#include <functional>
#include <memory>
#include <optional>

namespace zelvo {

// A lost X display (the server ended, the connection dropped) does not end the program: every
// connection the program or giza opens lets Xlib return after the loss instead of exiting,
// and x_display_lost() tells from then on that it happened. `hook`, when set, is called at
// the loss, from inside the Xlib call that found it.
bool x_display_lost();
void set_display_lost_hook(void (*hook)());

// A click or a key in the window: the position in window pixels (from its top left corner)
// and 'A', 'D', 'X' for the left, middle and right buttons, or the typed character.
struct WindowInput {
  int x = 0, y = 0;
  char key = 'A';
};

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
  // calls `changed(true)` after a size change and `changed(false)` after an exposure. Clicks
  // and keys that arrive meanwhile answer no cursor read: they are dropped.
  void wait(int input_fd, const std::function<void(bool resized)>& changed);

  // The oldest click or key not yet taken, waiting for one when there is none; the window
  // is kept drawn meanwhile as in wait(). None when a signal interrupts the wait or the
  // window is gone.
  std::optional<WindowInput> next_input(const std::function<void(bool resized)>& changed);

  // Drops the clicks and keys not yet taken (those that came while the program waited for a
  // typed answer, which no later cursor question should take as its own); size changes and
  // exposures met go to `changed`.
  void drop_input(const std::function<void(bool resized)>& changed);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zelvo
