// Fuzzes the FITS loader: arbitrary bytes written as a file and read with
// READ_FITS_2D_IMAGE, as command L does.
//
// Checked: no crash or sanitizer report; a load either succeeds with an image whose pixel
// count is nx x ny, or leaves the image and the header values exactly as they were; a
// failure prints the FITS error report or one of the loader's own lines.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "session/fits_reports.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string scratch_name() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/zelvo-fits-fuzz-" + std::to_string(getpid()) + ".fits";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string path = scratch_name();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  std::istringstream in;
  std::ostringstream out;
  zelvo::Console con(in, out);
  const zelvo::FitsRead r = zelvo::read_fits_reported(con, path);
  const zelvo::Image& image = r.image;
  if (r.outcome == zelvo::ReadOutcome::loaded) {
    check(image.nx >= 1 && image.ny >= 1);
    check(image.px.size() == static_cast<std::size_t>(image.nx) * static_cast<std::size_t>(image.ny));
    check(r.header.object.size() == 20);
    check(r.texts.hdrst.size() == 15 && r.texts.hdrra.size() == 15 && r.texts.hdrdec.size() == 15 &&
          r.texts.hdrfilter.size() == 15);
  } else {
    check(image.empty() && image.px.empty() && r.header.cards.empty());
    check(out.str().find('\n', out.str().find("Reading in")) != std::string::npos);
    check((r.outcome == zelvo::ReadOutcome::fits_error) == r.error.failed());
    check(r.error.failed() == (out.str().find("FITSIO Error Status = ") != std::string::npos));
  }
  return 0;
}
