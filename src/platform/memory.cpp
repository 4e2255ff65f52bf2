#include "platform/memory.h"

#include <unistd.h>

namespace zelvo {

bool image_size_reasonable(long long nx, long long ny) {
  if (nx < 1 || ny < 1) return false;
  if (nx > 2147483647LL || ny > 2147483647LL) return false;
  const unsigned long long n = static_cast<unsigned long long>(nx) * static_cast<unsigned long long>(ny);
  if (n > (1ULL << 40)) return false;
  const unsigned long long bytes = n * sizeof(float);
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) {
    const unsigned long long phys = static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(page);
    if (bytes > phys / 2) return false;
  }
  return true;
}

}  // namespace zelvo
