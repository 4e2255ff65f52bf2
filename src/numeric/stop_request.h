// A cheap check, polled by long loops, of whether the user asked the work to stop (Ctrl-C).
#pragma once

#include <csignal>

namespace zelvo {

// Reads a flag that a signal handler sets; a default StopRequest never asks to stop. Kernels
// take it by value and poll it between units of work (a row, a test radius, an object) and
// return what they finished, so the caller can leave everything consistent.
class StopRequest {
 public:
  StopRequest() = default;
  explicit StopRequest(const volatile std::sig_atomic_t* flag) : flag_(flag) {}
  bool requested() const { return flag_ != nullptr && *flag_ != 0; }

 private:
  const volatile std::sig_atomic_t* flag_ = nullptr;
};

}  // namespace zelvo
