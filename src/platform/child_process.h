// Running a piece of work that may crash in a child process, so that the crash ends only the
// child and the program can report it.
#pragma once

#include <functional>
#include <optional>

namespace zelvo {

// Runs `work` in a child process and waits for it: true when the child came to its end,
// false when it died (a crash ends it quietly, for the program to report), nothing when no
// child could be started. The child also ends with the program, and leaves with _exit, so
// no buffered output is written twice and the graphics connection is left alone. Whatever
// `work` hands back must go through memory shared with this process (mmap MAP_SHARED).
std::optional<bool> survives_in_child(const std::function<void()>& work);

}  // namespace zelvo
