// scripts/many_frames.sh on three small frames, one of them not a FITS file: one folder per
// frame, outputs named after their frame, a repeatable seed and a summary of the failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "support/session_harness.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;

namespace {

struct ScriptRun {
  int status;
  std::string out;
};

ScriptRun many_frames(const ScratchFolder& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir.path() + "' && ZELVO='" ZELVO_BINARY "' '" ZELVO_SOURCE_DIR
                          "/scripts/many_frames.sh' " + args + " 2>&1";
  ScriptRun r{0, ""};
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class ManyFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v parallel > /dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    for (int seed : {11, 12}) {
      FieldOptions o;
      o.nx = o.ny = 160;
      o.seed = static_cast<uint64_t>(seed);
      o.stars = 8;
      const SyntheticField f = synthetic_field(o);
      ASSERT_EQ(write_field_fits(dir.file("night" + std::to_string(seed) + ".fits"), f.image, o), 0);
      if (seed == 11) star = f.stars.front();
    }
    dir.write("night13.fits", "SIMPLE  = this is no FITS file\n");
  }
  ScratchFolder dir;
  FieldStar star;
  const std::string frames = "night11.fits night12.fits night13.fits";
};

TEST_F(ManyFrames, RemovalListRunsEveryFrameAndNamesTheBadOne) {
  dir.write("list.log", "1 " + std::to_string(star.x) + " " + std::to_string(star.y) + " 8.0\n");
  const ScriptRun a = many_frames(dir, "-j 3 --seed 5 --out a remove list.log " + frames);
  EXPECT_EQ(a.status, 1);
  EXPECT_THAT(a.out, HasSubstr("2 of 3 frames done; results in a/<frame>/\n"
                               "Failed (1):\n"
                               "  night13: FITSIO Error Status = "));
  for (const std::string f : {"night11", "night12"}) {
    EXPECT_TRUE(dir.exists("a/" + f + "/" + f + "_cleaned.fits")) << f;
    EXPECT_TRUE(dir.exists("a/" + f + "/" + f + "_session.txt")) << f;
  }
  // The star is gone from the cleaned frame, and the same seed repaints the same pixels.
  const Image before = dir.read_fits("night11.fits"), after = dir.read_fits("a/night11/night11_cleaned.fits");
  const int x = static_cast<int>(star.x + 0.5), y = static_cast<int>(star.y + 0.5);
  EXPECT_LT(after.at(x, y), before.at(x, y) - 0.5f * static_cast<float>(star.peak));
  const ScriptRun b = many_frames(dir, "--seed 5 --out b remove list.log night11.fits");
  EXPECT_EQ(b.status, 0) << b.out;
  // The pixels, bit for bit (the files differ in the time of their HISTORY card).
  EXPECT_EQ(dir.read_fits("b/night11/night11_cleaned.fits").px, dir.read_fits("a/night11/night11_cleaned.fits").px);
}

TEST_F(ManyFrames, PhotometryListMeasuresEachFrame) {
  dir.write("stars.txt", std::to_string(star.x) + " " + std::to_string(star.y) + "\n");
  const ScriptRun r = many_frames(dir, "--out p photometry stars.txt " + frames);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("Failed (1):\n  night13: "));
  const std::string log = dir.read("p/night11/night11_ApPhot.log");
  EXPECT_THAT(log, HasSubstr(" " + std::to_string(star.x).substr(0, 4)));
  EXPECT_TRUE(dir.exists("p/night12/night12_ApPhot.log"));
}

}  // namespace
