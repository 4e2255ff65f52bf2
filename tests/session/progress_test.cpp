// Progress of long work in the command window: shown on a terminal, absent from scripted runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "session/texts.h"
#include "support/pty_program.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

// A field with three stars and a list that names them for automatic removal.
void list_field(const ScratchFolder& dir) {
  dir.write("Zelvo.ini", "2\n0\n");
  dir.write_fits("field.fits", small_field(200, 200));
  dir.write("ZelvoRep.log", "1 60 80 10\n1 140 120 10\n1 100 160 10\n");
}

TEST(Progress, AutomaticListRemovalCountsTheObjectsOnATerminal) {
  ScratchFolder dir;
  list_field(dir);
  PtyProgram p(dir.path(), {"--device", "/null", "--seed", "3"});
  ASSERT_TRUE(p.to_main_menu()) << p.screen();
  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:")) << p.screen();
  p.type("field.fits\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  p.type("r\r");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.screen();
  p.type("9\r");
  ASSERT_TRUE(p.wait_for("object 1 of 3")) << p.screen();
  ASSERT_TRUE(p.wait_for("object 3 of 3")) << p.screen();
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.screen();
  p.type("0\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  p.type("q\r");
  ASSERT_TRUE(p.wait_for(std::string(zelvo::kQuitAnyway))) << p.screen();  // the cleaned image is not saved
  p.type("y\r");
  EXPECT_EQ(p.wait_end(), 0);
}

// Without a terminal there is no status line: one line per object, the summary, and the
// working notes in the debug log only.
TEST(Progress, AScriptedRunOfTheSameListPrintsALinePerObjectAndTheNotesGoToTheLog) {
  ScratchFolder dir;
  list_field(dir);
  const auto run = run_session(dir, {"", "l", "field.fits", "r", "9", "0", "q"});
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  for (const char* object :
       {" Object 1 of 3: star removed at (", " Object 2 of 3: star removed at (", " Object 3 of 3: star removed at ("})
    EXPECT_EQ(count_of(run.out, object), 1) << object;
  EXPECT_EQ(count_of(run.out, ", radius 10.0\n"), 3);
  EXPECT_THAT(run.out, ::testing::HasSubstr(" Removed 3 of the 3 listed objects in "));
  EXPECT_EQ(count_of(run.out, "Read (ch0, xc, yc, deathrad) = "), 0);
  EXPECT_EQ(count_of(run.out, "xpmean"), 0);
  const std::string debug = dir.read("ZelvoDebug.log");
  EXPECT_EQ(count_of(debug, " Read (ch0, xc, yc, deathrad) = 1 "), 3);
  EXPECT_EQ(count_of(debug, " Star removal radius set to 10.0\n"), 3);  // the radius of the ring, as listed
  EXPECT_EQ(count_of(debug, " Object 2 of 3 (ZelvoRep.log, line 2)\n"), 1);
}

}  // namespace
}  // namespace zelvo::testing

namespace zelvo::testing {
namespace {

// The screen from the last clear on: what a person at the terminal sees now.
std::string since_last_clear(const std::string& screen) {
  const std::size_t at = screen.rfind("\x1b[2J");
  return at == std::string::npos ? screen : screen.substr(at);
}

// A failure reported just before the menu comes back is still on the screen, below the new
// menu, while the program waits for the next answer; after that answer it is gone.
TEST(MessagesStay, AFailedLoadStaysReadableUntilTheNextAnswer) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  PtyProgram p(dir.path(), {"--device", "/null"});
  ASSERT_TRUE(p.to_main_menu()) << p.screen();
  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:")) << p.screen();
  p.type("no_such_file.fits\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  // Shown again under the menu: wait for the report's own line, which comes last.
  ASSERT_TRUE(p.wait_for("FITSIO Error Status = ")) << p.screen();
  const std::string seen = since_last_clear(p.screen());
  EXPECT_NE(seen.find("FITSIO Error Status = "), std::string::npos) << seen;
  EXPECT_LT(seen.find("Q = Quit (without saving)"), seen.find("FITSIO Error Status = ")) << seen;
  // The next answer (an unknown key redraws the menu) clears it away.
  p.type("z\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  p.type("q\r");
  EXPECT_EQ(p.wait_end(), 0);
  const std::string last = since_last_clear(p.screen());
  EXPECT_EQ(last.find("FITSIO Error Status = "), std::string::npos) << last;
}

}  // namespace
}  // namespace zelvo::testing
