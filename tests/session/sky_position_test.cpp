// Whole sessions: the sky-position lines of M and O, checked against astropy.wcs on the
// file the session loaded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/astropy_wcs.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The degrees of each line that starts with `lead`: "... = <lng> <lat> deg ...".
std::vector<SkyPoint> degrees_after(const std::string& out, const std::string& lead) {
  std::vector<SkyPoint> all;
  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind(lead, 0) != 0) continue;
    const auto eq = l.find(" = ");
    SkyPoint p;
    std::istringstream rest(l.substr(eq == std::string::npos ? l.size() : eq + 3));
    if (rest >> p.lng >> p.lat) all.push_back(p);
  }
  return all;
}

std::vector<std::pair<double, double>> numbers_after(const std::string& out, const std::string& lead) {
  std::vector<std::pair<double, double>> all;
  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind(lead, 0) != 0) continue;
    std::istringstream rest(l.substr(lead.size()));
    double x, y;
    if (rest >> x >> y) all.emplace_back(x, y);
  }
  return all;
}

struct Frame {
  std::string name;
  std::string file;                              // in the scratch folder
  std::vector<std::pair<double, double>> stars;  // clicks, near stars
};
void PrintTo(const Frame& f, std::ostream* os) { *os << f.name; }

class SkyPositionSession : public ::testing::TestWithParam<Frame> {};

// M reports the sky position of the pixel whose value it shows, O the one of the measured
// centre, each right after its line; both agree with astropy within 0.01 arcsec.
TEST_P(SkyPositionSession, MAndOAddTheSkyPositionThatAstropyGives) {
  const Frame& fr = GetParam();
  ScratchFolder dir;
  if (fr.file == "field.fits") {
    FieldOptions o;
    o.nx = o.ny = 256;
    o.seed = 2001;
    ASSERT_EQ(write_field_fits(dir.file(fr.file), synthetic_field(o).image, o), 0);
  } else {
    std::filesystem::copy_file(std::string(ZELVO_SOURCE_DIR) + "/tests/fits/data/" + fr.file, dir.file(fr.file));
  }
  std::vector<std::string> lines{"", "l", fr.file, "m", "2"};
  for (const auto& [x, y] : fr.stars) {
    std::ostringstream s;
    s << x << " " << y;
    lines.push_back(s.str());
  }
  lines.insert(lines.end(), {"0 0", "0", "o", "4"});
  for (const auto& [x, y] : fr.stars) {
    std::ostringstream s;
    s << x << " " << y;
    lines.push_back(s.str());
  }
  lines.insert(lines.end(), {"0 0", "0", "q"});
  const auto run = run_session(dir, lines);
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("\n Value of the pixel you clicked was: "));
  EXPECT_EQ(count_of(run.out, "\n Sky position of the pixel: "), static_cast<int>(fr.stars.size()));
  EXPECT_EQ(count_of(run.out, "\n Sky position of the centre: "), static_cast<int>(fr.stars.size()));
  EXPECT_EQ(count_of(run.out, " was: "), count_of(run.out, "\n Sky position of the pixel: "));

  // Where the lines stand: after the pixel value and after the centre.
  std::istringstream in(run.out);
  std::string prev;
  for (std::string l; std::getline(in, l); prev = l) {
    if (l.rfind(" Sky position of the pixel: ", 0) == 0) {
      EXPECT_THAT(prev, HasSubstr(" Value of the pixel you clicked was: "));
    }
    if (l.rfind(" Sky position of the centre: ", 0) == 0) {
      EXPECT_THAT(prev, HasSubstr(" Actual centre: "));
    }
  }

  // Truth: astropy on the header of the very file loaded, at the pixel shown and at the
  // printed centre.
  std::vector<std::pair<double, double>> pixels;
  // The pixel shown is the one under the click: the nearest to it.
  for (const auto& [x, y] : fr.stars) pixels.emplace_back(static_cast<int>(x + 0.5), static_cast<int>(y + 0.5));
  const auto centres = numbers_after(run.out, " Actual centre: ");
  ASSERT_EQ(centres.size(), fr.stars.size());
  pixels.insert(pixels.end(), centres.begin(), centres.end());
  const auto truth = astropy_sky(astropy_cards(dir.file(fr.file)), pixels);
  if (!truth) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  auto shown = degrees_after(run.out, " Sky position of the pixel: ");
  const auto measured = degrees_after(run.out, " Sky position of the centre: ");
  shown.insert(shown.end(), measured.begin(), measured.end());
  ASSERT_EQ(shown.size(), pixels.size());
  ASSERT_EQ(truth->sky.size(), pixels.size());
  for (std::size_t k = 0; k < pixels.size(); ++k)
    EXPECT_LT(separation_arcsec(shown[k], truth->sky[k]), 0.01) << pixels[k].first << " " << pixels[k].second;
}

INSTANTIATE_TEST_SUITE_P(Frames, SkyPositionSession,
                         ::testing::Values(Frame{"SyntheticField", "field.fits", {{171.6, 155.9}, {121.1, 68.4}}},
                                           Frame{"IrafM51", "wpix.fits.gz", {{404.5, 274.3}, {224.3, 131.2}}}),
                         [](const auto& info) { return info.param.name; });

// An image without a WCS (one made with N, or a file without one) gets no such line.
TEST(SkyPositionSession, NoLineWithoutAWcs) {
  ScratchFolder dir;
  dir.write_fits("plain.fits", small_field(120, 120), {card("EXPTIME", "60.0")});
  const auto run =
      run_session(dir, {"",    "l", "plain.fits", "m",       "2", "60 60", "0 0",   "0",   "o", "4", "60.3 60.2",
                        "0 0", "0", "n",          "100 100", "m", "2",     "50 50", "0 0", "0", "q"});
  EXPECT_EQ(count_of(run.out, " Value of the pixel you clicked was: "), 2);
  EXPECT_THAT(run.out, HasSubstr(" Actual centre: "));
  EXPECT_THAT(run.out, Not(HasSubstr("Sky position")));
}

}  // namespace
