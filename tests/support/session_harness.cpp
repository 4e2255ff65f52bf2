#include "support/session_harness.h"

#include <fitsio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "session/loop.h"

namespace zelvo::testing {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string tmpl = (fs::temp_directory_path() / "zelvo-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

bool ScratchFolder::exists(const std::string& name) const { return fs::exists(file(name)); }

std::string ScratchFolder::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void ScratchFolder::write(const std::string& name, const std::string& text) const {
  std::ofstream out(file(name), std::ios::binary);
  out << text;
}

void ScratchFolder::write_fits(const std::string& name, const Image& img, const std::vector<std::string>& cards) const {
  fitsfile* f = nullptr;
  int status = 0;
  const std::string path = "!" + file(name);
  long naxes[2] = {img.nx, img.ny};
  fits_create_file(&f, path.c_str(), &status);
  fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
  for (const auto& c : cards) fits_write_record(f, c.c_str(), &status);
  fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(img.px.size()), const_cast<float*>(img.px.data()), &status);
  fits_close_file(f, &status);
  if (status) throw std::runtime_error("write_fits failed");
}

Image ScratchFolder::read_fits(const std::string& name) const {
  fitsfile* f = nullptr;
  int status = 0;
  Image img;
  if (fits_open_image(&f, file(name).c_str(), READONLY, &status)) return img;
  long naxes[2] = {0, 0};
  int naxis = 0;
  fits_get_img_dim(f, &naxis, &status);
  fits_get_img_size(f, 2, naxes, &status);
  if (status == 0 && naxis == 2) {
    img = Image(static_cast<int>(naxes[0]), static_cast<int>(naxes[1]));
    float nul = 0;
    int anynul = 0;
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(img.px.size()), &nul, img.px.data(), &anynul, &status);
  }
  fits_close_file(f, &status);
  return img;
}

namespace {
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~WorkingFolder() { fs::current_path(old_); }

 private:
  fs::path old_;
};

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}
}  // namespace

SessionRun run_session(const ScratchFolder& dir, const std::vector<std::string>& lines, const std::string& device,
                       int extlogs, int seed) {
  if (!dir.exists("Zelvo.ini")) dir.write("Zelvo.ini", "2\n" + std::to_string(extlogs) + "\n");
  WorkingFolder wf(dir.path());
  std::istringstream in(joined(lines));
  std::ostringstream out;
  ProgramOptions opt;
  opt.device = device;
  opt.seed = seed;
  SessionRun run;
  run.status = run_zelvo(opt, in, out, false);
  run.out = out.str();
  return run;
}

SessionRun run_binary(const ScratchFolder& dir, const std::vector<std::string>& args,
                      const std::vector<std::string>& lines) {
  dir.write(".stdin", joined(lines));
  std::string cmd = "cd '" + dir.path() + "' && '" + std::string(ZELVO_BINARY) + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " < .stdin > .stdout 2> .stderr";
  const int rc = std::system(cmd.c_str());
  SessionRun run;
  run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  run.out = dir.read(".stdout") + dir.read(".stderr");
  return run;
}

Image small_field(int nx, int ny, unsigned seed) {
  Image img(nx, ny);
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(0.0f, 5.0f);
  struct Star {
    float x, y, peak, sigma;
  };
  const Star stars[] = {{0.3f * nx, 0.4f * ny, 3000.0f, 1.8f},
                        {0.7f * nx, 0.6f * ny, 8000.0f, 2.0f},
                        {0.5f * nx, 0.8f * ny, 1500.0f, 1.5f}};
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      float v = 1000.0f + 0.05f * x + 0.03f * y + noise(gen);
      for (const auto& s : stars) {
        const float r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
        v += s.peak * std::exp(-r2 / (2.0f * s.sigma * s.sigma));
      }
      img.at(x, y) = v;
    }
  return img;
}

int count_of(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (std::size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) ++n;
  return n;
}

}  // namespace zelvo::testing
