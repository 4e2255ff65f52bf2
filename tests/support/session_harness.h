// Whole-session test support: a scratch working folder and scripted runs of the program.
#pragma once

#include <string>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo::testing {

// A fresh temporary folder, removed with everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  bool exists(const std::string& name) const;
  std::string read(const std::string& name) const;
  void write(const std::string& name, const std::string& text) const;
  // Writes `img` as a BITPIX -32 FITS file with the given extra header cards
  // (80-column records, e.g. "EXPTIME =                300.0").
  void write_fits(const std::string& name, const Image& img, const std::vector<std::string>& cards = {}) const;
  // Reads the primary image of a FITS file back (empty Image when it cannot be read).
  Image read_fits(const std::string& name) const;

 private:
  std::string path_;
};

struct SessionRun {
  std::string out;  // everything the program printed
  int status = 0;   // exit status
};

// Runs a whole session in-process in `dir` (as the working folder), answering with the
// given lines. The settings file "Zelvo.ini" is written with "2" and `extlogs` unless
// the folder already has one. Graphics go to `device` (default /null, typed cursor).
SessionRun run_session(const ScratchFolder& dir, const std::vector<std::string>& lines,
                       const std::string& device = "/null", int extlogs = 0, int seed = 12345);

// Runs the built binary in `dir` with `args`, feeding `lines` on standard input.
SessionRun run_binary(const ScratchFolder& dir, const std::vector<std::string>& args,
                      const std::vector<std::string>& lines);

// A small realistic field for session tests: sky ~1000 with a gentle gradient, noise,
// a few Gaussian stars; deterministic for a seed.
Image small_field(int nx, int ny, unsigned seed = 1);

// Number of non-overlapping occurrences of `needle` in `hay`.
int count_of(const std::string& hay, const std::string& needle);

}  // namespace zelvo::testing
