#include "platform/help_panel.h"

#include <algorithm>
#include <ostream>

namespace zelvo {

namespace {

// The title of the help window, as the inline block shows it too.
constexpr std::string_view kTitle = "------------------------------- Help Window --------------------------------";
// Beside: the command area keeps columns 1..80, a bar in column 82, the help from column 84.
constexpr int kBarColumn = 82;
constexpr int kTextColumn = 84;
// Below: the panel is given at most this many rows (the longest help page and its title).
constexpr int kBelowPanelRows = 40;

void save_cursor(std::ostream& out) {
  out << "\x1b"
         "7";
}
void restore_cursor(std::ostream& out) {
  out << "\x1b"
         "8";
}
void move_to(std::ostream& out, int row, int col) { out << "\x1b[" << row << ';' << col << 'H'; }
void erase_to_end(std::ostream& out) { out << "\x1b[K"; }
void scroll_region(std::ostream& out, int top, int bottom) { out << "\x1b[" << top << ';' << bottom << 'r'; }
void whole_screen_scrolls(std::ostream& out) { out << "\x1b[r"; }

std::string cut(std::string_view s, int width) {
  return std::string(s.substr(0, static_cast<std::size_t>(std::max(0, width))));
}

}  // namespace

HelpLayout choose_help_layout(ScreenSize size) {
  if (size.cols >= kBesideMinCols && size.rows >= kBesideMinRows) return HelpLayout::beside;
  if (size.cols >= 80 && size.rows >= kBelowMinRows) return HelpLayout::below;
  return HelpLayout::in_line;
}

int HelpPanel::command_rows(ScreenSize size) const { return std::max(kCommandRows, size.rows - kBelowPanelRows); }

void HelpPanel::open(HelpLayout layout, ScreenSize size, std::ostream& out) {
  layout_ = layout;
  size_ = size;
  page_.clear();
  new_page_ = false;
  if (layout_ == HelpLayout::below) {
    out << "\x1b[H\x1b[2J";
    scroll_region(out, 1, command_rows(size_));
  }
  if (active()) draw(out, size_);
}

void HelpPanel::close(std::ostream& out) {
  if (!active()) return;
  save_cursor(out);
  if (layout_ == HelpLayout::beside) {
    for (int r = 1; r <= size_.rows; ++r) {
      move_to(out, r, kBarColumn);
      erase_to_end(out);
    }
  } else {
    whole_screen_scrolls(out);
    for (int r = command_rows(size_) + 1; r <= size_.rows; ++r) {
      move_to(out, r, 1);
      erase_to_end(out);
    }
  }
  restore_cursor(out);
  out.flush();
  layout_ = HelpLayout::in_line;
  page_.clear();
}

void HelpPanel::add_line(std::string_view text) {
  if (new_page_) {
    page_.clear();
    new_page_ = false;
  }
  page_.emplace_back(text);
}

void HelpPanel::repaint(std::ostream& out, ScreenSize size) {
  if (!active()) return;
  if (layout_ == HelpLayout::below && command_rows(size) != command_rows(size_)) {
    save_cursor(out);
    scroll_region(out, 1, command_rows(size));
    restore_cursor(out);
  }
  size_ = size;
  draw(out, size_);
}

void HelpPanel::after_clear(std::ostream& out, ScreenSize size) {
  if (!active()) return;
  size_ = size;
  if (layout_ == HelpLayout::below) scroll_region(out, 1, command_rows(size_));  // also homes the cursor
  draw(out, size_);
}

int HelpPanel::text_rows(ScreenSize size) const {
  if (!active()) return 0;
  const int first = layout_ == HelpLayout::beside ? 1 : command_rows(size) + 1;
  return std::max(0, size.rows - first);
}

void HelpPanel::draw(std::ostream& out, ScreenSize size) {
  // Rows of the panel, its first row, and how each row starts.
  const bool beside = layout_ == HelpLayout::beside;
  const int first = beside ? 1 : command_rows(size) + 1;
  const int rows = size.rows - first + 1;
  const int col = beside ? kBarColumn : 1;
  const std::string lead = beside ? "| " : "";
  // The last column stays empty: writing there can make some terminals scroll.
  const int width = beside ? size.cols - kTextColumn : size.cols - 1;
  if (rows < 2 || width < 10) return;

  save_cursor(out);
  move_to(out, first, col);
  erase_to_end(out);
  out << lead << cut(kTitle, width);
  const int text_rows = rows - 1;
  // The help dialogue pages its texts to fit; should the screen have shrunk since, the end of
  // the page (the question being answered) stays in view.
  const std::size_t skip = page_.size() > static_cast<std::size_t>(text_rows) ? page_.size() - text_rows : 0;
  for (int k = 0; k < text_rows; ++k) {
    move_to(out, first + 1 + k, col);
    erase_to_end(out);
    out << lead;
    const std::size_t i = skip + static_cast<std::size_t>(k);
    if (i < page_.size()) out << cut(page_[i], width);
  }
  restore_cursor(out);
  out.flush();
}

}  // namespace zelvo
