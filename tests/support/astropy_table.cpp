#include "support/astropy_table.h"

#include <sstream>

#include "support/astropy_wcs.h"
#include "support/session_harness.h"

namespace zelvo::testing {

namespace {
constexpr const char* kReadScript = R"(
import sys, warnings
import numpy as np
from astropy.table import Table
warnings.simplefilter('ignore')
try:
    t = Table.read(sys.argv[1], format='ascii.ecsv')
except Exception as e:
    print('refused', str(e).replace('\n', ' '))
    sys.exit(0)
print('columns\t' + '\t'.join(t.colnames))
for k, v in t.meta.items():
    print('meta\t%s\t%s' % (k, v))
for row in t:
    cells = []
    for c in t.colnames:
        v = row[c]
        cells.append('--' if np.ma.is_masked(v) else repr(v.item() if hasattr(v, 'item') else v))
    print('row\t' + '\t'.join(cells))
)";

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const auto tab = line.find('\t', start);
    out.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return out;
    start = tab + 1;
  }
}
}  // namespace

std::string AstropyTable::cell(std::size_t row, const std::string& column) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == column && row < rows.size() && i < rows[row].size()) return rows[row][i];
  return "";
}

std::optional<AstropyTable> astropy_read_ecsv(const std::string& path) {
  ScratchFolder dir;
  if (run_python(dir, "import astropy.table\nprint('yes')\n", "").empty()) return std::nullopt;
  dir.write("path.txt", path);
  const std::string script = std::string("import sys\nsys.argv[1] = open(sys.argv[1]).read()\n") + kReadScript;
  std::istringstream in(run_python(dir, script.c_str(), dir.file("path.txt")));
  AstropyTable t;
  for (std::string line; std::getline(in, line);) {
    auto f = split_tabs(line);
    if (f[0] == "columns") t.columns.assign(f.begin() + 1, f.end());
    if (f[0] == "meta" && f.size() >= 3) t.meta[f[1]] = f[2];
    if (f[0] == "row") t.rows.emplace_back(f.begin() + 1, f.end());
  }
  return t;
}

}  // namespace zelvo::testing
