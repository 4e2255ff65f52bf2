// The help window and the progress line on a terminal: the output is played on a small
// terminal model (cursor moves, erases, scroll regions), and the tests read the screen.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "session/texts.h"

namespace zelvo {
namespace {

// Enough of a VT100 to show what a terminal would: printable text, CR, LF (as the terminal
// driver turns it into CR LF), ESC 7/8, and CSI H, J, K and r.
class TerminalModel {
 public:
  TerminalModel(int cols, int rows) : cols_(cols), rows_(rows), bottom_(rows - 1) { clear(); }

  void play(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
      const char ch = s[i];
      if (ch == '\x1b') {
        i = escape(s, i);
      } else if (ch == '\r') {
        c_ = 0;
      } else if (ch == '\n') {
        c_ = 0;
        line_feed();
      } else {
        if (c_ >= cols_) {
          c_ = 0;
          line_feed();
        }
        grid_[static_cast<std::size_t>(r_)][static_cast<std::size_t>(c_)] = ch;
        ++c_;
      }
    }
  }
  // Row `r` (1-based) from column `c` (1-based), trailing blanks removed.
  std::string row(int r, int c = 1, int width = 1 << 20) const {
    std::string s = grid_[static_cast<std::size_t>(r - 1)].substr(static_cast<std::size_t>(c - 1));
    s = s.substr(0, static_cast<std::size_t>(std::min<int>(width, static_cast<int>(s.size()))));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  // Rows 1-based whose text (between the given columns) holds `text`.
  std::vector<int> rows_with(const std::string& text, int c = 1, int width = 1 << 20) const {
    std::vector<int> out;
    for (int r = 1; r <= rows_; ++r)
      if (row(r, c, width).find(text) != std::string::npos) out.push_back(r);
    return out;
  }
  int cursor_row() const { return r_ + 1; }

 private:
  void clear() { grid_.assign(static_cast<std::size_t>(rows_), std::string(static_cast<std::size_t>(cols_), ' ')); }
  void line_feed() {
    if (r_ == bottom_) {
      grid_.erase(grid_.begin() + top_);
      grid_.insert(grid_.begin() + bottom_, std::string(static_cast<std::size_t>(cols_), ' '));
    } else if (r_ < rows_ - 1) {
      ++r_;
    }
  }
  std::size_t escape(const std::string& s, std::size_t i) {
    if (i + 1 >= s.size()) return i;
    if (s[i + 1] == '7') {
      saved_r_ = r_;
      saved_c_ = c_;
      return i + 1;
    }
    if (s[i + 1] == '8') {
      r_ = saved_r_;
      c_ = saved_c_;
      return i + 1;
    }
    if (s[i + 1] != '[') return i + 1;
    std::size_t j = i + 2;
    std::vector<int> p;
    std::string num;
    while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == ';')) {
      if (s[j] == ';') {
        p.push_back(num.empty() ? 0 : std::stoi(num));
        num.clear();
      } else {
        num += s[j];
      }
      ++j;
    }
    if (!num.empty()) p.push_back(std::stoi(num));
    const auto arg = [&](std::size_t k, int def) { return k < p.size() && p[k] > 0 ? p[k] : def; };
    switch (s[j]) {
      case 'H':
        r_ = std::min(arg(0, 1), rows_) - 1;
        c_ = std::min(arg(1, 1), cols_) - 1;
        break;
      case 'J':
        if (arg(0, 0) == 2) clear();
        break;
      case 'K':
        for (int k = c_; k < cols_; ++k) grid_[static_cast<std::size_t>(r_)][static_cast<std::size_t>(k)] = ' ';
        break;
      case 'r':
        top_ = arg(0, 1) - 1;
        bottom_ = arg(1, rows_) - 1;
        r_ = 0;
        c_ = 0;
        break;
      default: break;
    }
    return j;
  }

  int cols_, rows_;
  int top_ = 0, bottom_;
  int r_ = 0, c_ = 0, saved_r_ = 0, saved_c_ = 0;
  std::vector<std::string> grid_;
};

// A console on a terminal of the given size, with its answers and output in strings.
struct TerminalConsole {
  std::istringstream in;
  std::ostringstream out;
  Console con;
  TerminalConsole(const std::string& answers, int cols, int rows, bool terminal = true)
      : in(answers), con(in, out, terminal) {
    con.set_screen_size_query([cols, rows] { return ScreenSize{cols, rows}; });
  }
};

// One menu pass as the session prints it.
void menu_pass(Console& con) {
  con.clear();
  for (auto l : kOptionsLines) con.text(l);
  (void)con.read_line();
}

// H, then the rotate text, then "?", then the next menu pass: what the help command does.
void help_dialogue(Console& con) {
  con.open_help_window();
  con.focus_help();
  for (const auto& l : help_intro_lines()) con.text(l);
  (void)con.read_line();  // "t"
  con.blank();
  for (auto l : help_text('T')) con.text(l);
  con.blank();
  for (const auto& l : help_intro_lines()) con.text(l);
  (void)con.read_line();  // "?"
  con.focus_command();
}

const std::string kRotateFirst = "Use T to rotate the image in the active image slot.";

TEST(HelpPanel, OnAWideTerminalTheHelpStandsBesideTheMenuThroughTheNextMenuPass) {
  TerminalConsole t("h\nt\n?\n\n\nh\n\n", 170, 40);
  menu_pass(t.con);
  help_dialogue(t.con);
  menu_pass(t.con);  // the pass that would have cleared the help away
  TerminalModel screen(170, 40);
  screen.play(t.out.str());
  // The help text is on the right, not in the command area; the menu is on the left.
  EXPECT_FALSE(screen.rows_with(kRotateFirst, 84).empty());
  EXPECT_TRUE(screen.rows_with(kRotateFirst, 1, 80).empty());
  EXPECT_FALSE(screen.rows_with("Help Window", 84).empty());
  EXPECT_FALSE(screen.rows_with("H = Toggle Help on/off", 1, 80).empty());

  // Long output scrolls the whole screen; the panel is drawn again before the next answer.
  for (int k = 0; k < 100; ++k) t.con.text("line " + std::to_string(k));
  (void)t.con.read_line();
  TerminalModel after(170, 40);
  after.play(t.out.str());
  EXPECT_EQ(after.rows_with(kRotateFirst, 84).size(), 1u);
  EXPECT_EQ(after.rows_with("Help Window", 84), std::vector<int>{1});

  // H again closes it: the right side is empty.
  t.con.close_help_window();
  menu_pass(t.con);
  TerminalModel closed(170, 40);
  closed.play(t.out.str());
  for (int r = 1; r <= 40; ++r) EXPECT_EQ(closed.row(r, 82), "") << "row " << r;
}

TEST(HelpPanel, OnATallTerminalTheHelpStaysBelowWhileTheCommandAreaScrolls) {
  TerminalConsole t("h\nt\n?\n\n", 100, 60);
  menu_pass(t.con);
  help_dialogue(t.con);
  for (int k = 0; k < 100; ++k) t.con.text("line " + std::to_string(k));
  TerminalModel screen(100, 60);
  screen.play(t.out.str());
  // Without a repaint: the 100 lines scrolled inside the command area only.
  const auto title = screen.rows_with("Help Window");
  ASSERT_EQ(title.size(), 1u);
  const auto text = screen.rows_with(kRotateFirst);
  ASSERT_EQ(text.size(), 1u);
  EXPECT_GT(text[0], title[0]);
  EXPECT_EQ(screen.rows_with("line 99"), std::vector<int>{title[0] - 2});
  EXPECT_EQ(screen.cursor_row(), title[0] - 1);
}

TEST(HelpPanel, OnASmallTerminalOrAFileTheHelpFollowsItsTitleAsBefore) {
  std::string plain;
  for (const bool terminal : {false, true}) {
    TerminalConsole t("h\nt\n?\n\n", 100, 30, terminal);
    menu_pass(t.con);
    help_dialogue(t.con);
    menu_pass(t.con);
    std::string out = t.out.str();
    for (std::size_t p; (p = out.find("\x1b[H\x1b[2J")) != std::string::npos;) out.erase(p, 7);
    if (!terminal) {
      plain = out;
      EXPECT_NE(plain.find("Help Window"), std::string::npos);
      EXPECT_NE(plain.find(kRotateFirst), std::string::npos);
    } else {
      EXPECT_EQ(out, plain);
    }
  }
}

TEST(Progress, AStatusLineFollowsTheOutputOnATerminalAndGoesAwayAtTheEnd) {
  TerminalConsole t("", 80, 24);
  t.con.text("Removing objects");
  t.con.progress("object 1 of 3");
  t.con.text("first result");
  t.con.progress("object 2 of 3");
  t.con.text("second result");
  TerminalModel during(80, 24);
  during.play(t.out.str());
  EXPECT_EQ(during.row(3), " second result");
  EXPECT_EQ(during.row(4), "object 2 of 3");
  EXPECT_TRUE(during.rows_with("object 1 of 3").empty());
  t.con.progress("object 3 of 3");
  t.con.progress_done();
  t.con.text("done");
  TerminalModel after(80, 24);
  after.play(t.out.str());
  EXPECT_EQ(after.row(4), " done");
  EXPECT_TRUE(after.rows_with("of 3").empty());
}

TEST(Progress, NothingIsWrittenWhenTheOutputIsNotATerminal) {
  TerminalConsole t("", 80, 24, false);
  t.con.text("a");
  t.con.progress("object 1 of 3");
  t.con.text("b");
  t.con.progress_done();
  EXPECT_EQ(t.out.str(), " a\n b\n");
}

}  // namespace
}  // namespace zelvo
