// The fuzzing builds' image-size guard: the program's rules (positive sizes, no overflow)
// with a cap of 4 Mpixel instead of half the machine's memory. Fuzzed sizes are refused
// early instead of making every execution fill gigabytes; the refusal paths run the same.
#include "platform/memory.h"

namespace zelvo {

bool image_size_reasonable(long long nx, long long ny) {
  if (nx < 1 || ny < 1) return false;
  if (nx > 2147483647LL || ny > 2147483647LL) return false;
  return static_cast<unsigned long long>(nx) * static_cast<unsigned long long>(ny) <= (4ULL << 20);
}

}  // namespace zelvo
