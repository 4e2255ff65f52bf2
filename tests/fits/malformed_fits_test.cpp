// Malformed and unusual FITS files given to command L: each either loads correctly or is
// refused with the FITS error report or one clear line, and a refused load leaves the slot
// exactly as it was. Files that fitsverify passes must load.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "session/commands.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"
#include "support/without_root.h"

namespace zelvo::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr std::size_t kBlock = 2880;

std::string card(const std::string& key, const std::string& value) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%-8s= %20s", key.c_str(), value.c_str());
  std::string c(buf);
  c.resize(80, ' ');
  return c;
}

// Big-endian bytes of one pixel value in the storage type of `bitpix`.
std::string pixel_bytes(int bitpix, double v) {
  std::string b(static_cast<std::size_t>(std::abs(bitpix) / 8), '\0');
  uint64_t bits = 0;
  switch (bitpix) {
    case 8: bits = static_cast<uint8_t>(v); break;
    case 16: bits = static_cast<uint16_t>(static_cast<int16_t>(v)); break;
    case 32: bits = static_cast<uint32_t>(static_cast<int32_t>(v)); break;
    case 64: bits = static_cast<uint64_t>(static_cast<int64_t>(v)); break;
    case -32: bits = std::bit_cast<uint32_t>(static_cast<float>(v)); break;
    default: bits = std::bit_cast<uint64_t>(v); break;
  }
  for (std::size_t i = 0; i < b.size(); ++i) b[b.size() - 1 - i] = static_cast<char>((bits >> (8 * i)) & 0xff);
  return b;
}

struct FitsBytes {
  std::vector<std::string> cards;  // after SIMPLE; END is added unless `no_end`
  std::string data;
  bool no_end = false;

  std::string bytes() const {
    std::string h = card("SIMPLE", "T");
    for (const auto& c : cards) h += c;
    if (!no_end) h += std::string("END").append(77, ' ');
    h.resize((h.size() + kBlock - 1) / kBlock * kBlock, ' ');
    std::string d = data;
    d.resize((d.size() + kBlock - 1) / kBlock * kBlock, '\0');
    return h + d;
  }
};

// A 2-D image with the given BITPIX, sizes and pixel values (x fastest).
FitsBytes image_file(int bitpix, long long nx, long long ny, const std::vector<double>& values,
                     const std::vector<std::string>& extra = {}) {
  FitsBytes f;
  f.cards = {card("BITPIX", std::to_string(bitpix)), card("NAXIS", "2"), card("NAXIS1", std::to_string(nx)),
             card("NAXIS2", std::to_string(ny))};
  f.cards.insert(f.cards.end(), extra.begin(), extra.end());
  for (double v : values) f.data += pixel_bytes(bitpix, v);
  return f;
}

FitsBytes with_axes(int bitpix, const std::vector<long long>& axes, std::size_t pixels) {
  FitsBytes f;
  f.cards = {card("BITPIX", std::to_string(bitpix)), card("NAXIS", std::to_string(axes.size()))};
  for (std::size_t i = 0; i < axes.size(); ++i)
    f.cards.push_back(card("NAXIS" + std::to_string(i + 1), std::to_string(axes[i])));
  for (std::size_t i = 0; i < pixels; ++i) f.data += pixel_bytes(bitpix, static_cast<double>(i + 1));
  return f;
}

std::vector<double> ramp(std::size_t n) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(i + 1);
  return v;
}

struct Expected {
  int nx = 0, ny = 0;        // 0: the load must be refused
  std::vector<float> first;  // leading pixels expected after loading (x fastest)
  bool either = false;       // the library may accept or refuse; both are sound
};

struct Case {
  std::string name;
  std::string bytes;
  Expected expect;
};

std::vector<Case> cases() {
  const FitsBytes good = image_file(-32, 4, 3, ramp(12));
  const std::string g = good.bytes();
  std::vector<Case> c;
  c.push_back({"good", g, {4, 3, {1, 2, 3, 4, 5}}});
  c.push_back({"empty-file", "", {}});
  c.push_back({"text-file", "This is not a FITS file at all.\n", {}});
  c.push_back({"cut-inside-first-card", g.substr(0, 40), {}});
  c.push_back({"cut-inside-header", g.substr(0, 1000), {}});
  c.push_back({"cut-at-block-boundary", g.substr(0, kBlock), {}});
  c.push_back({"cut-inside-data", g.substr(0, kBlock + 20), {}});
  c.push_back({"cut-in-data-padding", g.substr(0, kBlock + 48 + 100), {4, 3, {1, 2, 3}, true}});
  FitsBytes no_end = good;
  no_end.no_end = true;
  c.push_back({"no-end-card", no_end.bytes(), {}});
  c.push_back({"naxis-0", with_axes(-32, {}, 0).bytes(), {}});
  c.push_back({"naxis-1", with_axes(-32, {7}, 7).bytes(), {}});
  c.push_back({"naxis-3", with_axes(-32, {3, 2, 2}, 12).bytes(), {3, 2, {1, 2, 3, 4, 5, 6}}});
  c.push_back({"naxis-4", with_axes(16, {2, 2, 1, 2}, 8).bytes(), {2, 2, {1, 2, 3, 4}}});
  c.push_back({"naxis3-zero", with_axes(-32, {3, 2, 0}, 0).bytes(), {}});
  c.push_back({"naxis1-zero", image_file(-32, 0, 5, {}).bytes(), {}});
  c.push_back({"naxis2-zero", image_file(-32, 5, 0, {}).bytes(), {}});
  c.push_back({"naxis1-negative", image_file(-32, -4, 3, ramp(12)).bytes(), {}});
  c.push_back({"naxis2-negative", image_file(-32, 4, -3, ramp(12)).bytes(), {}});
  c.push_back({"naxis-2147483647-square", image_file(-32, 2147483647, 2147483647, ramp(4)).bytes(), {}});
  c.push_back({"naxis-20000-square-no-data", image_file(16, 20000, 20000, ramp(4)).bytes(), {}});
  c.push_back({"naxis1-beyond-int", image_file(8, 4294967296LL, 1, ramp(4)).bytes(), {}});
  c.push_back({"bitpix-12", image_file(-32, 2, 2, ramp(4), {}).bytes(), {}});
  c.back().bytes.replace(80 + 10, 20, std::string(18, ' ') + "12");
  c.push_back({"bitpix-missing",
               [] {
                 FitsBytes f = image_file(-32, 2, 2, ramp(4));
                 f.cards.erase(f.cards.begin());
                 return f.bytes();
               }(),
               {}});
  c.push_back({"naxis-not-a-number",
               [] {
                 FitsBytes f = image_file(-32, 2, 2, ramp(4));
                 f.cards[2] = card("NAXIS1", "'two'");
                 return f.bytes();
               }(),
               {}});
  // Every BITPIX with BSCALE 2 and BZERO 10; integer types with a BLANK pixel, float types
  // with NaN and infinities: all are undefined pixels to CFITSIO, so -999 after loading.
  const std::vector<std::string> scaled = {card("BSCALE", "2.0"), card("BZERO", "10.0"), card("BLANK", "7")};
  for (int bitpix : {8, 16, 32, 64}) {
    c.push_back({"bitpix" + std::to_string(bitpix) + "-scaled-blank",
                 image_file(bitpix, 3, 2, {1, 2, 7, 4, 5, 6}, scaled).bytes(),
                 {3, 2, {12, 14, -999, 18, 20, 22}}});
  }
  const std::vector<std::string> fscaled = {card("BSCALE", "2.0"), card("BZERO", "10.0")};
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  for (int bitpix : {-32, -64}) {
    c.push_back({"bitpix" + std::to_string(bitpix) + "-scaled-nan-inf",
                 image_file(bitpix, 3, 2, {1, nan, inf, -inf, 5, 6}, fscaled).bytes(),
                 {3, 2, {12, -999, -999, -999, 20, 22}}});
  }
  c.push_back({"one-by-one", image_file(-32, 1, 1, {42}).bytes(), {1, 1, {42}}});
  c.push_back({"one-by-20000", image_file(16, 1, 20000, ramp(20000)).bytes(), {1, 20000, {1, 2, 3}}});
  c.push_back({"20000-by-one", image_file(-32, 20000, 1, ramp(20000)).bytes(), {20000, 1, {1, 2, 3}}});
  c.push_back(
      {"exptime-not-a-number", image_file(-32, 2, 1, {1, 2}, {card("EXPTIME", "'long'")}).bytes(), {2, 1, {1, 2}}});
  c.push_back({"simple-false",
               [&] {
                 std::string b = g;
                 b[29] = 'F';
                 return b;
               }(),
               {4, 3, {1, 2, 3}, true}});
  c.push_back({"binary-garbage", std::string(3 * kBlock, '\xff'), {}});
  return c;
}

struct Outcome {
  std::string out;
  bool loaded = false;
  bool unchanged = false;
};

// Runs L on `path` with slot 1 holding a known image; says whether the slot was left alone.
Outcome load_into_filled_slot(const std::string& path) {
  ScriptedSession t;
  Image before(2, 2, 7.0f);
  t.load(1, before, "before.fits");
  ImageSlot& sl = t.slot(1);
  sl.object = "BEFORE              ";
  sl.exptime = 5.0f;
  sl.file = "before.fits";
  sl.modified = true;
  Outcome o;
  o.out = t.run(command_load, path + "\n");
  o.loaded = sl.file == path;
  o.unchanged = sl.image.nx == 2 && sl.image.ny == 2 && sl.image.px == before.px && sl.name == "before.fits" &&
                sl.object == "BEFORE              " && sl.exptime == 5.0f && sl.file == "before.fits" && sl.modified;
  if (o.loaded) {
    o.unchanged = false;
  }
  return o;
}

// fitsverify's verdict: true when it passes the file, nothing when it is not installed.
std::optional<bool> fitsverify_passes(const std::string& path) {
  if (std::system("command -v fitsverify >/dev/null 2>&1") != 0) return std::nullopt;
  const int rc = std::system(("fitsverify -q '" + path + "' >/dev/null 2>&1").c_str());
  return rc == 0;
}

bool not_an_image(const std::string& out) {
  return out.find("READIMAGE failed to read the NAXISn keywords.") != std::string::npos ||
         out.find("The image has an axis of length 0 or less; nothing was loaded.") != std::string::npos;
}

bool refused_clearly(const std::string& out) {
  for (const char* line : {"FITSIO Error Status = ", "READIMAGE failed to read the NAXISn keywords.",
                           "The image has an axis of length 0 or less; nothing was loaded.",
                           "There is not enough memory for an image of this size; nothing was loaded."})
    if (out.find(line) != std::string::npos) return true;
  return false;
}

TEST(MalformedFits, EachFileLoadsCorrectlyOrIsRefusedAndTheSlotStaysAsItWas) {
  ScratchFolder dir;
  int tried = 0;
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name + ".fits");
    dir.write(c.name + ".fits", c.bytes);
    const Outcome o = load_into_filled_slot(path);
    ++tried;
    const auto verdict = fitsverify_passes(path);
    // A file fitsverify passes is never called broken: it loads, or it holds no 2-D image.
    if (verdict && *verdict) {
      EXPECT_TRUE(o.loaded || not_an_image(o.out)) << "fitsverify passes the file\n" << o.out;
    }
    if (o.loaded) {
      ASSERT_TRUE(c.expect.nx > 0) << "a malformed file was taken as an image\n" << o.out;
      const FitsRead reread = READ_FITS_2D_IMAGE(path);  // to look at the pixels
      ASSERT_EQ(reread.outcome, ReadOutcome::loaded);
      const Image& img = reread.image;
      EXPECT_EQ(img.nx, c.expect.nx);
      EXPECT_EQ(img.ny, c.expect.ny);
      for (std::size_t i = 0; i < c.expect.first.size() && i < img.px.size(); ++i) {
        const float want = c.expect.first[i], got = img.px[i];
        if (std::isinf(want))
          EXPECT_EQ(got, want) << "pixel " << i;
        else
          EXPECT_NEAR(got, want, 1e-6f * std::fabs(want) + 1e-6f) << "pixel " << i;
      }
    } else {
      EXPECT_TRUE(c.expect.nx == 0 || c.expect.either) << "a good file was refused\n" << o.out;
      EXPECT_TRUE(o.unchanged) << o.out;
      EXPECT_TRUE(refused_clearly(o.out)) << o.out;
    }
  }
  RecordProperty("files", tried);
}

TEST(MalformedFits, AHeaderPromisingGigabytesIsRefusedBeforeAnythingIsAllocated) {
  ScratchFolder dir;
  // 50000 x 50000 16-bit pixels would be 10 GB of floats: within half the memory of many
  // machines, so only the missing data can stop the load.
  dir.write("huge.fits", image_file(16, 50000, 50000, ramp(8)).bytes());
  const Outcome o = load_into_filled_slot(dir.file("huge.fits"));
  EXPECT_TRUE(o.unchanged);
  EXPECT_THAT(o.out, HasSubstr(" nxpix, nypix = 50000 50000\n"));
  EXPECT_THAT(o.out, HasSubstr(" FITSIO Error Status = 107 : tried to move past end of file"));
  EXPECT_THAT(o.out, HasSubstr("\n the file holds less data than its header describes (truncated?)\n"));
}

TEST(MalformedFits, AFolderOrAnUnreadableFileAsTheNameIsReported) {
  ScratchFolder dir;
  fs::create_directory(dir.file("a-folder"));
  Outcome o = load_into_filled_slot(dir.file("a-folder"));
  EXPECT_TRUE(o.unchanged);
  EXPECT_THAT(o.out, HasSubstr(dir.file("a-folder") + " is a folder, not a regular file; nothing was loaded."));
  o = load_into_filled_slot(dir.file("missing.fits"));
  EXPECT_TRUE(o.unchanged);
  EXPECT_THAT(o.out, HasSubstr("FITSIO Error Status = 104"));

  dir.write("locked.fits", image_file(-32, 2, 2, ramp(4)).bytes());
  fs::permissions(dir.file("locked.fits"), fs::perms::none);
  // The folder is opened up for the unprivileged user the check runs as under root.
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  const std::optional<bool> refused = without_root([&] {
    const Outcome locked = load_into_filled_slot(dir.file("locked.fits"));
    return locked.unchanged && locked.out.find("FITSIO Error Status = 104") != std::string::npos;
  });
  if (!refused) GTEST_SKIP() << "could not give up root for the unreadable-file case";
  EXPECT_TRUE(*refused) << "an unreadable file was not refused with the FITS error report";
}

TEST(MalformedFits, ATruncatedGzipFileIsRefused) {
  ScratchFolder dir;
  if (std::system("command -v gzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "gzip is not installed";
  dir.write("g.fits", image_file(-32, 40, 40, ramp(1600)).bytes());
  ASSERT_EQ(std::system(("gzip -n '" + dir.file("g.fits") + "'").c_str()), 0);
  const std::string whole = dir.read("g.fits.gz");
  Outcome o = load_into_filled_slot(dir.file("g.fits.gz"));
  EXPECT_TRUE(o.loaded) << o.out;
  dir.write("cut.fits.gz", whole.substr(0, whole.size() / 2));
  o = load_into_filled_slot(dir.file("cut.fits.gz"));
  EXPECT_TRUE(o.unchanged) << o.out;
  EXPECT_TRUE(refused_clearly(o.out)) << o.out;
}

}  // namespace
}  // namespace zelvo::testing
