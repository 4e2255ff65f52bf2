// Option 5 of R and `zelvo run model` on a twisting synthetic galaxy with stars on its disc:
// the residual kept and recorded, the isophote table astropy reads, the model left under
// stars removed afterwards, and the inputs the job refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "session/batch_run.h"
#include "support/astropy_table.h"
#include "support/session_harness.h"
#include "support/twisted_galaxy.h"

using namespace zelvo;
using namespace zelvo::testing;
using namespace zelvo::test_images;
using ::testing::HasSubstr;

namespace {

constexpr double kNoise = 5.0;

// Three stars on the steep inner disc of the tests' galaxy.
const std::vector<GaussStar> kStars = {
    {146.2, 139.7, 30000.0, 1.5}, {110.6, 118.3, 20000.0, 1.5}, {135.4, 101.8, 25000.0, 1.5}};

std::string star_list() {
  std::string list;
  for (const GaussStar& s : kStars) {
    char line[64];
    std::snprintf(line, sizeof line, "1 %.1f %.1f 0\n", s.x, s.y);
    list += line;
  }
  return list;
}

// Mean and spread of (a - b) over the pixels with `keep`.
template <typename Keep>
std::pair<double, double> difference(const Image& a, const Image& b, Keep keep) {
  double s = 0, s2 = 0;
  long n = 0;
  for (int y = 1; y <= a.ny; ++y)
    for (int x = 1; x <= a.nx; ++x) {
      if (!keep(x, y)) continue;
      const double d = a.at(x, y) - b.at(x, y);
      s += d;
      s2 += d * d;
      ++n;
    }
  const double mean = s / n;
  return {mean, std::sqrt(s2 / n - mean * mean)};
}

bool near_star(int x, int y, double r) {
  for (const GaussStar& s : kStars)
    if (std::hypot(x - s.x, y - s.y) < r) return true;
  return false;
}

}  // namespace

// Option 5 with its defaults but the largest axis, the stars of the object list masked:
// the residual that is kept is the sky and noise under the disc with the stars whole on it,
// the removal is recorded as type 5, and the table is one astropy reads.
TEST(RemoveGalaxy, TheKeptResidualIsSkyAndNoiseWithTheStarsOnIt) {
  const TwistedGalaxy g = small_twisted_galaxy();
  const Image frame = twisted_galaxy_frame(g, 256, 256, kNoise, 21, kStars);
  ScratchFolder dir;
  dir.write_fits("gal.fits", frame);
  dir.write("ZelvoRep.log", star_list());
  const auto run = run_session(
      dir, {"", "l", "gal.fits", "r", "5", "127 129", "", "90", "", "", "n", "0", "s", "res.fits", "", "q"});
  EXPECT_THAT(run.out, HasSubstr("   5) Remove a galaxy (fit elliptical isophotes, subtract the model)\n"));
  EXPECT_THAT(run.out, HasSubstr(" Click on the centre of the galaxy.\n"));
  EXPECT_THAT(run.out, HasSubstr(" 3 objects of ZelvoRep.log are masked.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Isophotes written to ZelvoIsophotes.ecsv.\n"));
  EXPECT_THAT(run.out, HasSubstr(" (Or type blink to flip between the frame and the residual.)\n"));

  // The record: type 5 at the nucleus with the largest semi-major axis.
  std::istringstream rec(dir.read("ZelvoRepeat.log"));
  std::string line, last;
  while (std::getline(rec, line))
    if (line.rfind(" 5 ", 0) == 0) last = line;
  int type = 0;
  double x = 0, y = 0, r = 0;
  std::istringstream(last) >> type >> x >> y >> r;
  EXPECT_EQ(type, 5) << dir.read("ZelvoRepeat.log");
  EXPECT_NEAR(x, g.x0, 0.3);
  EXPECT_NEAR(y, g.y0, 0.3);
  EXPECT_EQ(r, 90.0);

  // Inside the largest isophote the residual is one flat level with the noise's spread: the
  // galaxy's light at sma 90, where the model ends without a step. The stars come back whole.
  const Image res = dir.read_fits("res.fits");
  ASSERT_EQ(res.nx, 256);
  const Image flat(256, 256, 0.0f);
  const auto [inside, spread] = difference(res, flat, [&](int i, int j) {
    const double a = g.sma_at(i, j);
    return a > 6.0 && a < 85.0 && !near_star(i, j, 10.0);
  });
  EXPECT_NEAR(inside, g.intens(90.0), 0.3 * kNoise);
  EXPECT_NEAR(spread / kNoise, 1.0, 0.12);
  for (const GaussStar& s : kStars) {
    double flux = 0.0;
    for (int j = 1; j <= 256; ++j)
      for (int i = 1; i <= 256; ++i)
        if (std::hypot(i - s.x, j - s.y) <= 8.0) flux += res.at(i, j) - inside;
    EXPECT_NEAR(flux, s.flux, 0.02 * s.flux) << s.x << "," << s.y;
  }

  const auto table = astropy_read_ecsv(dir.file("ZelvoIsophotes.ecsv"));
  if (!table) GTEST_SKIP() << "astropy is not installed";
  for (const char* c : {"sma", "intens", "intens_err", "eps", "eps_err", "pa", "pa_err", "x0", "y0", "a3", "b3", "a4",
                        "b4", "ndata", "nflag", "niter", "stop"})
    EXPECT_NE(std::find(table->columns.begin(), table->columns.end(), c), table->columns.end()) << c;
  EXPECT_EQ(table->cell(0, "sma"), "0.0");
  EXPECT_EQ(table->meta.at("frame"), "gal.fits");
}

// Undone, option 5 leaves its model with the frame: stars then removed from a list are
// painted over the galaxy, and leave no step on its steep inner disc.
TEST(RemoveGalaxy, AfterAnUndoStarsRemovedFromTheFrameArePaintedOverTheModel) {
  const TwistedGalaxy g = small_twisted_galaxy();
  const Image frame = twisted_galaxy_frame(g, 256, 256, kNoise, 21, kStars);
  const Image truth = twisted_galaxy_frame(g, 256, 256, 0.0, 21);
  ScratchFolder dir;
  dir.write_fits("gal.fits", frame);
  dir.write("ZelvoRep.log", star_list());
  // With the model (option 5 undone first), and without it.
  const auto with = run_session(
      dir, {"", "l", "gal.fits", "r", "5", "127 129", "", "90", "", "", "y", "9", "0", "s", "with.fits", "", "q"});
  EXPECT_THAT(with.out,
              HasSubstr(" The frame is back; stars removed from it now are painted over the galaxy model.\n"));
  run_session(dir, {"", "l", "gal.fits", "r", "9", "0", "s", "without.fits", "", "q"});
  const auto bias = [&](const Image& out) {
    double mean_abs = 0.0;
    for (const GaussStar& s : kStars) {
      const auto [mean, spread] =
          difference(out, truth, [&](int i, int j) { return std::hypot(i - s.x, j - s.y) <= 6.0; });
      mean_abs += std::fabs(mean) / kNoise / static_cast<double>(kStars.size());
    }
    return mean_abs;
  };
  const Image a = dir.read_fits("with.fits"), b = dir.read_fits("without.fits");
  ASSERT_EQ(a.nx, 256);
  ASSERT_EQ(b.nx, 256);
  EXPECT_LT(bias(a), 0.4);
  EXPECT_LT(bias(a), bias(b));
}

struct ModelJobCase {
  std::string name;
  std::vector<std::string> options;
  bool blank_frame;
  std::string problem;  // the one line on standard error (after "zelvo run model: FRAME: ")
};

class ModelJobRefusal : public ::testing::TestWithParam<ModelJobCase> {};

// Bad input: one line and status 2, nothing written.
TEST_P(ModelJobRefusal, IsOneLineAndStatusTwo) {
  const ModelJobCase& c = GetParam();
  ScratchFolder dir;
  Image im = twisted_galaxy_frame(small_twisted_galaxy(), 64, 64, 1.0, 1);
  if (c.blank_frame) std::fill(im.px.begin(), im.px.end(), NAN);
  dir.write_fits("f.fits", im);
  std::vector<std::string> args = {"model"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.insert(args.end(), {"--out", dir.file("out"), dir.file("f.fits")});
  std::ostringstream out, err;
  EXPECT_EQ(run_batch(args, out, err), 2);
  EXPECT_EQ(err.str(), "zelvo run model: " + dir.file("f.fits") + ": " + c.problem + "\n");
  EXPECT_FALSE(dir.exists("out/f.residual.fits"));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ModelJobRefusal,
    ::testing::Values(
        ModelJobCase{
            "CentreOutside", {"--centre", "80,20"}, false, "the centre 80.0,20.0 lies outside the 64 x 64 frame"},
        ModelJobCase{"EllipticityOne",
                     {"--centre", "32,32", "--shape", "1,30"},
                     false,
                     "--shape e,pa takes an ellipticity from 0 to below 1 and an angle in degrees, as \"0.3,45\""},
        ModelJobCase{"NoFinitePixels", {"--centre", "32,32"}, true, "the frame has no defined pixels"},
        ModelJobCase{
            "FixWhat", {"--centre", "32,32", "--fix", "angle"}, false, "--fix takes centre or shape, not angle"}),
    [](const auto& info) { return info.param.name; });

// The job writes the table, the model and the residual, the frame's header kept on both images.
TEST(ModelJob, WritesTableModelAndResidualWithTheFramesHeader) {
  ScratchFolder dir;
  const TwistedGalaxy g = small_twisted_galaxy();
  const Image frame = twisted_galaxy_frame(g, 256, 256, kNoise, 4);
  dir.write_fits("g.fits", frame, {"CRVAL1  =                202.5", "OBJECT  = 'twister '"});
  std::ostringstream out, err;
  const std::vector<std::string> args = {"model", "--centre", "128,128",       "--maxsma",
                                         "80",    "--out",    dir.file("out"), dir.file("g.fits")};
  EXPECT_EQ(run_batch(args, out, err), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("g.residual.fits: "));
  const Image model = dir.read_fits("out/g.model.fits"), res = dir.read_fits("out/g.residual.fits");
  ASSERT_EQ(model.nx, 256);
  ASSERT_EQ(res.nx, 256);
  for (std::size_t i = 0; i < frame.px.size(); ++i) ASSERT_FLOAT_EQ(res.px[i], frame.px[i] - model.px[i]);
  // Nothing is modelled beyond the largest isophote.
  EXPECT_EQ(model.at(5, 5), 0.0f);
  EXPECT_EQ(res.at(5, 5), frame.at(5, 5));
  for (const char* f : {"out/g.model.fits", "out/g.residual.fits"}) {
    const std::string head = dir.read(f).substr(0, 2880);
    EXPECT_THAT(head, HasSubstr("CRVAL1  =                202.5")) << f;
    EXPECT_THAT(head, HasSubstr("HISTORY zelvo run model: ")) << f;
  }
  EXPECT_TRUE(dir.exists("out/g.isophotes.ecsv"));
}
