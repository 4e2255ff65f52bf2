// The program run on a pseudo-terminal, for tests of what a person at a terminal sees.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zelvo::testing {

// The program on the slave side of a pseudo-terminal of 100 x 40 cells.
class PtyProgram {
 public:
  PtyProgram(const std::string& folder, const std::vector<std::string>& args) {
    winsize ws{};
    ws.ws_col = 100;
    ws.ws_row = 40;
    std::vector<std::string> argv = {ZELVO_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    pid_ = forkpty(&master_, nullptr, nullptr, &ws);
    if (pid_ == 0) {
      if (chdir(folder.c_str()) != 0) _exit(127);
      setenv("TERM", "xterm", 1);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
  }
  ~PtyProgram() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0 && master_ >= 0; }

  void type(const std::string& keys) { (void)!write(master_, keys.data(), keys.size()); }

  // Waits until the program has the terminal in raw mode (its line editor reads keys one by
  // one), up to `timeout`. Keys that the terminal driver would take itself, like Ctrl-D,
  // must wait for this.
  bool wait_raw_mode(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
      termios t{};
      if (tcgetattr(master_, &t) == 0 && !(t.c_lflag & ICANON)) return true;
      usleep(10000);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }

  // Waits until `text` has been shown after what earlier waits consumed; returns the rest
  // of its line.
  std::optional<std::string> wait_for(const std::string& text,
                                      std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t at = screen_.find(text, consumed_);
      if (at != std::string::npos) {
        const std::size_t from = at + text.size();
        const std::size_t eol = screen_.find_first_of("\r\n", from);
        if (eol != std::string::npos) {
          consumed_ = eol;
          return screen_.substr(from, eol - from);
        }
      }
      if (std::chrono::steady_clock::now() >= end) return std::nullopt;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return std::nullopt;  // the program has ended
        screen_.append(buf, static_cast<std::size_t>(n));
      }
    }
  }

  // Passes the welcome pause and waits for the main menu.
  bool to_main_menu() {
    if (!started() || !wait_for("Press <enter> to continue...")) return false;
    type("\r");
    return wait_for("Q = Quit (without saving)").has_value();
  }

  // Waits up to `timeout` for the end; returns the exit status or -1.
  int wait_end(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      // Keep draining the terminal, or a program with a full pty buffer would stall.
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) screen_.append(buf, static_cast<std::size_t>(n));
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    return -1;
  }

  const std::string& screen() const { return screen_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string screen_;
  std::size_t consumed_ = 0;
};

}  // namespace zelvo::testing
