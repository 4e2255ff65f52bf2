// Main-menu commands L, N, D, H, S, X and P.
#include "session/commands.h"

#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <cstdio>
#include <new>

#include "display/display.h"
#include "fits/fits_io.h"
#include "numeric/image_range.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/memory.h"
#include "session/loop.h"
#include "session/session.h"
#include "session/texts.h"

namespace zelvo {

bool refuse_empty_slot(Session& s) {
  if (!s.active().empty()) return false;
  s.con.text("Image slot " + std::to_string(s.activeslot) +
             " is empty: load an image (L) or create one (N) first.");
  return true;
}

namespace {

DisplaySource display_source(ImageSlot& sl) { return DisplaySource{sl.view(), sl.object, sl.name}; }

}  // namespace

void command_load(Session& s) {
  ImageSlot& sl = s.active();
  s.con.line(pad_right(sl.name, 30) + " will be overwritten.");
  s.con.text("Enter the filename of the image to be loaded:");
  const std::string filename = s.con.read_file_name();
  Image img;
  SlotHeader header = sl.header();
  HeaderTexts texts = s.texts;
  LoadedRange range;
  const ReadOutcome r = READ_FITS_2D_IMAGE(filename, img, header, texts, s.fitsstatus, s.con, &range);
  if (r != ReadOutcome::Loaded) return;  // the slot stays exactly as it was, its name included
  sl.image = std::move(img);
  sl.name = filename.substr(0, 80);
  sl.file = filename;
  sl.modified = false;
  sl.exptime = header.exptime;
  sl.object = header.object;
  sl.cards = std::move(header.cards);
  s.texts = texts;
  if (range.known) {  // the reader found them on the way
    s.disp.minlim = range.lo;
    s.disp.maxlim = range.hi;
  } else {
    finite_range(sl.image, s.disp.minlim, s.disp.maxlim);
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
  sl.cards.clear();
  sl.file.clear();
  sl.modified = false;
}

void command_display(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.text("Do you want to display images in greyscale (slow but good)");
  s.con.text("or pseudoscale (fast but looks awful)?");
  s.con.text("Type in 1 for greyscale or 0 for pseudoscale:");
  int32_t g = s.disp.greyflag;
  s.con.read_list({&g});
  s.disp.greyflag = g;
  if (g != 0 && g != 1) {
    s.disp.greyflag = 1;
    s.con.text("You typed something else than 1 or 0;  1 selected.");
  }
  const bool dialogue = s.command == 'D' || s.command == 'd';
  DISPLAYIMAGE(display_source(s.active()), s.disp, s.texts, dialogue, s.con, s.gfx);
}

void command_help(Session& s) {
  if (s.helpopen == 1) {
    s.con.close_help_window();
    s.helpopen = 0;
    return;
  }
  s.helpopen = 1;
  s.con.open_help_window();
  s.con.focus_help();
  for (;;) {
    for (const auto& l : help_intro_lines()) s.con.text(l);
    s.con.read_list({&s.command});
    if (s.command == '?') {
      s.con.focus_command();
      return;
    }
    const auto text = help_text(s.command);
    if (text.empty()) continue;
    s.con.blank();
    for (auto l : text) s.con.text(l);
    s.con.blank();
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
  std::string answer = s.con.read_file_name();
  answer = trim_right(answer.substr(0, std::min<std::size_t>(answer.size(), 80)));
  std::string proposed = "ZelvoImage01.fits";
  if (answer.empty()) return proposed;  // an empty answer keeps the default
  const std::string padded = pad_right(answer, 5);
  if (padded[2] == ' ' && padded[3] == ' ' && padded[4] == ' ') {
    proposed[10] = padded[0];
    proposed[11] = padded[1];
    return proposed;
  }
  return answer;
}

void finished_line(Session& s, const std::string& name) {
  s.con.record({"Finished writing file ", pad_right(name, 80), " to your hard disk."});
}

}  // namespace

void command_save(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.text(std::string(47, '*'));
  s.con.blank();
  s.con.blank();
  const std::string outname = ask_output_name(s, 0);
  ImageSlot& sl = s.active();
  s.fitsstatus = WRITE_FITS_2D_IMAGE(outname, sl.view());
  if (s.fitsstatus > 0) {
    PRINT_FITS_ERROR(s.fitsstatus, s.con);
    s.con.text("Nothing was written; the image is still in memory as " + trim_right(sl.name) + ".");
    pause(s);
    return;
  }
  s.con.blank();
  finished_line(s, outname);
  sl.name = outname;
  sl.file = outname;
  sl.modified = false;
  pause(s);
}

bool command_exit_save(Session& s) {
  bool ok = true;
  // First pass: modified images go back to the file they were loaded from or last saved to.
  for (int i = 1; i <= 4; ++i) {
    ImageSlot& sl = s.slot[static_cast<std::size_t>(i - 1)];
    if (!sl.empty() && sl.modified && !sl.file.empty()) {
      const int status = REPLACE_FITS_2D_IMAGE(sl.file, sl.view());
      if (status > 0) {
        PRINT_FITS_ERROR(status, s.con);
        s.con.text("Could not write image slot " + std::to_string(i) + " to " + sl.file + ".");
        ok = false;
      } else {
        finished_line(s, sl.file);
        sl.modified = false;
        sl.name = sl.file.substr(0, 80);
      }
    }
    s.con.blank();
  }
  // Second pass: new images that were never saved are asked for a name.
  for (int i = 1; i <= 4; ++i) {
    ImageSlot& sl = s.slot[static_cast<std::size_t>(i - 1)];
    if (!sl.empty() && sl.file.empty()) {
      s.con.blank();
      const std::string outname = ask_output_name(s, i);
      const int status = WRITE_FITS_2D_IMAGE(outname, sl.view());
      if (status > 0) {
        PRINT_FITS_ERROR(status, s.con);
        s.con.text("Could not write image slot " + std::to_string(i) + " to " + outname + ".");
        ok = false;
      } else {
        finished_line(s, outname);
        sl.name = outname;
        sl.file = outname;
        sl.modified = false;
      }
    }
    s.con.blank();
  }
  if (!ok) {
    s.con.text("Not every image could be saved, so Zelvo goes on: nothing unsaved is lost.");
    pause(s);
    s.command = ' ';
    return false;
  }
  pause(s);
  return true;
}

void command_print(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.blank();
  s.con.text("This will write your image to a PostScript file.");
  s.gfx.close_all();
  std::remove("ZelvoImage.ps");
  bool ok = s.gfx.open("ZelvoImage.ps/ps");
  if (ok) {
    s.disp.printflag = 1;
    DISPLAYIMAGE(display_source(s.active()), s.disp, s.texts, false, s.con, s.gfx);
    s.disp.printflag = 0;
    s.gfx.close_all();
    struct stat st {};
    ok = ::stat("ZelvoImage.ps", &st) == 0 && st.st_size > 0;
  }
  open_screen(s);
  s.con.focus_command();
  if (ok) {
    s.con.text("Successfully wrote  ZelvoImage.ps  to the disk.");
  } else {
    s.con.text("Could not write ZelvoImage.ps (the PostScript device could not be opened or written).");
  }
}

}  // namespace zelvo
