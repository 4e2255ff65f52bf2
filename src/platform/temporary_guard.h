// A temporary file that SIGTERM or SIGHUP must not leave behind: a batch system's time limit
// or a closed terminal ends the program in the middle of a write, and the handler removes the
// temporary before the signal ends the program as it would have.
#pragma once

#include <string>

namespace zelvo {

// While it lives, `path` is removed if SIGTERM or SIGHUP arrives; the signal then takes its
// usual course (the previous handler, or the default action of ending the program). Guards
// nest, up to four files at a time (a fifth is not guarded). The path is copied, so the
// handler reads nothing that may be changing.
class TemporaryGuard {
 public:
  explicit TemporaryGuard(const std::string& path);
  ~TemporaryGuard();
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;

 private:
  int slot_ = -1;
};

}  // namespace zelvo
