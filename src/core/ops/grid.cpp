#include "core/ops/grid.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "core/align.hpp"

namespace korva::ops {

bool unique_dates(const Dates& dates) {
  if (std::is_sorted(dates.begin(), dates.end())) {
    return std::adjacent_find(dates.begin(), dates.end()) == dates.end();
  }
  Dates sorted = dates;
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

bool unique_symbols(const Symbols& symbols) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(symbols.size());
  for (const auto& s : symbols) {
    if (!seen.insert(s).second) return false;
  }
  return true;
}

bool lies_on_grid(const Panel& p, const Dates& dates, const Symbols& symbols) {
  return p.dates == dates && p.symbols == symbols && unique_dates(dates) && unique_symbols(symbols);
}

GridMatrix::GridMatrix(const Panel& p, const Dates& dates, const Symbols& symbols) {
  if (lies_on_grid(p, dates, symbols)) {
    m_ = &p.data;
  } else {
    owned_ = project_cells(p, dates, symbols);
    m_ = &owned_;
  }
}

}  // namespace korva::ops
