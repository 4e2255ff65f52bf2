#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <vector>

#include "platform/line_editor.h"

namespace zelvo {

namespace {
// The size of the terminal on standard output; zero when it cannot be told.
ScreenSize stdout_size() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0) return {};
  return ScreenSize{ws.ws_col, ws.ws_row};
}

// A status line is drawn again at most this often while the work goes on.
constexpr std::chrono::milliseconds kStatusInterval(50);
// At most this many of the lines printed since the last answer are shown again after a clear.
constexpr std::size_t kKeptLines = 12;
}  // namespace

Console::Console(std::istream& in, std::ostream& out, bool terminal)
    : in_(in), out_(out), terminal_(terminal), screen_size_(stdout_size) {}

Console::~Console() {
  hide_status();
  panel_.close(out_);
}

ScreenSize Console::screen() const { return screen_size_ ? screen_size_() : ScreenSize{}; }

void Console::line(std::string_view text) {
  if (panel_.active() && help_focus_) {
    panel_.add_line(text);
    return;
  }
  hide_status();
  if (!out_) out_.clear();  // a write cut short by a signal must not silence the rest
  out_ << text << '\n';
  show_status();
  if (terminal_) {
    if (unanswered_.size() == kKeptLines) unanswered_.erase(unanswered_.begin());
    unanswered_.emplace_back(text);
  }
}

void Console::hide_status() {
  if (!status_shown_) return;
  out_ << '\r' << std::string(status_.size(), ' ') << '\r';
  status_shown_ = false;
}

void Console::show_status() {
  if (status_.empty() || status_shown_) return;
  out_ << status_;
  out_.flush();
  status_shown_ = true;
  status_drawn_ = std::chrono::steady_clock::now();
}

void Console::progress(std::string_view text) {
  if (!terminal_) return;
  const auto now = std::chrono::steady_clock::now();
  if (status_shown_ && now - status_drawn_ < kStatusInterval) {
    status_.assign(text);  // shown with the next line or update
    return;
  }
  hide_status();
  status_.assign(text);
  show_status();
}

void Console::progress_done() {
  hide_status();
  status_.clear();
}

void Console::record(std::initializer_list<ListValue> items) { line(list_record(items)); }

void Console::notice(std::string_view t) { text(t); }

void Console::log_failure(const std::string& name, const std::string& line) {
  if (std::find(failed_logs_.begin(), failed_logs_.end(), name) != failed_logs_.end()) return;
  failed_logs_.push_back(name);
  failure_lines_.push_back(line);
  notice(line);
}

void Console::clear() {
  if (!terminal_) return;
  status_shown_ = false;
  out_ << "\x1b[H\x1b[2J";
  panel_.after_clear(out_, screen());
  // What the user has not answered yet is kept for the next read; what is printed from
  // here on (the menu) comes first.
  show_unanswered_ = show_unanswered_ || !unanswered_.empty();
  held_.insert(held_.end(), unanswered_.begin(), unanswered_.end());
  if (held_.size() > kKeptLines) held_.erase(held_.begin(), held_.end() - static_cast<std::ptrdiff_t>(kKeptLines));
  unanswered_.clear();
}

void Console::flush() { out_.flush(); }

void Console::open_help_window() {
  const HelpLayout layout = terminal_ ? choose_help_layout(screen()) : HelpLayout::in_line;
  if (layout != HelpLayout::in_line) {
    hide_status();
    panel_.open(layout, screen(), out_);
    return;
  }
  line("");
  line("+------------------------------- Help Window --------------------------------+");
}

void Console::close_help_window() { panel_.close(out_); }

std::string Console::read_line() {
  if (interrupt_.raised()) {
    throw Interrupted();
  }
  if (before_read_) before_read_();
  hide_status();
  if (show_unanswered_) {
    // The lines a clear wiped before the user could read them, under what came after it.
    out_ << '\n';
    for (const std::string& l : held_) out_ << l << '\n';
    show_unanswered_ = false;
  }
  held_.clear();
  if (panel_.active()) {
    panel_.repaint(out_, screen());
    if (help_focus_) panel_.end_page();  // the answer's help text starts a new page
  }
  out_.flush();
  std::string s;
  unanswered_.clear();
  if (wait_for_input_ && in_.rdbuf() && in_.rdbuf()->in_avail() == 0) {
    wait_for_input_();
    if (interrupt_.raised()) {
      out_ << '\n';
      throw Interrupted();
    }
  }
  if (!std::getline(in_, s)) {
    // A read cut short by Ctrl-C is no end of input: the stream is made usable again.
    if (interrupt_.raised()) {
      in_.clear();
      std::clearerr(stdin);
      if (!out_) out_.clear();
      out_ << '\n';
      throw Interrupted();
    }
    throw EndOfInput();
  }
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

char Console::read_char() {
  const std::string s = read_line();
  return s.empty() ? ' ' : s[0];
}

void Console::read_list(std::initializer_list<ListTarget> targets) { read_items(targets, false); }

bool Console::read_list_or_keep(std::initializer_list<ListTarget> targets) { return read_items(targets, false, true); }

bool Console::read_items(std::initializer_list<ListTarget> targets, bool slash_in_text, bool blank_keeps) {
  std::vector<ListTarget> want(targets);
  std::size_t next = 0;
  while (next < want.size()) {
    bool slash = false;
    const std::string s = read_line();
    if (blank_keeps && next == 0 && s.find_first_not_of(" \t") == std::string::npos) return false;
    const auto items = split_list_items(s, slash, slash_in_text);
    for (const auto& item : items) {
      if (next >= want.size()) break;
      if (!store_list_item(want[next], item)) {
        line(" Expected " + std::string(list_target_kind(want[next])) + " but read '" + item.text +
             "'; please type it again:");
        break;  // the rest of this line is dropped; the value is asked for again
      }
      ++next;
    }
    if (slash) return true;
  }
  return true;
}

int32_t Console::read_int() {
  int32_t v = 0;
  read_list({&v});
  return v;
}

float Console::read_real() {
  float v = 0.0f;
  read_list({&v});
  return v;
}

std::string Console::read_text() {
  std::string v;
  read_list({&v});
  return v;
}

namespace {

// The file name in an answer line: see Console::read_file_name. Nothing for a blank line.
std::optional<std::string> file_name_in(std::string_view line) {
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  const auto last = line.find_last_not_of(" \t");
  const std::string_view t = line.substr(first, last - first + 1);
  const char q = t.front();
  if (q != '\'' && q != '"') return std::string(t);
  // Quoted: the text up to the closing quote (a doubled quote is one quote character).
  std::string name;
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (t[i] != q) {
      name += t[i];
    } else if (i + 1 < t.size() && t[i + 1] == q) {
      name += q;
      ++i;
    } else {
      return name;
    }
  }
  return name;  // no closing quote: the rest of the line
}

}  // namespace

std::string Console::read_file_name() {
  // Tab completes file names on a terminal, and only at this question.
  TerminalLineBuf* editor = dynamic_cast<TerminalLineBuf*>(in_.rdbuf());
  struct Completion {
    TerminalLineBuf* ed;
    explicit Completion(TerminalLineBuf* e) : ed(e) {
      if (ed) ed->complete_file_names(true);
    }
    ~Completion() {
      if (ed) ed->complete_file_names(false);
    }
  } completion(editor);
  for (;;) {
    if (auto name = file_name_in(read_line())) return *name;
  }
}

int Console::help_page_rows() const {
  if (!terminal_) return 0;
  if (panel_.active()) return panel_.text_rows(screen());
  const ScreenSize size = screen();
  // The help follows the menu: a page and the "more" line fill the screen.
  return size.rows > 4 ? size.rows - 2 : 0;
}

}  // namespace zelvo
