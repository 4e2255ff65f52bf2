// Ctrl-C and short memory: the work in hand stops, the images stay whole, the program goes on.
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "galaxy/rotation.h"
#include "session/loop.h"
#include "support/isolated_run.h"
#include "support/pty_program.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

using ::testing::HasSubstr;

// A real terminal: Ctrl-C during a long rotation curve, at a question and at the main menu.
TEST(CtrlC, StopsTheRotationCurveAbandonsAQuestionAndNeverEndsTheProgram) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  dir.write_fits("f.fits", small_field(256, 256));
  PtyProgram p(dir.path(), {"--device", "/null"});
  ASSERT_TRUE(p.to_main_menu());
  p.type("l\rf.fits\r");
  ASSERT_TRUE(p.wait_for("nxpix, nypix"));
  // Extent 360 and step 0.01: about 5e9 force terms, announced before it starts.
  p.type("g\r1\r128 128\r360 0.01\r0 0\r0\r");
  ASSERT_TRUE(p.wait_for("The rotation curve of this extent and step will take about "));
  ASSERT_TRUE(p.wait_for("rotation curve: point"));
  p.type("\x03");
  const auto stopped = p.wait_for(" Ctrl-C: the rotation curve was stopped after ");
  ASSERT_TRUE(stopped) << p.screen().substr(p.screen().size() > 2000 ? p.screen().size() - 2000 : 0);
  EXPECT_THAT(*stopped, HasSubstr(" of 36001 points; the profile tables are logged and no image was changed."));
  ASSERT_TRUE(p.wait_for("Active image slot = 1   f.fits"));

  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:"));
  // As a user would: a moment after the question shows, so the program is reading the answer
  // (a Ctrl-C between the prompt and the read is taken at the next read).
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  p.type("\x03");
  ASSERT_TRUE(p.wait_for(" Ctrl-C: the command was abandoned; back at the main menu."));
  ASSERT_TRUE(p.wait_for("Active image slot = 1   f.fits"));

  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  p.type("\x03");
  ASSERT_TRUE(
      p.wait_for(" Ctrl-C stops long work and abandons a question; to leave Zelvo type Q (or X to save first)."));
  p.type("q\r");
  ASSERT_TRUE(p.wait_for("Thank you for using Zelvo."));
  EXPECT_EQ(p.wait_end(), 0);
  EXPECT_THAT(dir.read("ZelvoProfile1.log"), HasSubstr("Rotation curve stopped by Ctrl-C after point"));
}

// An output stream that raises the Ctrl-C flag once `needle` has been printed `times` times:
// the moment a user would press it, without a race.
class RaiseOnText : public std::streambuf {
 public:
  RaiseOnText(volatile std::sig_atomic_t& flag, std::string needle, int times)
      : flag_(flag), needle_(std::move(needle)), times_(times) {}
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    text.push_back(traits_type::to_char_type(c));
    if (text.size() >= needle_.size() && text.compare(text.size() - needle_.size(), needle_.size(), needle_) == 0 &&
        --times_ == 0)
      flag_ = 1;
    return c;
  }

 private:
  volatile std::sig_atomic_t& flag_;
  std::string needle_;
  int times_;
};

std::string lines_of(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// Option 9 stopped as its first object is done: the first stays removed exactly as a list of
// that object alone removes it, the second and third are untouched.
TEST(CtrlC, StopsAnObjectListWithTheObjectsDoneKeptAndTheRestUntouched) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  const Image original = small_field(128, 128);
  dir.write_fits("f.fits", original);
  const auto session = [&](const std::string& list, const std::string& saved, volatile std::sig_atomic_t& flag,
                           int stop_at) {
    dir.write("ZelvoRep.log", list);
    RaiseOnText buf(flag, " Object 1 of 3: ", stop_at);
    std::ostream out(&buf);
    std::istringstream in(lines_of({"", "l", "f.fits", "r", "9", "0", "s", saved, "", "q"}));
    ProgramOptions opt;
    opt.device = "/null";
    opt.seed = 777;
    opt.interrupt = InterruptFlag(&flag);
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(run_zelvo(opt, in, out, false), 0);
    std::filesystem::current_path(cwd);
    return buf.text;
  };
  volatile std::sig_atomic_t flag = 0, never = 0;
  const std::string three = "1 38.4 51.2 5.0\n1 89.6 76.8 5.0\n1 64 102.4 5.0\n";
  const std::string out = session(three, "cut.fits", flag, 1);
  EXPECT_THAT(out, HasSubstr(" Ctrl-C: the list was stopped after 1 of 3 objects; those are removed, the rest of the "
                             "image is untouched.\n"));
  EXPECT_EQ(flag, 0) << "the flag is cleared at the main menu";
  (void)session("1 38.4 51.2 5.0\n", "ref.fits", never, 1000);
  const Image cut = dir.read_fits("cut.fits"), ref = dir.read_fits("ref.fits");
  ASSERT_EQ(cut.px.size(), original.px.size());
  EXPECT_EQ(cut.px, ref.px);
  EXPECT_NE(cut.at(38, 51), original.at(38, 51));
  for (int y = 60; y <= 128; ++y)
    for (int x = 1; x <= 128; ++x) ASSERT_EQ(cut.at(x, y), original.at(x, y)) << x << " " << y;
}

TEST(RotationForces, AStopRequestEndsTheSumsEarlyAndSaysSo) {
  BinnedProfile p;
  for (int k = 1; k <= 40; ++k) {
    p.rprof.push_back(static_cast<float>(k) - 0.5f);
    p.prof.push_back(100.0f / static_cast<float>(k));
  }
  const std::vector<float> y2 = profile_spline(p);
  volatile std::sig_atomic_t raised = 1;
  const RotationForces f = rotation_forces(p, y2, 40.0f, 1.0f, {}, StopRequest(&raised));
  EXPECT_TRUE(f.stopped);
  EXPECT_FALSE(rotation_forces(p, y2, 40.0f, 1.0f).stopped);
  // pi R^3 / (3 step) for a fine step.
  EXPECT_NEAR(rotation_terms(100.0f, 0.01f), 3.14159265 * 1e6 / 0.03, 0.001 * 3.14159265 * 1e6 / 0.03);
}

// Memory for one 8000 x 8000 image but not for a second: T, F, C and R refuse with one line
// each and the image is still whole (A, which needs no copy, then finds every pixel at 2).
TEST(ShortMemory, EditsAndRemovalRefuseAndLeaveTheImageWhole) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit does not mix with AddressSanitizer's shadow memory";
#else
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  const IsolatedRun run = run_isolated_call(
      dir,
      [&]() -> std::string {
        std::ifstream statm("/proc/self/statm");
        long pages = 0;
        statm >> pages;
        const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        const rlimit lim{now + (400ull << 20), now + (400ull << 20)};
        if (setrlimit(RLIMIT_AS, &lim) != 0) return "SKIP: setrlimit failed";
        return run_session(dir, {"", "n", "8000 8000", "a", "+ 1", "t", "a", "f", "a", "c", "4000 4000",
                                 "1 8000 1 7999", "r", "a", "+ 1", "q"})
            .out;
      },
      60);
  if (run.out.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << run.out.substr(6);
  ASSERT_TRUE(run.clean()) << run.verdict() << "\n" << run.err;
  EXPECT_EQ(count_of(run.out, " Not enough memory for a working copy of this 8000 x 8000 image; image unchanged.\n"), 3)
      << run.out;
  EXPECT_EQ(count_of(run.out,
                     " Not enough memory for the removal work arrays of this 8000 x 8000 image; nothing "
                     "was changed.\n"),
            1);
  EXPECT_THAT(run.out, HasSubstr("The maximum pixel value in the image (slot 1) =     2.00\n"));
  EXPECT_THAT(run.out, HasSubstr("The minimum pixel value in the image (slot 1) =     2.00\n"));
#endif
}

}  // namespace
}  // namespace zelvo::testing
