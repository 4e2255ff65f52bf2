// scripts/many_frames.sh: frames with hostile names, each in a folder of its own, none reaching
// a shell; clashes and an unusable output folder refused before anything runs; done and
// failed frames counted from each job's exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/session_harness.h"
#include "support/without_root.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;

namespace {

struct ScriptRun {
  int status = -1;
  std::string out;  // standard output and error
};

// Runs the script in `cwd` with `args` as they are: no shell sees them.
ScriptRun many_frames(const std::string& cwd, const std::vector<std::string>& args) {
  const std::string script = ZELVO_SOURCE_DIR "/scripts/many_frames.sh";
  std::vector<char*> argv{const_cast<char*>(script.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fd[2];
  if (pipe(fd) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(fd[1], 1);
    dup2(fd[1], 2);
    close(fd[0]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    setenv("ZELVO", ZELVO_BINARY, 1);
    execv(script.c_str(), argv.data());
    _exit(127);
  }
  close(fd[1]);
  ScriptRun r;
  char buf[4096];
  for (ssize_t n; (n = read(fd[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<std::size_t>(n));
  close(fd[0]);
  int st = 0;
  waitpid(child, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class ManyFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v parallel > /dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    std::filesystem::create_directories(work + "/night1");
    std::filesystem::create_directories(work + "/night2");
    for (int seed : {1, 2}) {
      FieldOptions o;
      o.nx = o.ny = 160;
      o.seed = static_cast<uint64_t>(seed);
      o.stars = 8;
      const SyntheticField f = synthetic_field(o);
      ASSERT_EQ(write_field_fits(work + "/night" + std::to_string(seed) + "/a.fits", f.image, o), 0);
      if (seed == 1) star = f.stars.front();
    }
    for (const std::string name :
         {"$(touch INJECTED) b.fits", "-lead.fits", ".fits", "new\nline.fits", "a.fits", "a.fits.gz"})
      std::filesystem::copy_file(work + "/night1/a.fits", work + "/" + name);
    dir.write("work dir/bad.fits", "SIMPLE  = this is no FITS file\n");
    dir.write("work dir/" + list, "1 " + std::to_string(star.x) + " " + std::to_string(star.y) + " 8.0\n");
  }
  ScratchFolder dir;
  const std::string work = dir.file("work dir");
  const std::string list = "stars $(touch INJECTED).txt";
  FieldStar star;
};

TEST_F(ManyFrames, HostileNamesGetFoldersOfTheirOwnAndNeverReachAShell) {
  dir.write("work dir/frames0", std::string("new\nline.fits\0.fits\0", 21));
  const ScriptRun r =
      many_frames(work, {"-j", "3", "--out", "out dir", "--frames0", "frames0", "remove", "--list", list, "--seed", "5",
                         "--", "night1/a.fits", "night2/a.fits", "$(touch INJECTED) b.fits", "-lead.fits", "./a.fits",
                         "a.fits.gz", "bad.fits"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("8 of 9 frames done; results in out dir/<frame>/\n"
                               "Failed (1):\n"
                               "  bad.fits (exit status 2)\n"));
  EXPECT_THAT(r.out, HasSubstr("zelvo run remove: bad.fits: the frame cannot be read"));
  for (const std::string f : {"night1/a.fits/a", "night2/a.fits/a", "$(touch INJECTED) b.fits/$(touch INJECTED) b",
                              "-lead.fits/-lead", "a.fits/a", "a.fits.gz/a", ".fits/.fits", "new\nline.fits/new\nline"})
    EXPECT_TRUE(dir.exists("work dir/out dir/" + f + ".clean.fits")) << f;
  EXPECT_FALSE(dir.exists("work dir/INJECTED"));
  EXPECT_FALSE(dir.exists("INJECTED"));
  // night1/a.fits and night2/a.fits kept apart; the star is gone from the cleaned frame.
  const Image before = dir.read_fits("work dir/night1/a.fits");
  const Image one = dir.read_fits("work dir/out dir/night1/a.fits/a.clean.fits");
  EXPECT_NE(one.px, dir.read_fits("work dir/out dir/night2/a.fits/a.clean.fits").px);
  const int x = static_cast<int>(star.x + 0.5), y = static_cast<int>(star.y + 0.5);
  EXPECT_LT(one.at(x, y), before.at(x, y) - 0.5f * static_cast<float>(star.peak));
  // Again into the same folder: every frame is refused, no result removed.
  const ScriptRun again = many_frames(work, {"--out", "out dir", "remove", "--list", list, "--", "night1/a.fits"});
  EXPECT_EQ(again.status, 1);
  EXPECT_THAT(again.out, HasSubstr("is not empty; give a new or empty folder"));
  EXPECT_EQ(dir.read_fits("work dir/out dir/night1/a.fits/a.clean.fits").px, one.px);
}

TEST_F(ManyFrames, ClashesAndAnUnusableFolderAreRefusedBeforeAnythingRuns) {
  dir.write("work dir/file", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--out", "o", "remove", "--list", list, "--", "a.fits", "./a.fits"},
       "many_frames.sh: './a.fits' and 'a.fits' would share the folder o/a.fits; run them separately\n"},
      {{"--out", "o", "remove", "--list", list, "--", "night1", "night1/a.fits"},
       "many_frames.sh: 'night1' would hold the folder of 'night1/a.fits'; run them separately\n"},
      {{"--out", "o", "remove", "--list", list, "--", "."}, "many_frames.sh: '.' is not a frame's file name\n"},
      {{"--out", "file/o", "remove", "--list", list, "--", "a.fits"},
       "many_frames.sh: cannot make the output folder file/o\n"},
  };
  for (const auto& [args, said] : cases) {
    const ScriptRun r = many_frames(work, args);
    EXPECT_EQ(r.status, 2) << said;
    EXPECT_EQ(r.out, said);
  }
  EXPECT_FALSE(dir.exists("work dir/o"));
  std::filesystem::create_directory(work + "/locked");
  ::chmod((work + "/locked").c_str(), 0555);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(work.c_str(), 0755);
  const std::optional<bool> refused = without_root([&] {
    const ScriptRun r = many_frames(work, {"--out", "locked", "remove", "--list", list, "--", "a.fits"});
    return r.status == 2 && r.out == "many_frames.sh: cannot write in the output folder locked\n";
  });
  if (refused) {
    EXPECT_TRUE(*refused);
  }
}

TEST_F(ManyFrames, FramesThatFailAreCountedFromTheirExitStatus) {
  dir.write("work dir/bad list", "1 50 50 5\nthis is no object\n");
  const ScriptRun r = many_frames(work, {"--out", "o", "remove", "--list", "bad list", "--", "a.fits", "-lead.fits"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("0 of 2 frames done; results in o/<frame>/\nFailed (2):\n"
                               "  a.fits (exit status 1)\n  -lead.fits (exit status 1)\n"));
  EXPECT_TRUE(dir.exists("work dir/o/a.fits/a.clean.fits"));
  const ScriptRun seed =
      many_frames(work, {"--out", "s", "remove", "--list", list, "--seed", "1; touch X", "--", "a.fits"});
  EXPECT_EQ(seed.status, 1);
  EXPECT_THAT(seed.out, HasSubstr("zelvo run: --seed needs a whole number, not '1; touch X'\n"));
  EXPECT_THAT(seed.out, HasSubstr("0 of 1 frames done"));
  EXPECT_FALSE(dir.exists("work dir/X"));
}

TEST_F(ManyFrames, PhotometryListMeasuresEachFrame) {
  dir.write("work dir/stars.txt", std::to_string(star.x) + " " + std::to_string(star.y) + "\n");
  const ScriptRun r = many_frames(
      work, {"--out", "p", "photometry", "--list", "stars.txt", "--radii", "4,10,15", "--", "a.fits", "bad.fits"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("Failed (1):\n  bad.fits (exit status 2)\n"));
  EXPECT_TRUE(dir.exists("work dir/p/a.fits/a.ZelvoApPhot.log"));
}

}  // namespace
