#include "support/x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace zelvo::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Full path of an executable found on PATH, or empty.
std::string which(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream ss(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (dir.empty()) continue;
    const std::string p = dir + "/" + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

// The environment with DISPLAY set to `display` (or left alone when empty), built before a
// fork so the child only calls async-signal-safe functions.
std::vector<std::string> environment_with_display(const std::string& display) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
  if (!display.empty()) env.push_back("DISPLAY=" + display);
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Starts `argv` (argv[0] a full path) with the given descriptors as its standard streams
// (-1: /dev/null) in folder `cwd` (empty: here). Returns the pid, or -1.
pid_t spawn(std::vector<std::string> argv, const std::string& display, int in, int out, int err,
            const std::string& cwd = {}, int keep_fd = -1) {
  auto env = environment_with_display(display);
  auto cargv = c_strings(argv);
  auto cenv = c_strings(env);
  const int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    dup2(in >= 0 ? in : devnull, 0);
    dup2(out >= 0 ? out : devnull, 1);
    dup2(err >= 0 ? err : devnull, 2);
    if (keep_fd >= 0) {
      const int flags = fcntl(keep_fd, F_GETFD);
      fcntl(keep_fd, F_SETFD, flags & ~FD_CLOEXEC);
    }
    execve(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  if (devnull >= 0) close(devnull);
  return pid;
}

// Waits for `pid` up to `timeout`; kills it after that. Returns its exit status or -1.
int wait_bounded(pid_t pid, milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0) return -1;
    if (Clock::now() >= end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

uint32_t be32(const std::string& d, std::size_t at) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(d[at])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(d[at + 3]));
}

int shift_of(uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1u)) {
    mask >>= 1;
    ++s;
  }
  return s;
}

}  // namespace

std::string missing_x_tools() {
  std::string missing;
  for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "xwd"})
    if (which(tool).empty()) missing += std::string(missing.empty() ? "" : ", ") + tool;
  return missing.empty() ? std::string() : "not installed: " + missing;
}

XServer::XServer() {
  failure_ = missing_x_tools();
  if (!failure_.empty()) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    failure_ = "no pipe for Xvfb";
    return;
  }
  // -displayfd: Xvfb picks a free display number and writes it to the pipe when ready.
  // The screen holds the largest window (1280 x 1024) at its usual place.
  pid_ = spawn({which("Xvfb"), "-displayfd", std::to_string(fds[1]), "-screen", "0", "1600x1200x24", "-nolisten", "tcp",
                "-noreset"},
               "", -1, -1, -1, {}, fds[1]);
  close(fds[1]);
  std::string number;
  const auto end = Clock::now() + milliseconds(15000);
  while (Clock::now() < end) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      char buf[32];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<std::size_t>(n));
      if (number.find('\n') != std::string::npos) break;
    }
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    failure_ = "Xvfb did not start";
    stop();
    return;
  }
  display_ = ":" + number;
}

XServer::~XServer() { stop(); }

void XServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (wait_bounded(pid_, milliseconds(5000)) == -1) kill(pid_, SIGKILL);
  pid_ = -1;
}

int run_x_tool(const XServer& x, const std::vector<std::string>& argv, std::string* output) {
  std::vector<std::string> args = argv;
  args[0] = which(argv[0]);
  if (args[0].empty()) return -1;
  int fds[2] = {-1, -1};
  if (output && pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = spawn(args, x.display(), -1, output ? fds[1] : -1, -1);
  if (output) {
    close(fds[1]);
    output->clear();
    const auto end = Clock::now() + milliseconds(10000);
    while (Clock::now() < end) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      output->append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
  }
  if (pid < 0) return -1;
  return wait_bounded(pid, milliseconds(10000));
}

std::optional<WindowGeometry> find_window(const XServer& x, const std::string& name, milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  const std::regex rx(
      "Absolute upper-left X:\\s+(-?\\d+)[\\s\\S]*Absolute upper-left Y:\\s+(-?\\d+)"
      "[\\s\\S]*Width:\\s+(\\d+)[\\s\\S]*Height:\\s+(\\d+)");
  do {
    std::string out;
    if (run_x_tool(x, {"xwininfo", "-name", name}, &out) == 0) {
      std::smatch m;
      if (std::regex_search(out, m, rx))
        return WindowGeometry{std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4])};
    }
    std::this_thread::sleep_for(milliseconds(50));
  } while (Clock::now() < end);
  return std::nullopt;
}

bool move_pointer(const XServer& x, int sx, int sy) {
  return run_x_tool(x, {"xdotool", "mousemove", "--sync", std::to_string(sx), std::to_string(sy)}) == 0;
}

bool click(const XServer& x, int button) { return run_x_tool(x, {"xdotool", "click", std::to_string(button)}) == 0; }

bool press_key(const XServer& x, const std::string& keysym) { return run_x_tool(x, {"xdotool", "key", keysym}) == 0; }

int Screenshot::grey(int sx, int sy) const {
  if (sx < 0 || sy < 0 || sx >= width || sy >= height) return -1;
  const std::size_t k =
      (static_cast<std::size_t>(sy) * static_cast<std::size_t>(width) + static_cast<std::size_t>(sx)) * 3;
  return (rgb[k] + rgb[k + 1] + rgb[k + 2]) / 3;
}

Screenshot take_screenshot(const XServer& x, const std::string& scratch_file, std::string* why) {
  Screenshot shot;
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return Screenshot{};
  };
  if (run_x_tool(x, {"xwd", "-root", "-silent", "-out", scratch_file}) != 0) return fail("xwd failed");
  const std::string d = read_file(scratch_file);
  if (d.size() < 100) return fail("xwd wrote no image");
  // ZELVO_KEEP_SCREENSHOTS=folder keeps a copy of every screenshot for a person to look at.
  if (const char* keep = std::getenv("ZELVO_KEEP_SCREENSHOTS"); keep && *keep) {
    const std::size_t slash = scratch_file.find_last_of('/');
    std::ofstream(std::string(keep) + "/" + scratch_file.substr(slash + 1), std::ios::binary) << d;
  }
  // XWD header: 25 big-endian 32-bit fields, then the window name, the colour map, the pixels.
  const uint32_t header_size = be32(d, 0), format = be32(d, 8), width = be32(d, 16), height = be32(d, 20);
  const uint32_t byte_order = be32(d, 28), bpp = be32(d, 44), bytes_per_line = be32(d, 48);
  const uint32_t visual_class = be32(d, 52), rmask = be32(d, 56), gmask = be32(d, 60), bmask = be32(d, 64);
  const uint32_t ncolors = be32(d, 76);
  if (format != 2 || (bpp != 32 && bpp != 24) || visual_class != 4)
    return fail("xwd image is not a 24/32-bit TrueColor ZPixmap");
  const std::size_t start = header_size + static_cast<std::size_t>(ncolors) * 12;
  if (d.size() < start + static_cast<std::size_t>(bytes_per_line) * height) return fail("xwd image is truncated");
  shot.width = static_cast<int>(width);
  shot.height = static_cast<int>(height);
  shot.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  const int rs = shift_of(rmask), gs = shift_of(gmask), bs = shift_of(bmask);
  const std::size_t step = bpp / 8;
  for (uint32_t row = 0; row < height; ++row)
    for (uint32_t col = 0; col < width; ++col) {
      const std::size_t at = start + static_cast<std::size_t>(row) * bytes_per_line + col * step;
      uint32_t v = 0;
      for (std::size_t b = 0; b < step; ++b) {
        const uint32_t byte = static_cast<uint8_t>(d[at + b]);
        v |= byte_order == 0 ? byte << (8 * b) : byte << (8 * (step - 1 - b));
      }
      const std::size_t k = (static_cast<std::size_t>(row) * width + col) * 3;
      shot.rgb[k] = static_cast<uint8_t>((v & rmask) >> rs);
      shot.rgb[k + 1] = static_cast<uint8_t>((v & gmask) >> gs);
      shot.rgb[k + 2] = static_cast<uint8_t>((v & bmask) >> bs);
    }
  return shot;
}

XProgram::XProgram(const XServer& x, const std::string& folder, const std::vector<std::string>& args) : x_(x) {
  out_path_ = folder + "/.xprogram-output";
  const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int fds[2];
  if (out < 0 || pipe2(fds, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv = {ZELVO_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = spawn(argv, x.display(), fds[0], out, out, folder);
  close(fds[0]);
  close(out);
  in_fd_ = fds[1];
  signal(SIGPIPE, SIG_IGN);  // a program that has ended must not end the test with it
}

XProgram::~XProgram() { finish(milliseconds(5000)); }

void XProgram::send(const std::string& line) {
  if (in_fd_ < 0) return;
  const std::string s = line + "\n";
  (void)!write(in_fd_, s.data(), s.size());
}

std::string XProgram::output() const { return read_file(out_path_); }

void XProgram::interrupt() {
  if (pid_ > 0 && !ended_) kill(pid_, SIGINT);
}

std::optional<std::string> XProgram::wait_for(const std::string& text, milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  for (;;) {
    // Read the output before asking whether the program has ended, so nothing it printed
    // just before ending is missed.
    int status = 0;
    if (!ended_ && pid_ > 0 && waitpid(pid_, &status, WNOHANG) != 0) {
      ended_ = true;
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const bool was_running = pid_ > 0 && !ended_;
    const std::string all = output();
    const std::size_t at = all.find(text, consumed_);
    if (at != std::string::npos) {
      const std::size_t from = at + text.size();
      std::size_t eol = all.find('\n', from);
      if (eol == std::string::npos) eol = all.size();
      consumed_ = eol;
      return all.substr(from, eol - from);
    }
    if (!was_running) return std::nullopt;
    if (Clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(milliseconds(20));
  }
}

int XProgram::finish(milliseconds timeout) {
  if (in_fd_ >= 0) {
    close(in_fd_);
    in_fd_ = -1;
  }
  if (pid_ > 0 && !ended_) {
    exit_code_ = wait_bounded(pid_, timeout);
    ended_ = true;
  }
  return exit_code_;
}

std::optional<std::string> click_until(const XServer& x, XProgram& p, int sx, int sy, int button,
                                       const std::string& reply) {
  if (!move_pointer(x, sx, sy) || !click(x, button)) return std::nullopt;
  return p.wait_for(reply);
}

Frame Frame::of_window(const WindowGeometry& w) {
  const double sw = w.width - 40.0, sh = w.height - 40.0;
  return Frame{w.x + 20.0 + 0.1 * sw, w.x + 20.0 + 0.9 * sw, w.y + 20.0 + 0.1 * sh, w.y + 20.0 + 0.9 * sh};
}

int Frame::screen_x(double wx, double x0, double x1) const {
  return static_cast<int>(std::lround(left + (wx - x0) / (x1 - x0) * (right - left)));
}
int Frame::screen_y(double wy, double y0, double y1) const {
  return static_cast<int>(std::lround(bottom - (wy - y0) / (y1 - y0) * (bottom - top)));
}
double Frame::world_x(int sx, double x0, double x1) const { return x0 + (sx - left) / (right - left) * (x1 - x0); }
double Frame::world_y(int sy, double y0, double y1) const { return y0 + (bottom - sy) / (bottom - top) * (y1 - y0); }

ImageFrame ImageFrame::of(const WindowGeometry& w, int i1, int i2, int j1, int j2) {
  const Frame base = Frame::of_window(w);
  ImageFrame f;
  f.x0 = i1 - 0.5;
  f.x1 = i2 + 0.5;
  f.y0 = j1 - 0.5;
  f.y1 = j2 + 0.5;
  const double scale = std::min((base.right - base.left) / (f.x1 - f.x0), (base.bottom - base.top) / (f.y1 - f.y0));
  const double cx = 0.5 * (base.left + base.right), cy = 0.5 * (base.top + base.bottom);
  const double hw = 0.5 * scale * (f.x1 - f.x0), hh = 0.5 * scale * (f.y1 - f.y0);
  f.frame = Frame{cx - hw, cx + hw, cy - hh, cy + hh};
  return f;
}

bool resize_window(const XServer& x, const std::string& name, int width, int height) {
  if (run_x_tool(x, {"xdotool", "search", "--name", name, "windowsize", "%1", std::to_string(width),
                     std::to_string(height)}) != 0)
    return false;
  for (int k = 0; k < 100; ++k) {
    const auto g = find_window(x, name, milliseconds(2000));
    if (g && g->width == width && g->height == height) return true;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return false;
}

std::vector<double> numbers_in(const std::string& text) {
  std::vector<double> v;
  const std::regex rx("[-+]?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), rx); it != std::sregex_iterator(); ++it)
    v.push_back(std::stod(it->str()));
  return v;
}

}  // namespace zelvo::testing
