// Main-menu commands L, N, D, H, S, X and P.
#include "session/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "display/display.h"
#include "fits/fits_io.h"
#include "numeric/image_range.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "platform/memory.h"
#include "session/display_menu.h"
#include "session/fits_reports.h"
#include "session/loop.h"
#include "session/session.h"
#include "session/texts.h"

namespace zelvo {

bool refuse_empty_slot(Session& s) {
  if (!s.active().empty()) return false;
  s.con.text("Image slot " + std::to_string(s.slots.active_number) +
             " is empty: load an image (L) or create one (N) first.");
  return true;
}

namespace {

// Why a name typed at L cannot be read as a file, in a few plain words ("no such file",
// "permission denied", "is a folder"), or nothing when it can be opened.
std::optional<std::string> unreadable_name(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || name.empty()) {
      // The FITS library reads a compressed file of the name with one of these endings
      // added when the name itself is missing (m51.fits finds m51.fits.gz).
      for (const char* ending : {".gz", ".Z", ".z", ".zip", "-z", "-gz"})
        if (!name.empty() && ::stat((name + ending).c_str(), &st) == 0) return std::nullopt;
      return "no such file";
    }
    if (errno == EACCES) return "permission denied";
    std::string text = std::strerror(errno);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
  }
  if (S_ISDIR(st.st_mode)) return "is a folder";
  if (::access(name.c_str(), R_OK) != 0) return "permission denied";
  return std::nullopt;
}

}  // namespace

void command_load(Session& s) {
  ImageSlot& sl = s.active();
  s.con.line(pad_right(sl.name, 30) + " will be overwritten.");
  s.con.text("Enter the filename of the image to be loaded:");
  const std::string filename = s.con.read_file_name();
  if (const auto why = unreadable_name(file_name_meant(filename))) s.con.text(filename + ": " + *why);
  FitsRead r = read_fits_reported(s.con, filename);
  if (r.outcome != ReadOutcome::loaded) return;  // the slot stays exactly as it was, its name included
  sl.image = std::move(r.image);
  sl.name = filename.substr(0, 80);
  sl.file = filename;
  sl.origin = r.origin;
  sl.modified = false;
  sl.exptime = r.header.exptime;
  sl.object = r.header.object;
  sl.cards = std::move(r.header.cards);
  sl.texts = r.texts;
  if (r.range.known) {  // the reader found them on the way
    s.display.state.minlim = r.range.lo;
    s.display.state.maxlim = r.range.hi;
  } else {
    const ValueRange range = finite_range(sl.image);
    s.display.state.minlim = range.lo;
    s.display.state.maxlim = range.hi;
  }
}

void command_new(Session& s) {
  ImageSlot& sl = s.active();
  s.con.line(pad_right(sl.name, 50) + " will be overwritten.");
  s.con.text("Give dimensions (x-size and y-size) of the new image:");
  int32_t nx = 0, ny = 0;
  s.con.read_list({&nx, &ny});
  if (nx < 1 || ny < 1) {
    s.con.text("Both sizes must be at least 1; no image was created.");
    return;
  }
  if (!image_size_reasonable(nx, ny)) {
    s.con.text("An image of " + std::to_string(nx) + " x " + std::to_string(ny) +
               " pixels is too large for this machine; no image was created.");
    return;
  }
  try {
    sl.image = Image(nx, ny, 0.0f);
  } catch (const std::bad_alloc&) {
    s.con.text("Not enough memory for that image; no image was created.");
    return;
  }
  sl.name = kUnnamedName;
  // A new image has no header: nothing of the image the slot held before stays with it.
  sl.cards.clear();
  sl.texts = HeaderTexts{};
  sl.object = std::string(20, ' ');
  sl.exptime = 0.0f;
  sl.file.clear();
  sl.origin = FileOrigin{};
  sl.modified = false;
}

namespace {

// Prints help lines (as printed: texts with their leading blank) whole. Where they do not fit
// the help window of a terminal, they are shown a page at a time, each page but the last ended
// by the "more" line and a press of <enter>.
void show_help_page(Session& s, const std::vector<std::string>& lines) {
  const std::size_t rows = static_cast<std::size_t>(std::max(0, s.con.help_page_rows()));
  std::size_t next = 0;
  if (rows >= 2) {
    while (lines.size() - next > rows) {
      for (std::size_t k = 0; k + 1 < rows; ++k) s.con.line(lines[next++]);
      s.con.text(kHelpMore);
      (void)s.con.read_line();  // any answer shows the next page
    }
  }
  for (; next < lines.size(); ++next) s.con.line(lines[next]);
}

}  // namespace

void command_help(Session& s) {
  if (s.display.help_open) {
    s.con.close_help_window();
    s.display.help_open = false;
    return;
  }
  s.display.help_open = true;
  s.con.open_help_window();
  s.con.focus_help();
  std::vector<std::string> page;  // what is shown before the next question
  // The topic asked for; a bare "/" keeps the last one, at first H's own.
  char topic = 'H';
  for (;;) {
    for (const auto& l : help_intro_lines()) page.push_back(" " + l);
    show_help_page(s, page);
    s.con.read_list({&topic});
    if (topic == '?') {
      s.con.focus_command();
      return;
    }
    page.clear();
    const auto text = help_text(topic);
    if (text.empty()) continue;
    page.emplace_back();
    for (auto l : text) page.push_back(" " + std::string(l));
    page.emplace_back();
  }
}

namespace {

// The output-name question of S and X. `slotno` 0 asks for the active slot.
std::string ask_output_name(Session& s, int slotno) {
  if (slotno == 0) {
    s.con.text("Give the name of the output image (in the active slot).");
  } else {
    s.con.text("Give the name of the output image (in slot " + std::to_string(slotno) + ").");
  }
  s.con.text("[ZelvoImage01.fits is the default, which you can keep by");
  s.con.text(" typing '01 <enter>'. If you want to replace the '01' with");
  s.con.text(" something else, give the two (alphanumeric) characters you");
  s.con.text(" want to use. You can also give a totally new name (up to");
  s.con.text(" 80 characters).]");
  // The whole name is used, however long: only the slot's displayed name is cut.
  const std::string answer = s.con.read_file_name();
  const std::string proposed = "ZelvoImage01.fits";
  if (answer.empty()) return proposed;  // an empty answer ('') keeps the default
  // One or two characters replace the "01"; a single one leaves no blank behind it.
  if (answer.size() <= 2) {
    std::string suffix = answer;
    std::erase(suffix, ' ');
    return "ZelvoImage" + suffix + ".fits";
  }
  return answer;
}

void finished_line(Session& s, const std::string& name) {
  s.con.record(
      {"Finished writing file ", pad_right(name, std::max<std::size_t>(80, name.size())), " to your hard disk."});
}

// After a write: the slot is named after its file and X writes it back there.
void saved_as(ImageSlot& sl, const std::string& file, const FileOrigin& written) {
  sl.name = file.substr(0, 80);
  sl.file = file;
  sl.origin = written;
  sl.modified = false;
}

// Why X leaves the file of image slot `slotno` as it is, or nothing when it may replace it.
std::optional<std::string> kept_back(const ImageSlot& sl, int slotno, const std::vector<FileIdentity>& written) {
  const std::string head = "Image slot " + std::to_string(slotno) + ": " + sl.file;
  for (const auto& w : written)
    if (w.same_file(sl.origin.identity))
      return head + " was just written from another image slot; it is left as it is.";
  switch (may_replace(sl.file, sl.origin, sl.image.view())) {
    case ReplaceVerdict::allowed: return std::nullopt;
    case ReplaceVerdict::not_exact:
      return head + " holds values that 32-bit floats cannot hold exactly; it is left as it is.";
    case ReplaceVerdict::not_own_type:
      return head + " holds integers, and the image's values are not all integers of its type; it is left as it is.";
    case ReplaceVerdict::not_lone: return head + " holds more than this one 2-D image; it is left as it is.";
    case ReplaceVerdict::changed: return head + " is no longer the file that was loaded; it is left as it is.";
    case ReplaceVerdict::not_writable: return head + " may not be written by you; it is left as it is.";
    case ReplaceVerdict::write_protected: return head + " is write-protected; it is left as it is.";
  }
  return std::nullopt;
}

}  // namespace

void command_save(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.text(std::string(47, '*'));
  s.con.blank();
  s.con.blank();
  const std::string outname = ask_output_name(s, 0);
  ImageSlot& sl = s.active();
  FileOrigin written;
  const FitsError error = WRITE_FITS_2D_IMAGE(outname, sl.view(), sl.cards, &written, sl.origin.type.undefined_as_null);
  if (error.failed()) {
    PRINT_FITS_ERROR(error, s.con);
    s.con.text("Nothing was written; the image is still in memory as " + trim_right(sl.name) + ".");
    pause(s);
    return;
  }
  s.con.blank();
  finished_line(s, outname);
  saved_as(sl, outname, written);
  pause(s);
}

bool command_exit_save(Session& s) {
  bool ok = true;
  std::array<bool, 4> ask{};           // slots whose file is left alone: asked for a new name
  std::vector<FileIdentity> replaced;  // files written back in this pass, as they were loaded
  // First pass: modified images go back to the file they were loaded from or last saved to,
  // when that file is still the one loaded and held nothing but this image.
  for (int i = 1; i <= 4; ++i) {
    ImageSlot& sl = s.slots.all[static_cast<std::size_t>(i - 1)];
    if (!sl.empty() && sl.modified && !sl.file.empty()) {
      if (const auto why = kept_back(sl, i, replaced)) {
        s.con.text(*why);
        ask[static_cast<std::size_t>(i - 1)] = true;
      } else {
        FileOrigin written;
        const FitsError error = replace_fits_2d_image(sl.file, sl.view(), sl.cards, sl.origin, &written);
        if (error.failed()) {
          PRINT_FITS_ERROR(error, s.con);
          s.con.text("Could not write image slot " + std::to_string(i) + " to " + sl.file + ".");
          ok = false;
        } else {
          finished_line(s, sl.file);
          replaced.push_back(sl.origin.identity);
          saved_as(sl, sl.file, written);
        }
      }
    }
    s.con.blank();
  }
  // Second pass: new images that were never saved, and images whose file was left alone,
  // are asked for a name.
  for (int i = 1; i <= 4; ++i) {
    ImageSlot& sl = s.slots.all[static_cast<std::size_t>(i - 1)];
    if (!sl.empty() && (sl.file.empty() || ask[static_cast<std::size_t>(i - 1)])) {
      s.con.blank();
      const std::string outname = ask_output_name(s, i);
      FileOrigin written;
      const FitsError error =
          WRITE_FITS_2D_IMAGE(outname, sl.view(), sl.cards, &written, sl.origin.type.undefined_as_null);
      if (error.failed()) {
        PRINT_FITS_ERROR(error, s.con);
        s.con.text("Could not write image slot " + std::to_string(i) + " to " + outname + ".");
        ok = false;
      } else {
        finished_line(s, outname);
        saved_as(sl, outname, written);
      }
    }
    s.con.blank();
  }
  if (!ok) {
    s.con.text("Not every image could be saved, so Zelvo goes on: nothing unsaved is lost.");
    pause(s);
    return false;
  }
  pause(s);
  return true;
}

namespace {

constexpr const char* kPrintFile = "ZelvoImage.ps";

// Why the plot cannot replace `target`, or "" when it can: a folder or special file of
// that name, or an old file this user may not write, stays in place.
std::string print_target_problem(const char* target, mode_t& mode) {
  struct stat st {};
  if (::lstat(target, &st) != 0) return "";
  if (S_ISLNK(st.st_mode)) {
    if (::stat(target, &st) != 0) return "";
  }
  if (!S_ISREG(st.st_mode)) return std::string("it is ") + special_file_kind(st.st_mode);
  if (::access(target, W_OK) != 0) return "the old file is write-protected";
  mode = st.st_mode & 07777;
  return "";
}

// Whether the file is a whole PostScript page: it ends with the "%%EOF" of the trailer, so a
// file cut short (a full disk) is never taken for a plot.
bool postscript_complete(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char tail[32] = {};
  std::size_t n = 0;
  if (std::fseek(f, -static_cast<long>(sizeof tail), SEEK_END) == 0 || std::fseek(f, 0, SEEK_SET) == 0)
    n = std::fread(tail, 1, sizeof tail, f);
  const bool read_ok = std::ferror(f) == 0;
  std::fclose(f);
  const std::string t(tail, n);
  return read_ok && t.find("%%EOF") != std::string::npos;
}

}  // namespace

void command_print(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.blank();
  s.con.text("This will write your image to a PostScript file.");
  s.gfx.close_all();
  // The page is drawn into a new file beside ZelvoImage.ps, checked, and only then renamed
  // over it: success is reported for a complete new file only.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  mode_t mode = 0666 & ~mask;
  std::string problem = print_target_problem(kPrintFile, mode);
  if (problem.empty()) {
    char temp[] = "ZelvoImage-XXXXXX.ps";
    const int fd = ::mkstemps(temp, 3);
    if (fd < 0) {
      problem = std::string("no file can be made in this folder (") + std::strerror(errno) + ")";
    } else {
      ::close(fd);
      bool ok = s.gfx.open(std::string(temp) + "/ps");
      if (ok) {
        s.display.state.printflag = 1;
        try {
          DISPLAYIMAGE(display_source(s.active()), s.display.state, s.active().texts, false, s.con, s.gfx);
        } catch (...) {
          s.display.state.printflag = 0;
          s.gfx.close_all();
          std::remove(temp);
          open_screen(s);
          throw;
        }
        s.display.state.printflag = 0;
        s.gfx.close_all();
      }
      if (!ok) {
        problem = "the PostScript device could not be opened";
      } else if (!postscript_complete(temp)) {
        problem = "the page could not be written completely (is the disk full?)";
      } else if (::chmod(temp, mode) != 0 || std::rename(temp, kPrintFile) != 0) {
        problem = std::string("it could not be replaced (") + std::strerror(errno) + ")";
      }
      if (!problem.empty()) std::remove(temp);
    }
  }
  open_screen(s);
  s.con.focus_command();
  if (problem.empty()) {
    s.con.text("Successfully wrote  ZelvoImage.ps  to the disk.");
  } else {
    s.con.notice("ZelvoImage.ps was not written: " + problem + ".");
  }
}

}  // namespace zelvo
