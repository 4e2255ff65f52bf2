#include "platform/line_editor.h"

#include <dirent.h>
#include <histedit.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace zelvo {

namespace {
// The questions are printed on the line above the answer, so the editor shows no prompt.
const char* no_prompt(EditLine*) { return ""; }

// Answers kept for recall during one run.
constexpr int kHistorySize = 500;
}  // namespace

FileNameCompletion complete_file_name(const std::string& typed) {
  FileNameCompletion c;
  const auto slash = typed.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? typed : typed.substr(slash + 1);
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return c;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' && (base.empty() || base[0] != '.')) continue;  // hidden unless asked for
    if (name.compare(0, base.size(), base) == 0) names.push_back(name);
  }
  ::closedir(dir);
  if (names.empty()) return c;
  std::sort(names.begin(), names.end());
  // The part all matches share.
  std::size_t common = names.front().size();
  for (const auto& n : names) {
    std::size_t k = 0;
    while (k < common && k < n.size() && n[k] == names.front()[k]) ++k;
    common = k;
  }
  c.insert = names.front().substr(base.size(), common - base.size());
  if (names.size() == 1) {
    struct stat st {};
    if (::stat((folder + names.front()).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) c.insert += '/';
  } else if (c.insert.empty()) {
    c.matches = std::move(names);
  }
  return c;
}

unsigned char TerminalLineBuf::tab_key(EditLine* el, int ch) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  const auto* self = static_cast<const TerminalLineBuf*>(data);
  if (!self || !self->files_) {
    const char typed[2] = {static_cast<char>(ch), '\0'};
    el_insertstr(el, typed);
    return CC_REFRESH;
  }
  // The whole answer is the name: what stands before the cursor, without leading blanks or
  // an opening quote.
  const LineInfo* line = el_line(el);
  std::string typed(line->buffer, static_cast<std::size_t>(line->cursor - line->buffer));
  typed.erase(0, std::min(typed.size(), typed.find_first_not_of(" \t")));
  if (!typed.empty() && (typed[0] == '\'' || typed[0] == '"')) typed.erase(0, 1);
  const FileNameCompletion c = complete_file_name(typed);
  if (!c.insert.empty()) {
    el_insertstr(el, c.insert.c_str());
    return CC_REFRESH;
  }
  if (c.matches.empty()) return CC_REFRESH_BEEP;
  // Several names begin alike: show them under the answer, then the answer again.
  std::fputc('\n', self->out_);
  for (const auto& m : c.matches) std::fprintf(self->out_, "%s  ", m.c_str());
  std::fputc('\n', self->out_);
  return CC_REDISPLAY;
}

TerminalLineBuf::TerminalLineBuf(FILE* in, FILE* out, const char* program) : out_(out) {
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
  el_set(el_, EL_CLIENTDATA, this);
  // The wide form keeps these static strings as they are; the narrow one copies them and never
  // frees the copies.
  el_wset(el_, EL_ADDFN, L"zelvo-tab", L"Complete a file name (at file-name questions)", tab_key);
  el_set(el_, EL_BIND, "^I", "zelvo-tab", nullptr);
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
