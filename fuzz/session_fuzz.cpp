// Fuzzes whole sessions: arbitrary command streams typed at the program, graphics on the
// null device (cursor positions are typed lines), in a scratch working folder holding two
// small synthetic images (a clean one and one with NaN and +/-Inf pixels near its objects)
// and an object list.
//
// The first byte picks the start: which images are loaded into which slots and whether
// extended logs are on. The rest is split into at most kMaxLines lines of at most
// kMaxLineLength characters, so every run is bounded: each prompt reads a line and the
// session ends at the end of the input. A run that does not end is a hang (-timeout).
//
// File names are kept inside the scratch folder: a slash followed by a name character
// becomes '_', ".." becomes "._", and '~' and '\\' become '_', so no typed name reaches
// outside it (a lone slash, as in "/ 2" or a list ended by '/', stays).
//
// Checked: no crash or sanitizer report; exit status 0; the closing lines are printed.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session/loop.h"
#include "synthetic_field.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxLines = 96;
constexpr std::size_t kMaxLineLength = 160;
constexpr int kSide = 48;

void check(bool ok) {
  if (!ok) std::abort();
}

std::string file_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void put_file(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The scratch folder and the bytes of its input files, made once per process.
struct Scratch {
  fs::path dir;
  std::string clean, holes;  // a.fits and n.fits
  std::string object_list;   // ZelvoRep.log

  Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvo-session-fuzz-XXXXXX";
    check(mkdtemp(tmpl.data()) != nullptr);
    dir = tmpl;

    zelvo::FieldOptions o;
    o.nx = kSide;
    o.ny = kSide;
    o.stars = 4;
    o.seed = 11;
    const zelvo::SyntheticField field = zelvo::synthetic_field(o);
    const fs::path a = dir / "made-a.fits", n = dir / "made-n.fits";
    check(zelvo::write_field_fits(a.string(), field.image, o, true) == 0);
    zelvo::Image holes = field.image;
    // Non-finite pixels on and next to the objects, on the border and in the sky.
    const auto put = [&](double x, double y, float v) {
      const int ix = static_cast<int>(x + 0.5), iy = static_cast<int>(y + 0.5);
      if (holes.view().inside(ix, iy)) holes.at(ix, iy) = v;
    };
    for (const zelvo::FieldStar& s : field.stars) {
      put(s.x, s.y, NAN);
      put(s.x + 2, s.y, INFINITY);
      put(s.x, s.y - 3, -INFINITY);
    }
    if (field.has_saturated) put(field.saturated.x + 1, field.saturated.y + 1, NAN);
    put(1, 1, NAN);
    put(kSide, kSide / 2, INFINITY);
    put(field.galaxy.x + 4, field.galaxy.y, -INFINITY);
    check(zelvo::write_field_fits(n.string(), holes, o, true) == 0);
    clean = file_bytes(a);
    this->holes = file_bytes(n);
    std::ostringstream list;
    for (const zelvo::FieldStar& s : field.stars) list << " 1 " << s.x << ' ' << s.y << " 8.0\n";
    if (field.has_saturated) list << " 2 " << field.saturated.x << ' ' << field.saturated.y << " 20.0\n";
    list << " 3 " << kSide / 2 << ' ' << kSide / 2 << " 12.0\n 6 10 30 12.0\n";
    object_list = list.str();
  }

  // Empties the folder and lays out the input files again (X may have replaced a.fits);
  // called with the scratch folder as the working folder.
  void reset(int extlogs) const {
    for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
    put_file("a.fits", clean);
    put_file("n.fits", holes);
    put_file("ZelvoRep.log", object_list);
    put_file("Zelvo.ini", "2\n" + std::to_string(extlogs) + "\n");
  }
};

// One typed line with names kept inside the scratch folder.
std::string confined(std::string line) {
  if (line.size() > kMaxLineLength) line.resize(kMaxLineLength);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char next = i + 1 < line.size() ? line[i + 1] : ' ';
    if (line[i] == '/' && next != ' ' && next != ',' && next != '\t') line[i] = '_';
    if (line[i] == '.' && next == '.') line[i + 1] = '_';
    if (line[i] == '\\' || line[i] == '~') line[i] = '_';
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const Scratch scratch;
  if (size == 0) return 0;
  const unsigned pick = data[0];
  // The session works in the scratch folder; libFuzzer's own paths stay relative to ours.
  const fs::path home = fs::current_path();
  fs::current_path(scratch.dir);
  scratch.reset((pick >> 2) & 1);

  std::string script = "\n";  // the welcome pause
  if (pick & 1) script += "l\na.fits\n";
  if (pick & 2) script += std::string((pick & 1) ? "2\n" : "") + "l\nn.fits\n";
  if (pick & 8) script += "3\nl\na.fits\n";
  script += "1\n";

  std::size_t lines = 0;
  std::string line;
  for (std::size_t i = 1; i < size && lines < kMaxLines; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      script += confined(line) + "\n";
      line.clear();
      ++lines;
    } else {
      line.push_back(c);
    }
  }
  if (lines < kMaxLines && !line.empty()) script += confined(line) + "\n";

  std::istringstream in(script);
  std::ostringstream out;
  zelvo::ProgramOptions options;
  options.device = "/null";
  options.seed = 4711;
  check(zelvo::run_zelvo(options, in, out, false) == 0);
  check(out.str().find("Thank you for using Zelvo.") != std::string::npos);
  fs::current_path(home);
  return 0;
}
