// `zelvo run photometry` and `zelvo run profile`: the jobs measure what O and G measure in a
// session, astropy reads their catalogues, and the profile's sky follows the true sky of
// pure-noise frames.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "session/batch_run.h"
#include "support/astropy_table.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;

namespace {

std::string hcard(const std::string& key, const std::string& value) {
  std::string c = key;
  c.resize(8, ' ');
  c += "= " + value;
  c.resize(80, ' ');
  return c;
}

struct Star {
  double x, y, flux;
};

// Sky `sky` with Gaussian noise `noise` and Gaussian stars of sigma 1.5.
Image frame(int n, double sky, double noise, const std::vector<Star>& stars, unsigned seed) {
  Image img(n, n);
  std::mt19937 gen(seed);
  std::normal_distribution<double> g(0.0, noise);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) {
      double v = sky + g(gen);
      for (const Star& s : stars)
        v += s.flux / (2 * M_PI * 2.25) * std::exp(-((x - s.x) * (x - s.x) + (y - s.y) * (y - s.y)) / 4.5);
      img.at(x, y) = static_cast<float>(v);
    }
  return img;
}

int run_job(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::ostringstream o, e;
  const int status = run_batch(args, o, e);
  out = o.str();
  err = e.str();
  return status;
}

}  // namespace

// The gain and exposure time from the header, or given to the job as O's options 5 and 3 are
// answered: either way the job and the dialogue give the same numbers, flux errors included.
struct Answers {
  std::string name;
  std::vector<std::string> cards;     // of the frame
  std::vector<std::string> job_args;  // beyond --list, --radii and --out
  std::vector<std::string> options;   // O's answers before option 4
  std::string gain_said;              // the error line's account of the gain
};

void PrintTo(const Answers& a, std::ostream* os) { *os << a.name; }

class PhotometryJob : public ::testing::TestWithParam<Answers> {};

TEST_P(PhotometryJob, MeasuresTheListAsOMeasuresTheClicks) {
  const Answers& a = GetParam();
  ScratchFolder dir;
  const std::vector<Star> stars = {{40.4, 50.7, 30000}, {100.2, 120.6, 12000}, {150.8, 60.3, 50000}};
  dir.write_fits("field.fits", frame(200, 400.0, 6.0, stars, 3), a.cards);
  std::string list, clicks;
  for (const Star& s : stars) list += std::to_string(s.x + 0.6) + " " + std::to_string(s.y - 0.4) + "\n";
  dir.write("stars.txt", "# x y\n" + list);
  std::string out, err;
  std::vector<std::string> args = {
      "photometry", dir.file("field.fits"), "--list", dir.file("stars.txt"), "--radii", "4,9,13",
      "--out",      dir.file("out")};
  args.insert(args.end(), a.job_args.begin(), a.job_args.end());
  ASSERT_EQ(run_job(args, out, err), 0) << err;
  EXPECT_EQ(out, "field.ZelvoApPhot.ecsv: 3 of 3 listed stars measured\n");
  EXPECT_THAT(dir.read("out/field.session.txt"), ::testing::HasSubstr(a.gain_said));
  // The same stars clicked in O give the same log records.
  std::vector<std::string> answers = {"", "l", "field.fits", "o", "2", "4 9 13"};
  answers.insert(answers.end(), a.options.begin(), a.options.end());
  answers.push_back("4");
  for (const Star& s : stars) answers.push_back(std::to_string(s.x + 0.6) + " " + std::to_string(s.y - 0.4));
  for (const char* a : {"0 0", "0", "q"}) answers.push_back(a);
  run_session(dir, answers);
  const std::string job_log = dir.read("out/field.ZelvoApPhot.log"), o_log = dir.read("ZelvoApPhot.log");
  ASSERT_GE(job_log.size(), 100u);
  EXPECT_EQ(job_log, o_log);
  const auto t = astropy_read_ecsv(dir.file("out/field.ZelvoApPhot.ecsv"));
  if (!t) GTEST_SKIP() << "astropy is not installed";
  ASSERT_EQ(t->rows.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_NEAR(std::stod(t->cell(k, "x")), stars[k].x, 0.2);
    EXPECT_NEAR(std::stod(t->cell(k, "flux")), 0.97 * stars[k].flux, 0.03 * stars[k].flux);  // 4 px of sigma 1.5
    EXPECT_EQ(t->cell(k, "exptime"), "60.0");
  }
  // The same catalogue but for the file column (the job names the frame as given).
  std::string job_table = dir.read("out/field.ZelvoApPhot.ecsv");
  for (std::size_t p; (p = job_table.find(dir.file("field.fits"))) != std::string::npos;)
    job_table.replace(p, dir.file("field.fits").size(), "field.fits");
  EXPECT_EQ(job_table, dir.read("ZelvoApPhot.ecsv"));
}

INSTANTIATE_TEST_SUITE_P(Gains, PhotometryJob,
                         ::testing::Values(Answers{"FromTheHeader",
                                                   {"EXPTIME =                 60.0", hcard("GAIN", "2.0")},
                                                   {},
                                                   {},
                                                   "(gain 2.0 e-/count, header GAIN)"},
                                           Answers{"Given",
                                                   {"EXPTIME =                 12.0"},
                                                   {"--gain", "3.5", "--rdnoise", "7", "--exptime", "60"},
                                                   {"5", "3.5 7", "3", "60"},
                                                   "(gain 3.5 e-/count, typed; read noise 7.0 e-)"}),
                         [](const ::testing::TestParamInfo<Answers>& i) { return i.param.name; });

TEST(PhotometryJobRefuses, AGainTheDialogueWouldRefuse) {
  ScratchFolder dir;
  dir.write_fits("field.fits", frame(60, 400.0, 6.0, {}, 3));
  dir.write("stars.txt", "30 30\n");
  std::string out, err;
  EXPECT_EQ(run_job({"photometry", dir.file("field.fits"), "--list", dir.file("stars.txt"), "--radii", "4,9,13",
                     "--gain", "1e-5", "--out", dir.file("out")},
                    out, err),
            kJobRefused);
  EXPECT_THAT(err, ::testing::HasSubstr("the gain must be 0.001 to 100000 e-/count"));
}

// Pure noise about a known sky: the sky the profile subtracts is within 0.5 count or 0.05 sigma
// of the truth (the histogram's 5-count bins alone are up to 2.5 off; the faintest boxes, which
// the sky is read from, lean a little low), and astropy reads the profile table.
struct PureNoise {
  double sky, noise;
};

class ProfileJob : public ::testing::TestWithParam<PureNoise> {};

TEST_P(ProfileJob, TheSkyOfPureNoiseIsTheTrueSky) {
  const PureNoise c = GetParam();
  ScratchFolder dir;
  const std::vector<std::string> wcs = {hcard("CTYPE1", "'RA---TAN'"), hcard("CTYPE2", "'DEC--TAN'"),
                                        hcard("CRPIX1", "60.0"),       hcard("CRPIX2", "60.0"),
                                        hcard("CRVAL1", "150.0"),      hcard("CRVAL2", "30.0"),
                                        hcard("CDELT1", "-0.0002"),    hcard("CDELT2", "0.0002")};
  dir.write_fits("noise.fits", frame(121, c.sky, c.noise, {}, 11), wcs);
  std::string out, err;
  ASSERT_EQ(run_job({"profile", dir.file("noise.fits"), "--centre", "61,61", "--extent", "20,10", "--shape", "0.5,30",
                     "--out", dir.file("out")},
                    out, err),
            0)
      << err;
  EXPECT_THAT(out, ::testing::StartsWith("noise.ZelvoProfile1.ecsv: 20 radial bins, sky "));
  const auto t = astropy_read_ecsv(dir.file("out/noise.ZelvoProfile1.ecsv"));
  if (!t) GTEST_SKIP() << "astropy is not installed";
  ASSERT_THAT(t->columns, ElementsAre("radius", "flux", "flux_err", "npix"));
  ASSERT_EQ(t->rows.size(), 20u);
  EXPECT_NEAR(std::stod(t->meta.at("sky")), c.sky, std::max(0.5, 0.05 * c.noise));
  // The boxes of pure noise scatter as the noise says: the level's error is small.
  EXPECT_GT(std::stod(t->meta.at("sky_err")), 0.0);
  EXPECT_LT(std::stod(t->meta.at("sky_err")), 0.1 * c.noise);
  EXPECT_EQ(t->meta.at("sky_source"), "boxes beyond the extent");
  EXPECT_EQ(t->meta.at("pa_deg"), "30.0");
  // East to the left (RA falls with x), north up: +x towards +y is north through east, less 90.
  EXPECT_NEAR(std::stod(t->meta.at("pa_north_east_deg")), 120.0, 0.01);
  EXPECT_NEAR(std::stod(t->meta.at("ellipticity")), 1.0 - std::sqrt(0.75), 1e-6);
  // Each bin's error is its spread over sqrt(npix): here the noise.
  for (std::size_t k = 5; k < 20; ++k) {
    const double n = std::stod(t->cell(k, "npix"));
    EXPECT_NEAR(std::stod(t->cell(k, "flux_err")) * std::sqrt(n), c.noise, 0.35 * c.noise) << k;
  }
  EXPECT_THAT(dir.read("out/noise.session.txt"), ::testing::Not(::testing::HasSubstr("still falling")));
}

INSTANTIATE_TEST_SUITE_P(Skies, ProfileJob,
                         ::testing::Values(PureNoise{50.0, 4.0}, PureNoise{51.3, 4.0}, PureNoise{54.1, 6.0},
                                           PureNoise{1233.7, 20.0}));

// A fractional centre and a typed sky: G's dialogue and the job take the same answers and write
// the same table; a centre off the image is refused by both with the same line.
TEST(ProfileJob, TakesWhatTheDialogueTakesAndRefusesWhatItRefuses) {
  ScratchFolder dir;
  dir.write_fits("noise.fits", frame(121, 300.0, 5.0, {{60.5, 61.25, 40000}}, 4));
  std::string out, err;
  ASSERT_EQ(run_job({"profile", dir.file("noise.fits"), "--centre", "60.5,61.25", "--extent", "20,10", "--shape",
                     "0.3,30", "--sky", "298.5", "--out", dir.file("out")},
                    out, err),
            0)
      << err;
  run_session(dir, {"", "l", "noise.fits", "g", "1", "60.5 61.25", "20 10", "0.3 30", "=298.5", "", "q"});
  std::string job_table = dir.read("out/noise.ZelvoProfile1.ecsv");
  for (std::size_t p; (p = job_table.find(dir.file("noise.fits"))) != std::string::npos;)
    job_table.replace(p, dir.file("noise.fits").size(), "noise.fits");
  EXPECT_EQ(job_table, dir.read("ZelvoProfile1.ecsv"));
  EXPECT_THAT(job_table, ::testing::HasSubstr("x_centre: 60.5"));
  EXPECT_THAT(job_table, ::testing::HasSubstr("sky: 298.5"));
  EXPECT_THAT(job_table, ::testing::HasSubstr("sky_source: \"typed\""));

  const std::string refusal = "The centre must lie inside the image (x 1 to 121, y 1 to 121); nothing done.";
  EXPECT_EQ(run_job({"profile", dir.file("noise.fits"), "--centre", "0.5,61", "--extent", "20,10", "--shape", "0,0",
                     "--out", dir.file("out2")},
                    out, err),
            kJobRefused);
  EXPECT_THAT(dir.read("out2/noise.session.txt"), ::testing::HasSubstr(refusal));
  const SessionRun s = run_session(dir, {"", "l", "noise.fits", "g", "1", "0.5 61", "20 10", "0 0", "", "q"});
  EXPECT_THAT(s.out, ::testing::HasSubstr(refusal));
}

namespace {

// GAIN = 1.5D3 is 1500 (D exponents as FITS writes them); an absurd gain is refused with one
// line and measured as an unknown one: the row of frame a equals that of frame b, whose card
// gives the same gain plainly (or is absent).
class GainCardValue : public ::testing::TestWithParam<std::array<const char*, 3>> {};

TEST_P(GainCardValue, IsReadWithDExponentsAndRefusedWhenAbsurd) {
  const auto [card, same_as, refusal] = GetParam();
  ScratchFolder dir;
  const Image img = frame(120, 400.0, 6.0, {{60.3, 58.8, 30000}}, 5);
  dir.write_fits("a.fits", img, {hcard("GAIN", card)});
  dir.write_fits("b.fits", img, *same_as ? std::vector{hcard("GAIN", same_as)} : std::vector<std::string>{});
  dir.write("stars.txt", "60 59\n");
  std::string rows[2], out, err;
  for (int k = 0; k < 2; ++k) {
    const std::string f = k == 0 ? "a" : "b";
    ASSERT_EQ(run_job({"photometry", dir.file(f + ".fits"), "--list", dir.file("stars.txt"), "--radii", "4,9,13",
                       "--out", dir.file(f)},
                      out, err),
              0)
        << err;
    const std::string t = dir.read(f + "/" + f + ".ZelvoApPhot.ecsv");
    rows[k] = t.substr(0, t.rfind(' '));  // all but the file column
  }
  EXPECT_EQ(rows[0], rows[1]);
  const std::string transcript = dir.read("a/a.session.txt");
  EXPECT_EQ(count_of(transcript, "plausible"), *refusal ? 1 : 0) << transcript;
  EXPECT_THAT(transcript, ::testing::HasSubstr(refusal));
}

INSTANTIATE_TEST_SUITE_P(Cards, GainCardValue,
                         ::testing::Values(std::array<const char*, 3>{"1.5D3", "1500.0", ""},
                                           std::array<const char*, 3>{"1.5d+3 / e-/ADU", "1500.0", ""},
                                           std::array<const char*, 3>{
                                               "4D9", "", " The header's GAIN = 4000000000.0 is not a plausible gain"},
                                           std::array<const char*, 3>{
                                               "1E-300", "",
                                               " The header's GAIN = 1.0E-300 is not a plausible gain (0.001 to "
                                               "100000 e-/count); it is not used.\n"}),
                         [](const auto& info) { return "gain" + std::to_string(info.index); });

// A job whose outputs cannot all be written (names over 255 bytes for some) fails with status
// 2 and names each output it lost (the last item of a case).
class JobOutputs : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(JobOutputs, NotAllWrittenIsAFailureThatNamesThem) {
  std::vector<std::string> args = GetParam();
  const std::string lost = args.back();
  args.pop_back();
  ScratchFolder dir;
  // "<stem>.clean.fits" and "<stem>.session.txt" fit in 255 bytes, the logs and catalogues not.
  const std::string stem(240, 'f');
  dir.write_fits(stem + ".fits", frame(120, 400.0, 6.0, {{60.3, 58.8, 30000}}, 5));
  dir.write("list.txt", args[0] == "remove" ? "1 60 59 6\n" : "60 59\n");
  for (std::string& a : args)
    if (a == "LIST") a = dir.file("list.txt");
  args.insert(args.end(), {"--out", dir.file("out"), "--", dir.file(stem + ".fits")});
  std::string out, err;
  EXPECT_EQ(run_job(args, out, err), 2) << out << err;
  EXPECT_THAT(err, ::testing::HasSubstr(stem + "." + lost)) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, JobOutputs,
    ::testing::Values(std::vector<std::string>{"photometry", "--list", "LIST", "--radii", "4,9,13", "ZelvoApPhot.ecsv"},
                      std::vector<std::string>{"photometry", "--list", "LIST", "--radii", "4,9,13", "ZelvoApPhot.log"},
                      std::vector<std::string>{"profile", "--centre", "60,59", "--extent", "30,5", "--shape", "0,0",
                                               "ZelvoProfile1.log"},
                      std::vector<std::string>{"remove", "--list", "LIST", "ZelvoRepeat.log"},
                      std::vector<std::string>{"find", "ZelvoRep.log"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
