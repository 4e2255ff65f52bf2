// Keeping a header's world coordinate system true when an edit moves pixels about.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

// How an edit moves pixels: new pixel position p' came from old position
// p = M p' + t, in FITS pixel coordinates (the centre of pixel (i, j) at (i, j)).
// M is a signed permutation (a crop: the identity; a quarter turn or a mirror: one +-1 per
// row and column).
struct PixelMap {
  std::array<std::array<int, 2>, 2> m{{{1, 0}, {0, 1}}};
  std::array<double, 2> t{0.0, 0.0};
};

// The map of a crop whose first column and row are x1, y1.
PixelMap crop_map(int x1, int y1);
// One quarter turn clockwise (y upwards) of an image `nx` columns wide: new (x', y') is old
// (nx + 1 - y', x').
PixelMap quarter_turn_map(int nx);
// Mirrors: left to right, new x is old nx + 1 - x; top to bottom, new y is old ny + 1 - y.
PixelMap mirror_x_map(int nx);
PixelMap mirror_y_map(int ny);

// Rewrites the WCS cards of a header (80-column cards) so that every pixel keeps its sky
// position after the edit `map` describes: CRPIXja; the CDi_ja or PCi_ja matrix, or CDELTia
// with CROTAi; the SIP polynomials (A, B, AP, BP); and IRAF's LTVi/LTMi_j, for the primary
// description and each alternate one (letters A-Z). Cards of other kinds are left as they are;
// values are rewritten with their names and comments kept, and cards that the new WCS needs
// but the header lacked are added after the related cards. A header without WCS cards is
// left alone.
void transform_wcs_cards(std::vector<std::string>& cards, const PixelMap& map);

// Before the first edit of an image `nx` x `ny`: the forms of a WCS that transform_wcs_cards
// cannot carry are made standard or removed. The old matrices CD00i00j and PC00i00j become
// CDi_j and PCi_j; a DSS plate solution (PLTRAH..., AMDXn, CNPIXn) becomes a TAN projection
// with CRPIXj and CDi_j fitted to the solution over the image, when that fit is within
// kDssFitTolerance pixels everywhere. A WCS that cannot be carried (a DSS solution that cannot
// be read or fitted, a WCS card given twice with different values) is removed; a second copy
// with the same value is dropped, so the edit cannot leave it behind. Returns the line that
// tells what was done, or nothing when the header needed nothing.
inline constexpr double kDssFitTolerance = 0.5;
std::optional<std::string> standardise_wcs_cards(std::vector<std::string>& cards, int nx, int ny);

// The card with a number in FITS's Fortran form (1.403D+02) written with an E exponent, so that
// every reader takes the whole number; other cards unchanged.
std::string with_e_exponent(const std::string& card);

// Whether the plate-solution terms of a header (AMDXn, AMDYn) can be given to wcslib: none at
// all, or both families present, each card named AMDX or AMDY with a number 1-99 (no leading
// 0) and holding a number. wcslib's DSS reader writes outside its memory otherwise.
bool dss_terms_sound(const std::vector<std::string>& cards);

// The first keyword of a WCS (any description) that the cards give twice with different
// values, or "".
std::string duplicated_wcs_keyword(const std::vector<std::string>& cards);

}  // namespace zelvo
