// Q's question, file names with blanks, the plain line of a name that cannot be read, the
// help texts (whole, and paged on a short terminal) and the manual page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "platform/console.h"
#include "platform/graphics.h"
#include "session/commands.h"
#include "session/session.h"
#include "session/texts.h"
#include "support/session_harness.h"
#include "support/without_root.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kEnd = " Thank you for using Zelvo.\n I may be just a humble computer, but I really enjoyed it.\n\n";

// ---------------------------------------------------------------- Q

TEST(Quit, AsksWhenWorkWouldBeLostAndOnlyYLeaves) {
  ScratchFolder dir;
  dir.write_fits("ngc1068.fits", small_field(20, 16));
  dir.write_fits("m31.fits", small_field(20, 16));
  // Slot 1 changed (marked), slot 2 new, slot 3 a short name changed (never marked), slot 4
  // loaded and unchanged: "quit" counts as Q; n and an empty line go back to the menu.
  const auto run =
      run_session(dir, {"",  "l", "ngc1068.fits", "a",    "+ 100", "2", "n", "4 4", "3", "l", "m31.fits", "a", "* 2",
                        "4", "l", "m31.fits",     "quit", "n",     "q", "",  "q",   "Y"});
  const std::string asked =
      " Not saved: slot 1 (ngc1068.fits <modified>), slot 2 (<unnamed image>), slot 3 (m31.fits <modified>).\n"
      " Quit anyway (y/n)?\n";
  EXPECT_EQ(count_of(run.out, asked), 3);
  EXPECT_EQ(count_of(run.out, asked + " \n"), 2);  // twice back to the menu (the title box's empty line)
  EXPECT_THAT(run.out, EndsWith(asked + kEnd));
  EXPECT_THAT(run.out, Not(HasSubstr("End of input")));
}

TEST(Quit, EndOfInputAtTheQuestionLeavesWithoutSavingAndSavedWorkIsNotAskedAbout) {
  ScratchFolder dir;
  auto run = run_session(dir, {"", "n", "4 4", "q"});
  EXPECT_THAT(run.out, EndsWith(" Quit anyway (y/n)?\n\n End of input; leaving without saving.\n" + kEnd));
  EXPECT_FALSE(dir.exists("ZelvoImage01.fits"));
  run = run_session(dir, {"", "n", "4 4", "s", "01", "", "q"});
  EXPECT_THAT(run.out, Not(HasSubstr("Quit anyway")));
  EXPECT_THAT(run.out, EndsWith("Q = Quit (without saving)\n \n" + kEnd));
}

// ---------------------------------------------------------------- names with blanks

TEST(FileNames, TheWholeLineIsTheNameAndQuotesStillWork) {
  ScratchFolder dir;
  dir.write_fits("my frame.fits", small_field(12, 10));
  const auto run = run_session(dir, {"", "l", "  my frame.fits  ", "s", "b", "", "2", "l", "\"my frame.fits\"", "s",
                                     "my copy, night 2.fits", "", "3", "l", "'my frame.fits'", "s", " 7 ", "", "q"});
  EXPECT_THAT(run.out, HasSubstr(" Reading in my frame.fits\n nxpix, nypix = 12 10\n"));
  EXPECT_EQ(count_of(run.out, " Reading in my frame.fits\n"), 3);
  EXPECT_TRUE(dir.exists("ZelvoImageb.fits"));  // one character: no blank left in the name
  EXPECT_TRUE(dir.exists("ZelvoImage7.fits"));
  EXPECT_TRUE(dir.exists("my copy, night 2.fits"));
  EXPECT_EQ(dir.read_fits("my copy, night 2.fits").nx, 12);
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 2   my copy, night 2.fits"));
}

// ---------------------------------------------------------------- names that cannot be read

struct Unreadable {
  const char* name;
  const char* typed;
  const char* line;  // the plain line, before the reader's report (or the report's line after
                     // "Reading in" when no plain line is due)
};

class UnreadableName : public ::testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableName, GetsOnePlainLineFirst) {
  ScratchFolder dir;
  std::filesystem::create_directory(dir.file("night1"));
  dir.write_fits("locked.fits", small_field(8, 8));
  dir.write_fits("packed.fits", small_field(8, 8));
  ASSERT_EQ(std::system(("gzip '" + dir.file("packed.fits") + "'").c_str()), 0);
  ::chmod(dir.file("locked.fits").c_str(), 0);
  dir.write("Zelvo.ini", "2\n0\n");
  ::chmod(dir.path().c_str(), 0777);  // the session may run as another user (without_root)
  const Unreadable& u = GetParam();
  const std::string line = " " + std::string(u.line) + "\n";
  const std::string reading = " Reading in " + std::string(u.typed) + "\n";
  const std::string expected = line.find("nxpix") == std::string::npos ? line + reading : reading + line;
  const auto said = without_root([&] {
    return run_session(dir, {"", "l", u.typed, "q"}).out.find(expected) != std::string::npos;
  });
  ASSERT_TRUE(said.has_value());
  EXPECT_TRUE(*said) << run_session(dir, {"", "l", u.typed, "q"}).out;
}

INSTANTIATE_TEST_SUITE_P(Names, UnreadableName,
                         ::testing::Values(Unreadable{"Missing", "m51.fit", "m51.fit: no such file"},
                                           Unreadable{"InAMissingFolder", "night2/a.fits",
                                                      "night2/a.fits: no such file"},
                                           Unreadable{"Folder", "night1", "night1: is a folder"},
                                           Unreadable{"Locked", "locked.fits", "locked.fits: permission denied"},
                                           // The library reads packed.fits.gz: no line, a load.
                                           Unreadable{"FoundCompressed", "packed.fits", "nxpix, nypix = 8 8"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- help

TEST(HelpTexts, EveryTextIsWholeAndPointsToTheDocumentsInstalled) {
  for (char key : std::string("1234LSNDCTFMARGOPHXQ")) {
    for (auto l : help_text(key)) {
      EXPECT_THAT(std::string(l), Not(HasSubstr("..."))) << key;
      EXPECT_THAT(std::string(l), Not(HasSubstr("coming"))) << key;
      EXPECT_THAT(std::string(l), Not(HasSubstr("http"))) << key;
    }
  }
  for (const auto& l : help_intro_lines()) EXPECT_THAT(l, Not(HasSubstr("http")));
  EXPECT_EQ(help_intro_lines()[2], "(the README and `man zelvo`)  for");
  // R and G say what each option does and which files they read and write.
  std::string r, g;
  for (auto l : help_text('R')) r += std::string(l) + "\n";
  for (auto l : help_text('G')) g += std::string(l) + "\n";
  for (const char* word :
       {"ZelvoRep.log", "ZelvoRepeat.log", "ZelvoDebug.log", "undo", "object list", "bad row",
        "\n2 removes a saturated", "\n4 finds", "\n6 repairs a bad column and 7 a bad row", "8 and 9"})
    EXPECT_THAT(r, HasSubstr(word));
  for (const char* word : {"ZelvoProfile1.log", "\n1 extracts", "\n2 gives", "\n3 makes", "\n4 makes", "-99999",
                           "position angle", "rotation curve"})
    EXPECT_THAT(g, HasSubstr(word));
}

// The help dialogue on a terminal of a given size: O's text (29 lines) with its question.
struct Screen {
  const char* name;
  int cols, rows;
  int pages;  // pages of O's text and the question
};

class HelpPaging : public ::testing::TestWithParam<Screen> {};

TEST_P(HelpPaging, LongTextsAreShownWholeAPageAtATime) {
  const Screen& sz = GetParam();
  std::istringstream in("o\n\n\n\n?\n");  // O, <enter> for each further page, ?
  std::ostringstream out;
  Console con(in, out, true);
  con.set_screen_size_query([&] { return ScreenSize{sz.cols, sz.rows}; });
  Graphics gfx(con);
  Session s(con, gfx);
  command_help(s);
  const std::string shown = out.str();
  for (auto l : help_text('O')) EXPECT_THAT(shown, HasSubstr(std::string(l))) << sz.name;
  EXPECT_THAT(shown, Not(HasSubstr(" ...")));
  EXPECT_EQ(count_of(shown, std::string(kHelpMore)), sz.pages - 1) << shown;
}

INSTANTIATE_TEST_SUITE_P(Terminals, HelpPaging,
                         ::testing::Values(Screen{"Tall", 100, 40, 1}, Screen{"Short", 80, 24, 2},
                                           Screen{"Tiny", 80, 12, 4}, Screen{"PanelBeside", 170, 24, 2},
                                           Screen{"PanelBelow", 100, 50, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- the manual page

TEST(ManPage, FormatsWithoutWarningsAndIsInTheBuildTree) {
  const std::filesystem::path built = std::filesystem::path(ZELVO_BINARY).parent_path() / "share/man/man1/zelvo.1";
  ASSERT_TRUE(std::filesystem::exists(built));
  const std::string cmd = "groff -man -Tascii -P-cbou -ww '" + built.string() + "' 2>&1";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  std::array<char, 4096> buf{};
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) text.append(buf.data(), n);
  ASSERT_EQ(::pclose(p), 0) << text;
  // Lines are filled and wrapped: compare with every run of blanks as one.
  std::string plain;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n';
    if (blank && !plain.empty() && plain.back() == ' ') continue;
    plain += blank ? ' ' : c;
  }
  EXPECT_THAT(plain, Not(HasSubstr("warning")));
  for (const char* s : {"zelvo run remove FRAME --list LIST --out DIR [--seed N]",
                        "zelvo run photometry FRAME --list LIST --radii rs,ri,ro --out DIR",
                        "zelvo run profile FRAME --centre x,y --extent R,step --shape e,pa --out DIR",
                        "Quit anyway (y/n)?", "Zelvo.ini", "ZelvoRep.log", "ZelvoRepeat.log", "ZelvoApPhot.log",
                        "ZelvoProfile1.log", "ZelvoImage.ps", "--device", "--seed"})
    EXPECT_THAT(plain, HasSubstr(s));
}

}  // namespace
