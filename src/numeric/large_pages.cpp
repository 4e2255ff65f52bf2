#include "numeric/large_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace zelvo {

void ask_for_large_pages(void* p, std::size_t bytes) {
  constexpr std::size_t kWorthIt = std::size_t{4} << 20;
  if (p == nullptr || bytes < kWorthIt) return;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) return;
  const auto mask = static_cast<uintptr_t>(page) - 1;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + mask) & ~mask;
  const uintptr_t last = (reinterpret_cast<uintptr_t>(p) + bytes) & ~mask;
  // Only whole pages inside the block are advised.
  if (last > first) (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace zelvo
