// Answers typed at a terminal: the program runs on a pseudo-terminal, and the test types
// keys as a person would, arrow keys included.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <thread>

#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kLeft = "\x1b[D";
constexpr const char* kUp = "\x1b[A";

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

  // Waits until `text` has been shown after what earlier waits consumed; returns the rest
  // of its line.
  std::optional<std::string> wait_for(const std::string& text, milliseconds timeout = milliseconds(15000)) {
    const auto end = Clock::now() + timeout;
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
      if (Clock::now() >= end) return std::nullopt;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[4096];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) return std::nullopt;  // the program has ended
        screen_.append(buf, static_cast<std::size_t>(n));
      }
    }
  }

  // Waits up to `timeout` for the end; returns the exit status or -1.
  int wait_end(milliseconds timeout = milliseconds(10000)) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
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

std::string repeated(const char* key, int n) {
  std::string s;
  for (int k = 0; k < n; ++k) s += key;
  return s;
}

// Answers "d", "1", "n" and returns the maximum pixel value the display reports.
std::optional<double> display_maximum(PtyProgram& p) {
  p.type("d\r");
  if (!p.wait_for("Type in 1 for greyscale or 0 for pseudoscale:")) return std::nullopt;
  p.type("1\r");
  const auto max = p.wait_for("The maximum pixel value in the image = ");
  if (!max || !p.wait_for("Do you want to change display levels (y/n)?")) return std::nullopt;
  p.type("n\r");
  if (!p.wait_for("Q = Quit (without saving)")) return std::nullopt;
  return std::stod(*max);
}

TEST(TerminalInput, AnswersAreEditedWithArrowKeysAndRecalledFromEarlierAnswers) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  Image img = small_field(64, 48);
  img.at(10, 10) = 54321.0f;  // a maximum the display reports back
  dir.write_fits("field.fits", img);
  PtyProgram p(dir.path(), {"--device", "/null"});
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(p.wait_for("Press <enter> to continue...")) << p.screen();
  p.type("\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();

  // "fild.fits", the cursor moved back seven places, the missing letter put in.
  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:")) << p.screen();
  p.type("fild.fits" + repeated(kLeft, 7) + "e\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  const auto max1 = display_maximum(p);
  ASSERT_TRUE(max1) << p.screen();
  EXPECT_NEAR(*max1, 54321.0, 0.01);

  // Slot 2, and the file name recalled with the up arrow: six answers back.
  p.type("2\r");
  ASSERT_TRUE(p.wait_for("Active image slot = 2")) << p.screen();
  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:")) << p.screen();
  p.type(repeated(kUp, 6) + "\r");
  ASSERT_TRUE(p.wait_for("Active image slot = 2   field.fits")) << p.screen();
  const auto max2 = display_maximum(p);
  ASSERT_TRUE(max2) << p.screen();
  EXPECT_NEAR(*max2, 54321.0, 0.01);

  p.type("q\r");
  ASSERT_TRUE(p.wait_for("Thank you for using Zelvo.")) << p.screen();
  EXPECT_EQ(p.wait_end(), 0);
  EXPECT_EQ(p.screen().find("FITSIO Error"), std::string::npos);
}

TEST(TerminalInput, ControlDOnAnEmptyLineEndsTheInputLikeTheEndOfAFile) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  PtyProgram p(dir.path(), {"--device", "/null"});
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(p.wait_for("Press <enter> to continue...")) << p.screen();
  p.type("\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  // A Ctrl-D that comes before the editor has the terminal is taken by the terminal driver
  // (and lost); it is typed again after a bounded wait.
  bool ended = false;
  for (int attempt = 0; attempt < 5 && !ended; ++attempt) {
    p.type("\x04");
    ended = p.wait_for("End of input; leaving without saving.", milliseconds(1000)).has_value();
  }
  ASSERT_TRUE(ended) << p.screen();
  EXPECT_EQ(p.wait_end(), 0);
}

}  // namespace
}  // namespace zelvo::testing
