// The help window on a terminal big enough for two windows: a panel beside the command area
// (wide terminals) or below it (tall ones), drawn with ANSI cursor positioning so that the
// menu of the next pass does not clear it away. Smaller terminals and scripted output keep
// the help text inline under a title line (the Console does that).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

struct ScreenSize {
  int cols = 0;
  int rows = 0;
};

enum class HelpLayout { in_line, beside, below };

// Beside needs the 80 columns of the command area, a separator and 80 columns of help;
// below needs the 25 rows of a menu pass and room for a help page under it.
inline constexpr int kBesideMinCols = 164;
inline constexpr int kBesideMinRows = 20;
inline constexpr int kBelowMinRows = 45;
inline constexpr int kCommandRows = 25;
HelpLayout choose_help_layout(ScreenSize size);

class HelpPanel {
 public:
  // Shows the panel (beside or below) on a screen of `size`. Below clears the screen and
  // keeps the command area scrolling above the panel.
  void open(HelpLayout layout, ScreenSize size, std::ostream& out);
  // Erases the panel and gives the whole screen back to the command area.
  void close(std::ostream& out);
  bool active() const { return layout_ != HelpLayout::in_line; }

  // One line of help text. The lines shown since the last end_page() form one page; the next
  // line after end_page() starts a new one.
  void add_line(std::string_view text);
  void end_page() { new_page_ = true; }
  const std::vector<std::string>& page() const { return page_; }

  // How many lines of text the panel shows on a screen of `size` (under its title).
  int text_rows(ScreenSize size) const;

  // Draws the panel again, leaving the cursor where it was (after the command area has
  // scrolled, or the screen size has changed).
  void repaint(std::ostream& out, ScreenSize size);
  // After the screen was cleared: sets the command area up again and draws the panel; the
  // cursor is left at the top left.
  void after_clear(std::ostream& out, ScreenSize size);

 private:
  int command_rows(ScreenSize size) const;
  void draw(std::ostream& out, ScreenSize size);

  HelpLayout layout_ = HelpLayout::in_line;
  ScreenSize size_;
  std::vector<std::string> page_;
  bool new_page_ = false;
};

}  // namespace zelvo
