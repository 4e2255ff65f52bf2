// Whole scripted sessions: start-up, the menu pass, slots, N, H and the ending.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/texts.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
const std::string kClosing =
    " Thank you for using Zelvo.\n I may be just a humble computer, but I really enjoyed it.\n\n";
}

TEST(StartUp, BannerWelcomeMenuAndTheLogHeader) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "q"});
  EXPECT_EQ(run.status, 0);
  const auto banner = banner_lines();
  ASSERT_EQ(banner.size(), 16u);
  for (const auto& l : banner) EXPECT_EQ(l.size(), 56u) << l;
  EXPECT_EQ(banner[0], "   " + std::string(50, '*') + "   ");
  EXPECT_THAT(run.out, HasSubstr(" " + banner[12] + "\n"));
  // One version: the banner and the title box say what --version says.
  const auto version = run_binary(dir, {"--version"}, {});
  ASSERT_EQ(version.out.rfind("zelvo ", 0), 0u) << version.out;
  const std::string v = "v. " + version.out.substr(6, version.out.find('\n') - 6);
  EXPECT_THAT(banner[12], HasSubstr("Galaxy and Star Image Tools " + v + " "));
  EXPECT_EQ(title_box_lines()[2], "   --- Zelvo - Galaxy and Star Image Tools " + v + " ---   ");
  EXPECT_THAT(banner[13], HasSubstr("2001"));
  EXPECT_THAT(run.out, HasSubstr(" Welcome to Zelvo!  Note that this program is not yet fully\n"));
  EXPECT_THAT(
      run.out,
      HasSubstr(
          " and improve the program into a more user-friendly direction.\n\n    Press <enter> to continue... \n"));
  EXPECT_THAT(run.out, HasSubstr("\n    " + std::string(51, '*') + "   \n"));
  EXPECT_THAT(run.out, HasSubstr(" " + title_box_lines()[2] + "\n"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   <empty image slot>            \n"));
  EXPECT_THAT(run.out, HasSubstr(" P = Print image                      X = Save images and exit\n"
                                 " H = Toggle Help on/off               Q = Quit (without saving)\n"));
  EXPECT_TRUE(run.out.size() >= kClosing.size() &&
              run.out.compare(run.out.size() - kClosing.size(), kClosing.size(), kClosing) == 0);

  const std::string log = dir.read("Zelvo.log");
  EXPECT_EQ(log,
            "\n ---               Zelvo               --- \n"
            " ---   (Galaxy and Star Image Tools)   --- \n"
            " ---     2001 The Zelvo developers     --- \n\n");
  run_session(dir, {"", "q"});
  run_session(dir, {"", "Q"});
  EXPECT_EQ(count_of(dir.read("Zelvo.log"), "Zelvo               ---"), 3);
}

TEST(StartUp, AMissingSettingsFileGivesDefaultsAndOneNotice) {
  ScratchFolder dir;
  dir.write("Zelvo.ini", "");
  const auto run = run_session(dir, {"", "q"});
  EXPECT_THAT(run.out, HasSubstr("Could not read both values of Zelvo.ini"));
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
}

TEST(MenuPass, SlotSwitchingUnknownKeysAndNewImages) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "3", "5", "?", "", "z", "n", "100 50", "2", "N", "0 5", "q"});
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 3   <empty image slot>            \n"));
  EXPECT_THAT(run.out, HasSubstr("<empty image slot>" + std::string(32, ' ') +
                                 " will be overwritten.\n"
                                 " Give dimensions (x-size and y-size) of the new image:\n"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 3   <unnamed image>               \n"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 2   <empty image slot>"));
  EXPECT_THAT(run.out, HasSubstr("Both sizes must be at least 1; no image was created."));
  // keys 5, ?, empty and z print nothing of their own: the menu simply comes back
  EXPECT_EQ(count_of(run.out, "Options:"), 9);
}

TEST(MenuPass, CommandsThatNeedPixelsRefuseAnEmptySlot) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "d", "p", "s", "q"});
  EXPECT_EQ(count_of(run.out, " Image slot 1 is empty: load an image (L) or create one (N) first."), 3);
  EXPECT_FALSE(dir.exists("ZelvoImage.ps"));
}

TEST(MenuPass, EndOfInputAnywhereEndsCleanly) {
  ScratchFolder dir;
  for (const auto& script : std::vector<std::vector<std::string>>{
           {}, {""}, {"", "n"}, {"", "n", "10"}, {"", "h"}, {"", "l"}, {"", "n", "5 5", "s"}, {"", "n", "5 5", "d"}}) {
    const auto run = run_session(dir, script);
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr(" End of input; leaving without saving.\n" + kClosing));
  }
}

TEST(MenuPass, NonNumericSizesAreAskedForAgain) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "n", "ten 20", "10 20", "q"});
  EXPECT_THAT(run.out, HasSubstr("Expected a whole number but read 'ten'"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   <unnamed image>"));
}

TEST(HelpWindow, OpensWithTheDialogueShowsTextsAndClosesOnTheNextH) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "h", "t", "x", "k", "?", "h", "q"});
  EXPECT_EQ(count_of(run.out, "Help Window"), 1);
  EXPECT_EQ(count_of(run.out, " Give the option you want more info of (or ? to exit):\n"), 4);
  EXPECT_THAT(run.out, HasSubstr("\n\n Use T to rotate the image in the active image slot. You can only\n"));
  EXPECT_THAT(run.out, HasSubstr(" 270 degree option.\n\n"));
  EXPECT_THAT(run.out, HasSubstr(" Be careful not to save changes you don't intend permanent.\n"));
  EXPECT_THAT(run.out, HasSubstr(" (the README and `man zelvo`)  for\n"));
  // x in the help dialogue only shows its text
  EXPECT_THAT(run.out, Not(HasSubstr("Finished writing")));
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
}

TEST(HelpWindow, EveryKeyHasItsTextWithTheGivenLineCount) {
  const std::pair<char, std::size_t> counts[] = {{'1', 12}, {'L', 5}, {'S', 7},  {'N', 5},  {'D', 21}, {'C', 6},
                                                 {'T', 6},  {'F', 3}, {'M', 16}, {'A', 14}, {'R', 32}, {'G', 30},
                                                 {'O', 29}, {'P', 4}, {'H', 3},  {'X', 6},  {'Q', 3}};
  for (auto [key, n] : counts) {
    EXPECT_EQ(help_text(key).size(), n) << key;
    EXPECT_EQ(help_text(static_cast<char>(std::tolower(key))).size(), n) << key;
    for (auto l : help_text(key)) EXPECT_LE(l.size(), 79u) << key;
  }
  EXPECT_EQ(help_text('2').front(), "Numerical keys (1, 2, 3, or 4) select one of the four image slots");
  EXPECT_EQ(help_text('D').front(), "Use D to display the image in the active image slot in the PGPLOT");
  EXPECT_EQ(help_text('M').front(), "Use M (mouse operations) to examine the image. If you want to see");
  EXPECT_EQ(help_text('A').front(), "Use A to make arithmetic operations to your images. A submenu is");
  EXPECT_EQ(help_text('O').front(), "Use O to get aperture photometry of an object in the image.");
  bool formula = false;
  // The magnitude O prints: per second of exposure, no zero point.
  for (auto l : help_text('O')) formula |= l == "  mag = -2.5 * log10(flux) + 2.5 * log10(itime)";
  EXPECT_TRUE(formula);
  EXPECT_EQ(help_text('R').front(), "Use R to remove stars and other unwanted features from the image in");
  EXPECT_TRUE(help_text('Z').empty());
}

// The command line: its arguments, the answers, the exit status and what it prints.
struct CommandLineCase {
  std::vector<std::string> args, lines;
  int status;
  std::vector<std::string> says;
};

// A case prints as its arguments, which names it in the test list.
void PrintTo(const CommandLineCase& c, std::ostream* os) {
  for (std::size_t i = 0; i < c.args.size(); ++i) *os << (i ? " " : "") << c.args[i];
}

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, ExitsWithItsStatusAndSaysSo) {
  const CommandLineCase& c = GetParam();
  ScratchFolder dir;
  dir.write("Zelvo.ini", "2\n0\n");
  const auto run = run_binary(dir, c.args, c.lines);
  EXPECT_EQ(run.status, c.status);
  for (const std::string& text : c.says) EXPECT_THAT(run.out, HasSubstr(text));
}

INSTANTIATE_TEST_SUITE_P(
    HelpVersionUnknownOptionAndSeed, CommandLine,
    ::testing::Values(CommandLineCase{{"--help"}, {}, 0, {"Usage: zelvo", "ZelvoApPhot.log"}},
                      CommandLineCase{{"--version"}, {}, 0, {"zelvo 1."}},
                      CommandLineCase{{"--frobnicate"}, {}, 2, {"unknown option '--frobnicate'", "Usage: zelvo"}},
                      CommandLineCase{{"--seed", "x"}, {}, 2, {}}, CommandLineCase{{"--device", "?"}, {}, 2, {}},
                      CommandLineCase{
                          {"--device", "/null", "--seed", "7"}, {"", "q"}, 0, {"Thank you for using Zelvo."}}));
