// A name the user types is a file name and nothing else: names that the FITS library would
// read as a home folder, a memory or network file, standard input or a section, and names
// with leading or trailing blanks, load at L and in `zelvo run` as the file of that name,
// in a child process that a crash cannot take the test run down with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "fits/fits_io.h"
#include "session/batch_run.h"
#include "support/isolated_run.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class LiteralName : public ::testing::TestWithParam<std::string> {};

TEST_P(LiteralName, LoadsTheFileOfThatNameAtLAndInARun) {
  const std::string name = GetParam();
  ScratchFolder dir;
  // The file of that name holds a 64 x 48 field; a decoy of the trimmed name holds a 5 x 5
  // image, so loading the wrong file shows in the size.
  dir.write_fits("source.fits", small_field(64, 48));
  fs::copy_file(dir.file("source.fits"), dir.file(name));
  const std::string trimmed = name.substr(0, name.find_last_not_of(' ') + 1);
  if (trimmed != name) dir.write_fits(trimmed, Image(5, 5, 1.0f));
  dir.write("stars.txt", "30 20\n");

  std::string quoted = "'";
  for (char c : name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  const IsolatedRun session = run_isolated(dir, {"", "l", quoted + "'", "q"});
  ASSERT_TRUE(session.ended_well()) << session.verdict();
  EXPECT_THAT(session.out, HasSubstr(" nxpix, nypix = 64 48\n"));

  const IsolatedRun job = run_isolated_call(dir, [&] {
    std::ostringstream out, err;
    const std::vector<std::string> args = {"photometry", "--list", "stars.txt", "--radii", "3,8,12",
                                           "--out",      "o",      "--",        name};
    run_batch(args, out, err);
    return out.str() + err.str();
  });
  ASSERT_TRUE(job.ended_well()) << job.verdict();
  EXPECT_THAT(job.out, HasSubstr(" of 1 listed stars measured\n"));
  EXPECT_THAT(job.out, Not(HasSubstr("cannot be read")));
}

INSTANTIATE_TEST_SUITE_P(Names, LiteralName,
                         ::testing::Values("~h.fits", "~", "[1]", "m[1].fits", "mem:", "http:", "-", "+1", " lead.fits",
                                           "trail.fits ", "  both.fits  ", "stdin"),
                         [](const auto& info) { return "name" + std::to_string(info.index); });

}  // namespace
}  // namespace zelvo::testing
