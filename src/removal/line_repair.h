// Repair of a bad column or row (a hot, warm or dead line of the detector): the line's bad run,
// found along its whole length, is replaced by the background interpolated across it.
#pragma once

#include <cstdint>
#include <string_view>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/satbar.h"

namespace zelvo {

enum class LineAxis { column, row };

// The bad run of a line, found before anything is changed (so the dialogue can name it).
struct LineDefect {
  bool found = false;
  std::string_view refusal;  // why nothing is to be repaired (when not found)
  LineAxis axis = LineAxis::column;
  int32_t line = 0;             // the column x (or row y) of the bad line
  int32_t from = 0, to = 0;     // the run along it: rows (or columns) from .. to
  float offset = 0.0f;          // the run's median difference from the background across it
  float sigma = 0.0f;           // scatter of a pixel of the line about that background
  bool neighbours_bad = false;  // a neighbouring line is off along the run as well
};

// Finds the bad run of the line (column, or row) at the click (xc, yc):
// - the line is the one of the three nearest the click that stands out most from the pixels
//   two and three lines to each side, over the 21 pixels along it around the click;
// - every pixel of it is compared with the background interpolated across it (a surface fitted
//   to the lines at -3, -2 and +2, +3 over 7 pixels along); the running median of these
//   differences over 21 pixels finds where the line is off: the run is the stretch through
//   the click (started within 5 pixels of it) where that median lies more than 4 of its own
//   noise and more than one pixel scatter from 0, gaps of up to 3 pixels bridged. So a line a
//   few sigma low along its whole length is found along its whole length, while a knot
//   crossing a good line is not a run.
// Not found (with the reason): the click off the image, no reference line inside the image,
// or no run through the click.
LineDefect find_line_defect(ConstImageView image, float xc, float yc, LineAxis axis);

// Repairs a found run: its pixels become the interpolated background plus uniform noise
// (spread `bgsigma`, or the scatter measured beside the line when it is 0 or less), less the
// interpolation's own noise. Where a neighbouring line's own running median is off by at
// least half the run's offset, that offset is taken out of it, so a knot on it keeps its shape;
// elsewhere it keeps its values.
// Nothing two or more lines away changes. Writes REMOVESATBAR's debug lines (the maxima and
// the run length) and reports the run's length as REMOVESATBAR does; the result undoes with
// restore_satbar. (xc, yc) is the click, for the debug line of the box maximum.
SatBarResult repair_line(ImageView image, const LineDefect& defect, float xc, float yc, float bgsigma,
                         const RemovalContext& ctx);

// Finds and repairs the line at the click; refused (image untouched, one note) when no run
// is found.
SatBarResult repair_line(ImageView image, float xc, float yc, float bgsigma, LineAxis axis, const RemovalContext& ctx);

}  // namespace zelvo
