#include "platform/window_watch.h"

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <sys/select.h>

#include <csignal>

#include <algorithm>
#include <cstring>
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
  if (e->error_code == BadWindow || e->error_code == BadDrawable) return 0;
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
  int searches = 0;  // the window tree is searched a few times only (it may be large)
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
  XSelectInput(dpy, impl_->win, StructureNotifyMask | ExposureMask);
  XWindowAttributes a;
  if (XGetWindowAttributes(dpy, impl_->win, &a)) {
    impl_->width = a.width;
    impl_->height = a.height;
  }
  XFlush(dpy);
  return true;
}

void WindowWatch::wait(int input_fd, const std::function<void(bool resized)>& changed) {
  Display* dpy = impl_->dpy;
  if (!dpy || !impl_->win) return;
  const int xfd = ConnectionNumber(dpy);
  for (;;) {
    bool resized = false, exposed = false;
    while (!x_display_lost() && XPending(dpy) > 0) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == ConfigureNotify && ev.xconfigure.window == impl_->win) {
        if (ev.xconfigure.width != impl_->width || ev.xconfigure.height != impl_->height) resized = true;
        impl_->width = ev.xconfigure.width;
        impl_->height = ev.xconfigure.height;
      } else if (ev.type == Expose && ev.xexpose.count == 0) {
        exposed = true;
      } else if (ev.type == DestroyNotify && ev.xdestroywindow.window == impl_->win) {
        impl_->win = 0;
      }
    }
    if (!impl_->win || x_display_lost()) return;
    if (resized || exposed) changed(resized);
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(input_fd, &fds);
    FD_SET(xfd, &fds);
    const int r = select(std::max(input_fd, xfd) + 1, &fds, nullptr, nullptr, nullptr);
    if (r < 0 || FD_ISSET(input_fd, &fds)) return;  // input, or a signal (Ctrl-C)
  }
}

}  // namespace zelvo
