#include "platform/catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>

#include "support/astropy_table.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;

namespace {
Catalogue sample(std::vector<CatalogueRow> rows) {
  Catalogue t;
  t.columns = {{"x", "float64", "pix", "x of the centre"},
               {"ra", "float64", "deg", ""},
               {"n", "int64", "", ""},
               {"file", "string", "", "the image's \"name\""}};
  t.meta = {{"exptime", 300.0}, {"method", std::string("exact \"circle\" overlap")}};
  t.rows = std::move(rows);
  return t;
}
}  // namespace

TEST(Catalogue, AstropyReadsWhatIsWrittenAndAppended) {
  ScratchFolder dir;
  const auto path = dir.file("cat.ecsv");
  ASSERT_TRUE(
      append_catalogue(path, sample({{0.1, std::monostate{}, int64_t{3}, std::string("my \"m51\" frame.fits")}})).ok);
  const auto second = append_catalogue(path, sample({{1e-300, NAN, int64_t{-4}, std::string("b\nc\xff\xc3\xa9")}}));
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.notice, "");
  const auto t = astropy_read_ecsv(path);
  if (!t) GTEST_SKIP() << "astropy is not installed";
  ASSERT_THAT(t->columns, ::testing::ElementsAre("x", "ra", "n", "file"));
  ASSERT_EQ(t->rows.size(), 2u);
  EXPECT_EQ(t->cell(0, "x"), "0.1");  // shortest round-trip text
  EXPECT_EQ(t->cell(0, "ra"), "--");  // missing, read back masked
  EXPECT_EQ(t->cell(0, "file"), "'my \"m51\" frame.fits'");
  EXPECT_EQ(t->cell(1, "x"), "1e-300");
  EXPECT_EQ(t->cell(1, "ra"), "--");  // NaN written as missing
  EXPECT_EQ(t->cell(1, "n"), "-4");
  EXPECT_EQ(t->cell(1, "file"), "'b?c?\u00e9'");  // a newline and a stray byte cannot break the row
  EXPECT_EQ(t->meta.at("exptime"), "300.0");
  EXPECT_EQ(t->meta.at("method"), "exact \"circle\" overlap");
}

// Whatever the file held before is kept byte for byte under a new name.
class SetAside : public ::testing::TestWithParam<std::string> {};
TEST_P(SetAside, AFileThisVersionCannotAppendToIsKept) {
  ScratchFolder dir;
  dir.write("cat.ecsv", GetParam());
  const auto w = append_catalogue(dir.file("cat.ecsv"), sample({{2.0, 10.5, int64_t{1}, std::string("a.fits")}}));
  ASSERT_TRUE(w.ok) << w.error;
  EXPECT_EQ(w.notice,
            "cat.ecsv does not hold this version's columns or has a damaged or incomplete line; it is kept as "
            "cat-old-1.ecsv and a new cat.ecsv is started.");
  EXPECT_EQ(dir.read("cat-old-1.ecsv"), GetParam());
  EXPECT_EQ(dir.read("cat.ecsv"), ecsv_header(sample({})) + "2 10.5 1 a.fits\n");
}
INSTANTIATE_TEST_SUITE_P(Catalogue, SetAside,
                         ::testing::Values("x y flux\n1 2 3\n",  // a plain table of another program
                                           ecsv_header(sample({})) + "1 2 3 a.fits",  // its last row cut short
                                           ecsv_header(Catalogue{{{"x", "float64", "", ""}}, {}, {}}) +
                                               "1\n",  // other columns
                                           // A damaged row in the middle, each way astropy cannot read it.
                                           ecsv_header(sample({})) + "1 2 3 a.fits\n1 2\n4 5 6 b.fits\n",
                                           ecsv_header(sample({})) + "1 2 3 a.fits\n1 x 3 a.fits\n4 5 6 b\n",
                                           ecsv_header(sample({})) + "1 2 3.5 a.fits\n4 5 6 b.fits\n",
                                           ecsv_header(sample({})) + "1 2 3 \"a.fits\n4 5 6 b.fits\n",
                                           ecsv_header(sample({})) + "1 2 3 a b\n4 5 6 b.fits\n"));

TEST(Catalogue, AFullDiskLeavesTheCatalogueAsItWas) {
  ScratchFolder dir;
  const auto path = dir.file("cat.ecsv");
  ASSERT_TRUE(append_catalogue(path, sample({{1.0, 2.0, int64_t{1}, std::string("a")}})).ok);
  const std::string before = dir.read("cat.ecsv");
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = before.size() + 5;  // room for part of a row only
  setrlimit(RLIMIT_FSIZE, &small);
  const auto w = append_catalogue(path, sample({{3.0, 4.0, int64_t{2}, std::string("a long enough name.fits")}}));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(w.ok);
  EXPECT_THAT(w.error, HasSubstr("cat.ecsv could not be written ("));
  EXPECT_EQ(dir.read("cat.ecsv"), before);
}

TEST(Catalogue, AFifoIsRefusedWithoutBlocking) {
  ScratchFolder dir;
  ASSERT_EQ(mkfifo(dir.file("cat.ecsv").c_str(), 0600), 0);
  const auto w = append_catalogue(dir.file("cat.ecsv"), sample({{1.0}}));
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, "cat.ecsv is a FIFO, not a regular file; nothing was written to it.");
}

TEST(Catalogue, RegionFileLines) {
  ScratchFolder dir;
  ASSERT_TRUE(append_regions(dir.file("a.reg"), {{441.954, 409.699, 5, "green", "1"}, {10, 20.5, 2.25, "", ""}}).ok);
  ASSERT_TRUE(append_regions(dir.file("a.reg"), {{1, 2, 3, "red", "x}y"}}).ok);
  EXPECT_EQ(dir.read("a.reg"),
            "# Region file format: DS9 version 4.1\nimage\n"
            "circle(441.954,409.699,5) # color=green text={1}\n"
            "circle(10,20.5,2.25)\n"
            "circle(1,2,3) # color=red text={xy}\n");
}
