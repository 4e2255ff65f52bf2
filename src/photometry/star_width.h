// The width of a star under the cursor: a circular Moffat and a circular Gaussian profile
// fitted to the pixels around it (centre, peak, sky and width free), the better fit kept,
// as an image examiner's radial-profile plot measures it.
#pragma once

#include "numeric/image_view.h"

namespace zelvo {

enum class StarModel { moffat, gaussian };

struct StarWidth {
  enum class Status {
    fitted,   // the values below hold
    no_star,  // nothing stands out of the sky around the click (a fitted peak below five times
              // the scatter about the fit, or a profile narrower than one pixel: noise or a
              // cosmic-ray hit), or the fit did not converge
  };
  Status status = Status::no_star;
  StarModel model = StarModel::moffat;  // the profile that fitted better
  double fwhm = 0.0;                    // full width at half maximum, pixels
  double beta = 0.0;                    // Moffat's power (0 for the Gaussian)
  double x = 0.0;                       // fitted centre, pixel coordinates (pixel (i, j) centred at (i, j))
  double y = 0.0;
  double peak = 0.0;  // height above the sky at the centre
  double sky = 0.0;   // fitted constant background
  int radius = 0;     // the fit used the pixels within this distance of the centre
};

// Fits the star nearest to (x, y): the brightest pixel within 2 pixels of the click is the
// first centre, the pixels within 7 pixels of it the first sample; the sample radius then
// follows the measured width (twice the FWHM, 7 to 25 pixels) and the fit is repeated.
// Undefined pixels (NaN, infinities) and pixels off the image are left out.
StarWidth measure_star_width(ConstImageView image, float x, float y);

// The median of the finite pixels of the (2h + 1) x (2h + 1) box centred on the pixel
// nearest to (x, y) (the box of the pixel analysis); 0 when none is finite. An even count
// gives the mean of the two middle values.
float box_median(ConstImageView image, float x, float y, int h);

}  // namespace zelvo
