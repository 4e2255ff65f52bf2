// Files that are not what they seem: FIFOs where Zelvo reads or appends, a full disk under the
// logs and the plot, a folder where the plot goes. Each run is a child with a time limit, so
// a blocking open fails the test instead of hanging it.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/isolated_run.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

using ::testing::HasSubstr;

// A star of small_field(128, 128) and the list that names it.
const char* const kListOfTwo = "1 38.4 51.2 5.0\n1 89.6 76.8 5.0\n";

struct FifoCase {
  const char* name;                // the FIFO
  std::vector<std::string> lines;  // the session (after the welcome pause)
  const char* refusal;             // the one line expected, exactly once
};

class FifoInPlaceOfAFile : public ::testing::TestWithParam<FifoCase> {};

TEST_P(FifoInPlaceOfAFile, IsRefusedWithOneLineWithoutBlocking) {
  const FifoCase& c = GetParam();
  ScratchFolder dir;
  dir.write_fits("f.fits", small_field(128, 128));
  dir.write("ZelvoRep.log", kListOfTwo);
  if (std::string(c.name) != "Zelvo.ini") dir.write("Zelvo.ini", "2\n0\n");
  std::remove(dir.file(c.name).c_str());
  ASSERT_EQ(mkfifo(dir.file(c.name).c_str(), 0644), 0);
  std::vector<std::string> lines = {""};
  lines.insert(lines.end(), c.lines.begin(), c.lines.end());
  lines.push_back("q");
  const IsolatedRun run = run_isolated(dir, lines, 20);
  ASSERT_TRUE(run.clean()) << run.verdict() << "\n" << run.out;
  EXPECT_EQ(count_of(run.out, c.refusal), 1) << run.out;
  struct stat st {};
  ASSERT_EQ(stat(dir.file(c.name).c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}

const std::vector<std::string> kProfile = {"l", "f.fits", "g", "1", "64 64", "30 1", "0 0", "0"};

INSTANTIATE_TEST_SUITE_P(
    Session, FifoInPlaceOfAFile,
    ::testing::Values(
        FifoCase{"pipe.fits", {"l", "pipe.fits"}, " pipe.fits is a FIFO, not a regular file; nothing was loaded.\n"},
        FifoCase{"Zelvo.ini",
                 {},
                 " Zelvo.ini is a FIFO, not a regular file; using window-size code 2 and extended logs off.\n"},
        FifoCase{"Zelvo.log", {}, " Zelvo.log is a FIFO, not a regular file; the session is not logged.\n"},
        FifoCase{"ZelvoRepeat.log",
                 {"l", "f.fits", "r", "0"},
                 " ZelvoRepeat.log is a FIFO, not a regular file; kept removals are not recorded.\n"},
        FifoCase{"ZelvoApPhot.log",
                 {"l", "f.fits", "o", "0"},
                 " ZelvoApPhot.log is a FIFO, not a regular file; the measurements are not logged.\n"},
        FifoCase{"ZelvoRep.log", {"l", "f.fits", "r", "9", "0"}, "ZelvoRep.log cannot be read"},
        // Opened for each of the two objects, reported once.
        FifoCase{"ZelvoDebug.log",
                 {"l", "f.fits", "r", "9", "0"},
                 " ZelvoDebug.log is a FIFO, not a regular file; the removal goes on without it.\n"},
        FifoCase{"ZelvoProfile1.log", kProfile,
                 " ZelvoProfile1.log is a FIFO, not a regular file; the tables are not logged.\n"}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '.') ch = '_';
      return n;
    });

TEST(Print, IntoAFolderOfThatNameIsAFailureAndTheFolderStays) {
  ScratchFolder dir;
  dir.write_fits("f.fits", small_field(64, 64));
  ASSERT_EQ(mkdir(dir.file("ZelvoImage.ps").c_str(), 0755), 0);
  const IsolatedRun run = run_isolated(dir, {"", "l", "f.fits", "p", "q"}, 20);
  ASSERT_TRUE(run.clean()) << run.verdict();
  EXPECT_THAT(run.out, HasSubstr(" ZelvoImage.ps was not written: it is a folder.\n"));
  EXPECT_EQ(count_of(run.out, "Successfully wrote"), 0);
  struct stat st {};
  ASSERT_EQ(stat(dir.file("ZelvoImage.ps").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// The logs and the plot on a file system that is full: a 64 KiB tmpfs over the working
// folder in a private mount namespace of the child (root only; skipped otherwise).
TEST(FullDisk, EveryLogSaysSoOnceThePlotFailsAndTheWorkGoesOn) {
  ScratchFolder dir, work, images;  // the harness's files stay in `dir`, off the full disk
  images.write_fits("f.fits", small_field(128, 128));
  const std::string image = images.file("f.fits");
  const IsolatedRun run = run_isolated_call(dir, [&]() -> std::string {
    if (unshare(CLONE_NEWNS) != 0)
      return "SKIP: no private mount namespace (" + std::string(std::strerror(errno)) + ")";
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("zelvo-full", work.path().c_str(), "tmpfs", 0, "size=64k") != 0)
      return "SKIP: cannot mount a small tmpfs (" + std::string(std::strerror(errno)) + ")";
    work.write("Zelvo.ini", "2\n0\n");
    work.write("ZelvoRep.log", kListOfTwo);
    {
      std::ofstream fill(work.file("filler"), std::ios::binary);
      const std::string block(4096, 'x');
      for (int i = 0; i < 64 && fill; ++i) fill << block << std::flush;
    }
    const SessionRun s =
        run_session(work, {"", "l", image, "o", "0", "r", "9", "0", "g", "1", "64 64", "30 1", "0 0", "0", "p", "q"});
    return s.out;
  });
  if (run.out.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << run.out.substr(6);
  ASSERT_TRUE(run.clean()) << run.verdict() << "\n" << run.out << run.err;
  for (const char* log : {"Zelvo.log", "ZelvoApPhot.log", "ZelvoRepeat.log", "ZelvoDebug.log", "ZelvoProfile1.log"})
    EXPECT_EQ(count_of(run.out, std::string(" ") + log + " could not be written (No space left on device); "), 1)
        << log << "\n"
        << run.out;
  EXPECT_THAT(run.out, HasSubstr(" ZelvoImage.ps was not written: "));
  EXPECT_EQ(count_of(run.out, "Successfully wrote"), 0);
  // The work itself went on: both listed stars were removed and the profile finished.
  EXPECT_EQ(count_of(run.out, " Removed 2 of the 2 listed objects in "), 1);
  EXPECT_THAT(run.out, HasSubstr("Finished"));
}

}  // namespace
}  // namespace zelvo::testing
