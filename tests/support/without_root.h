// Checks that depend on file permissions, which do not stop root: when the tests run as
// root (as in CI containers), the check runs in a child process that first gives up root
// for the unprivileged user "nobody".
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>

namespace zelvo::testing {

// The verdict of `check`, run without root privileges; nothing when root could not be given
// up; false when the check crashed. `check` must report through its result only: in the child, test assertions are
// lost. The files it touches must be reachable by "nobody" (open their folders up first).
inline std::optional<bool> without_root(const std::function<bool()>& check) {
  if (geteuid() != 0) return check();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return std::nullopt;
  if (!WIFEXITED(status)) return false;  // the check crashed
  if (WEXITSTATUS(status) == 3) return std::nullopt;
  return WEXITSTATUS(status) == 0;
}

}  // namespace zelvo::testing
