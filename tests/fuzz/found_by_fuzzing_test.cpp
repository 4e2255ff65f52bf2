// Inputs the fuzz harnesses of fuzz/ found to break a check, kept as regression tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

// list_reader_fuzz: an item beginning with a vertical tab or form feed (which the item
// splitter does not treat as a separator) was read as an integer, because strtoll skips
// leading white space, but refused as a real. Both parsers now refuse it alike.
TEST(FoundByFuzzing, WhiteSpaceInsideAnItemIsNoNumberOfEitherKind) {
  for (const char* item : {"\v7", "\f7", "7\v", "\v-2"}) {
    EXPECT_FALSE(parse_integer(item).has_value()) << item;
    EXPECT_FALSE(parse_real(item).has_value()) << item;
  }
  std::istringstream in(" 12 -,\v7\n5\n");
  std::ostringstream out;
  Console con(in, out);
  int32_t a = 0, b = 0;
  con.read_list({&a, &b});
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 5);  // "-" and the tabbed item were refused and asked for again
  EXPECT_THAT(out.str(), ::testing::HasSubstr("Expected a whole number but read '-'"));
}

// fits_loader_fuzz: a gzip file whose size field (its last four bytes) claims 4 GB made
// CFITSIO allocate that much before unpacking a few bytes. Such a file is refused first.
TEST(FoundByFuzzing, AGzipFileClaimingGigabytesIsRefusedBeforeUnpacking) {
  testing::ScratchFolder dir;
  if (std::system("command -v gzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "gzip is not installed";
  dir.write_fits("f.fits", Image(16, 16, 3.0f));
  ASSERT_EQ(std::system(("gzip -n '" + dir.file("f.fits") + "'").c_str()), 0);
  std::string bytes = dir.read("f.fits.gz");
  bytes.replace(bytes.size() - 4, 4, std::string(4, '\xff'));
  dir.write("claims.fits.gz", bytes);

  Image img(2, 2, 7.0f);
  SlotHeader hdr;
  HeaderTexts texts;
  int status = 0;
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  EXPECT_EQ(READ_FITS_2D_IMAGE(dir.file("claims.fits.gz"), img, hdr, texts, status, con), ReadOutcome::FitsError);
  EXPECT_EQ(status, 414);
  EXPECT_THAT(out.str(), ::testing::HasSubstr("the gzip file is damaged: its size field cannot belong to its data"));
  EXPECT_EQ(img.nx, 2);
  EXPECT_EQ(img.px, Image(2, 2, 7.0f).px);
  // The sound file still loads.
  EXPECT_EQ(READ_FITS_2D_IMAGE(dir.file("f.fits.gz"), img, hdr, texts, status, con), ReadOutcome::Loaded);
  EXPECT_EQ(img.nx, 16);
}

}  // namespace
}  // namespace zelvo
