// The console lines of FITS reads and writes, printed from the values the fits layer returns.
#pragma once

#include <string>

#include "fits/fits_io.h"

namespace zelvo {

class Console;

// Reads `filename` as L does, printing " Reading in <name>" before the read (a slow load
// shows what it reads) and the rest of the report after it.
FitsRead read_fits_reported(Console& con, const std::string& filename);

// What a read says after " Reading in <name>": " nxpix, nypix = nx ny" once the size is
// known, then an empty line when loaded, or the NAXISn message, a one-line refusal or the
// FITS error report.
void report_fits_read(Console& con, const FitsRead& r);

// PRINT_FITS_ERROR: for a failure prints "FITSIO Error Status = <status>: <text>" and the
// messages, oldest first (up to the first blank one). Prints nothing for status 0.
void PRINT_FITS_ERROR(const FitsError& e, Console& con);

}  // namespace zelvo
