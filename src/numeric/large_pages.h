// Large memory pages for large images.
#pragma once

#include <cstddef>

namespace zelvo {

// Asks the kernel to back the not yet touched memory at [p, p + bytes) with large pages
// where it can (a hint; blocks under 4 MiB are left alone). A 64 MiB image then takes 32
// page faults instead of 16384, which is most of the cost of filling fresh memory, and
// work on a small area of a wide image misses the address cache far less often.
void ask_for_large_pages(void* p, std::size_t bytes);

}  // namespace zelvo
