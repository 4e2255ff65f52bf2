// Ctrl-C (SIGINT) as a request to stop the current work, never as the end of the program.
#pragma once

#include <csignal>

#include "numeric/stop_request.h"

namespace zelvo {

// The flag a SIGINT handler sets. The handler only stores into it; everything else (stopping
// long loops, abandoning a prompt, clearing it at the main menu) happens in ordinary code.
class InterruptFlag {
 public:
  explicit InterruptFlag(volatile std::sig_atomic_t* flag = nullptr) : flag_(flag) {}
  bool raised() const { return flag_ != nullptr && *flag_ != 0; }
  void raise() {
    if (flag_) *flag_ = 1;
  }
  void clear() {
    if (flag_) *flag_ = 0;
  }
  StopRequest stop_request() const { return StopRequest(flag_); }

 private:
  volatile std::sig_atomic_t* flag_;
};

// Installs the SIGINT handler (without SA_RESTART, so a blocking read returns EINTR and the
// line reader can give up its line) and returns the flag it sets. The program has one.
InterruptFlag install_sigint_handler();

}  // namespace zelvo
