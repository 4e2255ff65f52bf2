// X on files whose values 32-bit floats cannot all hold (BITPIX -64, integers beyond 2^24)
// and on write-protected files: a file goes back in its own type only when the loaded floats
// held it exactly and the image's values fit that type; otherwise it stays byte for byte and
// the image is asked a new name. Undefined pixels go back as NaN or BLANK. Files are made
// and checked with astropy (Debian's python3).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>

#include "fits/fits_test_files.h"
#include "support/session_harness.h"

namespace zelvo::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kPython = "/usr/bin/python3";

// 20 x 15 frames; pixel (0, 0) undefined (NaN, or BLANK = -1).
constexpr const char* kMakeFiles = R"(
import numpy as np
from astropy.io import fits
i = np.arange(300).reshape(15, 20)
d = 0.1 * i + 1.0; d[0, 0] = np.nan
fits.PrimaryHDU(d).writeto('d64.fits')
e = 0.5 * i + 1.0; e[0, 0] = np.nan
fits.PrimaryHDU(e).writeto('d64exact.fits')
fits.PrimaryHDU((2**24 + 1 + i).astype(np.int32)).writeto('i32big.fits')
b = (2**25 + 4 * i).astype(np.int32); b[0, 0] = -1
h = fits.PrimaryHDU(b); h.header['BLANK'] = -1; h.writeto('i32exact.fits')
fits.PrimaryHDU((0.5 * i).astype(np.float32)).writeto('plain.fits')
)";

// argv: original, written, operation ("flip": mirrored left to right, "same"). The written
// file has the original's BITPIX and BLANK, and its stored values are the original's,
// mirrored, undefined pixels included. Prints OK or what differs.
constexpr const char* kCompare = R"(
import sys, numpy as np
from astropy.io import fits
o = fits.open(sys.argv[1], do_not_scale_image_data=True)[0]
n = fits.open(sys.argv[2], do_not_scale_image_data=True)[0]
want = o.data[:, ::-1] if sys.argv[3] == 'flip' else o.data
if n.header['BITPIX'] != o.header['BITPIX']: sys.exit('BITPIX %s' % n.header['BITPIX'])
if n.header.get('BLANK') != o.header.get('BLANK'): sys.exit('BLANK %s' % n.header.get('BLANK'))
if not np.array_equal(n.data, want, equal_nan=want.dtype.kind == 'f'): sys.exit('values differ')
print('OK')
)";

std::string python(const ScratchFolder& dir, const char* script, const std::string& args = "") {
  dir.write(".script.py", script);
  const std::string cmd = "cd '" + dir.path() + "' && " + kPython + " .script.py " + args + " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

struct WideCase {
  const char* file;
  std::vector<std::string> edit;  // the keys after L
  const char* kept;               // the line of a file left as it is; "" when written back
};

class ExitOnAWideFile : public ::testing::TestWithParam<WideCase> {};

TEST_P(ExitOnAWideFile, WritesBackInItsOwnTypeOnlyWhatItHoldsExactly) {
  if (std::system((std::string(kPython) + " -c 'import astropy' > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "astropy is not installed for " << kPython;
  const WideCase& c = GetParam();
  ScratchFolder dir;
  ASSERT_EQ(python(dir, kMakeFiles), "");
  const std::string file = c.file;
  fs::copy_file(dir.file(file), dir.file("orig-" + file));
  if (file == "plain.fits")
    fs::permissions(dir.file(file), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  std::vector<std::string> keys{"", "l", file};
  keys.insert(keys.end(), c.edit.begin(), c.edit.end());
  keys.insert(keys.end(), {"x", "copy.fits", ""});
  const auto run = run_session(dir, keys);
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
  if (*c.kept == '\0') {
    EXPECT_THAT(run.out, HasSubstr(" Finished writing file " + file + " "));
    EXPECT_THAT(run.out, Not(HasSubstr("Give the name of the output image")));
    EXPECT_EQ(python(dir, kCompare, "orig-" + file + " " + file + " flip"), "OK\n");
  } else {
    EXPECT_THAT(run.out, HasSubstr(" Image slot 1: " + file + " " + c.kept + "; it is left as it is.\n"));
    EXPECT_THAT(run.out, HasSubstr(" Finished writing file copy.fits "));
    EXPECT_EQ(dir.read(file), dir.read("orig-" + file));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExitOnAWideFile,
    ::testing::Values(WideCase{"d64.fits", {"f", "a"}, "holds values that 32-bit floats cannot hold exactly"},
                      WideCase{"d64exact.fits", {"f", "a"}, ""},
                      WideCase{"i32big.fits", {"f", "a"}, "holds values that 32-bit floats cannot hold exactly"},
                      WideCase{"i32exact.fits", {"f", "a"}, ""},
                      // (+ 0.5 would not do: near 2^25 a float rounds the half away again.)
                      WideCase{"i32exact.fits",
                               {"a", "/ 3000000"},
                               "holds integers, and the image's values are not all integers of its type"},
                      // Mode 0444: kept for every user, root included.
                      WideCase{"plain.fits", {"f", "a"}, "is write-protected"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// S of an image with undefined pixels writes them as NaN, not as the number they are shown as.
TEST(SaveUndefined, UndefinedPixelsAreWrittenAsNaN) {
  if (std::system((std::string(kPython) + " -c 'import astropy' > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "astropy is not installed for " << kPython;
  ScratchFolder dir;
  ASSERT_EQ(python(dir, kMakeFiles), "");
  run_session(dir, {"", "l", "d64exact.fits", "s", "new.fits", "", "q"});
  EXPECT_EQ(python(dir,
                   "import numpy as np\nfrom astropy.io import fits\nd = fits.getdata('new.fits')\n"
                   "print(np.isnan(d[0, 0]), np.isnan(d).sum(), d[0, 1])\n"),
            "True 1 1.5\n");
}

// A + and * keep undefined pixels undefined, and X writes them back as undefined (BLANK or
// NaN), whatever the file's type: argv is the written file, compared with orig.fits.
constexpr const char* kUndefinedKept = R"(
import sys, numpy as np
from astropy.io import fits
def values(name):
    h = fits.open(name, do_not_scale_image_data=True)[0]
    d = h.data.astype(float)
    bad = np.isnan(d) | (d == h.header.get('BLANK', np.nan))
    d = d * h.header.get('BSCALE', 1.0) + h.header.get('BZERO', 0.0)
    d[bad] = np.nan
    return d
o, n = values('orig.fits'), values(sys.argv[1])
print('OK' if np.isnan(o[0, 0]) and np.array_equal(n, (o + 1) * 2, equal_nan=True) else n)
)";

struct UndefinedCase {
  int bitpix;
  std::vector<std::string> cards;
  double stored;  // the stored value of the undefined pixel (1, 1)
};

class UndefinedThroughArithmetic : public ::testing::TestWithParam<UndefinedCase> {};

TEST_P(UndefinedThroughArithmetic, StaysUndefinedAndIsWrittenBackUndefined) {
  if (std::system((std::string(kPython) + " -c 'import astropy' > /dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "astropy is not installed for " << kPython;
  const UndefinedCase& c = GetParam();
  ScratchFolder dir;
  std::vector<double> raw{c.stored};
  for (int k = 1; k < 12; ++k) raw.push_back(10 + k);
  fits_test::write_image(dir.file("u.fits"), c.bitpix, {4, 3}, raw, c.cards);
  fs::copy_file(dir.file("u.fits"), dir.file("orig.fits"));
  const auto run = run_session(dir, {"", "l", "u.fits", "a", "+ 1", "a", "* 2", "x", "copy.fits", ""});
  const bool copied = run.out.find("Finished writing file copy.fits") != std::string::npos;
  EXPECT_EQ(python(dir, kUndefinedKept, copied ? "copy.fits" : "u.fits"), "OK\n") << run.out;
}

INSTANTIATE_TEST_SUITE_P(Types, UndefinedThroughArithmetic,
                         ::testing::Values(UndefinedCase{16, {"BLANK   =               -32768"}, -32768},
                                           UndefinedCase{
                                               16,
                                               {"BSCALE  =                  2.0", "BZERO   =                100.0",
                                                "BLANK   =                   -1"},
                                               -1},
                                           UndefinedCase{32, {"BLANK   =                  -99"}, -99},
                                           UndefinedCase{-32, {}, std::numeric_limits<double>::quiet_NaN()},
                                           UndefinedCase{-64, {}, std::numeric_limits<double>::quiet_NaN()}),
                         [](const auto& info) { return "type" + std::to_string(info.index); });

}  // namespace
}  // namespace zelvo::testing
