// What S and X leave on disk, as a user meets it: X writes an image back only over a file
// that held just that image and is still the one loaded, in its own kind; every other file
// stays byte for byte as it was and the image is asked a new name. Files are made and
// checked with astropy (Debian's python3), independently of the program's own FITS code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "session/loop.h"
#include "support/isolated_run.h"
#include "support/session_harness.h"
#include "support/without_root.h"

namespace zelvo::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kPython = "/usr/bin/python3";

// Makes the test files: a 20 x 15 frame with a full set of observing cards, written plain,
// gzip-compressed and tile-compressed; a cube of three such planes; a multi-extension file
// (an empty primary with its own cards, SCI, ERR and a table).
constexpr const char* kMakeFiles = R"(
import sys, numpy as np
from astropy.io import fits
h = fits.Header()
for k, v in [('OBJECT', 'NGC 1068'), ('EXPTIME', 300.0), ('DATE-OBS', '2001-10-12T23:14:05'),
             ('RA', '02:42:40.77'), ('DEC', '-00:00:47.8'), ('ST', '01:12:00'), ('RADESYS', 'ICRS'),
             ('CTYPE1', 'RA---TAN'), ('CTYPE2', 'DEC--TAN'), ('CRPIX1', 10.5), ('CRPIX2', 8.0),
             ('CRVAL1', 40.669879), ('CRVAL2', -0.013278), ('CD1_1', -0.000138889), ('CD2_2', 0.000138889)]:
    h[k] = v
h['HISTORY'] = 'bias subtracted'
h['COMMENT'] = 'observed through thin cirrus'
plane = (np.arange(300, dtype=np.float32).reshape(15, 20) * 3) % 1000
fits.PrimaryHDU(plane, header=h).writeto('plain.fits')
fits.PrimaryHDU(plane, header=h).writeto('night.fits.gz')
fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(plane.astype(np.int16), header=h)]).writeto('tiles.fits.fz')
fits.PrimaryHDU(np.stack([plane, plane + 1, plane + 2]), header=h).writeto('cube.fits')
p = fits.PrimaryHDU(); p.header['OBSERVER'] = 'E. Hubble'
sci = fits.ImageHDU(plane, header=h, name='SCI')
err = fits.ImageHDU(np.sqrt(plane + 1), name='ERR')
tab = fits.BinTableHDU.from_columns([fits.Column(name='X', format='E', array=np.array([1.5, 2.5]))], name='CAT')
fits.HDUList([p, sci, err, tab]).writeto('mef.fits')
)";

// Compares a written file with the image it came from: argv original, written file, kind
// (plain, gzip, tiles), a factor and a constant. The written image is the first plane of
// the original's first image times the factor plus the constant; every card of the original image
// but the structural, scaling and checksum ones is there in its order with its value, with
// one HISTORY card of Zelvo's write more, the HISTORY cards of the arithmetic done (one at
// least when the pixels changed) and nothing else. Prints OK or what differs.
constexpr const char* kCompare = R"(
import sys, numpy as np
from astropy.io import fits
orig, new, kind, mul, add = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5])
o, n = fits.open(orig), fits.open(new)
n.verify('exception')
def image(hdul):
    return next(h for h in hdul if h.is_image and h.data is not None)
oi, ni = image(o), image(n)
plane = oi.data if oi.data.ndim == 2 else oi.data[0]
if ni.data.shape != plane.shape or not np.array_equal(ni.data, plane.astype(np.float32) * np.float32(mul) + np.float32(add)):
    sys.exit('pixels differ')
skip = {'SIMPLE', 'XTENSION', 'BITPIX', 'NAXIS', 'NAXIS1', 'NAXIS2', 'NAXIS3', 'EXTEND', 'PCOUNT', 'GCOUNT',
        'BSCALE', 'BZERO', 'BLANK', 'CHECKSUM', 'DATASUM'}
standard = ('FITS (Flexible Image Transport System) format is defined', "and Astrophysics', volume 376")
def cards(h):
    return [(c.keyword, str(c.value)) for c in h.cards
            if c.keyword not in skip and not str(c.value).lstrip().startswith(standard)]
mine = [c for c in cards(ni.header) if c[0] == 'HISTORY' and c[1].startswith('Zelvo wrote this file on ')]
if len(mine) != 1: sys.exit('%d HISTORY cards of Zelvo' % len(mine))
edits = [c for c in cards(ni.header) if c[0] == 'HISTORY' and c[1].startswith('Zelvo A: every pixel ')]
if bool(edits) != (mul != 1.0 or add != 0.0): sys.exit('edits told: %s' % edits)
mine += edits
if [c for c in cards(ni.header) if c not in mine] != cards(oi.header):
    sys.exit('cards differ: %s' % cards(ni.header))
if ni.header['BITPIX'] != -32: sys.exit('BITPIX %s' % ni.header['BITPIX'])
gz = open(new, 'rb').read(2) == b'\x1f\x8b'
shape = {'plain': (False, 1, False), 'gzip': (True, 1, False), 'tiles': (False, 2, True)}[kind]
if (gz, len(n), isinstance(ni, fits.CompImageHDU)) != shape:
    sys.exit('stored as %s' % ((gz, len(n), type(ni).__name__),))
print('OK')
)";

bool have_astropy() {
  return std::system((std::string(kPython) + " -c 'import astropy' > /dev/null 2>&1").c_str()) == 0;
}

// Runs a python script in `dir` with arguments; returns what it printed (stdout and stderr).
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

// The test files, and a copy of each under "orig-<name>" to compare with afterwards.
void make_files(const ScratchFolder& dir) {
  ASSERT_EQ(python(dir, kMakeFiles), "");
  for (const char* n : {"plain.fits", "night.fits.gz", "tiles.fits.fz", "cube.fits", "mef.fits"})
    fs::copy_file(dir.file(n), dir.file(std::string("orig-") + n));
  dir.write("Zelvo.ini", "2\n0\n");
}

std::string compare(const ScratchFolder& dir, const std::string& orig, const std::string& written,
                    const std::string& kind, const std::string& add, const std::string& mul = "1") {
  return python(dir, kCompare, "'" + orig + "' '" + written + "' " + kind + " " + mul + " " + add);
}

// X on an image loaded from each kind of file, after adding 1 to it.
struct XCase {
  const char* file;
  bool replaced;     // written back over its file
  const char* kind;  // how the written file is stored
};

class ExitOnAFile : public ::testing::TestWithParam<XCase> {};

TEST_P(ExitOnAFile, ReplacesOnlyALoneImageAndAsksANameOtherwise) {
  if (!have_astropy()) GTEST_SKIP() << "astropy is not installed for " << kPython;
  ScratchFolder dir;
  make_files(dir);
  const XCase c = GetParam();
  const std::string file = c.file;
  fs::permissions(dir.file(file), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const auto run = run_session(dir, {"", "l", file, "a", "+ 1", "x", "copy.fits", ""});
  EXPECT_THAT(run.out, HasSubstr("Thank you for using Zelvo."));
  if (c.replaced) {
    EXPECT_THAT(run.out, HasSubstr(" Finished writing file " + file + " "));
    EXPECT_THAT(run.out, Not(HasSubstr("Give the name of the output image")));
    EXPECT_EQ(compare(dir, "orig-" + file, file, c.kind, "1"), "OK\n");
    EXPECT_EQ(fs::status(dir.file(file)).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_FALSE(dir.exists("copy.fits"));
  } else {
    EXPECT_THAT(run.out,
                HasSubstr(" Image slot 1: " + file + " holds more than this one 2-D image; it is left as it is.\n"));
    EXPECT_THAT(run.out, HasSubstr(" Give the name of the output image (in slot 1).\n"));
    EXPECT_EQ(dir.read(file), dir.read("orig-" + file));  // every plane, HDU and card
    EXPECT_EQ(compare(dir, "orig-" + file, "copy.fits", c.kind, "1"), "OK\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ExitOnAFile,
                         ::testing::Values(XCase{"plain.fits", true, "plain"}, XCase{"night.fits.gz", true, "gzip"},
                                           XCase{"tiles.fits.fz", true, "tiles"}, XCase{"cube.fits", false, "plain"},
                                           XCase{"mef.fits", false, "plain"}),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           return n.substr(0, n.find('.'));
                         });

TEST(ExitTwoSlotsOfOneFile, TheSecondIsAskedANameAndBothAreKept) {
  if (!have_astropy()) GTEST_SKIP() << "astropy is not installed for " << kPython;
  ScratchFolder dir;
  make_files(dir);
  const auto run =
      run_session(dir, {"", "l", "plain.fits", "a", "+ 1", "2", "l", "plain.fits", "a", "+ 5", "x", "second.fits", ""});
  EXPECT_THAT(run.out, HasSubstr(" Finished writing file plain.fits "));
  EXPECT_THAT(run.out, HasSubstr(" Image slot 2: plain.fits was just written from another image slot; it is left as "
                                 "it is.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Give the name of the output image (in slot 2).\n"));
  EXPECT_EQ(compare(dir, "orig-plain.fits", "plain.fits", "plain", "1"), "OK\n");
  EXPECT_EQ(compare(dir, "orig-plain.fits", "second.fits", "plain", "5"), "OK\n");
}

TEST(ExitOnAFileNotYours, LeavesItAndAsksANameAsForANewImage) {
  if (!have_astropy()) GTEST_SKIP() << "astropy is not installed for " << kPython;
  ScratchFolder dir;
  make_files(dir);
  // A write-protected file in a folder anyone may write: renaming over it would work, but
  // the user may not write the file itself. Run without root, root may write anything.
  fs::permissions(dir.file("plain.fits"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir.path(), fs::perms::all);
  for (const auto& e : fs::directory_iterator(dir.path()))
    fs::permissions(e.path(), fs::perms::others_read, fs::perm_options::add);
  const std::optional<bool> kept = without_root([&] {
    const auto run = run_session(dir, {"", "l", "plain.fits", "a", "+ 1", "x", "mine.fits", ""});
    return run.out.find(" Image slot 1: plain.fits may not be written by you; it is left as it is.\n") !=
               std::string::npos &&
           run.out.find(" Finished writing file mine.fits ") != std::string::npos;
  });
  if (!kept) GTEST_SKIP() << "could not give up root";
  EXPECT_TRUE(*kept);
  EXPECT_EQ(dir.read("plain.fits"), dir.read("orig-plain.fits"));
  EXPECT_EQ(compare(dir, "orig-plain.fits", "mine.fits", "plain", "1"), "OK\n");
}

// Runs a session whose `change` is made to the folder just before X is typed.
IsolatedRun run_changing_before_exit(const ScratchFolder& dir, const std::vector<std::string>& lines,
                                     const std::function<void()>& change) {
  return run_isolated_call(dir, [&]() -> std::string {
    struct Script : std::streambuf {
      std::string text;
      std::size_t pos = 0;
      std::function<void()> change;
      int_type underflow() override {
        if (pos >= text.size()) return traits_type::eof();
        if (change && text.compare(pos, 2, "x\n") == 0) {
          change();
          change = nullptr;
        }
        setg(&text[pos], &text[pos], &text[pos] + 1);
        ++pos;
        return traits_type::to_int_type(text[pos - 1]);
      }
    } buf;
    for (const auto& l : lines) buf.text += l + "\n";
    buf.change = change;
    std::istream in(&buf);
    std::ostringstream out;
    ProgramOptions opt;
    opt.device = "/null";
    run_zelvo(opt, in, out, false);
    return out.str();
  });
}

// The link loaded is made to lead elsewhere, or nowhere, before X.
class ExitThroughAChangedLink : public ::testing::TestWithParam<bool> {};

TEST_P(ExitThroughAChangedLink, WritesNoFileNeverLoadedAndNothingWithMode0777) {
  if (!have_astropy()) GTEST_SKIP() << "astropy is not installed for " << kPython;
  ScratchFolder dir;
  make_files(dir);
  fs::copy_file(dir.file("plain.fits"), dir.file("other.fits"));
  fs::create_symlink("plain.fits", dir.file("link.fits"));
  const bool dangling = GetParam();
  const mode_t old_mask = ::umask(022);
  const IsolatedRun run = run_changing_before_exit(dir, {"", "l", "link.fits", "a", "+ 1", "x", "saved.fits", ""}, [&] {
    fs::remove(dir.file("link.fits"));
    fs::create_symlink(dangling ? "gone.fits" : "other.fits", dir.file("link.fits"));
  });
  ::umask(old_mask);
  ASSERT_TRUE(run.ended_well()) << run.verdict();
  EXPECT_THAT(run.out,
              HasSubstr(" Image slot 1: link.fits is no longer the file that was loaded; it is left as it is.\n"));
  EXPECT_EQ(dir.read("plain.fits"), dir.read("orig-plain.fits"));
  EXPECT_EQ(dir.read("other.fits"), dir.read("orig-plain.fits"));
  EXPECT_FALSE(fs::exists(dir.file("gone.fits")));
  EXPECT_TRUE(fs::is_symlink(dir.file("link.fits")));
  EXPECT_EQ(compare(dir, "orig-plain.fits", "saved.fits", "plain", "1"), "OK\n");
  // A new file: 0666 less the umask.
  EXPECT_EQ(fs::status(dir.file("saved.fits")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

INSTANTIATE_TEST_SUITE_P(Links, ExitThroughAChangedLink, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Dangling" : "Swapped"; });

TEST(SaveKinds, NamesEndingGzOrFzGiveThoseFilesWithTheCards) {
  if (!have_astropy()) GTEST_SKIP() << "astropy is not installed for " << kPython;
  ScratchFolder dir;
  make_files(dir);
  const auto run = run_session(dir, {"", "l", "cube.fits", "a", "* 2", "s", "out.fits.gz", "", "s", "out.fits.fz", "",
                                     "s", "out.fits", "", "q"});
  EXPECT_EQ(count_of(run.out, " Finished writing file out.fits"), 3);
  // The first plane of the cube, doubled, with the cube's cards.
  EXPECT_EQ(compare(dir, "orig-cube.fits", "out.fits.gz", "gzip", "0", "2"), "OK\n");
  EXPECT_EQ(compare(dir, "orig-cube.fits", "out.fits.fz", "tiles", "0", "2"), "OK\n");
  EXPECT_EQ(compare(dir, "orig-cube.fits", "out.fits", "plain", "0", "2"), "OK\n");
  EXPECT_EQ(dir.read("cube.fits"), dir.read("orig-cube.fits"));
}

TEST(SaveLongName, TheWholeNameIsWrittenAndOnlyTheDisplayedNameCut) {
  ScratchFolder dir;
  const std::string folder = "observing_run_2001_october/ngc1068_night_three_reduced";
  fs::create_directories(dir.file(folder));
  const std::string name = folder + "/ngc1068_cleaned_final.fits";  // 82 characters
  ASSERT_GT(name.size(), 80u);
  const auto run = run_session(dir, {"", "n", "8 6", "s", name, "", "a", "+ 2", "2", "n", "4 4", "x", name + "2", ""});
  EXPECT_THAT(run.out, HasSubstr(" Finished writing file " + name + " to your hard disk.\n"));
  EXPECT_THAT(run.out, HasSubstr(" Finished writing file " + name + "2 to your hard disk.\n"));
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   " + name.substr(0, 30) + "\n"));
  EXPECT_EQ(dir.read_fits(name).at(8, 6), 2.0f);  // X wrote the change back under the whole name
  EXPECT_EQ(dir.read_fits(name + "2").nx, 4);
  EXPECT_FALSE(dir.exists(name.substr(0, 80)));
}

// `left`, blanks up to column 31, then `text` from column 32 (where the filter cards keep
// their marker and the filter's letter).
std::string at_column_32(std::string left, const std::string& text) {
  left.resize(31, ' ');
  return left + text;
}

TEST(HeaderSummary, EachSlotShowsTheValuesOfItsOwnFile) {
  ScratchFolder dir;
  const Image img = small_field(32, 32);
  dir.write_fits("m51-r.fits", img,
                 {"OBJECT  = 'M51     '", "RA      = '13:29:52.70'        / RIGHT ASCENSION",
                  "DEC     = '+47:11:42.93'       / DECLINATION", "ST      = '06:12:34'           / SIDEREAL TIME",
                  "RADESYS = 'FK5     '", at_column_32("HIERARCH FILT ID = 1 /", "FILTER  "),
                  at_column_32("HIERARCH FILT NAME = 1 /", "R")});
  // The B frame has no RA, no ST and no filter; its DEC is a number.
  dir.write_fits("m51-b.fits", img, {"OBJECT  = 'M51 B   '", "DEC     =            47.195258 / [deg]"});
  const auto run = run_session(
      dir, {"", "l", "m51-r.fits", "d", "1", "n", "2", "l", "m51-b.fits", "d", "1", "n", "1", "d", "1", "n", "q"});
  const std::string r =
      "M51                    13:29:52 +47:11:42 06:12      R M51                 m51-r.fits          ";
  const std::string b =
      "M51 B                           47.195258              M51 B               m51-b.fits          ";
  EXPECT_EQ(count_of(run.out, "\n" + r + "\n"), 2) << run.out;
  EXPECT_EQ(count_of(run.out, "\n" + b + "\n"), 1);
}

}  // namespace
}  // namespace zelvo::testing
