// Tick arithmetic of a plot axis: the intervals giza chooses, widened until the numeric
// labels of an axis do not overlap.
#pragma once

#include <functional>

namespace zelvo {

// The nice tick intervals giza itself uses: 2, 5 or 10 times a power of ten, the smallest
// not below x (x > 0).
double nice_interval(double x);

// Minor ticks per major interval as giza chooses them: 2 for an interval of 2 x 10^k, else 5.
int minor_ticks(double d);

// A major tick interval for world range a..b on an axis `length` device units long at
// which consecutive labels, each centred on its tick, keep at least half a character
// apart. Starts where giza would (about seven character widths) and widens from there.
// `label_extent(k, d)` gives the extent along the axis, in device units, of the label at
// tick k of an axis with major interval d. 0 when the range or the length is not usable.
double readable_interval(double a, double b, double length, double char_width,
                         const std::function<double(long, double)>& label_extent);

}  // namespace zelvo
