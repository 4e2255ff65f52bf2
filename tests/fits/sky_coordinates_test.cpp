// Sky positions through wcslib, checked against astropy.wcs on the same headers.
#include "fits/sky_coordinates.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "support/astropy_wcs.h"
#include "support/session_harness.h"
#include "support/wpix_frame.h"
#include "synthetic_field.h"

namespace zelvo {
namespace {

using testing::astropy_sky;
using testing::card;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ScratchFolder;
using testing::separation_arcsec;

using zelvo::test_images::wpix_cards;

std::vector<std::string> sip_cards() { return testing::sip_header_cards(); }

struct SkyCase {
  std::string name;
  std::vector<std::string> (*cards)();
  int nx, ny;
  std::string frame;  // as printed; empty for axes other than RA and Dec
};

void PrintTo(const SkyCase& c, std::ostream* os) { *os << c.name; }

const SkyCase kSkyCases[] = {
    {"SyntheticFieldTan", [] { return field_header_cards(FieldOptions{}); }, 512, 512, "FK5 J2000.0"},
    {"SipDistortion", sip_cards, 1024, 1024, "ICRS"},
    {"IrafM51", wpix_cards, 512, 512, "FK4 B0.0"},  // EPOCH = 0.00 in the original header
    {"NearThePoleCdRotated",
     [] {
       return std::vector<std::string>{
           card("CTYPE1", "'RA---TAN'"), card("CTYPE2", "'DEC--TAN'"), card("CRPIX1", "100.5"),
           card("CRPIX2", "80.25"),      card("CRVAL1", "359.9"),      card("CRVAL2", "89.7"),
           card("CD1_1", "-0.00125"),    card("CD1_2", "0.0021"),      card("CD2_1", "0.0021"),
           card("CD2_2", "0.00125"),     card("EQUINOX", "1950.0")};
     },
     200, 160, "FK4 B1950.0"},
    {"GalacticCar",
     [] {
       return std::vector<std::string>{
           card("CTYPE1", "'GLON-CAR'"), card("CTYPE2", "'GLAT-CAR'"), card("CRPIX1", "60.0"),  card("CRPIX2", "40.0"),
           card("CRVAL1", "120.0"),      card("CRVAL2", "0.0"),        card("CDELT1", "-0.05"), card("CDELT2", "0.05")};
     },
     120, 80, ""},
};

class SkyAgreement : public ::testing::TestWithParam<SkyCase> {};

// The corners, the centre, a grid across the image and half-pixel positions agree with
// astropy within 0.01 arcsec; the frame is astropy's.
TEST_P(SkyAgreement, MatchesAstropyAcrossTheImage) {
  const SkyCase& c = GetParam();
  const auto cards = c.cards();
  const SkyCoordinatesParse parsed = parse_sky_coordinates(cards);
  ASSERT_TRUE(parsed.wcs) << parsed.problem;
  std::vector<std::pair<double, double>> pixels{{1, 1},       {c.nx, 1},  {1, c.ny},
                                                {c.nx, c.ny}, {0.5, 0.5}, {(c.nx + 1) / 2.0, (c.ny + 1) / 2.0}};
  for (int i = 0; i <= 6; ++i)
    for (int j = 0; j <= 6; ++j) pixels.emplace_back(1 + (c.nx - 1) * i / 6.0 + 0.37, 1 + (c.ny - 1) * j / 6.0 - 0.21);
  const auto truth = astropy_sky(cards, pixels);
  if (!truth) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  ASSERT_EQ(truth->sky.size(), pixels.size());
  double worst = 0.0;
  for (std::size_t k = 0; k < pixels.size(); ++k) {
    const auto p = parsed.wcs->sky_at(pixels[k].first, pixels[k].second);
    ASSERT_TRUE(p) << pixels[k].first << " " << pixels[k].second;
    worst = std::max(worst, separation_arcsec(*p, truth->sky[k]));
    // And back: the pixel the position projects to is the one it came from.
    const auto back = parsed.wcs->pixel_at(*p);
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->lng, pixels[k].first, 1e-6);
    EXPECT_NEAR(back->lat, pixels[k].second, 1e-6);
  }
  EXPECT_LT(worst, 0.01) << "largest difference from astropy, arcsec";
  std::printf("[ wcslib vs astropy ] %s: largest difference %.2e arcsec over %zu positions\n", c.name.c_str(), worst,
              pixels.size());
  EXPECT_EQ(parsed.wcs->frame(), c.frame);
  if (!c.frame.empty()) {
    EXPECT_THAT(c.frame, HasSubstr(truth->radesys));
  }
}

INSTANTIATE_TEST_SUITE_P(Headers, SkyAgreement, ::testing::ValuesIn(kSkyCases),
                         [](const auto& info) { return info.param.name; });

// At the reference pixel the sky position is the reference value itself, printed whole.
TEST(SkyLine, TheReferencePixelShowsTheReferenceValue) {
  const auto sky = parse_sky_coordinates(field_header_cards(FieldOptions{}));
  ASSERT_TRUE(sky.wcs);
  EXPECT_EQ(sky_report_line("Sky position of the pixel: ", sky, 256.5, 256.5).value_or(""),
            "Sky position of the pixel: RA 10:47:49.600 Dec +12:34:54.00 = 161.9566670 +12.5816670 deg (FK5 J2000.0)");
}

TEST(SkyLine, NoneWithoutCelestialAxesAndAReasonForOnesThatCannotBeUsed) {
  EXPECT_FALSE(sky_report_line("x: ", parse_sky_coordinates({}), 1, 1));
  EXPECT_FALSE(
      sky_report_line("x: ", parse_sky_coordinates({card("EXPTIME", "300.0"), card("OBJECT", "'M51'")}), 1, 1));
  // A linear WCS (a spectrum's wavelength axis, say) has no sky position.
  EXPECT_FALSE(
      sky_report_line("x: ", parse_sky_coordinates({card("CTYPE1", "'WAVE'"), card("CRVAL1", "5000.0")}), 1, 1));
  const auto bad = parse_sky_coordinates(
      {card("CTYPE1", "'RA---TAN'"), card("CTYPE2", "'DEC--TAN'"), card("CDELT1", "0.0"), card("CDELT2", "0.0")});
  EXPECT_FALSE(bad.wcs);
  EXPECT_THAT(sky_report_line("x: ", bad, 1, 1).value_or(""),
              HasSubstr("x: none. The header's sky coordinates cannot be used: "));
}

struct Sexagesimal {
  double degrees;
  std::string hours, dms;
};
class SexagesimalText : public ::testing::TestWithParam<Sexagesimal> {};
TEST_P(SexagesimalText, RoundsOnceAndCarries) {
  EXPECT_EQ(sexagesimal_hours(GetParam().degrees), GetParam().hours);
  EXPECT_EQ(sexagesimal_degrees(GetParam().degrees), GetParam().dms);
}
INSTANTIATE_TEST_SUITE_P(Angles, SexagesimalText,
                         ::testing::Values(Sexagesimal{0.0, "00:00:00.000", "+00:00:00.00"},
                                           Sexagesimal{10.5, "00:42:00.000", "+10:30:00.00"},
                                           Sexagesimal{-0.5, "23:58:00.000", "-00:30:00.00"},
                                           Sexagesimal{359.9999999999, "00:00:00.000", "+360:00:00.00"},
                                           Sexagesimal{12.9999999999, "00:52:00.000", "+13:00:00.00"},
                                           Sexagesimal{202.4695750, "13:29:52.698", "+202:28:10.47"}));

}  // namespace
}  // namespace zelvo
