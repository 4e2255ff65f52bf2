// No lost or broken files: S and X write through a temporary file renamed into place only
// after a complete write, so a failed write (a missing folder, a folder as the name, a full
// disk) leaves no partial file, no temporary and no changed slot, says why, and the program
// goes on. The logs are written line by line and flushed, so a session that ends abruptly
// leaves only complete lines behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "session/loop.h"
#include "support/isolated_run.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::set<std::string> entries(const ScratchFolder& dir, const std::string& sub = "") {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(sub.empty() ? dir.path() : dir.file(sub))) {
    const std::string n = e.path().filename().string();
    if (n.rfind(".isolated", 0) != 0) names.insert(n);
  }
  return names;
}

std::string script(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// Runs a session in a child whose files may grow to `file_limit` bytes at most: a write
// beyond it fails as on a full disk (EFBIG; the signal that would end the program is
// ignored, as the program must cope with the failed write itself).
IsolatedRun run_with_file_limit(const ScratchFolder& dir, const std::vector<std::string>& lines, rlim_t file_limit) {
  if (!dir.exists("Zelvo.ini")) dir.write("Zelvo.ini", "2\n0\n");
  return run_isolated_call(dir, [&]() -> std::string {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{file_limit, file_limit};
    setrlimit(RLIMIT_FSIZE, &lim);
    std::istringstream in(script(lines));
    std::ostringstream out;
    ProgramOptions opt;
    opt.device = "/null";
    opt.seed = 3;
    run_zelvo(opt, in, out, false);
    return out.str();
  });
}

TEST(SafeSave, AMissingFolderOrAFolderAsTheNameIsReportedAndNothingChanges) {
  ScratchFolder dir;
  fs::create_directory(dir.file("a-folder"));
  dir.write_fits("m51-night.fits", small_field(40, 30));
  dir.write("Zelvo.ini", "2\n0\n");
  const auto before = entries(dir);
  const auto run = run_session(
      dir, {"", "l", "m51-night.fits", "a", "+ 1", "s", "no-such-folder/out.fits", "", "s", "a-folder", "", "q", "y"});
  EXPECT_THAT(run.out, HasSubstr("cannot create a file in the folder no-such-folder: No such file or directory"));
  EXPECT_THAT(run.out, HasSubstr("The name is that of a folder, not of a file:\n a-folder\n"));
  EXPECT_EQ(count_of(run.out, "Nothing was written; the image is still in memory as m51-night.fits <modified>."), 2);
  // The slot keeps its name and its modified mark; no file or temporary appeared.
  EXPECT_EQ(count_of(run.out, "Active image slot = 1   m51-night.fits <modified>"), 3);
  EXPECT_TRUE(fs::is_empty(dir.file("a-folder")));
  auto after = entries(dir);
  after.erase("Zelvo.log");
  auto expected = before;
  expected.erase("Zelvo.log");
  EXPECT_EQ(after, expected);
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
  EXPECT_THAT(run.out, Not(HasSubstr("End of input")));
}

TEST(SafeSave, AFullDiskLeavesNoPartialFileAndTheProgramGoesOn) {
  ScratchFolder dir;
  // 200 x 200 floats are 160 kB; files may grow to 64 kB.
  const IsolatedRun run = run_with_file_limit(
      dir, {"", "n", "200 200", "s", "big.fits", "", "1", "n", "10 10", "s", "small.fits", "", "q"}, 64 * 1024);
  ASSERT_TRUE(run.ended_well()) << run.verdict();
  EXPECT_THAT(run.out, HasSubstr("FITSIO Error Status = "));
  EXPECT_THAT(run.out, HasSubstr("Nothing was written; the image is still in memory as <unnamed image>."));
  EXPECT_FALSE(dir.exists("big.fits"));
  // The program went on: the next, small image was saved whole.
  EXPECT_TRUE(dir.exists("small.fits"));
  EXPECT_EQ(dir.read_fits("small.fits").nx, 10);
  for (const auto& n : entries(dir)) EXPECT_THAT(n, Not(HasSubstr(".tmp"))) << "a temporary file was left";
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
}

TEST(SafeExit, AFullDiskKeepsTheOriginalFileAndTheSessionGoesOn) {
  ScratchFolder dir;
  const Image original = small_field(200, 200);
  dir.write_fits("long-night.fits", original);
  const std::string before = dir.read("long-night.fits");
  // The original is 160 kB already; the replacement cannot be written under a 64 kB limit.
  const IsolatedRun run = run_with_file_limit(dir, {"", "l", "long-night.fits", "a", "* 2", "x", "", "q"}, 64 * 1024);
  ASSERT_TRUE(run.ended_well()) << run.verdict();
  EXPECT_THAT(run.out, HasSubstr("Could not write image slot 1 to long-night.fits."));
  EXPECT_THAT(run.out, HasSubstr(" nothing was written to long-night.fits\n"));
  EXPECT_THAT(run.out, HasSubstr("Not every image could be saved, so Zelvo goes on: nothing unsaved is lost."));
  EXPECT_EQ(dir.read("long-night.fits"), before);
  for (const auto& n : entries(dir)) EXPECT_THAT(n, Not(HasSubstr(".tmp"))) << "a temporary file was left";
  // Back at the menu with the image still marked modified.
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   long-night.fits <modified>"));
}

TEST(SafeExit, AFolderThatTookTheFileNameIsLeftAloneAndANewNameAsked) {
  ScratchFolder dir;
  dir.write_fits("night.fits", small_field(20, 20));
  // The file is loaded, then its name is taken by a folder before X writes it back.
  const auto run = run_isolated_call(dir, [&]() -> std::string {
    std::ostringstream out;
    struct Script : std::streambuf {
      std::string text;
      std::size_t pos = 0;
      int_type underflow() override {
        if (pos >= text.size()) return traits_type::eof();
        // Just before X is typed, the file is swapped for a folder.
        if (text.compare(pos, 2, "x\n") == 0 && !fs::is_directory("night.fits")) {
          fs::remove("night.fits");
          fs::create_directory("night.fits");
        }
        setg(&text[pos], &text[pos], &text[pos] + 1);
        ++pos;
        return traits_type::to_int_type(text[pos - 1]);
      }
    } buf;
    buf.text = script({"", "l", "night.fits", "a", "+ 3", "x", "kept.fits", "", "q"});
    std::istream in(&buf);
    dir.write("Zelvo.ini", "2\n0\n");
    ProgramOptions opt;
    opt.device = "/null";
    run_zelvo(opt, in, out, false);
    return out.str();
  });
  ASSERT_TRUE(run.ended_well()) << run.verdict();
  // The name no longer leads to the file loaded: it is left alone and a new name is asked.
  EXPECT_THAT(run.out,
              HasSubstr(" Image slot 1: night.fits is no longer the file that was loaded; it is left as it is.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Give the name of the output image (in slot 1).\n"));
  EXPECT_EQ(dir.read_fits("kept.fits").nx, 20);
  EXPECT_TRUE(fs::is_directory(dir.file("night.fits")));
  EXPECT_TRUE(fs::is_empty(dir.file("night.fits")));
}

// An input that ends the process abruptly (no destructors, no closing of files) once the
// script is used up, as when the terminal or the machine goes away.
struct AbruptEnd : std::streambuf {
  std::string text;
  std::size_t pos = 0;
  int_type underflow() override {
    if (pos >= text.size()) ::_exit(0);
    setg(&text[pos], &text[pos], &text[text.size()]);
    pos = text.size();
    return traits_type::to_int_type(*gptr());
  }
};

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// Runs `answers` on the 64 x 64 field with extended logs and ends the process abruptly
// where the answers run out.
IsolatedRun run_ending_abruptly(const ScratchFolder& dir, const std::vector<std::string>& answers) {
  dir.write_fits("field.fits", small_field(64, 64));
  dir.write("Zelvo.ini", "2\n1\n");  // extended logs: the debug log gets its tables
  return run_isolated_call(dir, [&]() -> std::string {
    AbruptEnd buf;
    buf.text = script(answers);
    std::istream in(&buf);
    std::ostringstream out;
    ProgramOptions opt;
    opt.device = "/null";
    opt.seed = 9;
    run_zelvo(opt, in, out, false);
    return "not reached";
  });
}

void expect_complete_lines(const ScratchFolder& dir, const char* log, std::size_t at_least) {
  SCOPED_TRACE(log);
  ASSERT_TRUE(dir.exists(log));
  const std::string text = dir.read(log);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_GE(lines_of(text).size(), at_least);
}

TEST(Logs, AnAbruptEndInsideAVisitLeavesEveryLogWithCompleteLines) {
  {
    // Inside R, at the menu after a kept removal: the record and the debug log are written.
    ScratchFolder dir;
    const IsolatedRun run = run_ending_abruptly(dir, {"", "l", "field.fits", "r", "1", "45 38", "45 38", "8", "n"});
    ASSERT_TRUE(run.ended_well()) << run.verdict();
    expect_complete_lines(dir, "Zelvo.log", 2);
    expect_complete_lines(dir, "ZelvoDebug.log", 10);
    expect_complete_lines(dir, "ZelvoRepeat.log", 6);
    EXPECT_THAT(dir.read("ZelvoDebug.log"), HasSubstr("The star centre ="));
  }
  {
    // Inside O, waiting for the next click after a measurement.
    ScratchFolder dir;
    const IsolatedRun run = run_ending_abruptly(dir, {"", "l", "field.fits", "o", "4", "45 38"});
    ASSERT_TRUE(run.ended_well()) << run.verdict();
    expect_complete_lines(dir, "ZelvoApPhot.log", 8);
  }
  {
    // Inside G, at the background question of a flux profile.
    ScratchFolder dir;
    const IsolatedRun run = run_ending_abruptly(dir, {"", "l", "field.fits", "g", "1", "32 32", "20 1", "0.2 30"});
    ASSERT_TRUE(run.ended_well()) << run.verdict();
    expect_complete_lines(dir, "ZelvoProfile1.log", 3);
  }
}

}  // namespace
}  // namespace zelvo::testing
