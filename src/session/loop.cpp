#include "session/loop.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <new>
#include <ostream>
#include <string_view>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "session/commands.h"
#include "session/session.h"
#include "session/settings.h"
#include "session/texts.h"

namespace zelvo {

void pause(Session& s) {
  s.con.text("Press <enter> to continue...");
  (void)s.con.read_line();  // the answer is not used
}

bool open_screen(Session& s) {
  if (s.settings.device == "/xw" || s.settings.device == "/XW")
    return s.gfx.open_sized(s.settings.device, s.settings.window.width, s.settings.window.height);
  return s.gfx.open(s.settings.device);
}

namespace {

// Start-up steps 3 to 10: seed, slots, settings, main log, screen device, banner, welcome.
void start_up(Session& s, const ProgramOptions& options) {
  s.random.seed = options.seed ? *options.seed : INITRAN();
  for (auto& sl : s.slots.all) sl.name = kEmptySlotName;
  s.slots.active_number = 1;
  s.display.state.greyflag = 1;
  s.display.state.scaling = 'n';

  const Settings settings = read_settings("Zelvo.ini");
  if (!settings.notice.empty()) s.con.text(settings.notice);
  // Temporaries of writes that a signal or a crash cut short, from processes now gone.
  if (const auto stale = remove_stale_temporaries("."); !stale.empty())
    s.con.text("Removed " + std::to_string(stale.size()) + " temporary file" + (stale.size() == 1 ? "" : "s") +
               " of an interrupted write by an earlier Zelvo: " + stale.front() + (stale.size() > 1 ? " ..." : ""));
  s.settings.extlogs = settings.extlogs;
  s.display.state.level_mode = settings.level_mode;
  s.display.state.stretch = settings.stretch;
  if (!settings.display_notice.empty()) s.con.text(settings.display_notice);
  s.settings.window = window_size(settings.window_code);

  s.mainlog.open("Zelvo.log", s.con, "the session is not logged");

  if (!options.device.empty()) {
    s.settings.device = options.device;
  } else {
    const char* display = std::getenv("DISPLAY");
    s.settings.device = (display && *display) ? "/xw" : "/null";
    if (s.settings.device == "/null") s.con.text("No X display is reachable; graphics go to the null device (/null).");
  }
  if (!open_screen(s) && s.settings.device != "/null") {
    s.con.text("Graphics go to the null device (/null) instead.");
    s.settings.device = "/null";
    open_screen(s);
  }

  s.con.focus_command();
  for (const auto& l : banner_lines()) s.con.text(l);
  if (s.mainlog) {
    for (const auto& l : mainlog_header_lines()) s.mainlog.stream() << l << '\n';
    s.mainlog.stream().flush();
  }
  s.con.blank();
  for (auto l : kWelcomeLines) s.con.text(l);
  s.con.blank();
  s.con.text("   Press <enter> to continue... ");
  try {
    (void)s.con.read_line();
  } catch (const Interrupted&) {
    s.con.interrupt().clear();  // the menu comes next either way
  }
}

void print_menu(Session& s) {
  s.con.focus_command();
  s.con.clear();
  for (const auto& l : title_box_lines()) s.con.text(l);
  char buf[80];
  std::snprintf(buf, sizeof buf, "Active image slot = %1d   ", s.slots.active_number);
  s.con.line(std::string(buf) + pad_right(s.active().name, 30));
  for (auto l : kOptionsLines) s.con.text(l);
}

// The slots whose work Q would lose: changed since the last load or save, or new and never saved.
std::string unsaved_slots(const Session& s) {
  std::string list;
  for (std::size_t i = 0; i < s.slots.all.size(); ++i) {
    const ImageSlot& sl = s.slots.all[i];
    if (sl.empty() || (!sl.modified && !sl.file.empty())) continue;
    std::string name = trim_right(sl.name);
    // A short name never carries the marker; the line still says what would be lost.
    if (sl.modified && !name_marked_modified(name)) name += std::string(" ") + kModifiedMarker;
    list += (list.empty() ? "" : ", ") + std::string("slot ") + std::to_string(i + 1) + " (" + name + ")";
  }
  return list;
}

// Q: leaves at once when nothing would be lost; otherwise names what would be and asks.
// Only y (or Y) leaves; end of input at the question leaves without saving, as anywhere.
bool confirm_quit(Session& s) {
  const std::string unsaved = unsaved_slots(s);
  if (unsaved.empty()) return true;
  s.con.text(std::string(kUnsavedLead) + unsaved + ".");
  s.con.text(kQuitAnyway);
  const char answer = s.con.read_char();
  return answer == 'y' || answer == 'Y';  // otherwise back to the main menu
}

// Runs the main-menu command `key`. Returns true when the program ends.
bool dispatch(Session& s, char key) {
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
  switch (c) {
    case '1':
    case '2':
    case '3':
    case '4': s.slots.active_number = c - '0'; break;
    case 'L': command_load(s); break;
    case 'N': command_new(s); break;
    case 'D': command_display(s); break;
    case 'C': command_crop(s); break;
    case 'T': command_rotate(s); break;
    case 'F': command_reflect(s); break;
    case 'A': command_arithmetic(s); break;
    case 'G': command_galaxy(s); break;
    case 'M': command_mouse(s); break;
    case 'O': command_photometry(s); break;
    case 'R': command_remove(s); break;
    case 'P': command_print(s); break;
    case 'H': command_help(s); break;
    case 'S': command_save(s); break;
    case 'X': return command_exit_save(s);
    case 'Q': return confirm_quit(s);
    default: break;  // unknown keys redraw the menu silently
  }
  return false;
}

// What a Ctrl-C at the main menu says: it never ends the program, whatever the slots hold.
constexpr std::string_view kCtrlCAtMenu =
    "Ctrl-C stops long work and abandons a question; to leave Zelvo type Q (or X to save first).";
constexpr std::string_view kCtrlCTooLate = "Ctrl-C came after the command had finished; nothing was stopped.";
constexpr std::string_view kOutOfMemory =
    "Not enough memory for that command; it was stopped before it changed any image.";

// The active image drawn whole at the display's levels, without a report: after a command
// was abandoned in a zoomed view, the next click is judged against the whole image again.
void draw_whole_image(Session& s) {
  ImageSlot& a = s.active();
  if (a.empty() || !s.display.state.levels_set) return;
  const DisplaySource src{a.view(), a.object, a.name};
  draw_display_frame(src, true, s.gfx);
  draw_display_image(src, s.display.state, true, s.gfx);
}

// Runs one command; Ctrl-C and a lack of memory end the command, never the program.
// Returns true when the program ends.
bool run_command(Session& s, char key) {
  InterruptFlag& ctrl_c = s.con.interrupt();
  try {
    const bool end = dispatch(s, key);
    if (ctrl_c.raised()) {
      ctrl_c.clear();
      if (!end) s.con.notice(kCtrlCTooLate);
    }
    return end;
  } catch (const Interrupted& stopped) {
    ctrl_c.clear();
    s.con.progress_done();
    s.con.focus_command();
    draw_whole_image(s);
    s.con.notice(stopped.what());
  } catch (const std::bad_alloc&) {
    s.con.progress_done();
    s.con.focus_command();
    s.con.notice(kOutOfMemory);
  }
  return false;
}

void closing_lines(Console& con) {
  con.text("Thank you for using Zelvo.");
  con.text("I may be just a humble computer, but I really enjoyed it.");
  con.blank();
}

}  // namespace

int run_zelvo(const ProgramOptions& options, std::istream& in, std::ostream& out, bool terminal) {
  Console con(in, out, terminal);
  Graphics gfx(con);
  Session s(con, gfx);
  con.set_interrupt(options.interrupt);
  try {
    start_up(s, options);
    for (;;) {
      print_menu(s);
      char key = ' ';
      try {
        key = s.con.read_char();
      } catch (const Interrupted&) {
        con.interrupt().clear();
        con.notice(kCtrlCAtMenu);
        continue;
      }
      s.removal.marked_objects = 0;
      if (run_command(s, key)) break;
    }
  } catch (const EndOfInput&) {
    con.blank();
    con.text("End of input; leaving without saving.");
  }
  closing_lines(con);
  con.flush();
  s.mainlog.close();
  gfx.close_all();
  return 0;
}

}  // namespace zelvo
