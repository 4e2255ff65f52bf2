// The FitsError values reads and writes return: CFITSIO's status and text for it (as CFITSIO
// documents them), and the messages, the program's own after CFITSIO's.
#include "fits/fits_error.h"

#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "fits/fits_test_files.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

using namespace fits_test;
using testing::ScratchFolder;

struct ErrorCase {
  const char* name;
  // Makes what the case needs in `dir` and runs the read or write; `path` receives the name used.
  std::function<FitsError(const ScratchFolder& dir, std::string& path)> run;
  int status;
  const char* text;
  // The last messages, exactly; "<path>" stands for the name used and "<dir>" for the folder.
  std::vector<std::string> last;
};

std::string filled(std::string s, const std::string& path, const std::string& dir) {
  for (const auto& [key, value] : {std::pair{std::string("<path>"), path}, std::pair{std::string("<dir>"), dir}})
    if (const auto at = s.find(key); at != std::string::npos) s.replace(at, key.size(), value);
  return s.substr(0, 80);  // a message is cut to CFITSIO's 80 characters
}

// A header of 100 x 100 floats followed by only part of their data.
void write_truncated(const std::string& path) {
  write_raw(path,
            {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
             "NAXIS1  =                  100", "NAXIS2  =                  100"},
            std::string(20000, '\0'));
}

const ErrorCase kCases[] = {
    {"missing file",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("missing.fits");
       return READ_FITS_2D_IMAGE(path).error;
     },
     FILE_NOT_OPENED,
     "could not open the named file",
     {"<path>"}},
    {"truncated file",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("cut.fits");
       write_truncated(path);
       return READ_FITS_2D_IMAGE(path).error;
     },
     END_OF_FILE,
     "tried to move past end of file",
     {"the file holds less data than its header describes (truncated?)"}},
    {"gzip file claiming no data",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("empty.fits.gz");
       dir.write("empty.fits.gz", std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03\x03\0", 12) + std::string(8, '\0'));
       return READ_FITS_2D_IMAGE(path).error;
     },
     DATA_DECOMPRESSION_ERR,
     "error uncompressing image",
     {"the gzip file is damaged: its size field cannot belong to its data"}},
    {"existing output name",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("m51.fits");
       dir.write_fits("m51.fits", ramp(3, 3));
       return WRITE_FITS_2D_IMAGE(path, ramp(2, 2).view());
     },
     FILE_NOT_CREATED,
     "couldn't create the named file",
     {"An existing file is never overwritten:", "<path>"}},
    {"output folder missing",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("none/out.fits");
       return WRITE_FITS_2D_IMAGE(path, ramp(2, 2).view());
     },
     FILE_NOT_CREATED,
     "couldn't create the named file",
     {"cannot create a file in the folder <dir>/none: No such file or directory", "nothing was written to <path>"}},
    {"no image to write",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("nothing.fits");
       return WRITE_FITS_2D_IMAGE(path, Image().view());
     },
     BAD_NAXES,
     "illegal NAXISn keyword value",
     {"there is no image to write", "nothing was written to <path>"}},
    {"a cube written back",
     [](const ScratchFolder& dir, std::string& path) {
       path = dir.file("cube.fits");
       write_image(path, FLOAT_IMG, {4, 3, 2}, std::vector<double>(24, 1.0));
       return replace_fits_2d_image(path, ramp(4, 3).view(), {}, loaded_origin(path));
     },
     FILE_NOT_CREATED,
     "couldn't create the named file",
     {"the file holds more than this image: <path>"}},
};

TEST(FitsErrorValue, StatusTextAndLastMessagesOfEachFailure) {
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    std::string path;
    const FitsError e = c.run(dir, path);
    EXPECT_TRUE(e.failed());
    EXPECT_EQ(e.status, c.status);
    EXPECT_EQ(e.text, c.text);
    ASSERT_GE(e.stack.size(), c.last.size());
    for (std::size_t k = 0; k < c.last.size(); ++k)
      EXPECT_EQ(e.stack[e.stack.size() - c.last.size() + k], filled(c.last[k], path, dir.path()));
    // Nothing is left on CFITSIO's stack for a later report.
    char left[FLEN_ERRMSG] = {};
    EXPECT_EQ(fits_read_errmsg(left), 0) << left;
  }
}

TEST(FitsErrorValue, ASuccessIsNoFailure) {
  ScratchFolder dir;
  const FitsError w = WRITE_FITS_2D_IMAGE(dir.file("ok.fits"), ramp(2, 2).view());
  EXPECT_FALSE(w.failed());
  EXPECT_EQ(w.status, 0);
  const FitsRead r = READ_FITS_2D_IMAGE(dir.file("ok.fits"));
  EXPECT_EQ(r.outcome, ReadOutcome::loaded);
  EXPECT_FALSE(r.error.failed());
}

// The program's messages join CFITSIO's after them, and the value keeps what CFITSIO's own
// stack would: messages of at most 80 characters, the newest kFitsMessageDepth of them.
TEST(FitsErrorValue, KeepsMessagesAsCfitsioKeepsItsStack) {
  fits_clear_errmsg();
  fits_write_errmsg("from the library");
  const FitsError e = fits_failure(END_OF_FILE, {"the program's own", std::string(100, 'x')});
  EXPECT_EQ(e.text, "tried to move past end of file");
  EXPECT_THAT(e.stack, ::testing::ElementsAre("from the library", "the program's own", std::string(80, 'x')));

  FitsError mine;
  std::vector<std::string> theirs;
  for (int k = 1; k <= 30; ++k) {
    const std::string m = "message " + std::to_string(k);
    mine.add(m);
    fits_write_errmsg(m.c_str());
  }
  char m[FLEN_ERRMSG] = {};
  while (fits_read_errmsg(m) > 0) theirs.emplace_back(m);
  EXPECT_EQ(mine.stack, theirs);
  EXPECT_EQ(mine.stack.front(), "message 6");
}

}  // namespace
}  // namespace zelvo
