// Files that a plain load or write would turn into something else: values beyond the range of
// floats and unreadable scaling cards are refused with one line, a file that changes while it
// is read is read again or refused, and a write cut short by SIGTERM or SIGHUP leaves the
// original and no temporary behind.
#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "fits/fits_io.h"
#include "fits/fits_test_files.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

using namespace fits_test;
using ::testing::HasSubstr;
using testing::ScratchFolder;
namespace fs = std::filesystem;

struct ToldCase {
  const char* name;
  int bitpix;
  std::vector<double> raw;
  std::vector<std::string> cards;
  const char* line;  // the one line of a refusal; "" for a load
  float first = 0;   // of a load: the first pixel
};

class LoadsThatTell : public ::testing::TestWithParam<ToldCase> {};

TEST_P(LoadsThatTell, ValuesFloatsCannotHoldOrUnreadableScalingAreNamed) {
  const ToldCase& c = GetParam();
  ScratchFolder dir;
  const std::string path = dir.file("f.fits");
  write_image(path, c.bitpix, {3, 2}, c.raw, c.cards);
  Image img;
  const Load r = load(path, img);
  if (*c.line == '\0') {
    ASSERT_EQ(r.outcome, ReadOutcome::loaded) << r.out;
    EXPECT_EQ(img.px[0], c.first);
    return;
  }
  EXPECT_EQ(r.outcome, ReadOutcome::refused);
  EXPECT_THAT(r.out, HasSubstr(std::string(c.line) + "\n"));
  EXPECT_TRUE(img.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadsThatTell,
    ::testing::Values(
        ToldCase{"double_beyond_float",
                 -64,
                 {1e300, 1, -1e300, 2, 3, 4},
                 {},
                 " 2 pixels lie beyond the range of 32-bit floats (BITPIX  =                  -64 / number of bits "
                 "per data pixel); nothing was loaded."},
        ToldCase{"bscale_beyond_float",
                 16,
                 {1, 30000, 2, 3, 4, 5},
                 {"BSCALE  =                 1E35"},
                 " 1 pixel lies beyond the range of 32-bit floats (BSCALE  =                 1E35); nothing was "
                 "loaded."},
        ToldCase{"bscale_text",
                 16,
                 {1, 2, 3, 4, 5, 6},
                 {"BSCALE  = 'two'"},
                 " The BSCALE card is not a number, so the pixel values are unknown (BSCALE  = 'two'); nothing "
                 "was loaded."},
        ToldCase{"bzero_text",
                 16,
                 {1, 2, 3, 4, 5, 6},
                 {"BZERO   = 'none'"},
                 " The BZERO card is not a number, so the pixel values are unknown (BZERO   = 'none'); nothing "
                 "was loaded."},
        // FITS's D exponent is a number like any other.
        ToldCase{"bscale_d_exponent", 16, {3, 2, 3, 4, 5, 6}, {"BSCALE  =              2.5D+00"}, "", 7.5f}),
    [](const auto& info) { return std::string(info.param.name); });

// Rewrites the file with other pixels (a larger size, so its identity changes) while the
// loader reads it: on the first attempt only, or on every attempt.
int rewrites_left = 0;
void rewrite_during_read(const std::string& name, int) {
  if (rewrites_left == 0) return;
  --rewrites_left;
  fs::remove(name);
  write_image(name, -32, {4, 2}, {9, 9, 9, 9, 9, 9, 9, 9});
}

TEST(LoadsThatTell, AFileChangedWhileReadIsReadAgainOnceThenRefused) {
  ScratchFolder dir;
  const std::string path = dir.file("moving.fits");
  g_after_pixels_read_hook = rewrite_during_read;
  for (const int rewrites : {1, 2}) {
    SCOPED_TRACE(rewrites);
    write_image(path, -32, {3, 2}, {1, 2, 3, 4, 5, 6});
    rewrites_left = rewrites;
    Image img;
    const Load r = load(path, img);
    if (rewrites == 1) {
      ASSERT_EQ(r.outcome, ReadOutcome::loaded) << r.out;
      EXPECT_EQ(img.nx, 4);  // the new version, whole
      EXPECT_EQ(img.px[0], 9.0f);
    } else {
      EXPECT_EQ(r.outcome, ReadOutcome::refused);
      EXPECT_THAT(r.out, HasSubstr(" The file changed while it was read, twice; nothing was loaded.\n"));
    }
    fs::remove(path);
  }
  g_after_pixels_read_hook = nullptr;
}

// The names in `dir` that are not `keep`.
std::vector<std::string> others(const ScratchFolder& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    const std::string n = e.path().filename().string();
    if (std::find(keep.begin(), keep.end(), n) == keep.end()) names.push_back(n);
  }
  return names;
}

// A child writes a large image (new, or over an existing file, plain or gzip); the parent
// sends the signal as soon as the temporary appears. The child ends by the signal and leaves
// only what was there before.
struct SignalCase {
  int sig;
  bool replace;
  const char* name;
};
class SignalDuringWrite : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalDuringWrite, LeavesTheOriginalAndNoTemporary) {
  const SignalCase c = GetParam();
  ScratchFolder dir;
  const std::string path = dir.file(c.name);
  const Image small = ramp(4, 3);
  FileOrigin origin;
  if (c.replace) {
    ASSERT_FALSE(WRITE_FITS_2D_IMAGE(path, small.view(), {}, &origin).failed());
  }
  const std::string before = c.replace ? file_bytes(path) : "";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Image big(4000, 4000);
    for (std::size_t i = 0; i < big.px.size(); ++i) big.px[i] = static_cast<float>(i % 65521);
    for (int k = 0; k < 50; ++k) {  // writes until the signal comes
      if (c.replace) {
        replace_fits_2d_image(path, big.view(), {}, origin, &origin);
      } else {
        WRITE_FITS_2D_IMAGE(path, big.view());
        fs::remove(path);
      }
    }
    _exit(0);
  }
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    for (const auto& n : others(dir, {c.name}))
      if (n.find(".zelvo-") != std::string::npos) seen = true;
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(child, c.sig);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(seen) << "no temporary appeared";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << status;
  EXPECT_THAT(others(dir, {c.name}), ::testing::IsEmpty());
  if (c.replace) {
    // Either the original or one whole new file: never a partial one.
    const std::string after = file_bytes(path);
    if (after != before) {
      Image back;
      ASSERT_EQ(load(path, back).outcome, ReadOutcome::loaded);
      EXPECT_EQ(back.nx, 4000);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringWrite,
                         ::testing::Values(SignalCase{SIGTERM, false, "new.fits"},
                                           SignalCase{SIGHUP, false, "new.fits.gz"},
                                           SignalCase{SIGTERM, true, "old.fits"}, SignalCase{SIGHUP, true, "old.fits"}),
                         [](const auto& info) {
                           return std::string(info.param.sig == SIGTERM ? "term" : "hup") +
                                  (info.param.replace ? "_replace" : "_new") + std::to_string(info.index);
                         });

TEST(StaleTemporaries, ThoseOfDeadProcessesAreRemovedAndALiveOnesKept) {
  ScratchFolder dir;
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = ".a.fits.zelvo-" + std::to_string(gone) + "-0.tmp";
  const std::string dead_gz = ".b.fits.gz.zelvo-" + std::to_string(gone) + "-3.tmp.fits";
  const std::string live = ".a.fits.zelvo-" + std::to_string(getppid()) + "-0.tmp";
  for (const std::string& n : {dead, dead_gz, live, std::string(".zelvo-x-0.tmp"), std::string("a.fits")})
    dir.write(n, "x");
  std::vector<std::string> removed = remove_stale_temporaries(dir.path());
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{dead, dead_gz}));
  EXPECT_TRUE(dir.exists(live));
  EXPECT_TRUE(dir.exists("a.fits"));
  EXPECT_TRUE(dir.exists(".zelvo-x-0.tmp"));
  // At start, the session does the same and says so in one line.
  dir.write(dead, "x");
  const auto run = testing::run_session(dir, {"", "q"});
  EXPECT_THAT(run.out,
              HasSubstr(" Removed 1 temporary file of an interrupted write by an earlier Zelvo: " + dead + "\n"));
  EXPECT_FALSE(dir.exists(dead));
}

}  // namespace
}  // namespace zelvo
