#include "platform/window_watch.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <sys/select.h>

#include <csignal>

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>

namespace zelvo {

namespace {

// Windows named "giza" among the root's children and their children (a window manager's
// frames in between).
void giza_windows(Display* dpy, Window w, int depth, std::set<Window>& out) {
  char* name = nullptr;
  if (XFetchName(dpy, w, &name) && name) {
    if (std::strcmp(name, "giza") == 0) out.insert(w);
    XFree(name);
  }
  if (depth >= 3) return;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return;
  for (unsigned int k = 0; k < n; ++k) giza_windows(dpy, children[k], depth + 1, out);
  if (children) XFree(children);
}

// A window that vanished between finding it and asking about it is no reason to end the
// program (Xlib's own handler would); other errors go to the handler there was before.
XErrorHandler previous_handler = nullptr;
bool handler_set = false;
int tolerant_handler(Display* dpy, XErrorEvent* e) {
  if (e->error_code == BadWindow || e->error_code == BadDrawable || e->error_code == BadAccess) return 0;
  return previous_handler ? previous_handler(dpy, e) : 0;
}

volatile sig_atomic_t display_lost = 0;
void (*lost_hook)() = nullptr;

// Xlib calls this after an I/O error of `dpy` instead of exiting: the display is unusable
// from then on, and the program goes on without it.
void keep_running(Display*, void*) {
  display_lost = 1;
  if (lost_hook != nullptr) lost_hook();
}

// The message Xlib's own I/O error handler would print before the exit is left to the
// program's one line.
int quiet_io_error(Display*) { return 0; }

// The cursor read's answer for a button: the three buttons as PGPLOT names them; the wheel
// (buttons 4 to 7) and further buttons are no answer.
std::optional<char> button_key(unsigned int button) {
  switch (button) {
    case Button1: return 'A';
    case Button2: return 'D';
    case Button3: return 'X';
    default: return std::nullopt;
  }
}

// The character of a key press; modifier keys alone and control characters other than Esc
// (Tab, Return, Ctrl- combinations) are no answer.
std::optional<char> typed_key(XKeyEvent* e) {
  char buf[8] = {0};
  KeySym sym = 0;
  const int n = XLookupString(e, buf, sizeof buf, &sym, nullptr);
  if (n != 1 || (sym >= XK_Shift_L && sym <= XK_Hyper_R)) return std::nullopt;
  const auto u = static_cast<unsigned char>(buf[0]);
  if ((u < 32 && u != 27) || u == 127) return std::nullopt;
  return buf[0];
}

}  // namespace

bool x_display_lost() { return display_lost != 0; }
void set_display_lost_hook(void (*hook)()) { lost_hook = hook; }

}  // namespace zelvo

// Every connection to an X server, giza's own included, is opened here: the real
// XOpenDisplay, then the handler that keeps the program running when the connection is lost.
// Xlib reads that handler before it tells the loss, so it must be in place from the start.
extern "C" Display* XOpenDisplay(const char* name) {
  using Open = Display* (*)(const char*);
  static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "XOpenDisplay"));
  if (real == nullptr) return nullptr;
  Display* dpy = real(name);
  if (dpy != nullptr) {
    XSetIOErrorHandler(zelvo::quiet_io_error);
    XSetIOErrorExitHandler(dpy, zelvo::keep_running, nullptr);
  }
  return dpy;
}

namespace zelvo {

struct WindowWatch::Impl {
  Display* dpy = nullptr;
  Window win = 0;
  int width = 0, height = 0;
  std::set<Window> before;
  int searches = 0;                // the window tree is searched a few times only (it may be large)
  std::deque<WindowInput> inputs;  // clicks and keys not yet taken, oldest first

  // Reads every event the server has sent; size changes and exposures go to `changed`,
  // clicks and keys to `inputs`. False when the window is gone.
  bool drain(const std::function<void(bool resized)>& changed) {
    bool resized = false, exposed = false;
    while (!x_display_lost() && XPending(dpy) > 0) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == ConfigureNotify && ev.xconfigure.window == win) {
        if (ev.xconfigure.width != width || ev.xconfigure.height != height) resized = true;
        width = ev.xconfigure.width;
        height = ev.xconfigure.height;
      } else if (ev.type == Expose && ev.xexpose.count == 0) {
        exposed = true;
      } else if (ev.type == DestroyNotify && ev.xdestroywindow.window == win) {
        win = 0;
      } else if (ev.type == ButtonPress && ev.xbutton.window == win) {
        if (const auto k = button_key(ev.xbutton.button)) inputs.push_back({ev.xbutton.x, ev.xbutton.y, *k});
      } else if (ev.type == KeyPress && ev.xkey.window == win) {
        if (const auto k = typed_key(&ev.xkey)) inputs.push_back({ev.xkey.x, ev.xkey.y, *k});
      }
    }
    if (!win || x_display_lost()) return false;
    if ((resized || exposed) && changed) changed(resized);
    return true;
  }

  // Waits until the X connection or `input_fd` (when 0 or more) is readable. False after a
  // signal or when `input_fd` is readable.
  bool wait_for_x(int input_fd) {
    const int xfd = ConnectionNumber(dpy);
    fd_set fds;
    FD_ZERO(&fds);
    if (input_fd >= 0) FD_SET(input_fd, &fds);
    FD_SET(xfd, &fds);
    const int r = select(std::max(input_fd, xfd) + 1, &fds, nullptr, nullptr, nullptr);
    return !(r < 0 || (input_fd >= 0 && FD_ISSET(input_fd, &fds)));
  }
};

WindowWatch::WindowWatch() : impl_(std::make_unique<Impl>()) {
  impl_->dpy = XOpenDisplay(nullptr);
  if (!impl_->dpy) return;
  if (!handler_set) {
    previous_handler = XSetErrorHandler(tolerant_handler);
    handler_set = true;
  }
  giza_windows(impl_->dpy, DefaultRootWindow(impl_->dpy), 0, impl_->before);
}

WindowWatch::~WindowWatch() {
  // A lost connection is not closed: closing talks to the server.
  if (impl_->dpy && !x_display_lost()) XCloseDisplay(impl_->dpy);
}

bool WindowWatch::follow_new_window() {
  Display* dpy = impl_->dpy;
  if (!dpy || x_display_lost()) return false;
  if (impl_->win) return true;
  if (++impl_->searches > 3) return false;
  std::set<Window> now;
  giza_windows(dpy, DefaultRootWindow(dpy), 0, now);
  for (const Window w : now)
    if (!impl_->before.count(w)) impl_->win = w;
  if (!impl_->win) return false;
  // Only one client may listen to a window's button presses: this connection takes them
  // from the start, so that no click is lost before the first cursor read.
  XSelectInput(dpy, impl_->win, StructureNotifyMask | ExposureMask | ButtonPressMask | KeyPressMask);
  XWindowAttributes a;
  if (XGetWindowAttributes(dpy, impl_->win, &a)) {
    impl_->width = a.width;
    impl_->height = a.height;
  }
  XSync(dpy, False);
  return true;
}

void WindowWatch::wait(int input_fd, const std::function<void(bool resized)>& changed) {
  if (!impl_->dpy || !impl_->win) return;
  for (;;) {
    const bool alive = impl_->drain(changed);
    impl_->inputs.clear();  // a click at a typed question answers nothing
    if (!alive || !impl_->wait_for_x(input_fd)) return;
  }
}

std::optional<WindowInput> WindowWatch::next_input(const std::function<void(bool resized)>& changed) {
  if (!impl_->dpy || !impl_->win) return std::nullopt;
  for (;;) {
    const bool alive = impl_->drain(changed);
    if (!impl_->inputs.empty()) {
      const WindowInput in = impl_->inputs.front();
      impl_->inputs.pop_front();
      return in;
    }
    if (!alive || !impl_->wait_for_x(-1)) return std::nullopt;
  }
}

void WindowWatch::drop_input(const std::function<void(bool resized)>& changed) {
  if (!impl_->dpy || !impl_->win) return;
  impl_->drain(changed);
  impl_->inputs.clear();
}

}  // namespace zelvo
