#include "platform/catalogue.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>

#include "platform/log_file.h"

namespace zelvo {

namespace {

// Bytes that astropy could not decode or that would break a line become '?': catalogues are
// UTF-8 text with one row per line.
std::string printable_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7f) {
      out += '?';
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // Length of a well-formed UTF-8 sequence starting with c (0 when c cannot start one).
    const std::size_t len = (c >= 0xc2 && c <= 0xdf)   ? 2
                            : (c >= 0xe0 && c <= 0xef) ? 3
                            : (c >= 0xf0 && c <= 0xf4) ? 4
                                                       : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xc0) == 0x80;
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

// A YAML double-quoted scalar.
std::string yaml_quoted(std::string_view s) {
  std::string out = "\"";
  for (char ch : printable_utf8(s)) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

// An ECSV text cell: quoted when empty or when it holds a blank or a quote (quotes doubled).
std::string ecsv_text(std::string_view s) {
  const std::string t = printable_utf8(s);
  if (!t.empty() && t.find_first_of(" \"") == std::string::npos) return t;
  std::string out = "\"";
  for (char ch : t) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

std::string cell_text(const CatalogueValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return std::isfinite(*d) ? catalogue_number(*d) : "\"\"";
  if (const auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (const auto* s = std::get_if<std::string>(&v)) return ecsv_text(*s);
  return "\"\"";
}

std::string file_name(const std::filesystem::path& p) { return p.filename().string(); }

std::string errno_text(int err) { return std::strerror(err); }

// The first free "<stem>-old-N<ext>" beside `path`.
std::filesystem::path set_aside_name(const std::filesystem::path& path) {
  const auto dir = path.parent_path();
  const std::string stem = path.stem().string(), ext = path.extension().string();
  for (int n = 1;; ++n) {
    auto candidate = dir / (stem + "-old-" + std::to_string(n) + ext);
    struct stat st;
    if (::lstat(candidate.c_str(), &st) != 0 && errno == ENOENT) return candidate;
  }
}

}  // namespace

int write_all(int fd, const std::string& text, off_t restore_size) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      if (restore_size >= 0 && ::ftruncate(fd, restore_size) != 0) { /* nothing more can be done */
      }
      return err;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string catalogue_number(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string ecsv_header(const Catalogue& table) {
  std::string h = "# %ECSV 1.0\n# ---\n# datatype:\n";
  for (const auto& c : table.columns) {
    h += "# - {name: " + c.name;
    if (!c.unit.empty()) h += ", unit: " + c.unit;
    h += ", datatype: " + c.datatype;
    if (!c.description.empty()) h += ", description: " + yaml_quoted(c.description);
    h += "}\n";
  }
  if (!table.meta.empty()) {
    h += "# meta: !!omap\n";
    for (const auto& m : table.meta) {
      h += "# - {" + m.key + ": ";
      if (const auto* d = std::get_if<double>(&m.value))
        if (!std::isfinite(*d)) {
          h += ".nan";
        } else {  // "300.0", not "300": YAML would read an integer
          const std::string t = catalogue_number(*d);
          h += t.find_first_of(".e") == std::string::npos ? t + ".0" : t;
        }
      else
        h += yaml_quoted(std::get<std::string>(m.value));
      h += "}\n";
    }
  }
  h += "# schema: astropy-2.0\n";
  for (std::size_t i = 0; i < table.columns.size(); ++i) h += (i ? " " : "") + table.columns[i].name;
  return h + "\n";
}

std::string ecsv_row(const CatalogueRow& row, std::size_t ncolumns) {
  std::string line;
  for (std::size_t i = 0; i < ncolumns; ++i) {
    if (i) line += ' ';
    line += i < row.size() ? cell_text(row[i]) : "\"\"";
  }
  return line + "\n";
}

namespace {

// Whether `field` is a cell of a column of `datatype` as ecsv_row writes it: a number of the
// column's kind, "" (missing), or for text any field.
bool ecsv_cell_valid(std::string_view field, bool quoted, const std::string& datatype) {
  if (datatype == "string") return true;
  if (quoted) return field.empty();
  if (field.empty()) return false;
  if (datatype == "int64") {
    long long v = 0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
    return r.ec == std::errc() && r.ptr == field.data() + field.size();
  }
  double v = 0.0;
  const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
  return r.ec == std::errc() && r.ptr == field.data() + field.size() && std::isfinite(v);
}

// Whether one data line holds exactly one valid cell per column: fields separated by single
// blanks, a quoted field's quotes doubled inside it.
bool ecsv_line_valid(std::string_view line, const std::vector<CatalogueColumn>& columns) {
  std::size_t i = 0, k = 0;
  for (;; ++k) {
    std::string field;
    bool quoted = false;
    if (i < line.size() && line[i] == '"') {
      quoted = true;
      for (++i;; ++i) {
        if (i >= line.size()) return false;  // no closing quote
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        field += line[i];
      }
    } else {
      const std::size_t end = std::min(line.find(' ', i), line.size());
      field = line.substr(i, end - i);
      i = end;
    }
    if (k >= columns.size() || !ecsv_cell_valid(field, quoted, columns[k].datatype)) return false;
    if (i == line.size()) return k + 1 == columns.size();
    if (line[i] != ' ') return false;
    ++i;
  }
}

}  // namespace

bool ecsv_rows_valid(std::string_view rows, const std::vector<CatalogueColumn>& columns) {
  while (!rows.empty()) {
    const std::size_t end = rows.find('\n');
    if (end == std::string_view::npos || !ecsv_line_valid(rows.substr(0, end), columns)) return false;
    rows.remove_prefix(end + 1);
  }
  return true;
}

CatalogueWrite append_with_header(const std::filesystem::path& path, const std::string& header, const std::string& body,
                                  const std::function<bool(std::string_view)>& rows_valid) {
  CatalogueWrite result;
  const std::string name = file_name(path);
  struct stat st;
  bool fresh = true;
  if (::stat(path.c_str(), &st) == 0) {
    if (const auto kind = special_file_kind(st.st_mode); !kind.empty()) {
      result.error = name + " is " + kind + ", not a regular file; nothing was written to it.";
      return result;
    }
    if (st.st_size > 0) {
      const SmallFile old = read_small_file(path);
      if (!old.read()) {
        result.error = name + " could not be read; nothing was written to it.";
        return result;
      }
      const bool ours = old.text.compare(0, header.size(), header) == 0 && old.text.back() == '\n' &&
                        (!rows_valid || rows_valid(std::string_view(old.text).substr(header.size())));
      if (ours) {
        fresh = false;
      } else {
        const auto aside = set_aside_name(path);
        if (::rename(path.c_str(), aside.c_str()) != 0) {
          result.error = name + " holds another catalogue and could not be set aside (" + errno_text(errno) +
                         "); nothing was written.";
          return result;
        }
        result.notice = name +
                        " does not hold this version's columns or has a damaged or incomplete line; it is kept as " +
                        file_name(aside) + " and a new " + name + " is started.";
      }
    }
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.error = name + " could not be opened (" + errno_text(errno) + "); nothing was written to it.";
    return result;
  }
  struct stat now;
  if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
    ::close(fd);
    result.error = name + " is not a regular file; nothing was written to it.";
    return result;
  }
  const std::string text = (fresh || now.st_size == 0 ? header : std::string()) + body;
  const int err = write_all(fd, text, now.st_size);
  ::close(fd);
  if (err != 0) {
    result.error = name + " could not be written (" + errno_text(err) + "); it is left as it was.";
    return result;
  }
  result.ok = true;
  return result;
}

CatalogueWrite append_catalogue(const std::filesystem::path& path, const Catalogue& table) {
  std::string body;
  for (const auto& row : table.rows) body += ecsv_row(row, table.columns.size());
  // Every row is checked, not only the last: rows appended after a damaged one would be
  // unreadable with it.
  return append_with_header(path, ecsv_header(table), body,
                            [&](std::string_view rows) { return ecsv_rows_valid(rows, table.columns); });
}

CatalogueWrite write_catalogue(const std::filesystem::path& path, const Catalogue& table) {
  CatalogueWrite result;
  const std::string name = file_name(path);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (const auto kind = special_file_kind(st.st_mode); !kind.empty()) {
      result.error = name + " is " + kind + ", not a regular file; nothing was written to it.";
      return result;
    }
  }
  std::string text = ecsv_header(table);
  for (const auto& row : table.rows) text += ecsv_row(row, table.columns.size());
  auto temp = path;
  temp += ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    result.error = name + " could not be written (" + errno_text(errno) + ").";
    return result;
  }
  int err = write_all(fd, text, -1);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    result.error = name + " could not be written (" + errno_text(err) + "); an earlier " + name + " is left as it was.";
    return result;
  }
  result.ok = true;
  return result;
}

namespace {
constexpr const char* kRegionHeader = "# Region file format: DS9 version 4.1\nimage\n";
}

std::string region_line(const RegionCircle& c) {
  std::string line =
      "circle(" + catalogue_number(c.x) + "," + catalogue_number(c.y) + "," + catalogue_number(c.r) + ")";
  std::string props;
  if (!c.colour.empty()) props += " color=" + c.colour;
  if (!c.text.empty()) {
    std::string t = printable_utf8(c.text);
    std::erase(t, '}');
    props += " text={" + t + "}";
  }
  if (!props.empty()) line += " #" + props;
  return line + "\n";
}

CatalogueWrite append_regions(const std::filesystem::path& path, const std::vector<RegionCircle>& circles) {
  std::string body;
  for (const auto& c : circles) body += region_line(c);
  return append_with_header(path, kRegionHeader, body);
}

}  // namespace zelvo
