// A guard against image sizes the machine cannot hold.
#pragma once

#include <cstddef>

namespace zelvo {

// True when an nx x ny image of 32-bit floats has positive sizes, does not overflow and
// fits in half the physical memory of the machine. Beyond that the program refuses the
// image rather than letting the system kill it while the pixels are being filled.
bool image_size_reasonable(long long nx, long long ny);

}  // namespace zelvo
