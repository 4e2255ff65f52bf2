#include "fits/file_origin.h"

#include <sys/stat.h>

#include <cctype>
#include <string_view>

#include "text/list_format.h"

namespace zelvo {

FileKind kind_for_name(const std::string& name) {
  const std::string t = trim_right(name);
  auto ends = [&](std::string_view suffix) {
    if (t.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(t[t.size() - suffix.size() + i])) != suffix[i]) return false;
    return true;
  };
  if (ends(".gz")) return FileKind::gzip;
  if (ends(".fz")) return FileKind::tile_compressed;
  return FileKind::plain;
}

std::string cfitsio_name(const std::string& path) { return path.starts_with('/') ? path : "./" + path; }

std::string file_name_meant(const std::string& name) {
  struct stat st {};
  if (::lstat(name.c_str(), &st) == 0) return name;
  return trim_right(name);
}

FileIdentity identity_of(const std::string& path) {
  FileIdentity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.known = true;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.mtime = st.st_mtim;
  return id;
}

}  // namespace zelvo
