// Scripted sessions run in a child process with a time limit, so that a crash, a sanitizer
// report or a hang is caught and reported as a test failure instead of ending the test run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/session_harness.h"

namespace zelvo::testing {

struct IsolatedRun {
  bool exited = false;  // the child returned from the session and exited by itself
  int exit_code = -1;   // its exit status when it exited
  int signal = 0;       // the signal that ended it otherwise (SIGALRM: it overran its time)
  bool timed_out = false;
  bool output_capped = false;  // it printed more than the cap (an endless printing loop)
  std::string out;             // what the session printed (cut at the cap)
  std::string err;             // the child's standard error: sanitizer reports, giza warnings

  // No crash, no hang, no sanitizer report, exit status 0, the closing lines printed.
  bool clean() const;
  // No crash, no hang, no sanitizer report, exit status 0.
  bool ended_well() const;
  // One line saying how the run went wrong, for failure messages.
  std::string verdict() const;
};

// Runs `body` in a forked child that works in `dir` and is killed after `seconds`; the text
// it returns becomes `out`. `clean()` then asks for the closing lines only when the body
// printed them (a whole session); use `ended_well()` for a single command.
IsolatedRun run_isolated_call(const ScratchFolder& dir, const std::function<std::string()>& body,
                              unsigned seconds = 30);

// Runs the session like run_session (in `dir`, graphics on /null, fixed seed), but in a
// forked child that is killed after `seconds`. Output beyond `max_output` bytes is dropped.
IsolatedRun run_isolated(const ScratchFolder& dir, const std::vector<std::string>& lines, unsigned seconds = 30,
                         std::size_t max_output = 4u << 20);

}  // namespace zelvo::testing
