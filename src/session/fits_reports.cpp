#include "session/fits_reports.h"

#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/list_io.h"

namespace zelvo {

namespace {

// Fixed texts of the reader (printed list-style, with their leading blank).
constexpr std::string_view kReadingIn = " Reading in ";
constexpr std::string_view kNaxisSize = "nxpix, nypix = ";
constexpr std::string_view kNoNaxis = "READIMAGE failed to read the NAXISn keywords.";
constexpr std::string_view kNoPixels = "The image has an axis of length 0 or less; nothing was loaded.";
constexpr std::string_view kTooLarge = "There is not enough memory for an image of this size; nothing was loaded.";
constexpr std::string_view kErrorStatus = "FITSIO Error Status = ";

}  // namespace

FitsRead read_fits_reported(Console& con, const std::string& filename) {
  con.line(std::string(kReadingIn) + trim_right(filename));
  FitsRead r = READ_FITS_2D_IMAGE(filename);
  report_fits_read(con, r);
  return r;
}

void report_fits_read(Console& con, const FitsRead& r) {
  if (r.outcome == ReadOutcome::not_regular) {
    con.text(r.name + " is " + r.special_kind + ", not a regular file; nothing was loaded.");
    return;
  }
  if (r.size_read) con.record({kNaxisSize, r.nx, r.ny});
  switch (r.outcome) {
    case ReadOutcome::loaded:
      if (r.planes > 1)
        con.text("The file holds a cube of " + std::to_string(r.planes) + " planes; its first plane is loaded.");
      con.blank();
      break;
    case ReadOutcome::no_naxis: con.record({kNoNaxis}); break;
    case ReadOutcome::no_pixels: con.record({kNoPixels}); break;
    case ReadOutcome::too_large: con.record({kTooLarge}); break;
    case ReadOutcome::fits_error: PRINT_FITS_ERROR(r.error, con); break;
    case ReadOutcome::not_regular: break;
    case ReadOutcome::refused: con.text(r.refusal); break;
  }
}

void PRINT_FITS_ERROR(const FitsError& e, Console& con) {
  if (e.status <= 0) return;
  con.record({kErrorStatus, e.status, ": ", pad_right(e.text, 30)});
  for (const std::string& message : e.stack) {
    const std::string m = trim_right(message);
    if (m.empty()) break;
    con.record({m});
  }
}

}  // namespace zelvo
