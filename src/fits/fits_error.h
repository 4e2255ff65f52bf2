// How a FITS read or write says what went wrong: a value the caller reports, instead of
// CFITSIO's global message stack.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

struct FitsError {
  int status = 0;                  // CFITSIO status; 0 when nothing failed
  std::string text;                // CFITSIO's short text for `status`
  std::vector<std::string> stack;  // what happened, oldest first: CFITSIO's messages taken where
                                   // it failed, and the program's own, in the order they arose

  bool failed() const { return status > 0; }
  // Adds a message after those held, as CFITSIO keeps them: cut to 80 characters, and only
  // the newest kFitsMessageDepth kept.
  void add(std::string_view message);
};

// CFITSIO keeps at most this many messages; the oldest go first.
inline constexpr std::size_t kFitsMessageDepth = 25;

// Moves CFITSIO's message stack (which it empties) into `e`, after the messages `e` holds.
void take_fits_messages(FitsError& e);

// The failure `status` (> 0) with CFITSIO's text for it, CFITSIO's messages taken from its
// stack, then the program's own messages `own`.
FitsError fits_failure(int status, std::initializer_list<std::string_view> own = {});

// Gives `e` the status and CFITSIO's text for it, taking the messages CFITSIO has added
// since `e` was made; a status of 0 or less leaves `e` without failure.
void set_fits_status(FitsError& e, int status);

}  // namespace zelvo
