// The direct reading of plain files gives exactly the pixels CFITSIO's fits_read_img gives,
// for every BITPIX, with and without BSCALE, BZERO and BLANK, and leaves to CFITSIO what it
// does not handle.
#include "fits/plain_read.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fits/fits_io.h"
#include "numeric/image_range.h"
#include "platform/console.h"
#include "session/commands.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

using testing::ScratchFolder;

constexpr float kNull = -999.0f;

struct Layout {
  const char* name;
  int bitpix;
  double bscale, bzero;  // written only when not 1 and 0
  bool blank;            // a BLANK card (integer data)
  long long blank_value;
};

// Raw values (before scaling) that cover the type's range, its extremes and, for floats,
// NaN, infinities, zeros of both signs and denormals. 37 x 23 pixels: not a multiple of any
// vector width, and more than one conversion block.
std::vector<double> raw_values(const Layout& l, int n) {
  std::vector<double> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = std::fmod(i * 7919.0, 250.0) - (l.bitpix == 8 ? 0 : 100);
  const double lo = l.bitpix == 8    ? 0
                    : l.bitpix == 16 ? -32768
                    : l.bitpix == 32 ? -2147483648.0
                    : l.bitpix == 64 ? -9.0e18
                                     : -3.0e38;
  const double hi = l.bitpix == 8    ? 255
                    : l.bitpix == 16 ? 32767
                    : l.bitpix == 32 ? 2147483647.0
                    : l.bitpix == 64 ? 9.0e18
                                     : 3.0e38;
  v[1] = lo;
  v[2] = hi;
  v[3] = 0.0;
  if (l.blank) v[4] = v[40] = static_cast<double>(l.blank_value);
  if (l.bitpix < 0) {
    const double inf = std::numeric_limits<double>::infinity();
    v[5] = std::nan("");
    v[6] = inf;
    v[7] = -inf;
    v[8] = -0.0;
    v[9] = l.bitpix == -32 ? 1.0e-40 : 1.0e-310;  // denormal
    v[10] = 1.5e-30;
    v[11] = -123.456789;
  }
  return v;
}

// Writes the layout's file: raw values go in unscaled (CFITSIO told to scale by 1 and 0).
void write_file(const std::string& path, const Layout& l, int nx, int ny) {
  fitsfile* f = nullptr;
  int status = 0;
  fits_create_diskfile(&f, path.c_str(), &status);
  long naxes[2] = {nx, ny};
  fits_create_img(f, l.bitpix, 2, naxes, &status);
  if (l.bscale != 1.0) fits_write_key(f, TDOUBLE, "BSCALE", const_cast<double*>(&l.bscale), nullptr, &status);
  if (l.bzero != 0.0) fits_write_key(f, TDOUBLE, "BZERO", const_cast<double*>(&l.bzero), nullptr, &status);
  if (l.blank) fits_write_key(f, TLONGLONG, "BLANK", const_cast<long long*>(&l.blank_value), nullptr, &status);
  fits_set_bscale(f, 1.0, 0.0, &status);
  std::vector<double> v = raw_values(l, nx * ny);
  fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << l.name;
}

// What CFITSIO's own reader gives, with the loader's null value.
std::vector<float> cfitsio_pixels(const std::string& path) {
  fitsfile* f = nullptr;
  int status = 0;
  fits_open_diskfile(&f, path.c_str(), READONLY, &status);
  long naxes[2] = {0, 0};
  fits_get_img_size(f, 2, naxes, &status);
  std::vector<float> px(static_cast<std::size_t>(naxes[0] * naxes[1]));
  float nullval = kNull;
  int anynull = 0;
  fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(px.size()), &nullval, px.data(), &anynull, &status);
  fits_close_file(f, &status);
  EXPECT_EQ(status, 0);
  return px;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class PlainRead : public ::testing::TestWithParam<Layout> {};

TEST_P(PlainRead, GivesExactlyWhatCfitsioGives) {
  const Layout l = GetParam();
  ScratchFolder dir;
  const std::string path = dir.file("raw.fits");
  constexpr int nx = 37, ny = 23;
  write_file(path, l, nx, ny);
  const std::vector<float> want = cfitsio_pixels(path);

  // The direct path itself takes the file and matches bit for bit.
  fitsfile* f = nullptr;
  int status = 0;
  ASSERT_EQ(fits_open_diskfile(&f, path.c_str(), READONLY, &status), 0);
  std::vector<float> got(want.size(), 12345.0f);
  EXPECT_TRUE(read_plain_pixels(f, path, kNull, got).has_value()) << l.name;
  fits_close_file(f, &status);
  EXPECT_TRUE(same_bits(got, want)) << l.name;

  // And through the loader, with the smallest and largest pixel found on the way.
  const FitsRead r = READ_FITS_2D_IMAGE(path);
  ASSERT_EQ(r.outcome, ReadOutcome::loaded) << r.error.text;
  EXPECT_TRUE(same_bits(r.image.px, want)) << l.name;
  ASSERT_TRUE(r.range.known);
  const ValueRange whole = finite_range(r.image);
  EXPECT_EQ(r.range.lo, whole.lo);
  EXPECT_EQ(r.range.hi, whole.hi);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PlainRead,
    ::testing::Values(Layout{"bytes", 8, 1.0, 0.0, false, 0}, Layout{"bytes_blank", 8, 1.0, 0.0, true, 255},
                      Layout{"bytes_scaled_blank", 8, 0.5, -64.0, true, 7}, Layout{"shorts", 16, 1.0, 0.0, false, 0},
                      Layout{"shorts_unsigned", 16, 1.0, 32768.0, false, 0},
                      Layout{"shorts_scaled_blank", 16, 0.01, 1000.0, true, -32768},
                      Layout{"shorts_blank", 16, 1.0, 0.0, true, 99}, Layout{"longs", 32, 1.0, 0.0, false, 0},
                      Layout{"longs_blank", 32, 1.0, 0.0, true, -1}, Layout{"longs_scaled", 32, 1.0e-3, 2.5, false, 0},
                      Layout{"longs_unsigned", 32, 1.0, 2147483648.0, true, 42},
                      Layout{"floats", -32, 1.0, 0.0, false, 0}, Layout{"floats_scaled", -32, 0.5, -7.25, false, 0},
                      Layout{"doubles", -64, 1.0, 0.0, false, 0}, Layout{"doubles_scaled", -64, 0.5, 100.0, false, 0}),
    [](const ::testing::TestParamInfo<Layout>& i) { return std::string(i.param.name); });

// Files the direct path leaves to CFITSIO still load exactly as CFITSIO reads them: a gzip
// file, 64-bit integers, and data that overflow a float after scaling.
TEST(PlainRead, LeavesWhatItDoesNotHandleToCfitsio) {
  ScratchFolder dir;
  const Layout cases[] = {{"gzip", -32, 1.0, 0.0, false, 0},
                          {"longlongs", 64, 1.0, 0.0, false, 0},
                          {"overflowing", 32, 1.0e35, 0.0, false, 0},
                          {"overflowing_floats", -32, 2.0, 0.0, false, 0}};
  for (const Layout& l : cases) {
    std::string path = dir.file(std::string(l.name) + ".fits");
    write_file(path, l, 37, 23);
    if (std::string(l.name) == "gzip") {
      ASSERT_EQ(std::system(("gzip -f '" + path + "'").c_str()), 0);
      path += ".gz";
    }
    fitsfile* f = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_diskfile(&f, path.c_str(), READONLY, &status), 0) << l.name;
    std::vector<float> got(37 * 23);
    EXPECT_FALSE(read_plain_pixels(f, path, kNull, got).has_value()) << l.name;
    fits_close_file(f, &status);

    const FitsRead read = READ_FITS_2D_IMAGE(path);
    // CFITSIO reads what it can; an overflow is refused with the line that counts it.
    fits_open_diskfile(&f, path.c_str(), READONLY, &status);
    std::vector<float> want(37 * 23);
    float nullval = kNull;
    int anynull = 0, st = 0;
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(want.size()), &nullval, want.data(), &anynull, &st);
    fits_close_file(f, &status);
    const bool overflow = st != 0 || std::any_of(want.begin(), want.end(), [](float v) { return std::isinf(v); });
    if (!overflow) {
      ASSERT_EQ(read.outcome, ReadOutcome::loaded) << l.name << read.error.text;
      EXPECT_TRUE(same_bits(read.image.px, want)) << l.name;
    } else {
      EXPECT_EQ(read.outcome, ReadOutcome::refused) << l.name;
      EXPECT_NE(read.refusal.find("beyond the range of 32-bit floats"), std::string::npos) << l.name;
    }
    EXPECT_FALSE(read.range.known) << l.name;
  }
}

// The display limits a load sets are the smallest and largest finite pixel, whether the
// plain file is read directly or its gzip copy goes through CFITSIO. Pixels not listed in a
// case hold 0.5 (raw); the extremes sit both in the eight-wide body and in the tail of
// 13 x 3 pixels.
struct RangeCase {
  const char* name;
  int bitpix;
  double bscale;
  std::vector<std::pair<int, double>> raw;  // index and raw value
  float lo, hi;                             // the finite extremes after loading
  bool refused = false;                     // a pixel beyond the float range: nothing loads
};

class LoadedLimits : public ::testing::TestWithParam<RangeCase> {};

TEST_P(LoadedLimits, AreTheFiniteExtremesForThePlainFileAndItsGzipCopy) {
  const RangeCase c = GetParam();
  ScratchFolder dir;
  const std::string plain = dir.file("range.fits");
  fitsfile* f = nullptr;
  int status = 0;
  fits_create_diskfile(&f, plain.c_str(), &status);
  long naxes[2] = {13, 3};
  fits_create_img(f, c.bitpix, 2, naxes, &status);
  if (c.bscale != 1.0) fits_write_key(f, TDOUBLE, "BSCALE", const_cast<double*>(&c.bscale), nullptr, &status);
  fits_set_bscale(f, 1.0, 0.0, &status);
  std::vector<double> v(13 * 3, 0.5);
  for (const auto& [i, x] : c.raw) v[static_cast<std::size_t>(i)] = x;
  fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(std::system(("gzip -c '" + plain + "' > '" + plain + ".gz'").c_str()), 0);

  for (const std::string& path : {plain, plain + ".gz"}) {
    testing::ScriptedSession t;
    const std::string out = t.run(command_load, path + "\n");
    if (c.refused) {
      EXPECT_NE(out.find(" 1 pixel lies beyond the range of 32-bit floats (BSCALE"), std::string::npos) << out;
      EXPECT_TRUE(t.slot(1).image.px.empty());
      continue;
    }
    ASSERT_EQ(t.slot(1).image.px.size(), v.size()) << c.name << " " << path;
    EXPECT_EQ(t.s.display.state.minlim, c.lo) << c.name << " " << path;
    EXPECT_EQ(t.s.display.state.maxlim, c.hi) << c.name << " " << path;
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kMax = std::numeric_limits<float>::max();

INSTANTIATE_TEST_SUITE_P(
    Files, LoadedLimits,
    ::testing::Values(
        // 1e10 x 1e30 is no float: the load is refused, in the body or the tail alike.
        RangeCase{"scaled_past_float", -32, 1.0e30, {{5, -3.0}, {20, 1.0e10}, {37, 2.0}}, 0.0f, 0.0f, true},
        RangeCase{"scaled_past_float_in_tail", -32, 1.0e30, {{2, 2.0}, {38, 1.0e10}, {33, -3.0}}, 0.0f, 0.0f, true},
        // NaN and infinities in the data are undefined pixels: they load as -999, a value.
        RangeCase{"undefined_floats",
                  -32,
                  1.0,
                  {{3, std::nan("")}, {9, 5.0}, {17, kInf}, {36, -7.0}, {38, -kInf}},
                  -999.0f,
                  5.0f},
        RangeCase{"float_extremes", -32, 1.0, {{2, -kMax}, {36, kMax}}, -kMax, kMax},
        RangeCase{"scaled_shorts", 16, 2.0, {{1, -32768.0}, {35, 32767.0}}, -65536.0f, 65534.0f}),
    [](const ::testing::TestParamInfo<RangeCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace zelvo
