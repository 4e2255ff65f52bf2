// The command window (and the help window) realised in one terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/list_io.h"

namespace zelvo {

// Thrown by every read when standard input is closed. The session catches it, says
// "End of input; leaving without saving." and ends normally.
struct EndOfInput : std::runtime_error {
  EndOfInput() : std::runtime_error("end of input") {}
};

class Console {
 public:
  // `terminal`: whether `out` is a terminal (clearing is an ANSI sequence there, nothing otherwise).
  Console(std::istream& in, std::ostream& out, bool terminal = false);

  // --- output -------------------------------------------------------------
  // Prints the text as it stands, followed by a newline.
  void line(std::string_view text);
  // Prints a free-format record: leading blank, items separated by blanks.
  void record(std::initializer_list<ListValue> items);
  // Prints an empty line.
  void blank() { line(""); }
  // Prints a text of the help or menu tables: list-style, with its leading blank column.
  void text(std::string_view t) { line(" " + std::string(t)); }
  // Clears the command window (ANSI clear on a terminal, nothing otherwise).
  void clear();
  std::ostream& out() { return out_; }
  void flush();

  // Text windows. The help window is shown as a titled block in the same terminal;
  // focus changes have no meaning on one terminal and do nothing.
  void open_help_window();
  void close_help_window();
  void focus_command() {}
  void focus_help() {}

  // --- input --------------------------------------------------------------
  // Reads one line (without its newline). Throws EndOfInput at end of input.
  std::string read_line();
  // One-letter answers: the first character of the line, blank for an empty line.
  char read_char();
  // One list-directed read: fills the targets in order from as many lines as needed.
  // A value of the wrong kind gets one line saying what was expected and is asked again;
  // a slash ends the read early, leaving the remaining targets unchanged.
  void read_list(std::initializer_list<ListTarget> targets);
  int32_t read_int();
  float read_real();
  // One list-directed text item (quoted when it holds blanks, commas or slashes).
  std::string read_text();
  // A file name: one text item as above, except that slashes belong to the name, so a
  // path such as ../data/m51.fits needs no quotes.
  std::string read_file_name();

  bool terminal() const { return terminal_; }

  // Called before every read: the graphics layer brings its window up to date there, so
  // that what was drawn is on the screen while the program waits for an answer.
  void set_before_read(std::function<void()> hook) { before_read_ = std::move(hook); }

 private:
  void read_items(std::initializer_list<ListTarget> targets, bool slash_in_text);

  std::istream& in_;
  std::ostream& out_;
  bool terminal_;
  std::function<void()> before_read_;
};

}  // namespace zelvo
