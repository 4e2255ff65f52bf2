// Repair of a bad column or row (a hot, warm or dead line of the detector): the line's bad run
// and its two immediate neighbours are replaced by the background interpolated across them.
#pragma once

#include <cstdint>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/satbar.h"

namespace zelvo {

enum class LineAxis { column, row };

// Repairs the line (column, or row) at the click (xc, yc):
// - the line is the one of the three nearest the click that stands out most from the pixels
//   two and three lines to each side, over the 21 pixels along it around the click;
// - its bad run is the stretch through the click whose pixels differ from the background
//   interpolated across the line (the mean of the lines at -3, -2 and +2, +3, linear across)
//   by more than 4 of its noise sigmas (the neighbours' pixel-to-pixel noise), gaps of up to
//   3 good pixels bridged: a dead line is repaired along its whole length, a hot one where hot;
// - the run's pixels, and the pixels of the two immediate neighbour lines that stand out by
//   more than 3 sigmas, become that interpolated background plus uniform noise (spread
//   `bgsigma`, or the measured noise when it is 0 or less), less the interpolation's own noise.
// Nothing two or more lines away changes. Writes REMOVESATBAR's debug lines (the maxima and the
// bar length) and reports the run's length as REMOVESATBAR does; the result undoes with
// restore_satbar. Refused (image untouched, one note) when the click is off the image, no
// line around it stands out, or no reference line lies inside the image.
SatBarResult repair_line(ImageView image, float xc, float yc, float bgsigma, LineAxis axis, const RemovalContext& ctx);

}  // namespace zelvo
