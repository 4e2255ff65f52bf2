// The sky level of a galaxy frame measured where the galaxy's light has ended: the frame is
// cut into square boxes, each box beyond the extent gets its clipped level, and the faintest
// boxes that agree with one another are taken as empty sky.
#pragma once

#include <cstdint>

#include "numeric/image_view.h"
#include "numeric/stop_request.h"

namespace zelvo {

// Fewer boxes than this beyond the extent: no empty sky is found.
inline constexpr int32_t kFewestSkyBoxes = 3;

struct SkyBoxes {
  bool found = false;    // at least kFewestSkyBoxes boxes lie beyond the extent
  bool stopped = false;  // the measurement was stopped part of the way
  int32_t box = 0;       // side of a box (pixels)
  int32_t beyond = 0;    // boxes lying beyond the extent
  int32_t used = 0;      // of them, the boxes taken as empty sky
  float sky = 0.0f;      // mean level of the used boxes
  float scatter = 0.0f;  // spread of the used boxes' levels about it
  float sigma = 0.0f;    // median pixel spread inside the used boxes
  // Uncertainty of the level: the part of the scatter that the pixel noise does not explain
  // (the sky's own variation across the frame, which lies under the galaxy as well) and the
  // scatter over sqrt(used), in quadrature.
  float err = 0.0f;
};

// The side of the boxes for an nx x ny frame: a sixteenth of the shorter side, 8 to 64 pixels.
int32_t sky_box_side(int nx, int ny);

// Measures the sky of `image` beyond the ellipse of semi-major axis R (eccentricity e,
// position angle pa in radians from +x towards +y) around (xc, yc). The outermost rows and
// columns never count, nor do undefined pixels (those the flux profile leaves out). A box
// counts when three quarters of its pixels lie beyond the extent; its level is the 3-sigma
// clipped mean of those pixels (at most 32 x 32 of them, every other pixel in boxes above 63). Galaxy light only adds
// to the sky, so the sky is read from the faintest boxes: the median of the faintest tenth (at least 3) sets the level,
// and every box from the faintest up to as far above that median as the faintest lies below it (at least 3 times a box
// level's noise) is taken. `stop` is polled before each row of boxes.
SkyBoxes sky_from_boxes(ConstImageView image, float xc, float yc, float R, float e, float pa, StopRequest stop = {});

}  // namespace zelvo
