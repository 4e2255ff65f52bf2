// Keeping a header's world coordinate system true when an edit moves pixels about.
#pragma once

#include <array>
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

}  // namespace zelvo
