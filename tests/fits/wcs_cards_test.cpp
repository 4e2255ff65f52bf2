// The WCS cards through crops, quarter turns and mirrors: every pixel keeps the sky position
// astropy.wcs gives it in the original header.
#include "fits/wcs_cards.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "geometry/image_edits.h"
#include "platform/console.h"
#include "support/astropy_wcs.h"
#include "support/wpix_frame.h"
#include "synthetic_field.h"

namespace zelvo {
namespace {

using testing::astropy_sky_batch;
using testing::card;
using testing::separation_arcsec;
using testing::SkyQuery;

// An image whose pixel (x, y) holds x + 1000 y, so that after an edit each pixel tells where
// it came from: the correspondence comes from the pixel edits themselves.
Image coded_image(int nx, int ny) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(x + 1000 * y);
  return img;
}

// One edit as the C, T and F commands make it: the pixels and the cards together.
struct Edit {
  std::string name;
  std::function<void(Image&, std::vector<std::string>&)> apply;
};

void turn(Image& img, std::vector<std::string>& cards, int turns) {
  for (int t = 0; t < turns; ++t) {
    transform_wcs_cards(cards, quarter_turn_map(img.nx));
    ROTATEIMAGE(img);
  }
}

const std::vector<Edit> kEdits = {
    {"Crop",
     [](Image& img, std::vector<std::string>& cards) {
       img = *crop_image(img, Box{11, img.nx - 7, 31, img.ny - 2});
       transform_wcs_cards(cards, crop_map(11, 31));
     }},
    {"Turn90", [](Image& img, std::vector<std::string>& cards) { turn(img, cards, 1); }},
    {"Turn180", [](Image& img, std::vector<std::string>& cards) { turn(img, cards, 2); }},
    {"Turn270", [](Image& img, std::vector<std::string>& cards) { turn(img, cards, 3); }},
    {"MirrorLeftRight",
     [](Image& img, std::vector<std::string>& cards) {
       transform_wcs_cards(cards, mirror_x_map(img.nx));
       reflect_image(img, 'A');
     }},
    {"MirrorTopBottom",
     [](Image& img, std::vector<std::string>& cards) {
       transform_wcs_cards(cards, mirror_y_map(img.ny));
       reflect_image(img, 'B');
     }},
    {"CropTurnMirrorTurn",
     [](Image& img, std::vector<std::string>& cards) {
       img = *crop_image(img, Box{5, img.nx - 20, 3, img.ny - 9});
       transform_wcs_cards(cards, crop_map(5, 3));
       turn(img, cards, 1);
       transform_wcs_cards(cards, mirror_x_map(img.nx));
       reflect_image(img, 'A');
       turn(img, cards, 3);
       transform_wcs_cards(cards, mirror_y_map(img.ny));
       reflect_image(img, 'B');
     }},
};

struct Header {
  std::string name;
  std::function<std::vector<std::string>()> cards;
  char key = ' ';  // the description checked
};
void PrintTo(const Header& h, std::ostream* os) { *os << h.name; }

std::vector<std::string> wpix() { return zelvo::test_images::wpix_cards(); }

std::vector<std::string> tan(std::vector<std::string> linear, const std::string& t1 = "'RA---TAN'",
                             const std::string& t2 = "'DEC--TAN'") {
  std::vector<std::string> c{card("CTYPE1", t1),      card("CTYPE2", t2),        card("CRPIX1", "40.25"),
                             card("CRPIX2", "-12.5"), card("CRVAL1", "83.6331"), card("CRVAL2", "22.0145")};
  c.insert(c.end(), linear.begin(), linear.end());
  return c;
}

const Header kHeaders[] = {
    {"SyntheticFieldCdelt", [] { return field_header_cards(FieldOptions{}); }},
    {"IrafM51", wpix},
    {"CdeltCrota2",
     [] {
       return tan({card("CDELT1", "-2.0E-4"), card("CDELT2", "2.5E-4"), card("CROTA2", "23.5")});
     }},
    {"DecFirstCrota1",
     [] {
       return tan({card("CDELT1", "3.0E-4"), card("CDELT2", "-2.0E-4"), card("CROTA1", "-12.0")}, "'DEC--TAN'",
                  "'RA---TAN'");
     }},
    {"PcWithCdeltZea",
     [] {
       return tan({card("CDELT1", "-1.0E-3"), card("CDELT2", "1.0E-3"), card("PC1_1", "0.8660254"),
                   card("PC1_2", "-0.5"), card("PC2_1", "0.5"), card("PC2_2", "0.8660254")},
                  "'RA---ZEA'", "'DEC--ZEA'");
     }},
    {"CdWithSip", testing::sip_header_cards},
    {"AlternateDescription",
     [] {
       auto c = field_header_cards(FieldOptions{});
       for (const auto& a :
            {card("CTYPE1A", "'GLON-TAN'"), card("CTYPE2A", "'GLAT-TAN'"), card("CRPIX1A", "100.0"),
             card("CRPIX2A", "300.0"), card("CRVAL1A", "231.06"), card("CRVAL2A", "58.42"), card("CD1_1A", "-1.0E-4"),
             card("CD1_2A", "3.0E-5"), card("CD2_1A", "2.0E-5"), card("CD2_2A", "1.1E-4")})
         c.push_back(a);
       return c;
     },
     'A'},
};

class WcsThroughEdits : public ::testing::TestWithParam<Header> {};

// After each edit the new header gives the corners and the centre of the new image the
// sky position the original header gives the pixels they came from, within 1e-6 degree.
TEST_P(WcsThroughEdits, EveryEditKeepsTheSkyOfEachPixel) {
  const Header& h = GetParam();
  const int nx = 140, ny = 96;
  std::vector<SkyQuery> queries;
  for (const Edit& e : kEdits) {
    Image img = coded_image(nx, ny);
    std::vector<std::string> cards = h.cards();
    e.apply(img, cards);
    for (const auto& c : cards) ASSERT_EQ(c.size(), 80u) << c;
    SkyQuery before{h.cards(), {}, h.key}, after{cards, {}, h.key};
    const double cx = (img.nx + 1) / 2.0, cy = (img.ny + 1) / 2.0;
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {1, 1}, {img.nx, 1}, {1, img.ny}, {img.nx, img.ny}, {static_cast<int>(cx), static_cast<int>(cy)}}) {
      const int code = static_cast<int>(img.at(x, y));
      before.pixels.emplace_back(code % 1000, code / 1000);
      after.pixels.emplace_back(x, y);
    }
    queries.push_back(before);
    queries.push_back(after);
  }
  const auto sky = astropy_sky_batch(queries);
  if (!sky) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  ASSERT_EQ(sky->size(), queries.size());
  for (std::size_t e = 0; e < kEdits.size(); ++e) {
    SCOPED_TRACE(kEdits[e].name);
    const auto& a = (*sky)[2 * e].sky;
    const auto& b = (*sky)[2 * e + 1].sky;
    ASSERT_EQ(a.size(), 5u);
    ASSERT_EQ(b.size(), 5u);
    for (std::size_t k = 0; k < a.size(); ++k)
      EXPECT_LT(separation_arcsec(a[k], b[k]), 1e-6 * 3600.0) << "position " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Headers, WcsThroughEdits, ::testing::ValuesIn(kHeaders),
                         [](const auto& info) { return info.param.name; });

// IRAF's physical coordinates (logical = LTM physical + LTV) follow the pixels too.
TEST(WcsCards, IrafPhysicalCoordinatesFollowThePixels) {
  auto value = [](const std::vector<std::string>& cards, const std::string& name, double fallback) {
    for (const auto& c : cards)
      if (c.rfind(name + std::string(8 - name.size(), ' ') + "=", 0) == 0) return std::stod(c.substr(10, 20));
    return fallback;
  };
  const std::vector<std::string> original{card("LTV1", "-10.0"), card("LTV2", "-20.0")};
  std::vector<std::string> cards = original;
  Image img = coded_image(60, 40);
  kEdits.back().apply(img, cards);
  auto physical = [&](const std::vector<std::string>& c, double x, double y) {
    // physical = LTM^-1 (logical - LTV)
    const double a = value(c, "LTM1_1", 1), b = value(c, "LTM1_2", 0), d = value(c, "LTM2_1", 0),
                 e = value(c, "LTM2_2", 1);
    const double u = x - value(c, "LTV1", 0), v = y - value(c, "LTV2", 0), det = a * e - b * d;
    return std::pair<double, double>{(e * u - b * v) / det, (a * v - d * u) / det};
  };
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{1, 1}, {img.nx, 1}, {1, img.ny}, {7, 9}}) {
    const int code = static_cast<int>(img.at(x, y));
    EXPECT_EQ(physical(cards, x, y), physical(original, code % 1000, code / 1000)) << x << " " << y;
  }
}

// Values keep their names and comments, and a header without WCS cards is left as it was.
TEST(WcsCards, ValuesAreRewrittenInPlaceAndOtherCardsAreKept) {
  std::vector<std::string> cards{card("OBJECT", "'M51'"), card("CRPIX1", "257.75") + "", card("EXPTIME", "600.0")};
  cards[1].replace(31, 20, "/ Reference pixel   ");
  transform_wcs_cards(cards, crop_map(11, 1));
  ASSERT_EQ(cards.size(), 4u);  // CRPIX2 added after CRPIX1
  EXPECT_EQ(cards[1], card("CRPIX1", "247.75").substr(0, 30) + " / Reference pixel" + std::string(32, ' '));
  EXPECT_EQ(cards[2], card("CRPIX2", "0.0"));
  EXPECT_EQ(cards[0], card("OBJECT", "'M51'"));

  std::vector<std::string> plain{card("OBJECT", "'M51'"), card("EXPTIME", "600.0")};
  const auto before = plain;
  transform_wcs_cards(plain, quarter_turn_map(100));
  EXPECT_EQ(plain, before);
}

}  // namespace
}  // namespace zelvo

namespace zelvo {
namespace {

// A DSS solution no TAN projection follows within kDssFitTolerance over the image (a strong
// cubic term), and one wcslib cannot read (no AMDY terms): both are removed with their line,
// never carried as they were.
TEST(WcsCards, ADssSolutionThatCannotBeCarriedIsRemovedWithOneLine) {
  std::vector<std::string> plate{card("PLTRAH", "13"),        card("PLTRAM", "29"),     card("PLTRAS", "52.37"),
                                 card("PLTDECSN", "'+'"),     card("PLTDECD", "47"),    card("PLTDECM", "11"),
                                 card("PLTDECS", "43.0"),     card("PLTSCALE", "67.2"), card("XPIXELSZ", "25.2845"),
                                 card("YPIXELSZ", "25.2845"), card("PPO3", "177500.0"), card("PPO6", "177500.0"),
                                 card("CNPIX1", "6850"),      card("CNPIX2", "6900"),   card("AMDX1", "67.15"),
                                 card("AMDX3", "-40.0"),      card("OBJECT", "'M51'")};
  std::vector<std::string> unreadable = plate;
  plate.insert(plate.end(), {card("AMDX7", "50.0"), card("AMDY1", "67.16"), card("AMDY3", "60.0")});
  for (auto* cards : {&plate, &unreadable}) {
    const auto line = standardise_wcs_cards(*cards, 2000, 2000);
    ASSERT_TRUE(line.has_value());
    EXPECT_THAT(*line, ::testing::HasSubstr("it is removed, not carried wrong through the edit."));
    EXPECT_EQ(*cards, std::vector<std::string>{card("OBJECT", "'M51'")});
  }
}

}  // namespace
}  // namespace zelvo
