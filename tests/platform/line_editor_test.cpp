// Answers typed at a terminal: the program runs on a pseudo-terminal, and the test types
// keys as a person would, arrow keys included.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "support/pty_program.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

using std::chrono::milliseconds;

constexpr const char* kLeft = "\x1b[D";
constexpr const char* kUp = "\x1b[A";

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
  ASSERT_TRUE(p.to_main_menu()) << p.screen();

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
  ASSERT_TRUE(p.to_main_menu()) << p.screen();
  // The terminal driver would take a Ctrl-D typed before the editor has the terminal.
  ASSERT_TRUE(p.wait_raw_mode()) << p.screen();
  p.type("\x04");
  const bool ended = p.wait_for("End of input; leaving without saving.").has_value();
  ASSERT_TRUE(ended) << p.screen();
  EXPECT_EQ(p.wait_end(), 0);
}

TEST(TerminalInput, TabCompletesFileNamesAtTheLoadQuestionOnly) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  dir.write_fits("m51 frame.fits", small_field(16, 12));
  dir.write_fits("other.fits", small_field(8, 8));
  std::filesystem::create_directory(dir.file("night1"));
  dir.write_fits("night1/a.fits", small_field(20, 10));
  dir.write_fits("night1/b.fits", small_field(20, 10));
  PtyProgram p(dir.path(), {"--device", "/null"});
  ASSERT_TRUE(p.to_main_menu()) << p.screen();

  // "m5" and Tab: the only match, blank and all.
  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:")) << p.screen();
  ASSERT_TRUE(p.wait_raw_mode()) << p.screen();
  p.type("m5\t\r");
  ASSERT_TRUE(p.wait_for("Active image slot = 1   m51 frame.fits")) << p.screen();

  // A folder gets its slash; two names in it share only "night1/": Tab lists them, then one
  // more letter and Tab complete it.
  p.type("2\r");
  ASSERT_TRUE(p.wait_for("Active image slot = 2")) << p.screen();
  p.type("l\r");
  ASSERT_TRUE(p.wait_for("Enter the filename of the image to be loaded:")) << p.screen();
  ASSERT_TRUE(p.wait_raw_mode()) << p.screen();
  p.type("ni\t\t");
  ASSERT_TRUE(p.wait_for("a.fits  b.fits")) << p.screen();
  p.type("b\t\r");
  ASSERT_TRUE(p.wait_for("Active image slot = 2   night1/b.fits")) << p.screen();

  // At the menu Tab completes nothing: "q" and Tab is no command, the menu comes back.
  ASSERT_TRUE(p.wait_raw_mode()) << p.screen();
  p.type("\tq\r");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.screen();
  p.type("q\r");
  ASSERT_TRUE(p.wait_for("Thank you for using Zelvo.")) << p.screen();
  EXPECT_EQ(p.wait_end(), 0);
  EXPECT_EQ(p.screen().find("FITSIO Error"), std::string::npos);
}

}  // namespace
}  // namespace zelvo::testing
