// Answers typed at a terminal, edited with the arrow keys and recalled from the answers
// given earlier in the run (libedit). The session reads them through a std::istream, so
// the same reading code serves scripted input and a person at a terminal.
#pragma once

#include <cstdio>
#include <streambuf>
#include <string>
#include <vector>

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

  // While on, Tab completes the file name typed so far (the file-name questions); while
  // off, Tab is typed as it is.
  void complete_file_names(bool on) { files_ = on; }

 protected:
  // Reads the next edited line (with its newline); end of input at Ctrl-D on an empty line.
  int_type underflow() override;

 private:
  // The Tab key: completes a file name, or inserts the tab.
  static unsigned char tab_key(::editline* el, int ch);

  FILE* out_ = nullptr;
  bool files_ = false;
  ::editline* el_ = nullptr;
  ::history* hist_ = nullptr;
  std::string line_;
};

// What Tab adds to a file name typed so far (`typed`, a path or a name in the working
// folder): the characters every matching name shares beyond it, and "/" after a folder that
// is the only match. When several names match and nothing can be added, `matches` lists
// them (names only, sorted) so they can be shown.
struct FileNameCompletion {
  std::string insert;
  std::vector<std::string> matches;
};
FileNameCompletion complete_file_name(const std::string& typed);

// Standard input and output are both terminals: answers can then be edited.
bool editing_possible();

}  // namespace zelvo
