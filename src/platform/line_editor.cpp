#include "platform/line_editor.h"

#include <histedit.h>
#include <unistd.h>

namespace zelvo {

namespace {
// The questions are printed on the line above the answer, so the editor shows no prompt.
const char* no_prompt(EditLine*) { return ""; }

// Answers kept for recall during one run.
constexpr int kHistorySize = 500;
}  // namespace

TerminalLineBuf::TerminalLineBuf(FILE* in, FILE* out, const char* program) {
  el_ = el_init(program, in, out, stderr);
  hist_ = history_init();
  if (!el_ || !hist_) {
    if (el_) el_end(el_);
    if (hist_) history_end(hist_);
    el_ = nullptr;
    hist_ = nullptr;
    return;
  }
  HistEvent ev;
  history(hist_, &ev, H_SETSIZE, kHistorySize);
  history(hist_, &ev, H_SETUNIQUE, 1);  // one entry for an answer repeated at once
  el_set(el_, EL_EDITOR, "emacs");
  el_set(el_, EL_PROMPT, no_prompt);
  el_set(el_, EL_HIST, history, hist_);
  el_set(el_, EL_SIGNAL, 1);  // the terminal is put back in order on Ctrl-C and friends
}

TerminalLineBuf::~TerminalLineBuf() {
  if (el_) el_end(el_);
  if (hist_) history_end(hist_);
}

TerminalLineBuf::int_type TerminalLineBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (!el_) return traits_type::eof();
  int count = 0;
  const char* got = el_gets(el_, &count);
  if (!got || count <= 0) return traits_type::eof();
  line_.assign(got, static_cast<std::size_t>(count));
  if (line_.back() != '\n') line_.push_back('\n');
  if (line_.size() > 1) {
    HistEvent ev;
    const std::string entry = line_.substr(0, line_.size() - 1);
    history(hist_, &ev, H_ENTER, entry.c_str());
  }
  setg(line_.data(), line_.data(), line_.data() + line_.size());
  return traits_type::to_int_type(*gptr());
}

bool editing_possible() { return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0; }

}  // namespace zelvo
