// Catalogues that other programs read: ECSV tables (astropy's `Table.read(name,
// format="ascii.ecsv")`) and DS9 region files, written beside the text logs.
//
// Appending never loses what a file holds: rows are appended only to a file whose header is
// exactly the one this version writes and whose rows are all whole and valid; any other file (another
// version's columns, a damaged or foreign file) is kept under a new name and a new catalogue is
// started, with a one-line notice. A failed write (a full disk) leaves the file as it was.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zelvo {

// One column of an ECSV table: `datatype` is "float64", "int64" or "string"; `unit` and
// `description` may be empty.
struct CatalogueColumn {
  std::string name;
  std::string datatype = "float64";
  std::string unit;
  std::string description;
};

// One cell: missing (written as "" and read back masked), a number or a text.
// Non-finite doubles are written as missing.
using CatalogueValue = std::variant<std::monostate, double, int64_t, std::string>;
using CatalogueRow = std::vector<CatalogueValue>;

// A metadata entry: a number or a text.
struct CatalogueMeta {
  std::string key;
  std::variant<double, std::string> value;
};

struct Catalogue {
  std::vector<CatalogueColumn> columns;
  std::vector<CatalogueMeta> meta;
  std::vector<CatalogueRow> rows;
};

// The ECSV header: the "# " lines and the line of column names, each ending in a newline.
std::string ecsv_header(const Catalogue& table);
// One data line (with its newline); a row shorter than the columns is padded with missing cells.
std::string ecsv_row(const CatalogueRow& row, std::size_t ncolumns);
// A number as the catalogues write it: the shortest text that reads back as the same double.
std::string catalogue_number(double v);

// What became of a write: `ok` false with `error` a one-line reason when nothing was written;
// `notice` a one-line notice when an existing file was set aside.
struct CatalogueWrite {
  bool ok = false;
  std::string error;
  std::string notice;
};

// Whether `rows` (the lines after an ECSV header, each ending in a newline) are rows of
// `columns` as ecsv_row writes them: one cell per column, numbers where the column holds
// numbers, "" for a missing value.
bool ecsv_rows_valid(std::string_view rows, const std::vector<CatalogueColumn>& columns);

// Appends `table.rows` to the ECSV file at `path`, writing the header first when the file is
// new or empty; an existing file is appended to only when every row it holds is valid.
CatalogueWrite append_catalogue(const std::filesystem::path& path, const Catalogue& table);
// Writes `table` as the whole content of `path` (a new file; an existing one is replaced only
// through a complete temporary file renamed over it).
CatalogueWrite write_catalogue(const std::filesystem::path& path, const Catalogue& table);

// A DS9 circle in image coordinates (pixel (i, j) centred at (i, j), as DS9 counts them).
struct RegionCircle {
  double x = 0, y = 0, r = 0;
  std::string colour;  // "green", "red", ...; empty for the file's default
  std::string text;    // a label; empty for none
};
// The region-file line of a circle, with its newline.
std::string region_line(const RegionCircle& c);
// Appends circles to a DS9 region file, writing its header first when the file is new or
// empty; a file that is not a DS9 region file in image coordinates is set aside as above.
CatalogueWrite append_regions(const std::filesystem::path& path, const std::vector<RegionCircle>& circles);

// Writes all of `text` at the descriptor `fd` (retrying short writes); on failure the file is
// cut back to `restore_size` when that is 0 or more, so no partial line is left. Returns 0, or
// the errno of the failure.
int write_all(int fd, const std::string& text, off_t restore_size);

// Appends `body` to the text file at `path`, whose content must start with exactly `header`
// (written first when the file is new or empty), end with a newline and, when `rows_valid` is
// given, have it accept the content after the header; otherwise the file is
// kept under the first free name "<stem>-old-N<ext>" and a new file started. The shared step of
// the two appends above.
CatalogueWrite append_with_header(const std::filesystem::path& path, const std::string& header, const std::string& body,
                                  const std::function<bool(std::string_view)>& rows_valid = {});

}  // namespace zelvo
