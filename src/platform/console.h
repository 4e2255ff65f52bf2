// The command window (and the help window) realised in one terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <vector>

#include "platform/help_panel.h"
#include "platform/interrupt.h"
#include "platform/list_io.h"

namespace zelvo {

// Thrown by every read when standard input is closed. The session catches it, says
// "End of input; leaving without saving." and ends normally.
struct EndOfInput : std::runtime_error {
  EndOfInput() : std::runtime_error("end of input") {}
};

// Thrown by every read after Ctrl-C (during the read or before it): the command is abandoned
// and the session goes back to its main menu. `what()` is the line that says so; long work
// that stops for Ctrl-C throws it with a line saying what was done and what was not.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("Ctrl-C: the command was abandoned; back at the main menu.") {}
  explicit Interrupted(const std::string& line) : std::runtime_error(line) {}
};

class Console {
 public:
  // `terminal`: whether `out` is a terminal (clearing is an ANSI sequence there, nothing otherwise).
  Console(std::istream& in, std::ostream& out, bool terminal = false);
  // Closes a help panel, so that the terminal scrolls as a whole again.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // --- output -------------------------------------------------------------
  // Prints the text as it stands, followed by a newline.
  void line(std::string_view text);
  // Prints a free-format record: leading blank, items separated by blanks.
  void record(std::initializer_list<ListValue> items);
  // Prints an empty line.
  void blank() { line(""); }
  // Prints a text of the help or menu tables: list-style, with its leading blank column.
  void text(std::string_view t) { line(" " + std::string(t)); }
  // Clears the command window (ANSI clear on a terminal, nothing otherwise). Lines printed
  // since the user's last answer (the end of the last command: a failure, a refusal) are
  // not lost with the screen: they are shown again, below what follows the clear, just
  // before the next answer is read, and stay until then.
  void clear();
  std::ostream& out() { return out_; }
  void flush();
  // Prints a text line (as text()) that must stay readable; like every line printed since
  // the last answer, it is shown again when a clear wipes it before the next read.
  void notice(std::string_view t);
  // Reports a failure of the log `name` (a file of the working folder): one line, at most
  // once per log for the whole session, so that the work can go on quietly.
  void log_failure(const std::string& name, const std::string& line);
  // The lines log_failure printed, one per failed log, oldest first.
  const std::vector<std::string>& log_failures() const { return failure_lines_; }

  // Shows how far a long piece of work has come ("object 12 of 100") on a status line under
  // the output, which later lines push down; progress_done() removes it. Only on a terminal:
  // nothing is written otherwise, so scripted output stays as it is.
  void progress(std::string_view text);
  void progress_done();

  // Text windows. While the help window has the focus, lines go to it. On a terminal wide
  // or tall enough it is a panel beside or below the command area that the menu clears
  // leave standing; otherwise its lines follow a title line in the command window.
  void open_help_window();
  void close_help_window();
  void focus_command() { help_focus_ = false; }
  void focus_help() { help_focus_ = true; }
  // The terminal's size (columns and rows) is asked from this function (tests set one).
  void set_screen_size_query(std::function<ScreenSize()> query) { screen_size_ = std::move(query); }

  // --- input --------------------------------------------------------------
  // Reads one line (without its newline). Throws EndOfInput at end of input.
  std::string read_line();
  // One-letter answers: the first character of the line, blank for an empty line.
  char read_char();
  // One list-directed read: fills the targets in order from as many lines as needed.
  // A value of the wrong kind gets one line saying what was expected and is asked again;
  // a slash ends the read early, leaving the remaining targets unchanged.
  void read_list(std::initializer_list<ListTarget> targets);
  // The same, but an empty (or blank) first line leaves every target as it was: false then.
  bool read_list_or_keep(std::initializer_list<ListTarget> targets);
  int32_t read_int();
  float read_real();
  // One list-directed text item (quoted when it holds blanks, commas or slashes).
  std::string read_text();
  // A file name: the whole line, leading and trailing blanks trimmed, so that blanks,
  // commas and slashes belong to the name (my frame.fits, ../data/m51.fits). A name in
  // quotes ('my frame.fits' or "my frame.fits") is the text inside them (a doubled quote
  // stands for one). A blank line is not an answer: the next line is read. On a terminal,
  // Tab completes file names while this question waits.
  std::string read_file_name();

  bool terminal() const { return terminal_; }

  // How many lines of help text one page may hold, so that the question under it stays in
  // view: the help panel's rows, or the terminal's rows when the help follows the menu; 0
  // when the output is not a terminal (nothing is paged).
  int help_page_rows() const;

  // Ctrl-C. With a flag set, reads throw Interrupted once it is raised; long work polls
  // stop_request(). Without one (tests, scripts) nothing is ever interrupted.
  void set_interrupt(InterruptFlag flag) { interrupt_ = flag; }
  InterruptFlag& interrupt() { return interrupt_; }
  StopRequest stop_request() const { return interrupt_.stop_request(); }

  // Called before every read: the graphics layer brings its window up to date there, so
  // that what was drawn is on the screen while the program waits for an answer.
  void set_before_read(std::function<void()> hook) { before_read_ = std::move(hook); }
  // Called when a read would block: the graphics layer waits there for the answer while it
  // keeps its window drawn (resize, exposure).
  void set_wait_for_input(std::function<void()> hook) { wait_for_input_ = std::move(hook); }

 private:
  // False when `blank_keeps` and the first line is blank (nothing is stored).
  bool read_items(std::initializer_list<ListTarget> targets, bool slash_in_text, bool blank_keeps = false);
  ScreenSize screen() const;
  void hide_status();
  void show_status();

  std::istream& in_;
  std::ostream& out_;
  bool terminal_;
  std::function<void()> before_read_;
  std::function<void()> wait_for_input_;
  std::function<ScreenSize()> screen_size_;
  HelpPanel panel_;
  bool help_focus_ = false;
  std::vector<std::string> unanswered_;  // lines printed since the last answer (the last few)
  std::vector<std::string> held_;        // lines a clear wiped, shown before the next read
  bool show_unanswered_ = false;         // held_ is waiting to be shown
  std::string status_;                   // the progress text, empty when there is none
  bool status_shown_ = false;
  std::chrono::steady_clock::time_point status_drawn_{};
  InterruptFlag interrupt_;
  std::vector<std::string> failed_logs_;    // logs whose failure was reported
  std::vector<std::string> failure_lines_;  // and the lines that reported them
};

}  // namespace zelvo
