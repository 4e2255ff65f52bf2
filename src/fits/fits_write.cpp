// Writing FITS files: a new file (S, and X for images without one) or an existing file
// replaced (X). Either way the data go to a temporary file that is renamed only when whole.
#include <fcntl.h>
#include <fitsio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "fits/header_cards.h"
#include "fits/history_cards.h"
#include "platform/temporary_guard.h"
#include "text/list_format.h"

namespace zelvo {

namespace {

// Temporaries are named ".<name>.zelvo-<pid>-<attempt>.tmp" (with ".fits" more for the plain
// file a gzip write packs).
constexpr const char* kTemporaryMark = ".zelvo-";

// What one write puts into a file.
struct WritePlan {
  ConstImageView image;
  const std::vector<std::string>& cards;  // the image's source header; filtered on writing
  FileKind kind = FileKind::plain;
  std::string primary_from;        // tile-compressed: the file whose primary HDU is kept, if any
  PixelType type{};                // -32 unless a wide file goes back in its own type
  bool undefined_as_null = false;  // kUndefinedPixel written as NaN (floats) or BLANK (integers)
};

// The BLANK value of integers written with undefined pixels: the file's own, or the
// smallest value of the type.
long long blank_value(const PixelType& t) {
  if (t.has_blank) return t.blank;
  return t.bitpix == 64 ? INT64_MIN : t.bitpix == 32 ? INT32_MIN : t.bitpix == 16 ? INT16_MIN : 0;
}

// Writes the pixels of `plan` into the new image of `f`: as 32-bit floats, or in the file's
// own wide type with its scaling; undefined pixels as NaN or BLANK when the plan says so.
void write_pixels(fitsfile* f, const WritePlan& plan, int& status) {
  ConstImageView image = plan.image;
  const PixelType& t = plan.type;
  const bool integer = t.bitpix > 0;
  if (integer && (t.bscale != 1.0 || t.bzero != 0.0)) {
    fits_write_key(f, TDOUBLE, "BSCALE", const_cast<double*>(&t.bscale), "value = BZERO + BSCALE * stored", &status);
    fits_write_key(f, TDOUBLE, "BZERO", const_cast<double*>(&t.bzero), nullptr, &status);
    fits_set_bscale(f, t.bscale, t.bzero, &status);
  }
  float nullval = kUndefinedPixel;
  if (!plan.undefined_as_null) {
    // CFITSIO converts through its own buffer, so the caller's pixels are not changed: its
    // write call only reads them, though it takes them through a non-const pointer.
    fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(image.size()), const_cast<float*>(image.px), &status);
    return;
  }
  if (integer) {
    LONGLONG blank = blank_value(t);
    fits_write_key(f, TLONGLONG, "BLANK", &blank, "value of undefined pixels", &status);
    fits_set_imgnull(f, blank, &status);
  }
  // Pixels equal to the null value are written as NaN (float types) or BLANK (integers).
  fits_write_imgnull(f, TFLOAT, 1, static_cast<LONGLONG>(image.size()), const_cast<float*>(image.px), &nullval,
                     &status);
}

// A system error as a message of the error report.
std::string system_message(const std::string& what, const std::string& name, int err) {
  return what + " " + name + ": " + std::strerror(err);
}

// Writes the plain FITS file `from` gzip-compressed as the new file `to`. Returns the failure
// (WRITE_ERROR with the reason), after which no file `to` is left.
FitsError gzip_into(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return fits_failure(WRITE_ERROR);
  gzFile out = gzopen(to.c_str(), "wbx");  // x: a new file, never an existing one
  if (out == nullptr) {
    std::fclose(in);
    return fits_failure(FILE_NOT_CREATED);
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  for (std::size_t n; ok && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0;)
    ok = gzwrite(out, buf.data(), static_cast<unsigned>(n)) == static_cast<int>(n);
  ok = !std::ferror(in) && ok;
  const int err = errno;
  std::fclose(in);
  ok = gzclose(out) == Z_OK && ok;
  if (ok) return {};
  std::remove(to.c_str());
  return fits_failure(WRITE_ERROR, {"could not compress the file: " + std::string(std::strerror(err))});
}

// Writes `plan` as a new file `path`: BITPIX -32, NAXIS 2, the source's cards and the
// HISTORY card, stored as `plan.kind`. CFITSIO refuses an existing name (status 105)
// before anything is touched; a file that was created but not completely written is deleted.
FitsError create_fits_file(const std::string& path, const WritePlan& plan) {
  int status = 0;
  ConstImageView image = plan.image;
  if (image.empty()) return fits_failure(BAD_NAXES, {"there is no image to write"});
  if (plan.kind == FileKind::gzip) {
    // A plain file beside it first, then packed into `path`.
    const std::string plain = path + ".fits";
    const TemporaryGuard guard(plain);
    WritePlan inner = plan;
    inner.kind = FileKind::plain;
    inner.primary_from.clear();
    FitsError e = create_fits_file(plain, inner);
    if (e.failed()) return e;
    e = gzip_into(plain, path);
    std::remove(plain.c_str());
    return e;
  }
  fitsfile* f = nullptr;
  if (fits_create_diskfile(&f, cfitsio_name(path).c_str(), &status) > 0) return fits_failure(status);
  if (plan.kind == FileKind::tile_compressed) {
    if (!plan.primary_from.empty()) {
      // The original's primary header (empty array, observatory cards) stays as it was.
      fitsfile* in = nullptr;
      int type = 0;
      if (fits_open_diskfile(&in, cfitsio_name(plan.primary_from).c_str(), READONLY, &status) <= 0) {
        fits_movabs_hdu(in, 1, &type, &status);
        fits_copy_hdu(in, f, 0, &status);
        int ignored = 0;
        fits_close_file(in, &ignored);
      }
    }
    // Lossless: the float pixels are packed with gzip, never quantised.
    fits_set_compression_type(f, GZIP_2, &status);
    fits_set_quantize_level(f, 0.0f, &status);
  }
  long naxes[2] = {image.nx, image.ny};
  fits_create_img(f, plan.type.bitpix, 2, naxes, &status);
  bool had_checksum = false;
  // The range cards follow the pixels written, not the ones the image was loaded with.
  write_source_cards(f, with_data_range(plan.cards, image, plan.undefined_as_null), had_checksum, status);
  write_pixels(f, plan, status);
  if (had_checksum) fits_write_chksum(f, &status);
  if (status > 0) {
    int ignored = 0;
    fits_delete_file(f, &ignored);
    return fits_failure(status);
  }
  fits_close_file(f, &status);  // the final flush can fail too (a full disk)
  if (status <= 0) return {};
  std::remove(path.c_str());
  return fits_failure(status);
}

// Gives the finished temporary file the name `target`. Without `replace` an existing name is
// never overwritten, also when it appears while the data were being written: renameat2 with
// RENAME_NOREPLACE, or link and unlink on file systems without it. Fails with
// FILE_NOT_CREATED for a name that exists, or WRITE_ERROR with the system's reason.
FitsError move_into_place(const std::string& temp, const std::string& target, bool replace) {
  int rc = replace ? std::rename(temp.c_str(), target.c_str())
                   : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    rc = ::link(temp.c_str(), target.c_str());
    if (rc == 0) ::unlink(temp.c_str());
  }
  if (rc == 0) return {};
  const int err = errno;
  if (!replace && err == EEXIST)
    return fits_failure(FILE_NOT_CREATED, {"An existing file is never overwritten:", target});
  return fits_failure(WRITE_ERROR, {system_message(replace ? "could not replace" : "could not create", target, err)});
}

// Creates the file as a hidden temporary in `folder` (so the rename cannot cross file
// systems), unique to this process and attempt and short enough for any file system.
// `temp` receives its name. A failure that CFITSIO would word with the temporary's name says
// instead why the folder took no file.
FitsError create_temporary(const std::filesystem::path& folder, const std::filesystem::path& target,
                           const WritePlan& plan, std::string& temp, std::optional<TemporaryGuard>& guard) {
  namespace fs = std::filesystem;
  const std::string base = target.filename().string().substr(0, 180);
  FitsError e;
  std::error_code ec;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = (folder / ("." + base + kTemporaryMark + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp"))
               .string();
    // SIGTERM or SIGHUP from here to the rename removes the temporary before ending the program.
    guard.reset();
    guard.emplace(temp);
    e = create_fits_file(temp, plan);
    if (e.status != FILE_NOT_CREATED || !fs::exists(temp, ec)) break;
    fits_clear_errmsg();  // that name was taken; try the next
  }
  if (e.status == FILE_NOT_CREATED) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    const int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
      ::close(fd);
      std::remove(temp.c_str());
    }
    if (err != 0) {
      fits_clear_errmsg();
      e.stack.clear();
      e.add(system_message("cannot create a file in the folder", folder.string(), err));
    }
  }
  return e;
}

// Writes `image` as the FITS file `target` so that no partial file ever carries that name:
// the data go to a hidden temporary file in the same folder, which is closed, synced and
// only then renamed to `target`. With `replace` an existing file is replaced and keeps its
// permission bits, but only while it is still the file `expected` describes (checked again
// just before the rename); without it an existing name is refused (FILE_NOT_CREATED) and
// left alone. On failure no temporary file is left, and the error's messages name `target`
// or its folder rather than the temporary.
FitsError write_via_temporary(const std::filesystem::path& target, const WritePlan& plan, bool replace,
                              const FileIdentity* expected = nullptr) {
  namespace fs = std::filesystem;
  struct stat existing {};
  const bool exists = ::lstat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode))
    return fits_failure(replace ? WRITE_ERROR : FILE_NOT_CREATED,
                        {"The name is that of a folder, not of a file:", target.string()});
  if (exists && !replace)
    return fits_failure(FILE_NOT_CREATED, {"An existing file is never overwritten:", target.string()});
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp;
  std::optional<TemporaryGuard> guard;
  FitsError e = create_temporary(folder, target, plan, temp, guard);
  if (e.failed()) {
    take_fits_messages(e);
    e.add("nothing was written to " + target.string());
    return e;
  }

  // The data must be on disk before the name points at them.
  const int fd = ::open(temp.c_str(), O_RDONLY);
  if (fd >= 0) {
    const int synced = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (synced != 0 && err != EINVAL && err != EROFS) {
      std::remove(temp.c_str());
      return fits_failure(WRITE_ERROR, {system_message("could not write", target.string(), err)});
    }
  }
  if (replace) {
    // The file must still be the one that was loaded, and the new one takes its permission
    // bits (and its owner and group where this user may set them).
    struct stat now {};
    if (expected == nullptr || !(identity_of(target.string()) == *expected) || ::stat(target.c_str(), &now) != 0) {
      std::remove(temp.c_str());
      return fits_failure(FILE_NOT_CREATED, {"the file changed since it was loaded: " + target.string()});
    }
    ::chmod(temp.c_str(), now.st_mode & 07777);
    if (::chown(temp.c_str(), now.st_uid, now.st_gid) != 0)
      (void)!::chown(temp.c_str(), static_cast<uid_t>(-1), now.st_gid);
  }
  e = move_into_place(temp, target.string(), replace);
  if (e.failed()) {
    std::remove(temp.c_str());
    return e;
  }
  // The new name itself is made durable with the folder.
  const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirfd >= 0) {
    ::fsync(dirfd);
    ::close(dirfd);
  }
  return {};
}

// What a completed write leaves: a lone image of the given kind, as the file now is.
void describe_written(const std::string& path, FileKind kind, FileOrigin* written) {
  if (written == nullptr) return;
  written->kind = kind;
  written->lone_image = true;
  written->identity = identity_of(path);
}

}  // namespace

FitsError WRITE_FITS_2D_IMAGE(const std::string& filename, ConstImageView image, const std::vector<std::string>& cards,
                              FileOrigin* written, bool undefined_as_null) {
  fits_clear_errmsg();  // the error holds this write's messages only
  const std::string name = file_name_meant(filename);
  WritePlan plan{image, cards, kind_for_name(name), {}};
  plan.undefined_as_null = undefined_as_null;
  FitsError e = write_via_temporary(name, plan, false);
  if (!e.failed()) {
    describe_written(name, plan.kind, written);
    if (written != nullptr) written->type.undefined_as_null = undefined_as_null;
  }
  return e;
}

namespace {

// Whether every pixel of `image` is a value of the integer type `t` (undefined pixels, when
// written as BLANK, aside): stored = (value - BZERO) / BSCALE an integer of the type that
// reads back as exactly that float.
bool fits_integer_type(ConstImageView image, const PixelType& t) {
  const double lo = t.bitpix == 64   ? -9223372036854775808.0
                    : t.bitpix == 32 ? -2147483648.0
                    : t.bitpix == 16 ? -32768.0
                                     : 0.0;
  const double hi = t.bitpix == 64   ? 9223372036854775807.0
                    : t.bitpix == 32 ? 2147483647.0
                    : t.bitpix == 16 ? 32767.0
                                     : 255.0;
  const long long blank = blank_value(t);
  for (std::size_t i = 0; i < image.size(); ++i) {
    const float v = image.px[i];
    if (t.undefined_as_null && v == kUndefinedPixel) continue;
    if (!std::isfinite(v)) return false;
    const double stored = (static_cast<double>(v) - t.bzero) / t.bscale;
    if (stored != std::nearbyint(stored) || stored < lo || stored >= hi + 1.0) return false;
    if (t.undefined_as_null && stored == static_cast<double>(blank)) return false;
    if (static_cast<float>(stored * t.bscale + t.bzero) != v) return false;
  }
  return true;
}

}  // namespace

ReplaceVerdict may_replace(const std::string& filename, const FileOrigin& origin) {
  const std::string name = file_name_meant(filename);
  if (!origin.lone_image) return ReplaceVerdict::not_lone;
  if (!(identity_of(name) == origin.identity)) return ReplaceVerdict::changed;
  // A file whose mode has no write bit is kept from replacement for every user, root too
  // (for whom access checks always pass); otherwise the file itself must be writable by this
  // user: renaming over it needs only the folder.
  if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) return ReplaceVerdict::not_writable;
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return ReplaceVerdict::changed;
  if ((st.st_mode & 0222) == 0) return ReplaceVerdict::write_protected;
  if (origin.type.wide && !origin.type.floats_exact) return ReplaceVerdict::not_exact;
  return ReplaceVerdict::allowed;
}

ReplaceVerdict may_replace(const std::string& filename, const FileOrigin& origin, ConstImageView image) {
  const ReplaceVerdict v = may_replace(filename, origin);
  if (v != ReplaceVerdict::allowed) return v;
  if (origin.type.wide && origin.type.bitpix > 0 && !fits_integer_type(image, origin.type))
    return ReplaceVerdict::not_own_type;
  return ReplaceVerdict::allowed;
}

FitsError replace_fits_2d_image(const std::string& filename, ConstImageView image,
                                const std::vector<std::string>& cards, const FileOrigin& origin, FileOrigin* written) {
  namespace fs = std::filesystem;
  fits_clear_errmsg();
  const std::string name = file_name_meant(filename);
  switch (may_replace(name, origin, image)) {
    case ReplaceVerdict::allowed: break;
    case ReplaceVerdict::not_exact:
      return fits_failure(FILE_NOT_CREATED, {"32-bit floats did not hold the values of " + name});
    case ReplaceVerdict::not_own_type:
      return fits_failure(FILE_NOT_CREATED, {"the image's values are not all of the type of " + name});
    case ReplaceVerdict::not_lone:
      return fits_failure(FILE_NOT_CREATED, {"the file holds more than this image: " + name});
    case ReplaceVerdict::changed:
      return fits_failure(FILE_NOT_CREATED, {"the file changed since it was loaded: " + name});
    case ReplaceVerdict::not_writable:
      return fits_failure(FILE_NOT_CREATED, {system_message("may not write", name, EACCES)});
    case ReplaceVerdict::write_protected:
      return fits_failure(FILE_NOT_CREATED, {"the file is write-protected: " + name});
  }
  // Through a symbolic link the file it points to is replaced, and the link kept.
  fs::path target = name;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  WritePlan plan{image, cards, origin.kind, origin.kind == FileKind::tile_compressed ? target.string() : ""};
  // A wide file keeps its type; any other goes back as 32-bit floats, as always.
  if (origin.type.wide) plan.type = origin.type;
  plan.type.undefined_as_null = origin.type.undefined_as_null;
  plan.undefined_as_null = origin.type.undefined_as_null;
  FitsError e = write_via_temporary(target, plan, true, &origin.identity);
  if (!e.failed()) {
    describe_written(target.string(), plan.kind, written);
    if (written != nullptr) written->type = plan.type;
  }
  return e;
}

std::vector<std::string> remove_stale_temporaries(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> removed;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string n = it->path().filename().string();
    const auto mark = n.rfind(kTemporaryMark);
    if (n.empty() || n[0] != '.' || mark == std::string::npos) continue;
    // ".zelvo-<pid>-<attempt>.tmp" or ".tmp.fits", nothing else.
    const char* p = n.c_str() + mark + std::strlen(kTemporaryMark);
    char* end_pid = nullptr;
    const long pid = std::strtol(p, &end_pid, 10);
    if (end_pid == p || *end_pid != '-' || pid <= 0) continue;
    char* end_attempt = nullptr;
    (void)std::strtol(end_pid + 1, &end_attempt, 10);
    if (end_attempt == end_pid + 1) continue;
    const std::string rest = end_attempt;
    if (rest != ".tmp" && rest != ".tmp.fits") continue;
    // Only a process that no longer exists leaves its temporaries for good.
    if (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(it->path().c_str()) == 0) removed.push_back(n);
  }
  return removed;
}

}  // namespace zelvo
