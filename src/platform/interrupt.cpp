#include "platform/interrupt.h"

#include <signal.h>

namespace zelvo {

namespace {
// The one piece of mutable process state: a signal handler can reach nothing else.
volatile std::sig_atomic_t sigint_seen = 0;

extern "C" void note_sigint(int) { sigint_seen = 1; }
}  // namespace

InterruptFlag install_sigint_handler() {
  struct sigaction sa {};
  sa.sa_handler = note_sigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: reads are interrupted
  sigaction(SIGINT, &sa, nullptr);
  return InterruptFlag(&sigint_seen);
}

}  // namespace zelvo
