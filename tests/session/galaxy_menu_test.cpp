// Whole scripted sessions through the galaxy submenu: both profiles, the colour and the
// calibrated image, the profile log, and the refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "session/galaxy_menu.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kMenu =
    "\n What do you want to do? \n"
    "   1) Extract the profile of a galaxy (flux scale)\n"
    "   2) Extract the profile of a galaxy (magnitude scale)\n"
    "   3) Make the calibrated (B-I) colour image of two slots\n"
    "   4) Make the calibrated I-band image (mag/arcsec^2)\n"
    "   0) Return back to the main options \n\n";

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The sample field (an exponential galaxy among stars) and a B and an I image of the same
// field: the same seed keeps every object in place, only the levels and exposure times differ.
struct Fields {
  int xc = 0, yc = 0;  // the galaxy's centre pixel
};
Fields write_fields(const ScratchFolder& dir) {
  FieldOptions o;
  o.nx = o.ny = 256;
  o.seed = 2001;
  o.galaxy = GalaxyProfile::Exponential;
  const SyntheticField f = synthetic_field(o);
  EXPECT_EQ(write_field_fits(dir.file("galaxy_field.fits"), f.image, o), 0);
  FieldOptions b = o;
  b.sky = 300.0f;
  b.galaxy_surface_brightness = 60.0f;
  b.exptime = 100.0f;
  b.filter = 'B';
  EXPECT_EQ(write_field_fits(dir.file("galaxy_b.fits"), synthetic_field(b).image, b), 0);
  FieldOptions i = o;
  i.sky = 1500.0f;
  i.galaxy_surface_brightness = 300.0f;
  i.exptime = 50.0f;
  i.filter = 'I';
  EXPECT_EQ(write_field_fits(dir.file("galaxy_i.fits"), synthetic_field(i).image, i), 0);
  return Fields{static_cast<int>(f.galaxy.x + 0.5), static_cast<int>(f.galaxy.y + 0.5)};
}

}  // namespace

TEST(GalaxyMenu, AllFourOptionsOnTheField) {
  ScratchFolder dir;
  const Fields g = write_fields(dir);
  const std::string centre = std::to_string(g.xc) + " " + std::to_string(g.yc);
  const auto run = run_session(dir, {"", "l", "galaxy_field.fits", "d", "1", "n",
                                     // 1: flux profile, extent 30 step 10, e 0.3 at 20 degrees, sky unchanged
                                     "g", "1", centre, "30 10", "0.3 20", "0",
                                     // 2: magnitude scale on the same image
                                     "g", "2", centre, "20 1", "0 0",
                                     // B into slot 2, I into slot 3, a new image in slot 4 for the colour
                                     "2", "l", "galaxy_b.fits", "3", "l", "galaxy_i.fits", "4", "n", "256 256",
                                     // 3: colour of B (2) and I (3), exposure times kept, my = 1
                                     "g", "3", "2 3", "0", "0", "0 0 1 0",
                                     // 4: calibrated I into slot 1 from I (3) and the colour (4)
                                     "1", "g", "4", "0 1 0", "3 4", "1 1", "0", "0",
                                     // the magnitude profile of the calibrated image
                                     "g", "2", centre, "15 1", "0 0", "2", "q"});
  ASSERT_EQ(run.status, 0);
  const std::string& out = run.out;
  EXPECT_EQ(count_of(out, kMenu), 5);
  EXPECT_THAT(out, HasSubstr(" Give the centre of your galaxy (x-pixel, y-pixel): \n"
                             " Give the extent (radius) of the profile and stepsize: \n"
                             " Give an assumed eccentricity and position angle \n"
                             "  (in degrees) of semi-major axis: \n"
                             "  [the position angle is counted from +x towards +y, counter-clockwise on the image;"
                             " 0 = along +x]\n"
                             " 256 256\n Position angle north through east (deg) = "));
  // The sky found beyond the extent is the field's sky (1000 at the centre, gentle gradient).
  const auto at_sky = out.find(" Background level set at: ");
  ASSERT_NE(at_sky, std::string::npos);
  EXPECT_NEAR(std::stod(out.substr(at_sky + 26, 20)), 1000.0, 10.0);
  EXPECT_THAT(out, HasSubstr(" " + std::string(kRotationSlow) + "\n"));  // pinned by the profile tests
  EXPECT_EQ(count_of(out, " Finished!\n\n"), 1);
  EXPECT_EQ(count_of(out, " Finished with the magnitude profile!\n\n"), 2);
  EXPECT_THAT(
      out, HasSubstr(
               " Change B-band exposure time if needed; current value = 100.0 or give 0 to keep the current value: \n"
               " Change I-band exposure time if needed; current value = 50.0 or give 0 to keep the current value: \n"));
  EXPECT_THAT(out, HasSubstr(" Change I-band exposure time if needed; current value = 50.0 or give 0"));
  // Slots changed by options 3 and 4 carry the marker (names longer than 10 characters).
  EXPECT_THAT(out, HasSubstr("Active image slot = 2   galaxy_b.fits <modified>"));
  EXPECT_THAT(out, HasSubstr("Active image slot = 4   <unnamed image> <modified>"));
  EXPECT_THAT(out, HasSubstr("Active image slot = 1   galaxy_field.fits <modified>"));
  EXPECT_THAT(out, Not(HasSubstr("nothing done")));

  // The profile log: one run of option 1 (option 2 logs nothing), table by table.
  const auto log = lines_of(dir.read("ZelvoProfile1.log"));
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "");
  EXPECT_EQ(log[1], " Zelvo Profile ");
  EXPECT_EQ(log[2], "");
  EXPECT_EQ(log[3], " Image: galaxy_field.fits");
  EXPECT_THAT(log[6], HasSubstr(" Position angle north through east (deg) = "));
  EXPECT_EQ(log[7], " Compute skypr histogram (rsky,skypr)...");
  std::size_t at = 8 + 1000;
  EXPECT_THAT(log[at], HasSubstr(" Sky beyond the extent: "));
  EXPECT_THAT(log[at + 1], HasSubstr(" Sky used: "));
  at += 2;
  ASSERT_GT(log.size(), at);
  EXPECT_EQ(log[at], " Variable rprof (1-1000)");
  at += 1 + 30;  // bins 1 .. 30 (k - 0.5 < 30)
  if (log[at].find("still falling") != std::string::npos) ++at;
  EXPECT_THAT(log[at], HasSubstr(" Profile table: "));
  ++at;
  ASSERT_GT(log.size(), at);
  EXPECT_EQ(log[at], " Plotting the spline over the data (w,d)...");
  at += 1 + 151;  // INT(30 / 0.2 + 1.5) samples
  ASSERT_GT(log.size(), at);
  EXPECT_EQ(log[at], " Compute rotation curve from force law (rrot,vrot)...");
  // INT(30 / 10 + 1.5) = 4 points, less those reported as errors.
  EXPECT_EQ(log.size(), at + 1 + 4 - static_cast<std::size_t>(count_of(out, "A horrendous error")));
  std::istringstream last(log.back());
  double r = 0, v = 0;
  last >> r >> v;
  EXPECT_EQ(r, 30.0);
  EXPECT_GT(v, 0.0);
}

TEST(GalaxyMenu, RefusedRequestsSayWhyAndPause) {
  ScratchFolder dir;
  write_fields(dir);
  const auto run = run_session(dir, {"",      "g",   "1",     "",     "l",     "galaxy_field.fits",
                                     "g",     "1",   "0 61",  "30 1", "0 0",   "",
                                     "g",     "1",   "61 61", "0 1",  "0 0",   "",
                                     "g",     "2",   "61 61", "30 1", "1.2 0", "",
                                     "g",     "3",   "2 3",   "",     "g",     "4",
                                     "0 0 0", "1 7", "",      "g",    "0",     "g",
                                     "9",     "q"});
  ASSERT_EQ(run.status, 0);
  EXPECT_THAT(run.out,
              HasSubstr("is empty: load an image (L) or create one (N) first.\n Press <enter> to continue..."));
  EXPECT_THAT(run.out, HasSubstr(" The centre must lie inside the image (x 1 to 256, y 1 to 256); nothing done.\n"
                                 " Press <enter> to continue...\n"));
  EXPECT_THAT(run.out, HasSubstr(" The extent must be larger than 0"));
  EXPECT_THAT(run.out, HasSubstr(" The eccentricity must lie in 0 <= e < 1; nothing done.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Image slot 2 is empty; nothing done.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Image slots are numbered 1 to 4; nothing done.\n"));
  EXPECT_FALSE(dir.exists("ZelvoProfile1.log"));
  EXPECT_THAT(run.out, Not(HasSubstr("<modified>")));
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
  EXPECT_THAT(run.out, Not(HasSubstr("End of input")));
}
