#include "platform/child_process.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace zelvo {

ChildOutcome run_in_child(const std::function<void()>& work) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return ChildOutcome::not_started;
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(sig, SIG_DFL);
    work();
    ::_exit(0);
  }
  int wstatus = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(child, &wstatus, 0);
  } while (waited < 0 && errno == EINTR);
  return waited == child && WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0 ? ChildOutcome::finished
                                                                            : ChildOutcome::died;
}

}  // namespace zelvo
