// Where a slot's image came from, so that X writes an image back only over the very file it
// was loaded from, and only when nothing else in that file would be lost.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

namespace zelvo {

// How a FITS file is stored on disk.
enum class FileKind {
  plain,            // plain FITS
  gzip,             // a whole FITS file compressed with gzip
  tile_compressed,  // an empty primary array and one tile-compressed image extension
};

// The kind a new file is written as, from its name: ".gz" gzip, ".fz" tile-compressed,
// anything else plain FITS (letter case ignored).
FileKind kind_for_name(const std::string& name);

// The name CFITSIO is given for the file `path`: the path itself when it starts at the root,
// otherwise "./" + path. Even when it opens a plain disk file, CFITSIO reads a leading "~" as
// a home folder (an unknown user crashes it) and skips leading blanks; after "./" the name is
// only a name.
std::string cfitsio_name(const std::string& path);

// The file a name stands for: the name as given when something of that name exists,
// otherwise the name without its trailing blanks (a name padded to a fixed width).
std::string file_name_meant(const std::string& name);

// What tells one file on disk from another, and whether it changed: device, inode, size and
// modification time of the file a name leads to (symbolic links followed).
struct FileIdentity {
  bool known = false;  // false when the name led to no file
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec mtime{};

  bool same_file(const FileIdentity& o) const { return known && o.known && device == o.device && inode == o.inode; }
  bool operator==(const FileIdentity& o) const {
    return same_file(o) && size == o.size && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

// The identity of the file `path` leads to now (`known` false when there is none).
FileIdentity identity_of(const std::string& path);

// How a file stores its pixels, and what the loaded 32-bit floats make of them: X writes an
// image back in the file's own type when floats cannot hold that type's values.
struct PixelType {
  int bitpix = -32;
  double bscale = 1.0, bzero = 0.0;
  bool has_blank = false;  // integer data: the BLANK value
  long long blank = 0;
  // The file's values need more than a float: BITPIX -64, or integers beyond 2^24.
  bool wide = false;
  // Every value of the file is exactly the float it was loaded as.
  bool floats_exact = true;
  // The file had undefined pixels (BLANK, NaN), loaded as kUndefinedPixel, and no defined
  // pixel of that value: written back as undefined, never as the number.
  bool undefined_as_null = false;
};

// The file a slot's image was loaded from or last written to.
struct FileOrigin {
  FileKind kind = FileKind::plain;
  // The file held just this one 2-D image: a lone primary array, or an empty primary array
  // and one tile-compressed image. Only such a file may be replaced by the image alone.
  bool lone_image = false;
  FileIdentity identity;  // at the load or the write; unknown if the file changed meanwhile
  PixelType type;
};

}  // namespace zelvo
