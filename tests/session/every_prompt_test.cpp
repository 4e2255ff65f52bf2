// Every prompt of the main menu and of the M, R, O and G submenus, answered with every kind
// of bad answer, on an empty slot and on a loaded image. Each run is a whole session in a
// child process with a time limit (built with the sanitizers in the checked build).
//
// A prompt is reached by a scripted prefix; the bad answer follows, then either nothing (the
// input ends there) or a few lines that lead back out of any menu and quit. Every run must
// end cleanly: no crash, no sanitizer report, no hang, no endless output, exit status 0 and
// the closing lines. A non-number where a number is asked must be named in one line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/isolated_run.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

using ::testing::HasSubstr;

// What a prompt reads, which decides the message a non-number gets.
enum class Reads { number, letter, text, cursor, line };

struct Prompt {
  const char* name;                 // test name
  std::vector<std::string> prefix;  // answers from the main menu up to the prompt
  const char* text;                 // a piece of the prompt, printed just before the read
  Reads reads;
};

// The loaded image: 64 x 64, sky ~1000, stars at (19, 26), (45, 38) and (32, 51), a warm column 30.
const char* const kImage = "field.fits";
const char* const kStar = "45 38";

const std::vector<Prompt>& prompts() {
  static const std::vector<Prompt> p = {
      // Main menu and its dialogues.
      {"MainMenu", {}, "Q = Quit (without saving)", Reads::letter},
      {"LoadName", {"l"}, "Enter the filename of the image to be loaded:", Reads::text},
      {"NewSize", {"n"}, "Give dimensions (x-size and y-size) of the new image:", Reads::number},
      {"DisplayGrey", {"d"}, "Type in 1 for greyscale or 0 for pseudoscale:", Reads::number},
      {"DisplayChange", {"d", "1"}, "Do you want to change display levels (y/n)?", Reads::letter},
      {"DisplayLevels", {"d", "1", "y"}, "an empty answer keeps the levels shown above:", Reads::number},
      {"DisplayLimits", {"d", "1", "y", "900 1200 p"}, "Give the two, smaller first (empty: keep", Reads::number},
      {"DisplayAgain",
       {"d", "1", "y", "900 1200 p", "800 1400"},
       "Do you want to change display levels",
       Reads::letter},
      {"CropClick", {"c"}, "Click approximately on the centre of cropped image.", Reads::cursor},
      {"CropLimits", {"c", "32 32"}, "first and last x- and first and last y-value.", Reads::number},
      {"Rotate", {"t"}, "rotate A=90, B=180, or C=270 degrees clockwise:", Reads::letter},
      {"Reflect", {"f"}, "A = reflect left to right, B = reflect top to bottom:", Reads::letter},
      {"Arithmetic", {"a"}, "iX / iY   [divide image X by image Y,", Reads::line},
      {"HelpTopic", {"h"}, "Give the option you want more info of (or ? to exit):", Reads::letter},
      {"SaveName", {"s"}, "80 characters).]", Reads::text},
      {"SavePause", {"s", "07"}, "Press <enter> to continue...", Reads::line},
      {"ExitName", {"2", "n", "8 8", "x"}, "80 characters).]", Reads::text},
      {"PrintThenMenu", {"p"}, "Q = Quit (without saving)", Reads::letter},
      {"QuitQuestion", {"2", "n", "8 8", "q"}, "Quit anyway (y/n)?", Reads::letter},
      // M: zoom box and pixel analysis.
      {"MouseMenu", {"m"}, "0) Return back to the main options", Reads::number},
      {"MouseZoomSize", {"m", "1"}, "Give the new zoom box size (width, height); both > 50", Reads::number},
      {"MouseZoomClick", {"m", "1", "50 50"}, "Click on the area you want to zoom to.", Reads::cursor},
      {"MouseAnalysisClick", {"m", "2"}, "Click on the centre of the area to be analysed.", Reads::cursor},
      {"MouseAnalysisAgain", {"m", "2", kStar}, "Click on the centre of the area to be analysed.", Reads::cursor},
      // R: feature removal.
      {"RemoveMenu", {"r"}, "0) Return back to the main options", Reads::number},
      {"RemoveStarClick", {"r", "1"}, "Click on the object you want to remove.", Reads::cursor},
      {"RemoveStarCentre", {"r", "1", kStar}, "Click on the object centre.", Reads::cursor},
      {"RemoveStarRadius", {"r", "1", kStar, kStar}, "Give (absolute) value to the removal radius:", Reads::number},
      {"RemoveStarUndo", {"r", "1", kStar, kStar, "8"}, "Do you want to UNDO previous removal (y/n)?", Reads::letter},
      {"RemoveStarMenuAgain", {"r", "1", kStar, kStar, "8", "n"}, "0) Return back to the main options", Reads::number},
      {"RemoveSaturatedClick", {"r", "2"}, "Click on the object you want to remove.", Reads::cursor},
      {"RemoveSaturatedCentre", {"r", "2", kStar}, "Click on the object centre.", Reads::cursor},
      {"RemoveAreaCentre", {"r", "3", "20 10"}, "Click on the object centre.", Reads::cursor},
      {"RemoveAreaRadius", {"r", "3", "20 10", "20 10"}, "Give (absolute) value to the removal radius:", Reads::number},
      {"RemoveColumnsCentre", {"r", "6", "30 40"}, "Click on the object centre.", Reads::cursor},
      {"RemoveColumnsChoice", {"r", "6", "30 40", "30 40"}, "Enter 'y' to keep, 'm' to modify, or 'c'", Reads::letter},
      {"RemoveColumnsValues", {"r", "6", "30 40", "30 40", "m"}, "Give new average and sigma values:", Reads::number},
      {"RemoveColumnsBackground",
       {"r", "6", "30 40", "30 40", "c"},
       "Click on background you wish to estimate",
       Reads::cursor},
      {"RemoveListRadius", {"r", "8"}, "Give (absolute) value to the removal radius:", Reads::number},
      {"RemoveListUndo", {"r", "8", "8"}, "Do you want to UNDO previous removal (y/n)?", Reads::letter},
      {"RemoveAutomaticThenMenu", {"r", "9"}, "0) Return back to the main options", Reads::number},
      // O: aperture photometry.
      {"PhotometryMenu", {"o"}, "0) Return back to the main options", Reads::number},
      {"PhotometryZoomSize", {"o", "1"}, "Give the new zoom box size (width, height); both > 50", Reads::number},
      {"PhotometryZoomClick", {"o", "1", "50 50"}, "Click on the area you want to zoom to.", Reads::cursor},
      {"PhotometryRadii", {"o", "2"}, "outer edge of the background annulus:", Reads::number},
      {"PhotometryExposure", {"o", "3"}, "Give image exposure time:", Reads::number},
      {"PhotometryClick", {"o", "4"}, "Click on the centre of the aperture photometry object.", Reads::cursor},
      {"PhotometryClickAgain",
       {"o", "4", kStar},
       "Click on the centre of the aperture photometry object.",
       Reads::cursor},
      // G: galaxy profiles, colour and calibrated images.
      {"GalaxyMenu", {"g"}, "0) Return back to the main options", Reads::number},
      {"ProfileCentre", {"g", "1"}, "Give the centre of your galaxy (x-pixel, y-pixel):", Reads::number},
      {"ProfileExtent", {"g", "1", "32 32"}, "Give the extent (radius) of the profile and stepsize:", Reads::number},
      {"ProfileEllipse", {"g", "1", "32 32", "25 1"}, "(in degrees) of semi-major axis:", Reads::number},
      {"ProfilePercent",
       {"g", "1", "32 32", "25 1", "0.3 40"},
       "should be changed (e.g. -10, 0, or 10):",
       Reads::number},
      {"MagnitudeCentre", {"g", "2"}, "Give the centre of your galaxy (x-pixel, y-pixel):", Reads::number},
      {"MagnitudeEllipse", {"g", "2", "32 32", "25 1"}, "(in degrees) of semi-major axis:", Reads::number},
      {"ColourSlots", {"g", "3"}, "Give the image slot numbers containing B and I images:", Reads::number},
      {"ColourExposureB", {"g", "3", "1 1"}, "Change B-band exposure time if needed", Reads::number},
      {"ColourExposureI", {"g", "3", "1 1", "100"}, "Change I-band exposure time if needed", Reads::number},
      {"ColourCoefficients", {"g", "3", "1 1", "100", "0"}, "my (colour coefficient), and airmass:", Reads::number},
      {"CalibrationCoefficients", {"g", "4"}, "and gamma, (airmass coefficient):", Reads::number},
      {"CalibrationSlots", {"g", "4", "1 2 3"}, "and image slot for corrected (B-I) image:", Reads::number},
      {"CalibrationAirmass", {"g", "4", "1 2 3", "1 1"}, "Give airmass and pixel scale", Reads::number},
      {"CalibrationZero", {"g", "4", "1 2 3", "1 1", "1.2 0.5"}, "Give extra zero-level correction", Reads::number},
      {"CalibrationExposure",
       {"g", "4", "1 2 3", "1 1", "1.2 0.5", "0.1"},
       "Change I-band exposure time",
       Reads::number},
  };
  return p;
}

// The bad answers. Each is typed once, then (for prompts that read several values) the
// same item repeated, so that every value of the read gets it. nullptr: the input ends.
struct Answer {
  const char* name;
  const char* item;
};
const std::vector<Answer>& answers() {
  static const std::vector<Answer> a = {
      {"EndOfInput", nullptr},
      {"Empty", ""},
      {"NotANumber", "abc"},
      {"Huge", "1e30"},
      {"BeyondInteger", "2147483648"},
      {"LargestReal", "3.4e38"},
      {"Negative", "-5"},
      {"MostNegative", "-2147483648"},
      {"NegativeHuge", "-1e30"},
      {"Zero", "0"},
      {"SlotFive", "5"},
      {"OptionNinetyNine", "99"},
      {"NaNWord", "NaN Inf"},
      {"Slash", "/"},
  };
  return a;
}

// Lines that lead out of any dialogue and menu and end the session.
const std::vector<std::string> kWayOut = {"n", "0", "n", "0", "0", "?", "0", "q"};

std::vector<std::string> script(bool loaded, const Prompt& p, const Answer& a, bool way_out) {
  std::vector<std::string> lines = {""};  // the welcome pause
  if (loaded) lines.insert(lines.end(), {"l", kImage});
  lines.insert(lines.end(), p.prefix.begin(), p.prefix.end());
  if (a.item == nullptr) return lines;
  const std::string item = a.item;
  lines.push_back(item.empty() ? item : item + " " + item + " " + item + " " + item);
  if (way_out) lines.insert(lines.end(), kWayOut.begin(), kWayOut.end());
  return lines;
}

void lay_out(const ScratchFolder& dir, bool loaded) {
  if (loaded) {
    // A warm column at x = 30 for option 6 to find (it asks only about a line it will repair).
    Image img = small_field(64, 64);
    for (int y = 1; y <= 64; ++y) img.at(30, y) += 300.0f;
    dir.write_fits(kImage, img, {"EXPTIME =                 60.0"});
  }
  // The object list of removal options 8 and 9: the brightest star.
  dir.write("ZelvoRep.log", " 1 44.8 38.4 8.0\n");
}

void PrintTo(const Prompt& p, std::ostream* os) { *os << p.name; }

class EveryPrompt : public ::testing::TestWithParam<Prompt> {};

TEST_P(EveryPrompt, TheScriptReachesThePromptOnALoadedImage) {
  ScratchFolder dir;
  lay_out(dir, true);
  const Prompt& p = GetParam();
  const IsolatedRun run = run_isolated(dir, script(true, p, answers().front(), false));
  ASSERT_TRUE(run.clean()) << run.verdict();
  // The prompt is the last thing asked before the input ended.
  const std::size_t at = run.out.rfind(p.text);
  ASSERT_NE(at, std::string::npos) << run.out;
  const std::size_t end = run.out.find("End of input; leaving without saving.", at);
  ASSERT_NE(end, std::string::npos) << run.out.substr(at);
  EXPECT_LE(count_of(run.out.substr(at, end - at), "\n"), 6) << run.out.substr(at);
}

TEST_P(EveryPrompt, EveryBadAnswerEndsCleanly) {
  const Prompt& p = GetParam();
  int tried = 0;
  for (bool loaded : {false, true}) {
    for (const Answer& a : answers()) {
      for (bool way_out : {false, true}) {
        if (a.item == nullptr && way_out) continue;
        ScratchFolder dir;
        lay_out(dir, loaded);
        const IsolatedRun run = run_isolated(dir, script(loaded, p, a, way_out));
        ++tried;
        EXPECT_TRUE(run.clean()) << (loaded ? "loaded image, " : "empty slot, ") << a.name
                                 << (way_out ? " then the way out: " : ": ") << run.verdict() << "\n"
                                 << run.out.substr(run.out.size() > 3000 ? run.out.size() - 3000 : 0);
        if (loaded && a.item != nullptr && std::string(a.item) == "abc") {
          if (p.reads == Reads::number) {
            EXPECT_THAT(run.out, HasSubstr("Expected a"));
          }
          if (p.reads == Reads::cursor) {
            EXPECT_THAT(run.out, HasSubstr("Expected two numbers, x and y"));
          }
        }
      }
    }
  }
  RecordProperty("runs", tried);
}

INSTANTIATE_TEST_SUITE_P(Prompts, EveryPrompt, ::testing::ValuesIn(prompts()),
                         [](const ::testing::TestParamInfo<Prompt>& info) { return std::string(info.param.name); });

// The table covers the menus it claims to: every main-menu command and every option of the
// M, R, O and G submenus is reached by at least one prompt.
TEST(EveryPromptTable, CoversEveryCommandAndOption) {
  std::vector<std::string> firsts;
  for (const Prompt& p : prompts())
    firsts.push_back(p.prefix.empty() ? std::string() : p.prefix[0] + (p.prefix.size() > 1 ? p.prefix[1] : ""));
  const auto has = [&](const std::string& s) {
    for (const auto& f : firsts)
      if (f.rfind(s, 0) == 0) return true;
    return false;
  };
  for (const char* c : {"l",  "n",  "d",  "c",  "t",  "f",  "a",  "h",  "s",  "p",  "m1", "m2", "r1",
                        "r2", "r3", "r6", "r8", "r9", "o1", "o2", "o3", "o4", "g1", "g2", "g3", "g4"})
    EXPECT_TRUE(has(c)) << c;
}

}  // namespace
}  // namespace zelvo::testing
