// Undefined pixels (BLANK in integer files, NaN in float files) stay undefined through
// arithmetic and go back to the file as undefined when X writes it; astropy reads the result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "fits/fits_test_files.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

using ::testing::HasSubstr;

constexpr const char* kPython = "/usr/bin/python3";

// argv: the written file. Prints the number of undefined pixels, whether pixel (1, 1) is one,
// and the values of pixels (2, 1) and (4, 3), as astropy reads them.
constexpr const char* kReport = R"(
import sys, numpy as np
from astropy.io import fits
h = fits.open(sys.argv[1], do_not_scale_image_data=True)[0]
raw, hd = h.data, h.header
if hd['BITPIX'] > 0:
    undefined = raw == hd['BLANK'] if 'BLANK' in hd else np.zeros(raw.shape, bool)
    values = raw * hd.get('BSCALE', 1.0) + hd.get('BZERO', 0.0)
else:
    undefined = np.isnan(raw)
    values = raw
print(int(undefined.sum()), bool(undefined[0, 0]), '%g %g' % (values[0, 1], values[2, 3]))
)";

std::string python(const ScratchFolder& dir, const std::string& args) {
  dir.write(".report.py", kReport);
  const std::string cmd = "cd '" + dir.path() + "' && " + kPython + " .report.py " + args + " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

struct UndefinedCase {
  int bitpix;
  std::vector<std::string> cards;  // scaling and BLANK
  double undefined_raw;            // the stored value of pixel (1, 1)
};

class UndefinedThroughArithmetic : public ::testing::TestWithParam<UndefinedCase> {};

TEST_P(UndefinedThroughArithmetic, StaysUndefinedAndIsWrittenBackAsUndefined) {
  if (std::system((std::string(kPython) + " -c 'import astropy' > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "astropy is not installed for " << kPython;
  const UndefinedCase& c = GetParam();
  ScratchFolder dir;
  // 4 x 3 stored values 10 + k; value = BZERO + BSCALE * stored.
  std::vector<double> raw;
  for (int k = 0; k < 12; ++k) raw.push_back(10 + k);
  raw[0] = c.undefined_raw;
  fits_test::write_image(dir.file("u.fits"), c.bitpix, {4, 3}, raw, c.cards);
  double bscale = 1.0, bzero = 0.0;
  for (const std::string& card : c.cards) {
    if (card.rfind("BSCALE", 0) == 0) bscale = std::stod(card.substr(10));
    if (card.rfind("BZERO", 0) == 0) bzero = std::stod(card.substr(10));
  }
  const auto after = [&](int k) { return ((bzero + bscale * (10 + k)) + 1) * 2; };
  const auto run = run_session(dir, {"", "l", "u.fits", "a", "+ 1", "a", "* 2", "x", "copy.fits", ""});
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
  const std::string written =
      run.out.find("Finished writing file copy.fits") != std::string::npos ? "copy.fits" : "u.fits";
  char want[80];
  std::snprintf(want, sizeof want, "1 True %g %g\n", after(1), after(11));
  EXPECT_EQ(python(dir, written), want) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Types, UndefinedThroughArithmetic,
                         ::testing::Values(UndefinedCase{16, {"BLANK   =                -32768"}, -32768},
                                           UndefinedCase{
                                               16,
                                               {"BSCALE  =                  2.0", "BZERO   =                100.0",
                                                "BLANK   =                   -1"},
                                               -1},
                                           UndefinedCase{32, {"BLANK   =                  -99"}, -99},
                                           UndefinedCase{-32, {}, std::numeric_limits<double>::quiet_NaN()},
                                           UndefinedCase{-64, {}, std::numeric_limits<double>::quiet_NaN()}),
                         [](const auto& info) { return "bitpix" + std::to_string(info.index); });

}  // namespace
}  // namespace zelvo::testing
