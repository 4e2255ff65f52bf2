// Whole scripted sessions around L, S, X and P.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {
Image ramp(int nx, int ny) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(100 * y + x);
  return img;
}
}  // namespace

TEST(Load, ReadsTheImageSetsTheNameAndTheLimits) {
  ScratchFolder dir;
  dir.write_fits("ngc1068.fits", ramp(40, 30));
  const auto run = run_session(dir, {"", "l", "ngc1068.fits", "q"});
  EXPECT_THAT(run.out, HasSubstr("<empty image slot>             will be overwritten.\n"
                                 " Enter the filename of the image to be loaded:\n"
                                 " Reading in ngc1068.fits\n"
                                 " nxpix, nypix = 40 30\n"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   ngc1068.fits                  \n"));
}

TEST(Load, AFailedLoadLeavesTheSlotAsItWasAndTheProgramGoesOn) {
  ScratchFolder dir;
  dir.write_fits("good.fits", ramp(20, 10));
  dir.write("notfits.fits", "this is just text, not a FITS file\n");
  const auto run = run_session(dir, {"", "l", "good.fits", "l", "notfits.fits", "l", "missing.fits", "q"});
  EXPECT_EQ(count_of(run.out, "FITSIO Error Status = "), 2);
  EXPECT_THAT(run.out, Not(HasSubstr("Active image slot = 1   notfits.fits")));
  EXPECT_THAT(run.out, Not(HasSubstr("Active image slot = 1   missing.fits")));
  // the last menu still shows the good image
  const auto last = run.out.rfind("Active image slot = 1   ");
  EXPECT_EQ(run.out.substr(last, 36), "Active image slot = 1   good.fits   ");
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
}

TEST(Save, TheTwoCharacterRuleAndTheRenamedSlot) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "n", "8 6", "s", "01", "", "2", "n", "4 4", "s", "b3", "", "3", "n", "3 3",
                                     "s", "'my image.fits'", "", "q"});
  EXPECT_THAT(run.out, HasSubstr(" " + std::string(47, '*') +
                                 "\n\n\n Give the name of the output image (in the active slot).\n"
                                 " [ZelvoImage01.fits is the default, which you can keep by\n"
                                 "  typing '01 <enter>'. If you want to replace the '01' with\n"
                                 "  something else, give the two (alphanumeric) characters you\n"
                                 "  want to use. You can also give a totally new name (up to\n"
                                 "  80 characters).]\n"));
  EXPECT_THAT(run.out, HasSubstr("\n\n Finished writing file ZelvoImage01.fits" + std::string(63, ' ') +
                                 " to your hard disk.\n Press <enter> to continue...\n"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   ZelvoImage01.fits             \n"));
  EXPECT_TRUE(dir.exists("ZelvoImage01.fits"));
  EXPECT_TRUE(dir.exists("ZelvoImageb3.fits"));
  EXPECT_TRUE(dir.exists("my image.fits"));
  const Image back = dir.read_fits("ZelvoImageb3.fits");
  EXPECT_EQ(back.nx, 4);
  EXPECT_EQ(back.ny, 4);
}

TEST(Save, AnExistingNameIsReportedNothingIsOverwrittenAndTheProgramGoesOn) {
  ScratchFolder dir;
  dir.write("ZelvoImage01.fits", "precious");
  const auto run = run_session(dir, {"", "n", "5 5", "s", "01", "", "q"});
  EXPECT_THAT(run.out, HasSubstr("FITSIO Error Status = 105"));
  EXPECT_EQ(dir.read("ZelvoImage01.fits"), "precious");
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   <unnamed image>"));
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
}

TEST(Exit, NewImagesAreAskedForAndUnchangedLoadedImagesAreNotWritten) {
  ScratchFolder dir;
  dir.write_fits("loaded.fits", ramp(10, 10));
  const std::string before = dir.read("loaded.fits");
  const auto run = run_session(dir, {"", "l", "loaded.fits", "2", "n", "6 4", "x", "5x", ""});
  EXPECT_THAT(run.out, HasSubstr(" Give the name of the output image (in slot 2).\n"));
  EXPECT_EQ(count_of(run.out, "Give the name of the output image"), 1);
  EXPECT_TRUE(dir.exists("ZelvoImage5x.fits"));
  EXPECT_EQ(dir.read("loaded.fits"), before);
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
  EXPECT_THAT(run.out, Not(HasSubstr("End of input")));
}

TEST(Exit, AFailedWriteReturnsToTheMenuSoNothingIsLost) {
  ScratchFolder dir;
  dir.write("ZelvoImage01.fits", "taken");
  const auto run = run_session(dir, {"", "n", "6 4", "x", "01", "", "x", "02", "", "q"});
  EXPECT_THAT(run.out, HasSubstr("FITSIO Error Status = 105"));
  EXPECT_THAT(run.out, HasSubstr("Not every image could be saved"));
  EXPECT_TRUE(dir.exists("ZelvoImage02.fits"));
  EXPECT_EQ(dir.read("ZelvoImage01.fits"), "taken");
}

TEST(Print, WritesThePostScriptFileAndReopensTheScreen) {
  ScratchFolder dir;
  dir.write_fits("m51.fits", small_field(64, 64));
  const auto run = run_session(dir, {"", "l", "m51.fits", "p", "p", "q"});
  EXPECT_EQ(count_of(run.out, "\n\n This will write your image to a PostScript file.\n"), 2);
  EXPECT_EQ(count_of(run.out, " Successfully wrote  ZelvoImage.ps  to the disk.\n"), 2);
  ASSERT_TRUE(dir.exists("ZelvoImage.ps"));
  EXPECT_EQ(dir.read("ZelvoImage.ps").substr(0, 4), "%!PS");
  // printing shows no statistics in the command window
  EXPECT_THAT(run.out, Not(HasSubstr("The maximum pixel value in the image = ")));
}

TEST(Exit, ModifiedImagesGoBackToTheirFilesWhateverTheLengthOfTheirNames) {
  ScratchFolder dir;
  dir.write_fits("ngc1068.fits", ramp(10, 8));
  dir.write_fits("m31.fits", ramp(6, 6));
  const auto run = run_session(dir, {"", "l", "ngc1068.fits", "a", "+ 5", "2", "l", "m31.fits", "a", "* 2", "x", ""});
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   ngc1068.fits <modified>"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 2   m31.fits                      \n"));
  EXPECT_THAT(run.out, Not(HasSubstr("Give the name of the output image")));
  EXPECT_THAT(run.out, HasSubstr(" Finished writing file ngc1068.fits"));
  EXPECT_THAT(run.out, HasSubstr(" Finished writing file m31.fits"));
  const Image a = dir.read_fits("ngc1068.fits");
  ASSERT_EQ(a.nx, 10);
  EXPECT_FLOAT_EQ(a.at(3, 2), 203.0f + 5.0f);
  const Image b = dir.read_fits("m31.fits");
  ASSERT_EQ(b.nx, 6);
  EXPECT_FLOAT_EQ(b.at(6, 6), 2.0f * 606.0f);
  // no temporary files are left behind
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    files += e.path().extension() != ".log" && e.path().filename().string()[0] != '.';
  EXPECT_EQ(files, 3);  // the two images and Zelvo.ini
}

TEST(Save, PathsWithSlashesNeedNoQuotes) {
  ScratchFolder dir;
  std::filesystem::create_directory(dir.file("in"));
  std::filesystem::create_directory(dir.file("out"));
  dir.write_fits("in/m51.fits", ramp(12, 12));
  const auto run = run_session(dir, {"", "l", "in/m51.fits", "s", "out/m51b.fits", "", "q"});
  EXPECT_THAT(run.out, HasSubstr(" Reading in in/m51.fits\n"));
  EXPECT_TRUE(dir.exists("out/m51b.fits"));
  EXPECT_EQ(dir.read_fits("out/m51b.fits").nx, 12);
}
