#include "platform/temporary_guard.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace zelvo {

namespace {

constexpr int kSlots = 4;
constexpr std::size_t kPathMax = 4096;
constexpr int kSignals[] = {SIGTERM, SIGHUP};

// What the handler may touch: fixed buffers and flags, written only with the two signals
// blocked.
char guarded_path[kSlots][kPathMax];
volatile std::sig_atomic_t guarded[kSlots] = {};
int active_guards = 0;
struct sigaction previous[2];

extern "C" void remove_guarded_and_go_on(int sig) {
  for (int i = 0; i < kSlots; ++i)
    if (guarded[i]) ::unlink(guarded_path[i]);
  // The signal's own course: the handler that was there before, or its default action.
  const int k = sig == SIGTERM ? 0 : 1;
  ::sigaction(sig, &previous[k], nullptr);
  ::raise(sig);
}

// Blocks SIGTERM and SIGHUP while the guard table changes.
struct SignalsHeld {
  sigset_t old;
  SignalsHeld() {
    sigset_t s;
    sigemptyset(&s);
    for (const int sig : kSignals) sigaddset(&s, sig);
    ::pthread_sigmask(SIG_BLOCK, &s, &old);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

}  // namespace

TemporaryGuard::TemporaryGuard(const std::string& path) {
  if (path.size() >= kPathMax) return;
  SignalsHeld held;
  for (int i = 0; i < kSlots; ++i) {
    if (guarded[i]) continue;
    std::memcpy(guarded_path[i], path.c_str(), path.size() + 1);
    guarded[i] = 1;
    slot_ = i;
    break;
  }
  if (slot_ < 0) return;
  if (active_guards++ == 0) {
    struct sigaction sa {};
    sa.sa_handler = remove_guarded_and_go_on;
    sigemptyset(&sa.sa_mask);
    for (const int sig : kSignals) sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, &previous[0]);
    ::sigaction(SIGHUP, &sa, &previous[1]);
    // An ignored signal (nohup) stays ignored: it ends nothing, so there is nothing to clean.
    for (int k = 0; k < 2; ++k)
      if (previous[k].sa_handler == SIG_IGN) ::sigaction(kSignals[k], &previous[k], nullptr);
  }
}

TemporaryGuard::~TemporaryGuard() {
  if (slot_ < 0) return;
  SignalsHeld held;
  guarded[slot_] = 0;
  if (--active_guards == 0) {
    ::sigaction(SIGTERM, &previous[0], nullptr);
    ::sigaction(SIGHUP, &previous[1], nullptr);
  }
}

}  // namespace zelvo
