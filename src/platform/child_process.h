// Running a piece of work that may crash in a child process, so that the crash ends only the
// child and the program can report it.
#pragma once

#include <functional>

namespace zelvo {

enum class ChildOutcome {
  finished,     // the child came to its end
  died,         // it crashed (quietly, for the program to report)
  not_started,  // no child process could be made
};

// Runs `work` in a child process and waits for it. The child also ends with the program, and leaves with _exit, so
// no buffered output is written twice and the graphics connection is left alone. Whatever
// `work` hands back must go through memory shared with this process (mmap MAP_SHARED).
ChildOutcome run_in_child(const std::function<void()>& work);

}  // namespace zelvo
