// Answers typed at a terminal, edited with the arrow keys and recalled from the answers
// given earlier in the run (libedit). The session reads them through a std::istream, so
// the same reading code serves scripted input and a person at a terminal.
#pragma once

#include <cstdio>
#include <streambuf>
#include <string>

struct editline;  // libedit's editor and history, kept out of this header
struct history;

namespace zelvo {

class TerminalLineBuf : public std::streambuf {
 public:
  // `in` and `out` must be a terminal. `program` names the editor (for an ~/.editrc section).
  TerminalLineBuf(FILE* in, FILE* out, const char* program = "zelvo");
  ~TerminalLineBuf() override;
  TerminalLineBuf(const TerminalLineBuf&) = delete;
  TerminalLineBuf& operator=(const TerminalLineBuf&) = delete;

  // Whether the editor could be set up; when not, the caller reads the terminal plainly.
  bool ready() const { return el_ != nullptr; }

 protected:
  // Reads the next edited line (with its newline); end of input at Ctrl-D on an empty line.
  int_type underflow() override;

 private:
  ::editline* el_ = nullptr;
  ::history* hist_ = nullptr;
  std::string line_;
};

// Standard input and output are both terminals: answers can then be edited.
bool editing_possible();

}  // namespace zelvo
