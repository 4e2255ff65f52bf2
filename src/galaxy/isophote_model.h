// A smooth image of a galaxy from its isophotes, and what is left when it is taken away.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "galaxy/isophote_fit.h"
#include "numeric/image_view.h"

namespace zelvo {

// The galaxy's light above `sky` at every pixel of an nx x ny image. Centre, ellipticity and
// angle are interpolated linearly along the semi-major axis and the intensity with a
// monotone cubic; each pixel gets the intensity of the interpolated isophote passing through
// it, found directly (no ellipses are walked, so no pixel is missed or met twice). Pixels
// beyond the largest isophote are 0. Isophotes without a finite intensity are left out.
Image build_isophote_model(std::span<const Isophote> isophotes, int nx, int ny, double sky);

// frame - model, pixel by pixel (pixels without light, not finite, -999 or -99999, stay as they are).
Image residual_image(ConstImageView frame, ConstImageView model);

// The level a galaxy's model stands on, and the sky around it. The model is the light above
// the intensity of the largest isophote, so that it ends there without a step even where the
// galaxy has not faded into the sky (a frame it fills); `beyond` is the sigma-clipped mean of
// the usable pixels of the elliptical annulus from the largest isophote out to 1.3 times it,
// for comparison (the level itself when fewer than 50 such pixels are on the frame).
struct GalaxySky {
  double level = 0.0;   // subtracted from the isophotes' intensities
  double beyond = 0.0;  // the sky beyond the largest isophote
  double sigma = 0.0;   // spread of its kept pixels
  int32_t pixels = 0;   // pixels it is measured on
};
GalaxySky sky_beyond(ConstImageView image, std::span<const uint8_t> mask, const Isophote& largest);

}  // namespace zelvo

namespace zelvo {

// A galaxy fitted and modelled in one call: the isophotes, the sky beyond them and the model
// of the light above that sky (empty when the fit was refused).
struct IsophoteModel {
  IsophoteFit fit;
  GalaxySky sky;
  Image model;
};
IsophoteModel model_galaxy(ConstImageView image, const IsophoteRequest& req);

// A first guess of a galaxy's shape around (x, y) from the second moments of the light above
// the median of the ring just beyond `radius`; the centre is (x, y). Round (eps 0) when there
// is no light above it.
EllipseShape starting_shape(ConstImageView image, double x, double y, double radius);

// A circle of radius r (pixels whose centres lie within r of (x, y)) set in an nx x ny mask.
void mask_circle(std::vector<uint8_t>& mask, int nx, int ny, double x, double y, double r);

}  // namespace zelvo
