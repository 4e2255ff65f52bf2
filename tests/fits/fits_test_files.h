// Helpers of the FITS tests: loading a file as L does (console on strings), and making FITS
// files with CFITSIO or byte by byte.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "session/fits_reports.h"

namespace zelvo::fits_test {

// What one load did: its outcome, what it printed and the CFITSIO status.
struct Load {
  ReadOutcome outcome;
  std::string out;
  int status;
};

// Loads `path` as L does, with a console on string streams; only a whole load changes the
// given values.
inline Load load(const std::string& path, Image& img, SlotHeader& hdr, HeaderTexts& texts) {
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  FitsRead r = read_fits_reported(con, path);
  if (r.outcome == ReadOutcome::loaded) {
    img = std::move(r.image);
    hdr = std::move(r.header);
    texts = r.texts;
  }
  return {r.outcome, out.str(), r.error.status};
}

inline Load load(const std::string& path, Image& img) {
  SlotHeader hdr;
  HeaderTexts texts;
  return load(path, img, hdr, texts);
}

// How a load of `path` describes its file.
inline FileOrigin loaded_origin(const std::string& path) { return READ_FITS_2D_IMAGE(path).origin; }

// Read and search rights for everyone on a folder, so that a check run without root reaches it.
constexpr std::filesystem::perms kOpenFolder =
    std::filesystem::perms::owner_all | std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
    std::filesystem::perms::others_read | std::filesystem::perms::others_exec;

// Writes an image with CFITSIO (extended file-name syntax, so ".gz" and "[compress]" work).
// `raw` are the stored values: BSCALE/BZERO given in `cards` are not applied while writing.
inline void write_image(const std::string& name, int bitpix, std::vector<long> axes, const std::vector<double>& raw,
                        const std::vector<std::string>& cards = {}) {
  fitsfile* f = nullptr;
  int status = 0;
  fits_create_file(&f, name.c_str(), &status);
  fits_create_img(f, bitpix, static_cast<int>(axes.size()), axes.data(), &status);
  bool scaled = false;
  for (const auto& c : cards) {
    fits_write_record(f, c.c_str(), &status);
    scaled = scaled || c.rfind("BSCALE", 0) == 0 || c.rfind("BZERO", 0) == 0;
  }
  if (scaled) fits_set_bscale(f, 1.0, 0.0, &status);
  if (bitpix == SHORT_IMG) {
    // The data type must match exactly when CFITSIO writes a tile-compressed image.
    std::vector<short> v(raw.begin(), raw.end());
    fits_write_img(f, TSHORT, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
  } else if (!raw.empty()) {
    fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(raw.size()), const_cast<double*>(raw.data()), &status);
  }
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << "writing " << name;
}

// A file written byte by byte: the cards, END, blank padding to 2880 bytes, then `data`.
inline void write_raw(const std::string& path, const std::vector<std::string>& cards, const std::string& data = "") {
  std::string h;
  for (const auto& c : cards) {
    std::string card = c;
    card.resize(80, ' ');
    h += card;
  }
  std::string end = "END";
  end.resize(80, ' ');
  h += end;
  h.resize((h.size() + 2879) / 2880 * 2880, ' ');
  FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::fwrite(h.data(), 1, h.size(), fp);
  std::fwrite(data.data(), 1, data.size(), fp);
  std::fclose(fp);
}

// An 80-column card: `left`, blanks up to column `col`, then `text`.
inline std::string card_at(const std::string& left, std::size_t col, const std::string& text) {
  std::string c = left;
  c.resize(col - 1, ' ');
  c += text;
  c.resize(80, ' ');
  return c;
}

inline Image ramp(int nx, int ny) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(100 * y + x);
  return img;
}

inline std::string file_bytes(const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  std::string s;
  if (!fp) return s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) s.append(buf, n);
  std::fclose(fp);
  return s;
}

}  // namespace zelvo::fits_test
