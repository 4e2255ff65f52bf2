// Integer conversions with the program's fixed conventions.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace zelvo {

// INT(x): truncation toward zero, saturated at the 32-bit range so that huge or
// non-finite values never cause undefined behaviour (NaN gives 0).
inline int32_t INT(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

// Nearest pixel: INT(x + 0.5).
inline int32_t nint_pixel(double x) { return INT(x + 0.5); }

// INT(c * n) for a single-precision constant c, with the product formed in double
// precision: INT(0.9 * 100) is 89 and INT(0.9 * 60000) is 53999, because 0.9f lies
// just below 0.9.
inline int32_t int_scaled(float c, double n) { return INT(static_cast<double>(c) * n); }

}  // namespace zelvo
