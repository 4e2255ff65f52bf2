// A typed name is a file name and nothing else: names the FITS library would read as a home
// folder, a memory or network file, standard input or a section, and names with leading or
// trailing blanks, load at L and in `zelvo run`, in children a crash cannot take down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "session/batch_run.h"
#include "support/isolated_run.h"

namespace zelvo::testing {
namespace {

using ::testing::HasSubstr;

class LiteralName : public ::testing::TestWithParam<std::string> {};

TEST_P(LiteralName, LoadsTheFileOfThatNameAtLAndInARun) {
  const std::string name = GetParam();
  ScratchFolder dir;
  // The file holds a 64 x 48 field; a 5 x 5 decoy has the name without its trailing blanks.
  dir.write_fits("source.fits", small_field(64, 48));
  std::filesystem::copy_file(dir.file("source.fits"), dir.file(name));
  if (name.back() == ' ') dir.write_fits(name.substr(0, name.find_last_not_of(' ') + 1), Image(5, 5, 1.0f));
  dir.write("stars.txt", "30 20\n");
  const IsolatedRun session = run_isolated(dir, {"", "l", "'" + name + "'", "q"});
  ASSERT_TRUE(session.ended_well()) << session.verdict();
  EXPECT_THAT(session.out, HasSubstr(" nxpix, nypix = 64 48\n"));
  const IsolatedRun job = run_isolated_call(dir, [&] {
    std::ostringstream out;
    const std::vector<std::string> args = {"photometry", "--list", "stars.txt", "--radii", "3,8,12",
                                           "--out",      "o",      "--",        name};
    run_batch(args, out, out);
    return out.str();
  });
  ASSERT_TRUE(job.ended_well()) << job.verdict();
  EXPECT_THAT(job.out, HasSubstr(" of 1 listed stars measured\n"));
}

INSTANTIATE_TEST_SUITE_P(Names, LiteralName,
                         ::testing::Values("~h.fits", "~", "[1]", "m[1].fits", "mem:", "http:", "-", "+1", " lead.fits",
                                           "trail.fits ", "  both.fits  ", "stdin"),
                         [](const auto& info) { return "name" + std::to_string(info.index); });

}  // namespace
}  // namespace zelvo::testing
