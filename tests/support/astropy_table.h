// Independent reading of the catalogues: astropy's Table.read(format="ascii.ecsv") run by
// Debian's python3.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelvo::testing {

struct AstropyTable {
  std::vector<std::string> columns;
  std::map<std::string, std::string> meta;     // str() of each metadata value
  std::vector<std::vector<std::string>> rows;  // repr() of each cell's value, "--" when masked
  // The cell of `column` in row `row` ("" when there is no such column).
  std::string cell(std::size_t row, const std::string& column) const;
};

// The table astropy reads from the ECSV file at `path`; an empty optional when astropy is
// not installed (the caller skips), and a table with no columns when astropy refused the file.
std::optional<AstropyTable> astropy_read_ecsv(const std::string& path);

}  // namespace zelvo::testing
